// Program entry of animimport: turns the command line into one import and its
// outcome into the exit code, through the companion programs' shared start
// and end (qvl_CUtilProgram).
#include <charconv>
#include <cstdint>
#include <string>

#include "tool/animimport/tool_animimport_run.h"
#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/cmdline/util_cmdline_program.h"
#include "util/file/util_file_filesystem.h"
#include "util/msg/util_msg_handler.h"
#include "util/msg/util_msg_msg.h"
#include "util/stdio/util_stdio_stdio.h"

namespace {

constexpr const char* kUsage =
    "Quorvel Animation Import\n"
    "Parameters: \n"
    "    <src-file>                    Source file (.bvh, .gltf, .glb, .fbx, .dae, ...)\n"
    "    <dest-dir>                    Directory for rest.kvt, <clip>.kvt and <clip>.job.kvt\n"
    "    [-clip <name>]                Import only this clip\n"
    "    [-fps <rate>]                 Resample every clip at this rate (frames per second)\n"
    "    [-scale <factor>]             Multiply translations by this factor\n"
    "    [-unit <metres>]              Size of one source unit in metres (replaces the file's)\n"
    "    [-binary <bool>]              Write the path files binary\n"
    "    [-quiet <bool>]               Only display warnings and errors\n"
    "    [-list <bool>]                List clips and joints, write nothing\n"
    "    [-max-memory <MiB>]           Address space of the glTF and asset library readers (4096)\n"
    "    [-max-seconds <s>]            Processor time of the glTF and asset library readers (120)\n"
    "    [-in-process <bool>]          Run those readers in this process, without limits\n";

// A positive finite number from an option's text; reports and gives false otherwise.
bool ParsePositive(qvl_CUtilMsgHandler* handler, const char* option, const qvl_CUtilStr& text,
                   double* value) {
  if (qvl_CUtilCmdLine::ParseFiniteNumber(text, value) && *value > 0) return true;
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

// The import for the command line of run.
void RunMain(const qvl_CUtilProgramRun& run) {
  qvl_CUtilMsgHandler* handler = run.handler;
  qvl_CUtilCmdLine& cmdLine = *run.cmdLine;
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

  run.SetConsole("AnimImport", quiet);

  opt.clip = clip.GetChars();
  if (!fps.IsEmpty()) ParsePositive(handler, "-fps", fps, &opt.fps);
  if (!scale.IsEmpty()) ParsePositive(handler, "-scale", scale, &opt.scale);
  // At most 1 TiB and about 11 days: beyond them a limit would mean none.
  if (!maxMemory.IsEmpty())
    ParseWhole<std::uint64_t>(handler, "-max-memory", maxMemory, 1u << 20, &opt.reader.memoryMiB);
  if (!maxSeconds.IsEmpty())
    ParseWhole<unsigned>(handler, "-max-seconds", maxSeconds, 1'000'000, &opt.reader.cpuSeconds);
  if (!unit.IsEmpty()) ParsePositive(handler, "-unit", unit, &opt.unit);
  // A command line with errors imports nothing: the options would not be what was asked.
  if (run.stdIo->GetErrorCnt() == 0) {
    opt.src = qvl_CUtilFilesystem::GetCompletePath(srcArg).GetChars();
    opt.destDir = qvl_CUtilFilesystem::GetCompletePath(destArg).GetChars();
    qvl_CUtilStdIo* io = run.stdIo;
    RunImport(handler, opt, [io](const std::string& line) { io->WriteInfo(line.c_str()); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  return qvl_CUtilProgram::Main(argc, argv, kUsage, RunMain);
}
