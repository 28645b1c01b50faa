// The whole run through the built programs: the bundled example in text and
// binary, packed keys, and what an error or an abort leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"

namespace {

using boneanim_test::RunBoneAnim;

const std::string kExampleDir = std::string(QVL_SOURCE_DIR) + "/examples/walk";

// The canonical text of a data-tree file of either encoding, as kvt prints it.
std::string KvtCat(const std::string& path) {
  qvl_TestOutcome r = qvl_TestRunProgram(QVL_KVT_EXE, "/", {"cat", path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// The example job with its switches replaced, written to dir as job.kvt;
// its paths point at the example's files through -refdir.
void WriteExampleJob(const qvl_TestDir& dir, const std::string& replace, const std::string& by) {
  std::string job = qvl_TestDir::ReadFile(kExampleDir + "/walk.job.kvt");
  const std::size_t at = job.find(replace);
  ASSERT_NE(at, std::string::npos);
  job.replace(at, replace.size(), by);
  qvl_TestDir::WriteFile(dir / "job.kvt", job);
}

TEST(BoneAnimRun, ExampleInTextAndBinaryGivesTheSameTree) {
  qvl_TestDir dir;
  const std::string job = kExampleDir + "/walk.job.kvt";
  qvl_TestOutcome text = RunBoneAnim(dir.Path(), {job, "walk.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  qvl_TestOutcome binary =
      RunBoneAnim(dir.Path(), {job, "out/walk.bin", "-refdir", kExampleDir, "-binary", "1", "-quiet", "1"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  ASSERT_EQ(binary.exitCode, 0) << binary.err;
  EXPECT_EQ(text.out, "Errors: 0\nDone.\n");
  EXPECT_EQ(text.err, "");

  const std::string textFile = qvl_TestDir::ReadFile(dir / "walk.kvt");
  const std::string binaryFile = qvl_TestDir::ReadFile(dir / "out/walk.bin");
  EXPECT_EQ(textFile.rfind("format \"quorvel_boneanim_runtime_164x12\"\ndata {\n  range 0.0 1.0\n", 0), 0u);
  EXPECT_NE(binaryFile.substr(0, 8), textFile.substr(0, 8));
  // The text output is already canonical, and the binary output holds the same tree.
  EXPECT_EQ(KvtCat(dir / "walk.kvt"), textFile);
  EXPECT_EQ(KvtCat(dir / "out/walk.bin"), textFile);
  // Eleven bones move; Spine1, Neck and the forearms keep their rest pose
  // and are left out, though the arm mask still lists the forearms.
  EXPECT_NE(
      textFile.find("  bone_name_array \"Head\" \"Hips\" \"LeftArm\" \"LeftFoot\" \"LeftLeg\" \"LeftUpLeg\" "
                    "\"RightArm\" \"RightFoot\" \"RightLeg\" \"RightUpLeg\" \"Spine\"\n"),
      std::string::npos);
  EXPECT_NE(
      textFile.find("  mask_name_array \"LeftArm\" \"LeftForeArm\" \"RightArm\" \"RightForeArm\" \"Spine\" "
                    "\"Spine1\"\n  mask_wgh_array 1.0 1.0 1.0 1.0 0.5 0.5\n"),
      std::string::npos);
}

TEST(BoneAnimRun, CompressedRunPacksBothChannels) {
  qvl_TestDir dir;
  WriteExampleJob(dir, "compress false", "compress true");
  qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "walk.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string out = qvl_TestDir::ReadFile(dir / "walk.kvt");
  EXPECT_NE(out.find("\n  compr_transl_array -"), std::string::npos);  // e >= 0 sets the sign bit
  EXPECT_NE(out.find("\n  compr_quat_array "), std::string::npos);
  EXPECT_EQ(out.find("transl_array 0"), std::string::npos);
  EXPECT_EQ(out.find("quat_array 0"), std::string::npos);
}

TEST(BoneAnimRun, AnErrorLeavesTheDestinationAsItWas) {
  qvl_TestDir dir;
  // Translations left out of the output while the bones move: one
  // "has_transl" error per moving bone, so the run must not write.
  WriteExampleJob(dir, "do_transl true", "do_transl false");
  qvl_TestOutcome absent =
      RunBoneAnim(dir.Path(), {"job.kvt", "new.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_NE(absent.err.find("[tool/boneanim/tool_boneanim_calc.has_transl]"), std::string::npos);
  EXPECT_EQ(absent.out.substr(absent.out.size() - 6), "Done.\n");

  qvl_TestDir::WriteFile(dir / "old.kvt", "older contents");
  qvl_TestOutcome kept =
      RunBoneAnim(dir.Path(), {"job.kvt", "old.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  EXPECT_EQ(kept.exitCode, 1);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "old.kvt"), "older contents");
  // Neither run left its destination nor a temporary file behind.
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"job.kvt", "old.kvt"}));
}

TEST(BoneAnimRun, AFloodOfErrorsShowsTheFirstThousandAndCountsEveryOne) {
  qvl_TestDir dir;
  // 1500 unknown keys, each an error.
  std::string unknown;
  for (int i = 0; i < 1500; ++i) unknown += "unknown_key 1\n";
  WriteExampleJob(dir, "// Walk", unknown + "// Walk");
  qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Errors: 1500\nDone.\n");
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1001);
  EXPECT_EQ(r.err.substr(r.err.rfind("error: ")),
            "error: 500 more errors were counted and not shown (at most 1000 are shown per run). "
            "[util/stdio/util_stdio_stdio.not_shown]\n");
}

TEST(BoneAnimRun, ControlBytesOfABoneNameAreEscapedOnTheConsole) {
  qvl_TestDir dir;
  std::filesystem::copy_file(kExampleDir + "/rest.kvt", dir / "rest.kvt");
  // A bone the reference lacks, named to clear the screen and retitle the terminal.
  qvl_TestDir::WriteFile(dir / "walk.kvt",
                         "format \"quorvel_path_5\"\ndata { path_array { name \"X\\x1b[2J\\x1b]0;t\\x07\"\n"
                         "frame_array { key 0.0 transl 1.0 0.0 0.0 } } }\n");
  WriteExampleJob(dir, "// Walk", "// A walk");
  qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-refdir", dir.Path()});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.err.find('\x07'), std::string::npos);
  EXPECT_NE(r.err.find("uses bone \"X\\x1b[2J\\x1b]0;t\\x07\" which is not defined"), std::string::npos)
      << r.err;
}

TEST(BoneAnimRun, AnExceptionAbortsTheRunWithExitCode2) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run under a small address-space limit";
#else
  qvl_TestDir dir;
  // An animation file of 1 GiB (sparse) cannot be read whole within a
  // 256 MiB address space: the failed allocation ends the run as aborted,
  // with a message that names the file and its size.
  std::filesystem::copy_file(kExampleDir + "/rest.kvt", dir / "rest.kvt");
  qvl_TestDir::WriteFile(dir / "walk.kvt", "");
  std::filesystem::resize_file(dir / "walk.kvt", 1ull << 30);
  WriteExampleJob(dir, "// Walk", "// A walk");
  qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-refdir", dir.Path()}, 256ull << 20);
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("walk.kvt\": not enough memory for its 1073741824 bytes. "
                       "[util/file/util_file_cachedfile.no_memory]"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.substr(r.out.find("Errors: ")), "Errors: 1\nAborted.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.kvt"));
#endif
}

}  // namespace
