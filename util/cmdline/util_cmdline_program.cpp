// The companion programs' shared start and end.
#include "util/cmdline/util_cmdline_program.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "util/msg/util_msg_msg.h"
#include "util/sys/util_sys_stdout.h"

void qvl_CUtilProgramRun::SetConsole(const char* name, bool quiet) const {
  qvl_CUtilStdIoParam param;
  param.m_name = name;
  param.m_infoDisplay = !quiet;
  stdIo->SetParam(param);
}

bool qvl_CUtilProgram::IsHelpRequest(int argc, const char* const* argv) {
  if (argc != 2) return false;
  const char* a = argv[1];
  return std::strcmp(a, "-h") == 0 || std::strcmp(a, "-help") == 0 || std::strcmp(a, "--help") == 0;
}

namespace {

int RunGuarded(int argc, char** argv, const std::function<void(const qvl_CUtilProgramRun&)>& run) {
  qvl_CUtilPtr<qvl_CUtilStdIo> stdIo(new qvl_CUtilStdIo());
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  handler->RegisterBack(stdIo.Get());
  bool completed = false;
  try {
    // The command line lives inside the guarded region, so that what it
    // holds is released before the summary.
    qvl_CUtilCmdLine cmdLine;
    cmdLine.AssignArgVecSysChar(handler.Get(), "", argc, argv);
    run(qvl_CUtilProgramRun{handler.Get(), stdIo.Get(), &cmdLine});
    completed = true;
  } catch (const qvl_CUtilMsg& msg) {
    handler->Report(qvl_MsgLevelCaught, msg);
  } catch (const std::exception& e) {
    handler->Report(qvl_MsgLevelCaught, qvl_CUtilExceptionStd(e));
  } catch (...) {
    handler->Report(qvl_MsgLevelCaught, qvl_CUtilExceptionUnknown());
  }
  stdIo->WriteErrorCnt();
  const int errorCnt = stdIo->GetErrorCnt();
  stdIo->WriteInfo(completed ? "Done." : "Aborted.");
  // The handler goes before the console it forwards to.
  handler.Release();
  stdIo.Release();
  if (!completed) return qvl_ExitAborted;
  return errorCnt > 0 ? qvl_ExitErrors : qvl_ExitOk;
}

}  // namespace

int qvl_CUtilProgram::Main(int argc, char** argv, const char* usage,
                           const std::function<void(const qvl_CUtilProgramRun&)>& run) {
  if (argc <= 1 || IsHelpRequest(argc, argv)) {
    qvl_SysStdOutWrite(usage);
    return qvl_ExitOk;
  }
  try {
    return RunGuarded(argc, argv, run);
  } catch (...) {
    std::fputs("error: the run could not be set up\nAborted.\n", stderr);
    return qvl_ExitAborted;
  }
}
