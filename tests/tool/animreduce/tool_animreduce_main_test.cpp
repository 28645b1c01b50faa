// Tests of animreduce through the built program: the chain convert, reduce,
// inspect on the bundled example (plain and packed) against the bound, the
// encoding of the output, every command-line and input error, and help in
// every companion program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

const std::string kExampleDir = std::string(QVL_SOURCE_DIR) + "/examples/walk";

qvl_TestOutcome Reduce(const std::string& cwd, const std::vector<std::string>& args) {
  return qvl_TestRunProgram(QVL_ANIMREDUCE_EXE, cwd, args);
}

// The example converted by boneanim into dir/walk.kvt (text, packed when
// compress), with its job as dir/job.kvt.
void Convert(const qvl_TestDir& dir, bool compress) {
  std::string job = qvl_TestDir::ReadFile(kExampleDir + "/walk.job.kvt");
  const std::size_t at = job.find("compress false");
  ASSERT_NE(at, std::string::npos);
  if (compress) job.replace(at, 14, "compress true");
  qvl_TestDir::WriteFile(dir / "job.kvt", job);
  const qvl_TestOutcome r = qvl_TestRunProgram(
      QVL_BONEANIM_EXE, dir.Path(), {"job.kvt", "walk.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

TEST(AnimReduceMain, ChainKeepsTheInspectorsErrorWithinTheBound) {
  for (const bool packed : {false, true}) {
    SCOPED_TRACE(packed);
    qvl_TestDir dir;
    Convert(dir, packed);
    const qvl_TestOutcome r = Reduce(dir.Path(), {"walk.kvt", "small.kvt", "-job", "job.kvt", "-refdir",
                                                  kExampleDir, "-max-error", "0.01"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Keys: 31 -> "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Keys: 31 -> 31 "), std::string::npos) << r.out;  // 0.01 m lets some go
    EXPECT_NE(r.out.find("Largest object-space error after: "), std::string::npos);
    EXPECT_LT(std::filesystem::file_size(dir / "small.kvt"), std::filesystem::file_size(dir / "walk.kvt"));
    // Text in, text out.
    EXPECT_EQ(qvl_TestDir::ReadFile(dir / "small.kvt").rfind("format", 0), 0u);
    // The inspector, at the source's times, agrees: the gate of the same bound passes.
    const qvl_TestOutcome in =
        qvl_TestRunProgram(QVL_ANIMINSPECT_EXE, dir.Path(),
                           {"small.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-max-error", "0.01"});
    EXPECT_EQ(in.exitCode, 0) << in.out << in.err;
    // A bound far below what the reduction left fails there.
    EXPECT_EQ(
        qvl_TestRunProgram(QVL_ANIMINSPECT_EXE, dir.Path(),
                           {"small.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-max-error", "0.0001"})
            .exitCode,
        1);
    // -binary 1 writes the binary encoding, which reads back the same.
    ASSERT_EQ(Reduce(dir.Path(), {"walk.kvt", "small.bin", "-job", "job.kvt", "-refdir", kExampleDir,
                                  "-max-error", "0.01", "-binary", "1", "-quiet", "1"})
                  .exitCode,
              0);
    EXPECT_NE(qvl_TestDir::ReadFile(dir / "small.bin").rfind("format", 0), 0u);
    const qvl_TestOutcome a = qvl_TestRunProgram(QVL_KVT_EXE, dir.Path(), {"cat", "small.kvt"});
    const qvl_TestOutcome b = qvl_TestRunProgram(QVL_KVT_EXE, dir.Path(), {"cat", "small.bin"});
    EXPECT_EQ(a.out, b.out);
  }
}

TEST(AnimReduceMain, BadInputIsAnErrorAndWritesNothing) {
  qvl_TestDir dir;
  Convert(dir, false);
  // A job whose animation lacks all but one of the file's bones.
  qvl_TestDir::WriteFile(dir / "hips.kvt",
                         "format \"quorvel_path_5\" data { path_array { name \"Hips\" range 0 1 frame_array "
                         "{ key 0 transl 0 1 0 quat 0 0 0 1 } } }");
  qvl_TestDir::WriteFile(dir / "other.job.kvt", "ref_path \"" + kExampleDir + "/rest.kvt\" anim_path \"" +
                                                    (dir / "hips.kvt") + "\"");
  const std::string walk = qvl_TestDir::ReadFile(dir / "walk.kvt");
  struct Case {
    std::vector<std::string> args;  // after "walk.kvt" unless it starts with a file
    std::string id;                 // a message id the output must hold
    int exitCode;
  };
  const std::string job = "-job", ref = "-refdir";
  const Case cases[] = {
      {{"walk.kvt", "out.kvt"}, "tool_animreduce_run.needs_job", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-max-error", "0"}, "run.bad_number", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-max-error", "-1"}, "run.bad_number", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-max-error", "inf"}, "run.bad_number", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-shell", "nan"}, "run.bad_number", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-shell", "3cm"}, "run.bad_number", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir, "-binary", "maybe"}, "cmdline.bad_bool", 1},
      {{"walk.kvt", "out.kvt", job, "job.kvt", "-fast", "1"}, "cmdline", 1},
      {{"walk.kvt", "out.kvt", "extra", job, "job.kvt", ref, kExampleDir}, "run.extra_arg", 1},
      {{"walk.kvt", job, "job.kvt", ref, kExampleDir}, "cmdline", 1},
      // Not a runtime file: the job itself.
      {{"job.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir}, "util_anim_runtime.", 1},
      {{"missing.kvt", "out.kvt", job, "job.kvt", ref, kExampleDir}, "util/file/", 1},
      {{"walk.kvt", "out.kvt", job, "other.job.kvt", ref, kExampleDir}, "run.unknown_bone", 1},
      // The destination is one of the inputs.
      {{"walk.kvt", "walk.kvt", job, "job.kvt", ref, kExampleDir}, "run.dest_is_input", 1},
      {{"walk.kvt", "job.kvt", job, "job.kvt", ref, kExampleDir}, "run.dest_is_input", 1},
      {{"walk.kvt", kExampleDir + "/walk.kvt", job, "job.kvt", ref, kExampleDir}, "run.dest_is_input", 1},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const qvl_TestOutcome r = Reduce(dir.Path(), c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.id), std::string::npos) << r.out << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.kvt"));
    std::filesystem::remove(dir / "out.kvt");
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
      EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_FALSE(r.out.empty());
      if (std::string(exe) != QVL_KVT_EXE) {
        EXPECT_EQ(r.out, none.out);
      }
    }
  }
}

}  // namespace
