// The built kvt program run as a user runs it: cat, convert and check on good
// and bad files, exit codes, and the command-line errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/util/file/util_file_testprogram.h"

namespace {

qvl_TestOutcome RunKvt(const std::string& cwd, const std::vector<std::string>& args) {
  return qvl_TestRunProgram(QVL_KVT_EXE, cwd, args);
}

const char kJob[] =
    "// a job\n"
    "ref_path \"rest.kvt\"\n"
    "compress false\n"
    "identity_eps_transl 0.0001\n"
    "mask_array { bone_pat \"Spine*\" wgh 0.5 } { bone_pat \"Head\" wgh 1 }\n";
const char kJobCanonical[] =
    "ref_path \"rest.kvt\"\n"
    "compress 0\n"
    "identity_eps_transl 1e-04\n"  // the shortest text of the float
    "mask_array {\n"
    "  bone_pat \"Spine*\"\n"
    "  wgh 0.5\n"
    "} {\n"
    "  bone_pat \"Head\"\n"
    "  wgh 1\n"
    "}\n";

TEST(KvtProgram, CatAndConvertInBothEncodings) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "job.kvt", kJob);
  qvl_TestOutcome cat = RunKvt(dir.Path(), {"cat", "job.kvt"});
  EXPECT_EQ(cat.exitCode, 0);
  EXPECT_EQ(cat.out, kJobCanonical);
  EXPECT_EQ(cat.err, "");

  qvl_TestOutcome conv = RunKvt(dir.Path(), {"convert", "job.kvt", "job.bin", "-binary", "TRUE"});
  EXPECT_EQ(conv.exitCode, 0) << conv.err;
  EXPECT_EQ(conv.out + conv.err, "");
  std::string bin = qvl_TestDir::ReadFile(dir / "job.bin");
  ASSERT_GE(bin.size(), 8u);
  EXPECT_EQ(bin.substr(0, 4), "\x9BKVT");

  // cat of the binary file equals the text encoding of the same tree.
  qvl_TestOutcome catBin = RunKvt(dir.Path(), {"cat", "job.bin"});
  EXPECT_EQ(catBin.exitCode, 0);
  EXPECT_EQ(catBin.out, kJobCanonical);

  qvl_TestOutcome back = RunKvt(dir.Path(), {"convert", "job.bin", "back.kvt"});
  EXPECT_EQ(back.exitCode, 0);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "back.kvt"), kJobCanonical);
  qvl_TestOutcome asText = RunKvt(dir.Path(), {"convert", "-binary", "0", "job.bin", "back2.kvt"});
  EXPECT_EQ(asText.exitCode, 0);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "back2.kvt"), kJobCanonical);
}

TEST(KvtProgram, BadInputIsReportedAndNoOutputWritten) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "bad.kvt", "a 1\nb { c = }\n");
  qvl_TestDir::WriteFile(dir / "old.kvt", "kept");
  qvl_TestOutcome conv = RunKvt(dir.Path(), {"convert", "bad.kvt", "old.kvt"});
  EXPECT_EQ(conv.exitCode, 1);
  EXPECT_EQ(
      conv.err,
      "bad.kvt:2:7: error: Expected a value or a key name, found '='. [util/kvt/util_kvt_text.syntax]\n");
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "old.kvt"), "kept");
  qvl_TestOutcome conv2 = RunKvt(dir.Path(), {"convert", "bad.kvt", "new.kvt", "-binary", "1"});
  EXPECT_EQ(conv2.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "new.kvt"));

  qvl_TestOutcome cat = RunKvt(dir.Path(), {"cat", "bad.kvt"});
  EXPECT_EQ(cat.exitCode, 1);
  EXPECT_EQ(cat.out, "");

  // A cut binary file names its byte offset.
  qvl_TestDir::WriteFile(dir / "good.kvt", "a 1.5 2.5\n");
  ASSERT_EQ(RunKvt(dir.Path(), {"convert", "good.kvt", "good.bin", "-binary", "true"}).exitCode, 0);
  std::string bin = qvl_TestDir::ReadFile(dir / "good.bin");
  qvl_TestDir::WriteFile(dir / "cut.bin", bin.substr(0, bin.size() - 3));
  qvl_TestOutcome cut = RunKvt(dir.Path(), {"cat", "cut.bin"});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_EQ(
      cut.err,
      "cut.bin:@15: error: Expected a count that fits the bytes left, found 8 bytes needed with 6 left. "
      "[util/kvt/util_kvt_binary.corrupt]\n");
}

TEST(KvtProgram, AFailedWriteToStandardOutputIsAnError) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "job.kvt", kJob);
  const std::string cmd = std::string(QVL_KVT_EXE) + " cat " + (dir / "job.kvt") + " > /dev/full 2> " +
                          (dir / "err.txt");
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "err.txt"),
            "error: Cannot write to standard output: No space left on device. "
            "[tool/kvt/tool_kvt_main.write_failed]\n");
}

TEST(KvtProgram, CheckReportsEveryFile) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "a.kvt", kJob);
  qvl_TestDir::WriteFile(dir / "b.kvt", "x \"open\n");
  qvl_TestOutcome ok = RunKvt(dir.Path(), {"check", "a.kvt", "a.kvt"});
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.out + ok.err, "");
  qvl_TestOutcome bad = RunKvt(dir.Path(), {"check", "b.kvt", "a.kvt", "missing.kvt"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(
      bad.err,
      "b.kvt:1:8: error: Expected '\"' closing the string before the end of the line, found a line break. "
      "[util/kvt/util_kvt_text.syntax]\n"
      "error: Cannot open \"missing.kvt\" for reading: No such file or directory. "
      "[util/file/util_file_cachedfile.open_failed]\n");
}

TEST(KvtProgram, BadCommandLinesGiveUsageAndExitTwo) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "a.kvt", "a 1\n");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frob", "a.kvt"},
      {"cat"},
      {"cat", "a.kvt", "a.kvt"},
      {"convert", "a.kvt"},
      {"convert", "a.kvt", "b.kvt", "-binary"},
      {"convert", "a.kvt", "b.kvt", "-binary", "maybe"},
      {"convert", "a.kvt", "b.kvt", "-binary", "1", "-binary", "0"},
      {"check"},
      {"check", "-x", "a.kvt"},
  };
  for (const auto& args : cases) {
    qvl_TestOutcome r = RunKvt(dir.Path(), args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(r.err.find("[tool/kvt/tool_kvt_main.cmdline]\nUsage:\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "b.kvt"));
  qvl_TestOutcome help = RunKvt(dir.Path(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage:\n", 0), 0u);
}

}  // namespace
