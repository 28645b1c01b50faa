// Program entry of animimport: turns the command line into one import and its
// outcome into the exit code, with boneanim's console conventions.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "tool/animimport/tool_animimport_run.h"
#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/file/util_file_filesystem.h"
#include "util/msg/util_msg_handler.h"
#include "util/msg/util_msg_msg.h"
#include "util/stdio/util_stdio_stdio.h"
#include "util/sys/util_sys_stdout.h"

namespace {

constexpr int kExitOk = 0;       // usage printed, or a run without errors
constexpr int kExitErrors = 1;   // the run went through, with errors counted
constexpr int kExitAborted = 2;  // the run was ended by an exception

constexpr const char* kUsage[] = {
    "Quorvel Animation Import\n",
    "Parameters: \n",
    "    <src-file>                    Source file (.bvh, .gltf, .glb, .fbx, .dae, ...)\n",
    "    <dest-dir>                    Directory for rest.kvt, <clip>.kvt and <clip>.job.kvt\n",
    "    [-clip <name>]                Import only this clip\n",
    "    [-fps <rate>]                 Resample every clip at this rate (frames per second)\n",
    "    [-scale <factor>]             Multiply translations by this factor\n",
    "    [-unit <metres>]              Size of one source unit in metres (replaces the file's)\n",
    "    [-binary <bool>]              Write the path files binary\n",
    "    [-quiet <bool>]               Only display warnings and errors\n",
    "    [-list <bool>]                List clips and joints, write nothing\n",
    "    [-max-memory <MiB>]           Address space of the glTF and asset library readers (4096)\n",
    "    [-max-seconds <s>]            Processor time of the glTF and asset library readers (120)\n",
    "    [-in-process <bool>]          Run those readers in this process, without limits\n",
};

// A positive finite number from an option's text; reports and gives false otherwise.
bool ParsePositive(qvl_CUtilMsgHandler* handler, const char* option, const qvl_CUtilStr& text,
                   double* value) {
  const char* b = text.GetChars();
  const char* e = b + text.GetLen();
  const auto [ptr, ec] = std::from_chars(b, e, *value);
  if (ec == std::errc() && ptr == e && b != e && std::isfinite(*value) && *value > 0) return true;
  qvl_CUtilMsg msg("tool/animimport/tool_animimport_main.bad_number",
                   "The value \"[2]\" of option [1] is not a positive number.");
  msg.AddInfo("");
  msg.AddInfo(option);
  msg.AddInfo(text);
  qvl_CUtilMsgHandler::ReportError(handler, msg);
  return false;
}

// A whole number from 1 to max from an option's text; reports and gives false otherwise.
template <class T>
bool ParseWhole(qvl_CUtilMsgHandler* handler, const char* option, const qvl_CUtilStr& text, T max, T* value) {
  const char* b = text.GetChars();
  const char* e = b + text.GetLen();
  const auto [ptr, ec] = std::from_chars(b, e, *value);
  if (ec == std::errc() && ptr == e && b != e && *value >= 1 && *value <= max) return true;
  qvl_CUtilMsg msg("tool/animimport/tool_animimport_main.bad_limit",
                   "The value \"[2]\" of option [1] is not a whole number from 1 to [3].");
  msg.AddInfo("");
  msg.AddInfo(option);
  msg.AddInfo(text);
  msg.AddInfo(std::to_string(max).c_str());
  qvl_CUtilMsgHandler::ReportError(handler, msg);
  return false;
}

// The run for a command line with at least one argument; returns the exit code.
int Run(int argc, char** argv) {
  qvl_CUtilPtr<qvl_CUtilStdIo> stdIo(new qvl_CUtilStdIo());
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  handler->RegisterBack(stdIo.Get());
  bool completed = false;
  try {
    qvl_CUtilCmdLine cmdLine;
    cmdLine.AssignArgVecSysChar(handler.Get(), "", argc, argv);
    cmdLine.SetNegativeNumberValues(true);  // "-scale -1" is a bad number, not a missing value
    const qvl_CUtilStr clip = cmdLine.ExtractOptStr("-clip");
    const qvl_CUtilStr fps = cmdLine.ExtractOptStr("-fps");
    const qvl_CUtilStr scale = cmdLine.ExtractOptStr("-scale");
    const qvl_CUtilStr maxMemory = cmdLine.ExtractOptStr("-max-memory");
    const qvl_CUtilStr maxSeconds = cmdLine.ExtractOptStr("-max-seconds");
    const qvl_CUtilStr unit = cmdLine.ExtractOptStr("-unit");
    ImportOptions opt;
    opt.binary = cmdLine.ExtractOptBool("-binary");
    const bool quiet = cmdLine.ExtractOptBool("-quiet");
    opt.list = cmdLine.ExtractOptBool("-list");
    opt.reader.inProcess = cmdLine.ExtractOptBool("-in-process");
    cmdLine.ErrorUnknownOpt("-*");
    const qvl_CUtilStr srcArg = cmdLine.GetCurArgStr(1);
    const qvl_CUtilStr destArg = cmdLine.GetCurArgStr(2);

    qvl_CUtilStdIoParam param;
    param.m_name = "AnimImport";
    param.m_infoDisplay = !quiet;
    stdIo->SetParam(param);

    opt.clip = clip.GetChars();
    if (!fps.IsEmpty()) ParsePositive(handler.Get(), "-fps", fps, &opt.fps);
    if (!scale.IsEmpty()) ParsePositive(handler.Get(), "-scale", scale, &opt.scale);
    // At most 1 TiB and about 11 days: beyond them a limit would mean none.
    if (!maxMemory.IsEmpty())
      ParseWhole<std::uint64_t>(handler.Get(), "-max-memory", maxMemory, 1u << 20, &opt.reader.memoryMiB);
    if (!maxSeconds.IsEmpty())
      ParseWhole<unsigned>(handler.Get(), "-max-seconds", maxSeconds, 1'000'000, &opt.reader.cpuSeconds);
    if (!unit.IsEmpty()) ParsePositive(handler.Get(), "-unit", unit, &opt.unit);
    // A command line with errors imports nothing: the options would not be what was asked.
    if (stdIo->GetErrorCnt() == 0) {
      opt.src = qvl_CUtilFilesystem::GetCompletePath(srcArg).GetChars();
      opt.destDir = qvl_CUtilFilesystem::GetCompletePath(destArg).GetChars();
      qvl_CUtilStdIo* io = stdIo.Get();
      RunImport(handler.Get(), opt, [io](const std::string& line) { io->WriteInfo(line.c_str()); });
    }
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
  handler.Release();
  stdIo.Release();
  if (!completed) return kExitAborted;
  return errorCnt > 0 ? kExitErrors : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) {
    for (const char* line : kUsage) qvl_SysStdOutWrite(line);
    return kExitOk;
  }
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fputs("error: the run could not be set up\nAborted.\n", stderr);
    return kExitAborted;
  }
}
