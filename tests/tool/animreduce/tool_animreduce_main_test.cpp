// Tests of animreduce through the built program: the chain convert, reduce,
// inspect on the bundled example (plain and packed) against the bound, the
// encoding of the output, every command-line and input error, and help in
// every companion program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_example.h"
#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

using boneanim_test::ConvertExample;
using boneanim_test::kExampleDir;

// args, then the options naming the example's job and its rest pose's directory.
std::vector<std::string> WithJob(std::vector<std::string> args, const std::string& job = "job.kvt") {
  args.insert(args.end(), {"-job", job, "-refdir", kExampleDir});
  return args;
}

TEST(AnimReduceMain, ChainKeepsTheInspectorsErrorWithinTheBound) {
  for (const bool packed : {false, true}) {
    SCOPED_TRACE(packed);
    qvl_TestDir dir;
    ConvertExample(dir, packed);
    const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMREDUCE_EXE, dir.Path(),
                                                 WithJob({"walk.kvt", "small.kvt", "-max-error", "0.01"}));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // 0.01 m lets some keys go; the file shrinks and stays text.
    EXPECT_NE(r.out.find("Keys: 31 -> "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Keys: 31 -> 31 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Largest object-space error after: "), std::string::npos);
    EXPECT_LT(std::filesystem::file_size(dir / "small.kvt"), std::filesystem::file_size(dir / "walk.kvt"));
    EXPECT_EQ(qvl_TestDir::ReadFile(dir / "small.kvt").rfind("format", 0), 0u);
    // The inspector, at the source's times, agrees: the gate of the same bound
    // passes, one far below what the reduction left fails.
    for (const auto& [bound, code] : {std::pair{"0.01", 0}, std::pair{"0.0001", 1}}) {
      const qvl_TestOutcome in =
          qvl_TestRunProgram(QVL_ANIMINSPECT_EXE, dir.Path(), WithJob({"small.kvt", "-max-error", bound}));
      EXPECT_EQ(in.exitCode, code) << bound << in.out << in.err;
    }
    // -binary 1 writes the binary encoding, which reads back the same.
    ASSERT_EQ(qvl_TestRunProgram(
                  QVL_ANIMREDUCE_EXE, dir.Path(),
                  WithJob({"walk.kvt", "small.bin", "-max-error", "0.01", "-binary", "1", "-quiet", "1"}))
                  .exitCode,
              0);
    EXPECT_NE(qvl_TestDir::ReadFile(dir / "small.bin").rfind("format", 0), 0u);
    EXPECT_EQ(qvl_TestRunProgram(QVL_KVT_EXE, dir.Path(), {"cat", "small.kvt"}).out,
              qvl_TestRunProgram(QVL_KVT_EXE, dir.Path(), {"cat", "small.bin"}).out);
  }
}

TEST(AnimReduceMain, BadInputIsAnErrorAndWritesNothing) {
  qvl_TestDir dir;
  ConvertExample(dir, false);
  // A job whose animation lacks all but one of the file's bones.
  qvl_TestDir::WriteFile(dir / "hips.kvt",
                         "format \"quorvel_path_5\" data { path_array { name \"Hips\" range 0 1 frame_array "
                         "{ key 0 transl 0 1 0 quat 0 0 0 1 } } }");
  qvl_TestDir::WriteFile(dir / "other.job.kvt", "ref_path \"" + kExampleDir + "/rest.kvt\" anim_path \"" +
                                                    (dir / "hips.kvt") + "\"");
  const std::string walk = qvl_TestDir::ReadFile(dir / "walk.kvt");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      // arguments, a message id of the output
      {{"walk.kvt", "out.kvt"}, "tool_animreduce_run.needs_job"},
      {WithJob({"walk.kvt", "out.kvt", "-max-error", "0"}), "run.bad_number"},
      {WithJob({"walk.kvt", "out.kvt", "-max-error", "-1"}), "run.bad_number"},
      {WithJob({"walk.kvt", "out.kvt", "-max-error", "inf"}), "run.bad_number"},
      {WithJob({"walk.kvt", "out.kvt", "-shell", "nan"}), "run.bad_number"},
      {WithJob({"walk.kvt", "out.kvt", "-shell", "3cm"}), "run.bad_number"},
      {WithJob({"walk.kvt", "out.kvt", "-binary", "maybe"}), "cmdline.bad_bool"},
      {{"walk.kvt", "out.kvt", "-job", "job.kvt", "-fast", "1"}, "cmdline"},
      {WithJob({"walk.kvt", "out.kvt", "extra"}), "run.extra_arg"},
      {WithJob({"walk.kvt"}), "cmdline"},
      {WithJob({"job.kvt", "out.kvt"}), "util_anim_runtime."},  // not a runtime file: the job itself
      {WithJob({"missing.kvt", "out.kvt"}), "util/file/"},
      {WithJob({"walk.kvt", "out.kvt"}, "other.job.kvt"), "run.unknown_bone"},
      // The destination is one of the inputs.
      {WithJob({"walk.kvt", "walk.kvt"}), "run.dest_is_input"},
      {WithJob({"walk.kvt", "job.kvt"}), "run.dest_is_input"},
      {WithJob({"walk.kvt", kExampleDir + "/walk.kvt"}), "run.dest_is_input"},
  };
  for (const auto& [args, id] : cases) {
    std::string trace;
    for (const std::string& a : args) trace += a + " ";
    SCOPED_TRACE(trace);
    const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMREDUCE_EXE, dir.Path(), args);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(id), std::string::npos) << r.out << r.err;
    EXPECT_FALSE(std::filesystem::remove(dir / "out.kvt"));
    EXPECT_EQ(qvl_TestDir::ReadFile(dir / "walk.kvt"), walk);
  }
}

TEST(AnimReduceMain, HelpInEveryCompanionProgram) {
  std::vector<const char*> programs{QVL_ANIMREDUCE_EXE, QVL_ANIMINSPECT_EXE, QVL_KVT_EXE};
  if (!std::string(QVL_ANIMIMPORT_EXE).empty()) programs.push_back(QVL_ANIMIMPORT_EXE);
  for (const char* exe : programs) {
    const qvl_TestOutcome none = qvl_TestRunProgram(exe, "/", {});
    for (const char* help : {"-h", "-help", "--help"}) {
      SCOPED_TRACE(std::string(exe) + " " + help);
      const qvl_TestOutcome r = qvl_TestRunProgram(exe, "/", {help});
      EXPECT_TRUE(r.exitCode == 0 && r.err.empty() && !r.out.empty()) << r.exitCode << r.out << r.err;
      if (std::string(exe) != QVL_KVT_EXE) {
        EXPECT_EQ(r.out, none.out);
      }
    }
  }
}

}  // namespace
