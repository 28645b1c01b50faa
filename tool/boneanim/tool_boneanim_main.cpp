// Program entry of boneanim: turns the command line into one run (configuration
// file in, runtime animation file out) and the run's outcome into the exit code.
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "tool/boneanim/tool_boneanim_calc.h"
#include "tool/boneanim/tool_boneanim_raise.h"
#include "tool/boneanim/tool_boneanim_write.h"
#include "util/anim/util_anim_job.h"
#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_destfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"
#include "util/stdio/util_stdio_stdio.h"
#include "util/sys/util_sys_exceptionenv.h"
#include "util/sys/util_sys_stdout.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;       // usage printed, or a run without errors
constexpr int kExitErrors = 1;   // the run went through, with errors counted
constexpr int kExitAborted = 2;  // the run was ended by an exception

// Written one text per call, byte for byte as it stands.
constexpr const char* kUsage[] = {
    "Quorvel Bone Animation \n",
    "quorvel_v5x0x6_t164x12u_c164x12u_enterpr_win32_vc7x1_release_fwin32vc7x1release\n",
    "Parameters: \n",
    "    <cfg-file>                    Configuration files\n",
    "    <dest-file>                   Target file\n",
    "    [-binary <bool>]              Write binary\n",
    "    [-refdir <refdir>]            Reference directory for pathes. \n",
    "    [-quiet <0/1>]                Only display errors\n",
};

// Reports, at level 2, when the destination names the same file as one of
// the run's inputs (same device and inode, links followed), so that the
// error-free close never replaces an input with the output. A destination
// that does not exist yet names no input.
void CheckDestIsNoInput(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& destPath,
                        const qvl_CUtilStr& cfgPath, const qvl_CUtilStr& refDirPath, const BoneAnimJob* job) {
  // The reference and the animation as the calculation resolves them.
  static constexpr const char* kWhat[] = {"configuration", "reference", "animation"};
  const qvl_CUtilStr inputs[] = {
      cfgPath,
      qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->ref_path)),
      qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->anim_path)),
  };
  const int same = qvl_CUtilFilesystem::FindSameFile(destPath, inputs, 3);
  if (same < 0) return;
  qvl_CUtilMsg msg("tool/boneanim/tool_boneanim_main.dest_is_input",
                   "The destination \"[1]\" is the [2] file \"[3]\"; it is not written.");
  msg.AddInfo("");
  msg.AddInfo(destPath);
  msg.AddInfo(kWhat[same]);
  msg.AddInfo(inputs[same]);
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

// A holder for an object handed over with one reference already taken for
// the caller (the pool's creator, the data-tree reader).
template <class T>
qvl_CUtilPtr<T> AdoptRef(T* p) {
  qvl_CUtilPtr<T> holder(p);
  qvl_CUtilPtrBase::RefReleaseOf(p);
  return holder;
}

// Everything the guarded part of the run holds. Members are declared in the
// order they are created, so that leaving the guarded region, normally or by
// an exception, releases them in the reverse order: destination stream, root
// chunk, configuration stream, complete paths, pool frame, pool, settings,
// arguments and option values, parser, exception environment. None of their
// destructors throws.
struct GuardedRun {
  qvl_CUtilExceptionEnv exceptionEnv;
  qvl_CUtilCmdLine cmdLine;
  bool binary = false;  // options ...
  qvl_CUtilStr refDir;
  bool quiet = false;
  qvl_CUtilStr cfgArg;  // ... and positional arguments
  qvl_CUtilStr destArg;
  qvl_CUtilStdIoParam stdIoParam;
  qvl_CUtilPtr<qvl_CUtilMemPool> pool;
  std::optional<qvl_CUtilMemPoolFrm> poolFrm;
  qvl_CUtilStr refDirPath;  // complete paths
  qvl_CUtilStr cfgPath;
  qvl_CUtilStr destPath;
  qvl_CUtilPtr<qvl_CUtilCachedFile> cfgStream;
  qvl_CUtilPtr<qvl_CUtilKvtChunk> rootChunk;  // the configuration's root chunk
  BoneAnimJob* job = nullptr;                 // pool memory
  const RelativeAnim* result = nullptr;       // pool memory
  qvl_CUtilPtr<qvl_CUtilDestFile> destStream;

  // The run up to the closing of the destination. Problems of the runtime's
  // operations are reported through handler and counted by stdIo; only an
  // exception ends the run early.
  void Execute(qvl_CUtilMsgHandler* handler, qvl_CUtilStdIo* stdIo, int argc, char** argv);
};

void GuardedRun::Execute(qvl_CUtilMsgHandler* handler, qvl_CUtilStdIo* stdIo, int argc, char** argv) {
  // The parser takes the whole argument vector.
  cmdLine.AssignArgVecSysChar(handler, "", argc, argv);

  // Known options first, then the unknown ones, then the positional arguments.
  binary = cmdLine.ExtractOptBool("-binary");
  refDir = cmdLine.ExtractOptStr("-refdir");
  quiet = cmdLine.ExtractOptBool("-quiet");
  cmdLine.ErrorUnknownOpt("-*");
  cfgArg = cmdLine.GetCurArgStr(1);
  destArg = cmdLine.GetCurArgStr(2);

  // The console settings; the parser's reports above used the defaults.
  stdIoParam.m_name = "BoneAnim";
  stdIoParam.m_infoDisplay = !quiet;
  stdIoParam.m_errorDisplay = true;
  stdIoParam.m_raiseDisplay = true;
  stdIoParam.m_caughtDisplay = true;
  stdIoParam.m_flushEachLine = true;
  stdIo->SetParam(stdIoParam);

  // The run's pool and a scope frame on it.
  pool = AdoptRef(qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool());
  poolFrm.emplace(pool.Get());

  // Complete paths, the reference directory also when it is empty.
  refDirPath = qvl_CUtilFilesystem::GetCompletePath(refDir);
  cfgPath = qvl_CUtilFilesystem::GetCompletePath(cfgArg);
  destPath = qvl_CUtilFilesystem::GetCompletePath(destArg);

  // The configuration file, read whole; failures are reported by the file.
  cfgStream.Set(new qvl_CUtilCachedFile(handler, "", "", cfgPath, 10, -1));

  // The configuration as a data tree; an unreadable one arrives as
  // an empty root chunk (its failure already reported), never as null.
  rootChunk = AdoptRef(qvl_CUtilKvtWork::ReadStreamSimple(handler, "", cfgStream.Get(), false));

  // The job, zero-filled in the pool (strings null, no masks).
  job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  ReadJob(job, handler, pool.Get(), rootChunk.Get());

  // The relative animation.
  result = CalcRelativeAnim(handler, pool.Get(), refDirPath, job);

  // An input named as the destination stays as it is (its error prevents the close).
  CheckDestIsNoInput(handler, destPath, cfgPath, refDirPath, job);

  // The destination's missing directories; failures are reported.
  qvl_CUtilFilesystem::CreateFileDirRec(handler, "", destPath);

  // The destination stream; its bytes become the file only on Close.
  destStream.Set(new qvl_CUtilDestFile(handler, "", "", destPath, true, -1));

  // The runtime animation, text or binary.
  WriteRuntimeAnim(destStream.Get(), binary, result);

  // Only an error-free run makes the destination final.
  if (stdIo->GetErrorCnt() == 0) destStream->Close();
}

// The whole run for a command line with at least one argument.
int Run(int argc, char** argv) {
  // The console.
  qvl_CUtilPtr<qvl_CUtilStdIo> stdIo(new qvl_CUtilStdIo());
  // The handler, forwarding every report to the console.
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  handler->RegisterBack(stdIo.Get());

  // The guarded region: everything the run holds lives inside it.
  bool completed = false;
  try {
    GuardedRun run;
    run.Execute(handler.Get(), stdIo.Get(), argc, argv);
    completed = true;                  // before the run's objects are released
  } catch (const qvl_CUtilMsg& msg) {  // derived kinds included
    ReportCaught(handler.Get(), msg);
  } catch (const std::exception& e) {
    const qvl_CUtilExceptionStd msg(e);
    ReportCaughtStd(handler.Get(), msg);
  } catch (...) {
    const qvl_CUtilExceptionUnknown msg;
    ReportCaughtUnknown(handler.Get(), msg);
  }

  // The summary and the exit code.
  stdIo->WriteErrorCnt();
  const int errorCnt = stdIo->GetErrorCnt();
  int exitCode = kExitAborted;
  if (completed) {
    stdIo->WriteInfo("Done.");
    exitCode = errorCnt > 0 ? kExitErrors : kExitOk;
  } else {
    stdIo->WriteInfo("Aborted.");
  }

  // The handler goes before the console it forwards to.
  handler.Release();
  stdIo.Release();
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // A request for help alone prints the usage too, instead of running a job
  // with an unknown option and no files.
  const bool help = argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "-help") == 0 ||
                                  std::strcmp(argv[1], "--help") == 0);
  if (argc <= 1 || help) {
    for (const char* line : kUsage) qvl_SysStdOutWrite(line);
    return kExitOk;
  }
  // The run catches everything after its setup; this only guards the setup
  // itself (the console or the handler could not be created).
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fputs("error: the run could not be set up\nAborted.\n", stderr);
    return kExitAborted;
  }
}
