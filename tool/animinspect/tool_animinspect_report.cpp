// The error report of a runtime animation file against its source animation.
#include "tool/animinspect/tool_animinspect_report.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <unordered_map>

#include "util/anim/util_anim_jobsource.h"
#include "util/anim/util_anim_objerr.h"
#include "util/anim/util_anim_relpath.h"
#include "util/msg/util_msg_msg.h"

namespace {

constexpr double kRadToDeg = 57.295779513082320876798;  // 180 / π
const std::string kMsgPrefix = "tool/animinspect/tool_animinspect_report.";

Quatd Normalised(const Quat& q) {
  const double x = q.x, y = q.y, z = q.z, w = q.w;
  const double len = std::sqrt(x * x + y * y + z * z + w * w);
  return len > 0.0 ? Quatd{x / len, y / len, z / len, w / len} : Quatd{0.0, 0.0, 0.0, 1.0};
}

void Error(qvl_CUtilMsgHandler* handler, const char* key, const char* text,
           const std::vector<std::string>& infos) {
  qvl_CUtilMsg msg(qvl_CUtilStr((kMsgPrefix + key).c_str()), text);
  for (const std::string& i : infos) msg.AddInfo(qvl_CUtilStr(i.c_str()));
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

}  // namespace

double NearestRankP99(std::vector<double>& values) {
  if (values.empty()) return 0.0;
  const std::size_t n = values.size();
  const std::size_t rank = (99 * n + 99) / 100;  // ⌈0.99·n⌉ in integers, 1-based
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1), values.end());
  return values[rank - 1];
}

double ToleranceAngleDeg(double eps) {
  const double h = std::fabs(eps) / 2.0;
  return h >= 1.0 ? 360.0 : 4.0 * std::asin(h) * kRadToDeg;
}

std::vector<const BoneReport*> WorstBones(const ErrorReport& report, int count) {
  std::vector<const BoneReport*> kept;
  for (const BoneReport& b : report.bones) {
    if (b.kept) kept.push_back(&b);
  }
  // The bones come ascending by name, so a stable sort keeps ties by name.
  std::stable_sort(kept.begin(), kept.end(),
                   [](const BoneReport* a, const BoneReport* b) { return a->rotErrMax > b->rotErrMax; });
  if (static_cast<int>(kept.size()) > count) kept.resize(static_cast<std::size_t>(count));
  return kept;
}

std::vector<const BoneReport*> WorstBonesByObjErr(const ErrorReport& report, int count) {
  std::vector<const BoneReport*> all;
  if (!report.hasSkeleton) return all;
  for (const BoneReport& b : report.bones) all.push_back(&b);
  std::stable_sort(all.begin(), all.end(),
                   [](const BoneReport* a, const BoneReport* b) { return a->objErrMax > b->objErrMax; });
  if (static_cast<int>(all.size()) > count) all.resize(static_cast<std::size_t>(count));
  return all;
}

namespace {

// The object-space part of the report: every animation bone of report (in
// its order) posed with the whole skeleton at every source key time.
void MeasureObjectSpace(const JobSource& source, const RuntimeAnim& runtime, double shell,
                        ErrorReport* report) {
  ObjectSpaceClip clip;
  clip.Init(source, runtime);
  report->hasSkeleton = true;
  if (shell > 0.0) {
    report->shell.distance = shell;
    report->shell.source = ShellSource::kOption;
  } else {
    report->shell = DefaultShellDistance(source.metersPerUnit, clip.GetRestModel());
  }
  // The clip's index of each reported bone (the report lists the animation's bones).
  std::unordered_map<std::string, int> byName;
  for (int i = 0; i < clip.GetBoneCnt(); ++i) {
    if (clip.GetAnimPath(i)) byName.emplace(clip.GetBoneName(i), i);
  }
  std::vector<int> clipBone;
  for (const BoneReport& b : report->bones) {
    const auto found = byName.find(b.name);
    clipBone.push_back(found == byName.end() ? -1 : found->second);
  }
  const std::vector<float>& times = clip.GetTimes();
  report->objTimes.assign(times.begin(), times.end());
  for (BoneReport& b : report->bones) b.objErrs.reserve(times.size());
  for (const float t : times) {
    clip.Measure(t, report->shell.distance);
    const std::span<const double> errs = clip.GetErrors();
    for (std::size_t i = 0; i < report->bones.size(); ++i) {
      BoneReport& b = report->bones[i];
      const double e = clipBone[i] >= 0 ? errs[static_cast<std::size_t>(clipBone[i])] : 0.0;
      if (e > b.objErrMax || b.objErrs.empty()) {
        b.objErrMax = e;
        b.objErrMaxTime = t;
      }
      b.objErrs.push_back(e);
    }
  }
  std::vector<double> all;
  std::vector<double> scratch;
  all.reserve(report->bones.size() * times.size());
  for (BoneReport& b : report->bones) {
    all.insert(all.end(), b.objErrs.begin(), b.objErrs.end());
    scratch.assign(b.objErrs.begin(), b.objErrs.end());
    b.objErrP99 = NearestRankP99(scratch);
    // Bones come ascending by name: the first of equal largest errors wins.
    if (!b.objErrs.empty() && (report->objWorstBone.empty() || b.objErrMax > report->objErrMax)) {
      report->objWorstBone = b.name;
      report->objErrMax = b.objErrMax;
      report->objErrMaxTime = b.objErrMaxTime;
    }
  }
  report->objErrP99 = NearestRankP99(all);
}

}  // namespace

void BuildErrorReport(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& refdir,
                      const BoneAnimJob& job, const RuntimeAnim& runtime, double shell, ErrorReport* report) {
  *report = ErrorReport{};
  report->epsTransl = job.identity_eps_transl;
  report->epsQuat = job.identity_eps_quat;
  JobSource source;
  LoadJobSource(handler, pool, refdir, job, &source);
  report->animPath = source.animPath;
  report->refPath = source.refPath;
  report->metersPerUnit = source.metersPerUnit;
  const LoadedAnim& ref = source.ref;

  std::vector<double> allRot;
  std::vector<double> allTransl;
  std::vector<double> scratch;
  for (const PathNode* node = source.anim.GetFirstNode(); node; node = node->GetNext()) {
    const AnimPath* path = node->path;
    BoneReport bone;
    bone.name = path->name ? path->name : "";
    Pose refPose{Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 1.0f}};
    if (const AnimPath* found = FindPath(ref, path->name)) {
      // The rest pose is each track's first key, as the converter takes it.
      refPose.transl = SampleAt(found->translTrack, -FLT_MAX);
      refPose.quat = SampleAt(found->quatTrack, -FLT_MAX);
    } else {
      Error(handler, "ref_not_defined",
            "Bone \"[1]\" of animation \"[2]\" is not defined in reference \"[3]\".",
            {job.info ? job.info : "", bone.name, report->animPath, report->refPath});
    }
    AnimPath* rel = MakeRelativePath(pool, path, refPose);

    const int b = runtime.FindBone(bone.name);
    bone.kept = b >= 0;
    const Quatd identity{0.0, 0.0, 0.0, 1.0};
    for (int i = 0; i < rel->quatTrack.count; ++i) {
      const QuatKey& key = rel->quatTrack[i];
      const Quatd src = Normalised(key.value);
      bone.movedRotDeg = std::max(bone.movedRotDeg, RotationAngleDeg(src, identity));
      if (!bone.kept) continue;
      const double err = RotationAngleDeg(src, runtime.Sample(b, key.time).quat);
      if (err > bone.rotErrMax || bone.rotErrs.empty()) {
        bone.rotErrMax = err;
        bone.rotErrMaxTime = key.time;
      }
      bone.rotErrTimes.push_back(key.time);
      bone.rotErrs.push_back(err);
    }
    scratch.clear();
    for (int i = 0; i < rel->translTrack.count; ++i) {
      const TranslKey& key = rel->translTrack[i];
      const Vector3d src{key.value.x, key.value.y, key.value.z};
      bone.movedTransl = std::max(bone.movedTransl, TranslDistance(src, Vector3d{0.0, 0.0, 0.0}));
      if (!bone.kept) continue;
      const double err = TranslDistance(src, runtime.Sample(b, key.time).transl);
      if (err > bone.translErrMax || scratch.empty()) {
        bone.translErrMax = err;
        bone.translErrMaxTime = key.time;
      }
      scratch.push_back(err);
    }
    if (bone.kept) {
      allTransl.insert(allTransl.end(), scratch.begin(), scratch.end());
      bone.translErrP99 = NearestRankP99(scratch);
      allRot.insert(allRot.end(), bone.rotErrs.begin(), bone.rotErrs.end());
      scratch.assign(bone.rotErrs.begin(), bone.rotErrs.end());
      bone.rotErrP99 = NearestRankP99(scratch);
      if (report->worstBone.empty() || bone.rotErrMax > report->rotErrMax) {
        report->worstBone = bone.name;
        report->rotErrMax = bone.rotErrMax;
      }
      report->translErrMax = std::max(report->translErrMax, bone.translErrMax);
    } else {
      // The converter drops a bone whose snapped path is the identity.
      rel->SnapToIdentity(job.identity_eps_transl, job.identity_eps_quat);
      if (!rel->IsIdentity()) {
        bone.missing = true;
        Error(handler, "missing_bone",
              "Bone \"[1]\" of animation \"[2]\" moves beyond the tolerances but is missing from the runtime "
              "file \"[3]\".",
              {job.info ? job.info : "", bone.name, report->animPath, runtime.file});
      }
    }
    report->bones.push_back(std::move(bone));
  }
  report->rotErrP99 = NearestRankP99(allRot);
  report->translErrP99 = NearestRankP99(allTransl);
  if (source.skeleton.HasHierarchy()) MeasureObjectSpace(source, runtime, shell, report);
}
