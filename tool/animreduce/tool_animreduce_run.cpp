// The animreduce run: read, check, reduce, write, report.
#include "tool/animreduce/tool_animreduce_run.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tool/animreduce/tool_animreduce_reduce.h"
#include "util/anim/util_anim_job.h"
#include "util/anim/util_anim_jobsource.h"
#include "util/anim/util_anim_runtime.h"
#include "util/anim/util_anim_write.h"
#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_destfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_msg.h"

namespace {

const std::string kMsgPrefix = "tool/animreduce/tool_animreduce_run.";

void Report(qvl_CUtilMsgHandler* handler, int level, const std::string& context, const char* key,
            const char* text, const std::vector<std::string>& args) {
  qvl_CUtilMsg msg(qvl_CUtilStr((kMsgPrefix + key).c_str()), text);
  msg.AddInfo(qvl_CUtilStr(context.c_str()));
  for (const std::string& a : args) msg.AddInfo(qvl_CUtilStr(a.c_str()));
  if (level == qvl_MsgLevelError) {
    qvl_CUtilMsgHandler::ReportError(handler, msg);
  } else {
    handler->Report(level, msg);
  }
}

void Error(qvl_CUtilMsgHandler* handler, const std::string& context, const char* key, const char* text,
           const std::vector<std::string>& args) {
  Report(handler, qvl_MsgLevelError, context, key, text, args);
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string Percent(double part, double whole) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f%%", whole > 0.0 ? 100.0 * part / whole : 100.0);
  return buf;
}

template <class T>
qvl_CUtilPtr<T> AdoptRef(T* p) {
  qvl_CUtilPtr<T> holder(p);
  qvl_CUtilPtrBase::RefReleaseOf(p);
  return holder;
}

// A distance option: absent gives false; a value that is not a finite number
// greater than 0 is reported.
bool ParseDistance(qvl_CUtilMsgHandler* handler, const char* opt, const qvl_CUtilStr& text, bool given,
                   double* out) {
  if (!given) return false;
  if (!qvl_CUtilCmdLine::ParseFiniteNumber(text, out) || !(*out > 0.0)) {
    Error(handler, "", "bad_number", "Option [1] takes a finite number greater than 0, not \"[2]\".",
          {opt, text.GetChars()});
    return false;
  }
  return true;
}

// A file the run reads, which the destination may not replace.
struct InputFile {
  const char* what;
  qvl_CUtilStr path;
};

}  // namespace

double DefaultReduceBound(double metersPerUnit, double boxDiagonal) {
  if (metersPerUnit > 0.0 && std::isfinite(metersPerUnit)) return 0.001 / metersPerUnit;
  return boxDiagonal > 0.0 && std::isfinite(boxDiagonal) ? 0.0005 * boxDiagonal : 0.0005;
}

void RunReduce(const qvl_CUtilProgramRun& run) {
  qvl_CUtilMsgHandler* handler = run.handler;
  qvl_CUtilCmdLine& cmdLine = *run.cmdLine;
  cmdLine.SetNegativeNumberValues(true);  // "-max-error -1" is a bad number, not a missing value
  const qvl_CUtilStr jobArg = cmdLine.ExtractOptStr("-job");
  const qvl_CUtilStr refDir = cmdLine.ExtractOptStr("-refdir");
  bool boundGiven = false, shellGiven = false, binaryGiven = false;
  const qvl_CUtilStr boundText = cmdLine.ExtractOptStr("-max-error", &boundGiven);
  const qvl_CUtilStr shellText = cmdLine.ExtractOptStr("-shell", &shellGiven);
  const bool binaryOpt = cmdLine.ExtractOptBool("-binary", &binaryGiven);
  const bool quiet = cmdLine.ExtractOptBool("-quiet");
  cmdLine.ErrorUnknownOpt("-*");
  const qvl_CUtilStr fileArg = cmdLine.GetCurArgStr(1);
  const qvl_CUtilStr destArg = cmdLine.GetCurArgStr(2);
  for (int i = 3; i < cmdLine.GetArgCnt(); ++i) {
    Error(handler, "", "extra_arg", "Unexpected argument \"[1]\": one runtime file is reduced at a time.",
          {cmdLine.GetCurArgStr(i).GetChars()});
  }
  run.SetConsole("AnimReduce", quiet);
  const auto print = [&](const std::string& line) {
    if (!quiet) run.stdIo->WriteInfo(line.c_str());
  };

  double bound = 0.0, shell = 0.0;
  const bool hasBound = ParseDistance(handler, "-max-error", boundText, boundGiven, &bound);
  const bool hasShell = ParseDistance(handler, "-shell", shellText, shellGiven, &shell);
  if (jobArg.IsEmpty()) {
    Error(handler, "", "needs_job",
          "Option -job is needed: the error is measured against the job's source animation.", {});
  }
  // A command line with errors reduces nothing: the result would not be what was asked.
  if (run.stdIo->GetErrorCnt() > 0 || fileArg.IsEmpty() || destArg.IsEmpty()) return;

  // The runtime file; nothing more is done with a broken one.
  const qvl_CUtilStr filePath = qvl_CUtilFilesystem::GetCompletePath(fileArg);
  RuntimeAnim input;
  {
    qvl_CUtilPtr<qvl_CUtilCachedFile> stream(new qvl_CUtilCachedFile(handler, "", "", filePath, 10, -1));
    if (!LoadRuntimeAnim(handler, filePath, stream.Get(), &input)) return;
  }

  // The job and its source, read as the converter reads them.
  qvl_CUtilPtr<qvl_CUtilMemPool> pool = AdoptRef(qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool());
  qvl_CUtilMemPoolFrm frame(pool.Get());
  const qvl_CUtilStr jobPath = qvl_CUtilFilesystem::GetCompletePath(jobArg);
  BoneAnimJob* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  {
    qvl_CUtilPtr<qvl_CUtilCachedFile> jobStream(new qvl_CUtilCachedFile(handler, "", "", jobPath, 10, -1));
    qvl_CUtilPtr<qvl_CUtilKvtChunk> root =
        AdoptRef(qvl_CUtilKvtWork::ReadStreamSimple(handler, "", jobStream.Get(), false));
    ReadJob(job, handler, pool.Get(), root.Get());
  }
  const qvl_CUtilStr refDirPath = qvl_CUtilFilesystem::GetCompletePath(refDir);

  // The destination, never one of the inputs; checked before the work.
  const qvl_CUtilStr destPath = qvl_CUtilFilesystem::GetCompletePath(destArg);
  const InputFile inputs[] = {
      {"runtime", filePath},
      {"configuration", jobPath},
      {"reference", qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->ref_path))},
      {"animation", qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->anim_path))},
  };
  qvl_CUtilStr paths[4];
  for (int i = 0; i < 4; ++i) paths[i] = inputs[i].path;
  const int same = qvl_CUtilFilesystem::FindSameFile(destPath, paths, 4);
  if (same >= 0) {
    Error(handler, "", "dest_is_input", "The destination \"[1]\" is the [2] file \"[3]\"; it is not written.",
          {destPath.GetChars(), inputs[same].what, inputs[same].path.GetChars()});
    return;
  }
  JobSource source;
  LoadJobSource(handler, pool.Get(), refDirPath, *job, &source);
  for (const std::string& bone : input.boneNames) {
    if (!FindPath(source.anim, bone.c_str())) {
      Error(
          handler, input.file, "unknown_bone",
          "Bone \"[1]\" of the runtime file is not in the job's animation \"[2]\": the job is not the file's "
          "source.",
          {bone, source.animPath});
    }
  }
  if (run.stdIo->GetErrorCnt() > 0) return;
  if (!source.skeleton.HasHierarchy()) {
    Report(
        handler, qvl_MsgLevelWarning, source.refPath, "flat",
        "The reference \"[1]\" has no skeleton (no \"parent\" keys): every bone is measured on its own, so "
        "the bound ignores how errors add up along chains.",
        {source.refPath});
  }

  KeyReducer reducer;
  reducer.Init(source, input);
  const std::span<const PoseD> restModel = reducer.GetClip().GetRestModel();
  if (!hasShell) shell = DefaultShellDistance(source.metersPerUnit, restModel).distance;
  if (!hasBound)
    bound = DefaultReduceBound(source.metersPerUnit, DefaultShellDistance(0.0, restModel).boxDiagonal);
  const std::uint64_t times = reducer.GetClip().GetTimes().size();
  const std::uint64_t bones = static_cast<std::uint64_t>(reducer.GetClip().GetBoneCnt());
  if (!reducer.Measure(shell, bound)) {
    Error(handler, input.file, "too_large",
          "[1] source times x [2] bones need [3] bytes for the reduction, more than its limit of [4].",
          {std::to_string(times), std::to_string(bones),
           std::to_string(KeyReducer::NeededBytes(times, bones)), std::to_string(kReduceMemoryBudget)});
    return;
  }
  const std::vector<int> kept = reducer.Reduce();
  const RuntimeAnim output = KeepKeys(input, kept);
  const WorstError before = reducer.GetInputError();
  const WorstError after = MeasureWorstError(source, output, shell);

  qvl_CUtilPtr<qvl_CUtilMemStream> bytes(new qvl_CUtilMemStream());
  WriteRuntimeAnim(bytes.Get(), binaryGiven ? binaryOpt : input.binary, ToWritable(pool.Get(), output));
  qvl_CUtilFilesystem::CreateFileDirRec(handler, "", destPath);
  qvl_CUtilPtr<qvl_CUtilDestFile> dest(new qvl_CUtilDestFile(handler, "", "", destPath, true, -1));
  dest->Write(bytes->GetData().data(), bytes->GetData().size());
  // Only an error-free run makes the destination final.
  if (run.stdIo->GetErrorCnt() == 0) dest->Close();

  const double keysBefore = static_cast<double>(input.GetKeyCnt());
  print("Keys: " + std::to_string(input.GetKeyCnt()) + " -> " + std::to_string(output.GetKeyCnt()) + " (" +
        Percent(static_cast<double>(output.GetKeyCnt()), keysBefore) + "), bound " + Num(bound) + ", shell " +
        Num(shell));
  print("Bytes: " + std::to_string(input.bytes) + " -> " + std::to_string(bytes->GetData().size()) + " (" +
        Percent(static_cast<double>(bytes->GetData().size()), static_cast<double>(input.bytes)) + ")");
  print("Largest object-space error before: " + Num(before.error) + " (bone \"" + before.bone +
        "\" at time " + Num(before.time) + ")");
  print("Largest object-space error after: " + Num(after.error) + " (bone \"" + after.bone + "\" at time " +
        Num(after.time) + ")");
}
