// Program entry of animinspect: summarises, samples and measures a runtime
// animation file; start, console and exit codes are the companion programs'
// shared ones (qvl_CUtilProgram).
#include <string>
#include <vector>

#include "tool/animinspect/tool_animinspect_html.h"
#include "tool/animinspect/tool_animinspect_json.h"
#include "tool/animinspect/tool_animinspect_report.h"
#include "tool/animinspect/tool_animinspect_svg.h"
#include "tool/animinspect/tool_animinspect_text.h"
#include "util/anim/util_anim_job.h"
#include "util/anim/util_anim_runtime.h"
#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/cmdline/util_cmdline_program.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_destfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/stdio/util_stdio_stdio.h"

namespace {

constexpr const char* kUsage =
    "animinspect: look inside a runtime animation file\n"
    "Parameters:\n"
    "    <runtime-file>                The runtime animation file (text or binary)\n"
    "    [-bones <bool>]               One line per bone: mask weight, largest motion\n"
    "    [-at <time>]                  The sampled pose of every bone at this time\n"
    "    [-job <cfg-file>]             Error report against the job's source animation\n"
    "    [-refdir <refdir>]            Reference directory for the job's paths\n"
    "    [-json <file>]                The summary (and report) as JSON\n"
    "    [-svg <file>]                 The error chart as SVG (needs -job)\n"
    "    [-html <file>]                A page that plays source and file side by side (needs -job)\n"
    "    [-max-rot-error <degrees>]    Error when a kept bone's rotation error exceeds it\n"
    "    [-max-transl-error <units>]   Error when a kept bone's translation error exceeds it\n"
    "    [-shell <distance>]           Distance from each joint of the object-space error (units)\n"
    "    [-max-error <distance>]       Error when the largest object-space error exceeds it\n"
    "    [-quiet <bool>]               Only display errors\n";

const std::string kMsgPrefix = "tool/animinspect/tool_animinspect_main.";

void Error(qvl_CUtilMsgHandler* handler, const std::string& context, const char* key, const char* text,
           const std::vector<std::string>& args) {
  qvl_CUtilMsg msg(qvl_CUtilStr((kMsgPrefix + key).c_str()), text);
  msg.AddInfo(qvl_CUtilStr(context.c_str()));
  for (const std::string& a : args) msg.AddInfo(qvl_CUtilStr(a.c_str()));
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

template <class T>
qvl_CUtilPtr<T> AdoptRef(T* p) {
  qvl_CUtilPtr<T> holder(p);
  qvl_CUtilPtrBase::RefReleaseOf(p);
  return holder;
}

// The numbers an option takes.
enum class NumRange { kAny, kAtLeast0, kAbove0 };

// The value of a number option: absent (given false) gives false; a value
// that is not a finite number within range (an empty one included) is
// reported.
bool ParseNum(qvl_CUtilMsgHandler* handler, const char* opt, const qvl_CUtilStr& text, bool given,
              NumRange range, double* out) {
  if (!given) return false;
  const bool ok = qvl_CUtilCmdLine::ParseFiniteNumber(text, out);
  const bool inRange = range == NumRange::kAny || (range == NumRange::kAtLeast0 ? *out >= 0.0 : *out > 0.0);
  if (!ok || !inRange) {
    Error(handler, "", "bad_number",
          range == NumRange::kAny        ? "Option [1] takes a number, not \"[2]\"."
          : range == NumRange::kAtLeast0 ? "Option [1] takes a number of at least 0, not \"[2]\"."
                                         : "Option [1] takes a number greater than 0, not \"[2]\".",
          {opt, text.GetChars()});
    return false;
  }
  return true;
}

// A file the run reads (or wrote before), which no output may replace.
struct InputFile {
  const char* what;
  qvl_CUtilStr path;
};

// Writes text to path (complete), making missing directories; the file
// appears only when everything was written. A path that names one of the
// inputs (links followed) is reported and not written.
void WriteOut(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& path, const std::string& text,
              const std::vector<InputFile>& inputs) {
  std::vector<qvl_CUtilStr> paths;
  for (const InputFile& in : inputs) paths.push_back(in.path);
  const int same = qvl_CUtilFilesystem::FindSameFile(path, paths.data(), static_cast<int>(paths.size()));
  if (same >= 0) {
    Error(handler, "", "dest_is_input", "The destination \"[1]\" is the [2] file \"[3]\"; it is not written.",
          {path.GetChars(), inputs[same].what, inputs[same].path.GetChars()});
    return;
  }
  qvl_CUtilFilesystem::CreateFileDirRec(handler, "", path);
  qvl_CUtilPtr<qvl_CUtilDestFile> dest(new qvl_CUtilDestFile(handler, "", "", path, true, -1));
  dest->Write(text.data(), text.size());
  dest->Close();
}

struct Inspect {
  qvl_CUtilStdIoParam param;
  qvl_CUtilPtr<qvl_CUtilMemPool> pool;
  RuntimeAnim anim;
  ErrorReport report;
  ClipPoses poses;  // for -html only

  void Execute(qvl_CUtilMsgHandler* handler, qvl_CUtilStdIo* stdIo, qvl_CUtilCmdLine& cmdLine);
};

void Inspect::Execute(qvl_CUtilMsgHandler* handler, qvl_CUtilStdIo* stdIo, qvl_CUtilCmdLine& cmdLine) {
  cmdLine.SetNegativeNumberValues(true);  // "-at -0.5" asks for a time before the range
  const bool bones = cmdLine.ExtractOptBool("-bones");
  bool atGiven = false, maxRotGiven = false, maxTranslGiven = false, shellGiven = false, maxObjGiven = false;
  const qvl_CUtilStr atText = cmdLine.ExtractOptStr("-at", &atGiven);
  const qvl_CUtilStr jobArg = cmdLine.ExtractOptStr("-job");
  const qvl_CUtilStr refDir = cmdLine.ExtractOptStr("-refdir");
  const qvl_CUtilStr jsonArg = cmdLine.ExtractOptStr("-json");
  const qvl_CUtilStr svgArg = cmdLine.ExtractOptStr("-svg");
  const qvl_CUtilStr htmlArg = cmdLine.ExtractOptStr("-html");
  const qvl_CUtilStr maxRotText = cmdLine.ExtractOptStr("-max-rot-error", &maxRotGiven);
  const qvl_CUtilStr maxTranslText = cmdLine.ExtractOptStr("-max-transl-error", &maxTranslGiven);
  const qvl_CUtilStr shellText = cmdLine.ExtractOptStr("-shell", &shellGiven);
  const qvl_CUtilStr maxObjText = cmdLine.ExtractOptStr("-max-error", &maxObjGiven);
  const bool quiet = cmdLine.ExtractOptBool("-quiet");
  cmdLine.ErrorUnknownOpt("-*");
  const qvl_CUtilStr fileArg = cmdLine.GetCurArgStr(1);
  for (int i = 2; i < cmdLine.GetArgCnt(); ++i) {
    Error(handler, "", "extra_arg", "Unexpected argument \"[1]\": one runtime file is inspected at a time.",
          {cmdLine.GetCurArgStr(i).GetChars()});
  }

  param.m_name = "AnimInspect";
  param.m_infoDisplay = !quiet;
  stdIo->SetParam(param);
  const auto print = [&](const std::vector<std::string>& lines) {
    if (quiet) return;
    for (const std::string& l : lines) stdIo->WriteInfo(l.c_str());
  };

  double at = 0.0, maxRot = 0.0, maxTransl = 0.0, shell = 0.0, maxObj = 0.0;
  const bool hasAt = ParseNum(handler, "-at", atText, atGiven, NumRange::kAny, &at);
  const bool hasMaxRot =
      ParseNum(handler, "-max-rot-error", maxRotText, maxRotGiven, NumRange::kAtLeast0, &maxRot);
  const bool hasMaxTransl =
      ParseNum(handler, "-max-transl-error", maxTranslText, maxTranslGiven, NumRange::kAtLeast0, &maxTransl);
  const bool hasShell = ParseNum(handler, "-shell", shellText, shellGiven, NumRange::kAbove0, &shell);
  const bool hasMaxObj =
      ParseNum(handler, "-max-error", maxObjText, maxObjGiven, NumRange::kAtLeast0, &maxObj);
  if (jobArg.IsEmpty()) {
    if (!svgArg.IsEmpty() || !htmlArg.IsEmpty() || hasMaxRot || hasMaxTransl || hasShell || hasMaxObj) {
      Error(handler, "", "needs_job",
            "Options -svg, -html, -max-rot-error, -max-transl-error, -shell and -max-error need -job.", {});
    }
  }
  if (fileArg.IsEmpty()) return;

  // The runtime file; nothing more is done with a broken one.
  const qvl_CUtilStr filePath = qvl_CUtilFilesystem::GetCompletePath(fileArg);
  std::vector<InputFile> inputs{{"runtime", filePath}};
  {
    qvl_CUtilPtr<qvl_CUtilCachedFile> stream(new qvl_CUtilCachedFile(handler, "", "", filePath, 10, -1));
    if (!LoadRuntimeAnim(handler, filePath, stream.Get(), &anim)) return;
  }
  print(SummaryLines(anim));
  if (bones) print(BoneLines(anim));
  if (hasAt) print(PoseLines(anim, at));

  // The error report.
  bool haveReport = false;
  if (!jobArg.IsEmpty()) {
    pool = AdoptRef(qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool());
    qvl_CUtilMemPoolFrm frame(pool.Get());
    const qvl_CUtilStr jobPath = qvl_CUtilFilesystem::GetCompletePath(jobArg);
    qvl_CUtilPtr<qvl_CUtilCachedFile> jobStream(new qvl_CUtilCachedFile(handler, "", "", jobPath, 10, -1));
    qvl_CUtilPtr<qvl_CUtilKvtChunk> root =
        AdoptRef(qvl_CUtilKvtWork::ReadStreamSimple(handler, "", jobStream.Get(), false));
    BoneAnimJob* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
    ReadJob(job, handler, pool.Get(), root.Get());
    const qvl_CUtilStr refDirPath = qvl_CUtilFilesystem::GetCompletePath(refDir);
    inputs.push_back({"configuration", jobPath});
    inputs.push_back(
        {"reference", qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->ref_path))});
    inputs.push_back(
        {"animation", qvl_CUtilFilesystem::GetAlignedPath(refDirPath, qvl_CUtilStr(job->anim_path))});
    BuildErrorReport(handler, pool.Get(), refDirPath, *job, anim, hasShell ? shell : 0.0, &report,
                     htmlArg.IsEmpty() ? nullptr : &poses);
    haveReport = true;
    print(ReportLines(report));
  }

  if (!jsonArg.IsEmpty()) {
    const qvl_CUtilStr jsonPath = qvl_CUtilFilesystem::GetCompletePath(jsonArg);
    WriteOut(handler, jsonPath, JsonReport(anim, haveReport ? &report : nullptr), inputs);
    inputs.push_back({"JSON", jsonPath});  // the chart does not replace it
  }
  if (!svgArg.IsEmpty() && haveReport) {
    const qvl_CUtilStr svgPath = qvl_CUtilFilesystem::GetCompletePath(svgArg);
    WriteOut(handler, svgPath, SvgChart(report), inputs);
    inputs.push_back({"SVG", svgPath});  // nor does the page
  }
  if (!htmlArg.IsEmpty() && haveReport) {
    const PageBound bound =
        ChoosePageBound(hasMaxObj ? maxObj : -1.0, report.metersPerUnit, poses.restDiagonal);
    WriteOut(handler, qvl_CUtilFilesystem::GetCompletePath(htmlArg), HtmlPage(anim, report, poses, bound),
             inputs);
  }

  // The limits, after the report: every bone beyond them is named.
  if (!haveReport) return;
  for (const BoneReport& b : report.bones) {
    if (!b.kept) continue;
    if (hasMaxRot && b.rotErrMax > maxRot) {
      Error(handler, anim.file, "rot_limit",
            "Bone \"[1]\": rotation error [2] degrees at time [3] exceeds the limit of [4] degrees.",
            {b.name, FormatNum(b.rotErrMax), FormatNum(b.rotErrMaxTime), FormatNum(maxRot)});
    }
    if (hasMaxTransl && b.translErrMax > maxTransl) {
      Error(handler, anim.file, "transl_limit",
            "Bone \"[1]\": translation error [2] at time [3] exceeds the limit of [4].",
            {b.name, FormatNum(b.translErrMax), FormatNum(b.translErrMaxTime), FormatNum(maxTransl)});
    }
  }
  // A gate that cannot be checked fails: passing it would claim what was not measured.
  if (hasMaxObj && !report.hasSkeleton) {
    Error(handler, anim.file, "needs_skeleton",
          "Option -max-error needs a skeleton, a \"parent\" key per bone that has a parent, in the reference "
          "\"[1]\", which has none.",
          {report.refPath});
  } else if (hasMaxObj && report.objErrMax > maxObj) {
    Error(handler, anim.file, "obj_limit",
          "Object-space error [1] of bone \"[2]\" at time [3] exceeds the limit of [4] (shell [5]).",
          {FormatNum(report.objErrMax), report.objWorstBone, FormatNum(report.objErrMaxTime),
           FormatNum(maxObj), FormatNum(report.shell.distance)});
  }
}

}  // namespace

int main(int argc, char** argv) {
  return qvl_CUtilProgram::Main(argc, argv, kUsage, [](const qvl_CUtilProgramRun& run) {
    Inspect inspect;
    inspect.Execute(run.handler, run.stdIo, *run.cmdLine);
  });
}
