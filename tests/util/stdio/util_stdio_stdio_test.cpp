// Tests of the console: where each level goes, the line layout, the settings and the error count.
#include "util/stdio/util_stdio_stdio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string ReadAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

struct Console {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  qvl_CUtilPtr<qvl_CUtilStdIo> io{new qvl_CUtilStdIo()};
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  Console() {
    io->SetFiles(out, err);
    handler->RegisterBack(io.Get());
  }
  ~Console() {
    std::fclose(out);
    std::fclose(err);
  }
  void Report(int level, const char* context, const char* info) {
    qvl_CUtilMsg msg("tool/x.key", "Bone \"[1]\" [2]");
    msg.AddInfo(context);
    msg.AddInfo(info);
    handler->Report(level, msg);
  }
};

TEST(StdIo, LevelsGoToTheirStreamsAsOneLineEachAndErrorsAreCounted) {
  Console c;
  c.Report(1, "ctx", "Hips");
  c.Report(2, "ctx", "Spine");
  c.Report(3, "", "Neck");
  c.Report(4, "", "Head\nsecond line");
  EXPECT_EQ(c.io->GetErrorCnt(), 3);
  c.io->WriteErrorCnt();
  c.io->WriteInfo("Done.");
  EXPECT_EQ(ReadAll(c.out), "Bone \"Hips\" [2]\nErrors: 3\nDone.\n");
  EXPECT_EQ(ReadAll(c.err),
            "ctx: error: Bone \"Spine\" [2] [tool/x.key]\n"
            "error: Bone \"Neck\" [2] [tool/x.key]\n"
            "error: Bone \"Head\\x0asecond line\" [2] [tool/x.key]\n");
}

TEST(StdIo, WarningsGoToStandardErrorUncountedAndCanBeHidden) {
  Console c;
  c.Report(qvl_MsgLevelWarning, "f.bvh:3:1", "Hips");
  c.Report(qvl_MsgLevelWarning, "", "Spine");
  qvl_CUtilStdIoParam param;
  param.m_infoDisplay = false;  // -quiet hides information, not warnings
  c.io->SetParam(param);
  c.Report(qvl_MsgLevelWarning, "", "Neck");
  param.m_warningDisplay = false;
  c.io->SetParam(param);
  c.Report(qvl_MsgLevelWarning, "", "Hidden");
  EXPECT_EQ(c.io->GetErrorCnt(), 0);
  EXPECT_EQ(ReadAll(c.out), "");
  EXPECT_EQ(ReadAll(c.err),
            "f.bvh:3:1: warning: Bone \"Hips\" [2] [tool/x.key]\n"
            "warning: Bone \"Spine\" [2] [tool/x.key]\n"
            "warning: Bone \"Neck\" [2] [tool/x.key]\n");
  qvl_CUtilMsgCollector collector;
  collector.Eval(qvl_MsgLevelWarning, qvl_CUtilMsg());
  collector.Eval(qvl_MsgLevelRaise, qvl_CUtilMsg());
  EXPECT_EQ(collector.GetErrorCnt(), 1);
}

TEST(StdIo, QuietHidesInformationOnlyAndHiddenErrorsStillCount) {
  Console c;
  qvl_CUtilStdIoParam param;
  param.m_name = "BoneAnim";
  param.m_infoDisplay = false;
  c.io->SetParam(param);
  c.Report(1, "", "Hips");
  c.Report(2, "", "Spine");
  param.m_errorDisplay = false;
  param.m_nameInLines = true;
  c.io->SetParam(param);
  c.Report(2, "", "Hidden");
  c.Report(4, "", "Shown");
  c.io->WriteErrorCnt();
  c.io->WriteInfo("Aborted.");
  EXPECT_EQ(c.io->GetErrorCnt(), 3);
  EXPECT_EQ(ReadAll(c.out), "Errors: 3\nAborted.\n");
  EXPECT_EQ(ReadAll(c.err),
            "error: Bone \"Spine\" [2] [tool/x.key]\nBoneAnim: error: Bone \"Shown\" [2] [tool/x.key]\n");
}

TEST(StdIo, ControlBytesOfInfosAreEscapedOnTheConsole) {
  Console c;
  // A bone name that would clear the screen and retitle the terminal.
  c.Report(1, "", "Hips\x1b[2J\x1b]0;owned\x07");
  c.Report(2, "f.kvt:1:2\x7f", "A\x01\x1f\t\rB \x80\xff~");
  EXPECT_EQ(ReadAll(c.out), "Bone \"Hips\\x1b[2J\\x1b]0;owned\\x07\" [2]\n");
  // Bytes from 0x80 up are left alone (UTF-8 names); the text itself is not an info.
  EXPECT_EQ(ReadAll(c.err),
            "f.kvt:1:2\\x7f: error: Bone \"A\\x01\\x1f\\x09\\x0dB \x80\xff~\" [2] [tool/x.key]\n");
}

TEST(StdIo, AtMostTheLimitOfErrorsIsShownAndTheRestIsCountedInOneLine) {
  EXPECT_EQ(qvl_CUtilStdIoParam().m_maxShownErrors, 1000);
  for (const int limit : {3, -1}) {
    SCOPED_TRACE(limit);
    Console c;
    qvl_CUtilStdIoParam param;
    param.m_maxShownErrors = limit;
    c.io->SetParam(param);
    for (int i = 0; i < 5; ++i) {
      c.Report(i == 2 ? 1 : 2, "", std::to_string(i).c_str());
      c.Report(i == 4 ? 4 : 3, "", "x");
    }
    c.io->WriteErrorCnt();
    c.io->WriteNotShown();  // once only
    EXPECT_EQ(c.io->GetErrorCnt(), 9);
    EXPECT_EQ(c.io->GetNotShownCnt(), limit < 0 ? 0 : 5);
    // Information is never held back.
    EXPECT_EQ(ReadAll(c.out), "Bone \"2\" [2]\nErrors: 9\n");
    std::string expected;
    for (const char* info : {"0", "x", "1", "x", "x", "3", "x", "4", "x"}) {
      expected += std::string("error: Bone \"") + info + "\" [2] [tool/x.key]\n";
    }
    if (limit >= 0) {
      // The abort's reason (level 4) is shown all the same.
      expected = expected.substr(0, expected.find("error: Bone \"x\"", expected.find("\"1\"")));
      expected += "error: Bone \"x\" [2] [tool/x.key]\n";
      expected +=
          "error: 5 more errors were counted and not shown (at most 3 are shown per run). "
          "[util/stdio/util_stdio_stdio.not_shown]\n";
    }
    EXPECT_EQ(ReadAll(c.err), expected);
  }
}

}  // namespace
