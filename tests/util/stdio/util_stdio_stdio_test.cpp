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

}  // namespace
