// The built boneanim program run as a user runs it: usage, messages, exit codes, destination.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"

namespace {

using boneanim_test::RunBoneAnim;

// Writes a job to jobPath whose run reports no error: one bone that moves
// relative to the reference, both files in src (absolute paths, so that the
// job's directory holds nothing else).
void WriteValidJob(const qvl_TestDir& src, const std::string& jobPath) {
  const std::string frame = " frame_array { key 0.0 transl [X] 0.0 0.0 quat 0.0 0.0 0.0 1.0 }";
  const std::string head = "format \"quorvel_path_5\" data { path_array { name \"A\"";
  std::string ref = head + frame + " } }\n";
  std::string anim = ref;
  ref.replace(ref.find("[X]"), 3, "0.0");
  anim.replace(anim.find("[X]"), 3, "1.0");
  qvl_TestDir::WriteFile(src / "ref.kvt", ref);
  qvl_TestDir::WriteFile(src / "anim.kvt", anim);
  qvl_TestDir::WriteFile(jobPath, "ref_path \"" + (src / "ref.kvt") + "\"\nanim_path \"" +
                                      (src / "anim.kvt") + "\"\ndo_transl true\ndo_quat true\n");
}

TEST(BoneAnimProgram, NoArgumentsPrintsTheUsageExactly) {
  qvl_TestDir dir;
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Quorvel Bone Animation \n"
            "quorvel_v5x0x6_t164x12u_c164x12u_enterpr_win32_vc7x1_release_fwin32vc7x1release\n"
            "Parameters: \n"
            "    <cfg-file>                    Configuration files\n"
            "    <dest-file>                   Target file\n"
            "    [-binary <bool>]              Write binary\n"
            "    [-refdir <refdir>]            Reference directory for pathes. \n"
            "    [-quiet <0/1>]                Only display errors\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(dir.List().empty());
}

// An older destination kept after an error is covered by BoneAnimRun.AnErrorLeavesTheDestinationAsItWas.
TEST(BoneAnimProgram, MissingConfigurationIsNamedAndNoDestinationIsLeft) {
  qvl_TestDir dir;
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"missing.job.kvt", "out/walk.anim.kvt"});
  EXPECT_EQ(r.exitCode, 1);
  // The run goes on with an empty job, which has no bones.
  EXPECT_EQ(r.err, "error: Cannot open \"" + (dir / "missing.job.kvt") +
                       "\" for reading: No such file or directory. "
                       "[util/file/util_file_cachedfile.open_failed]\n" +
                       (dir / "missing.job.kvt") +
                       ":1:1: error: Animation \"\" relative to \"\" uses no bones.  "
                       "[tool/boneanim/tool_boneanim_calc.no_bones]\n");
  EXPECT_TRUE(r.out.ends_with("Errors: 2\nDone.\n")) << r.out;
  // The destination's directory is made, but nothing is left in it.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"out"});
}

TEST(BoneAnimProgram, CommandLineErrorsAreReportedAndTheRunGoesOn) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int errorCnt;
  };
  // Each kind of command-line error and its text is covered by the parser's
  // own table; here one of them, and a missing destination.
  const Case cases[] = {
      {{"job.kvt", "out.kvt", "-verbose"},
       "error: Unknown option -verbose. [util/cmdline/util_cmdline_cmdline.unknown_opt]\n",
       1},
      {{"job.kvt"},
       "error: Positional argument 2 is missing. [util/cmdline/util_cmdline_cmdline.missing_arg]\n"
       "error: Cannot create \"" +
           dir.Path() + "\": Is a directory. [util/file/util_file_destfile.create_failed]\n",
       2},
  };
  for (const Case& c : cases) {
    const qvl_TestOutcome r = RunBoneAnim(dir.Path(), c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0];
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(r.out.ends_with("Errors: " + std::to_string(c.errorCnt) + "\nDone.\n")) << r.out;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"job.kvt"}) << "no destination after an error";
  }
}

// A run without errors makes the destination final.
TEST(BoneAnimProgram, AnErrorFreeRunClosesTheDestination) {
  qvl_TestDir dir;
  qvl_TestDir src;
  WriteValidJob(src, dir / "job.kvt");
  const qvl_TestOutcome r =
      RunBoneAnim(dir.Path(), {"job.kvt", "sub/dir/out.kvt", "-quiet", "1", "-refdir", "ref"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Errors: 0\nDone.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "sub/dir/out.kvt"));
  EXPECT_EQ(std::filesystem::directory_iterator(dir / "sub/dir")->path().filename(), "out.kvt");
}

}  // namespace
