// The error report of a runtime animation file against its source animation.
#include "tool/animinspect/tool_animinspect_report.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "util/anim/util_anim_load.h"
#include "util/anim/util_anim_relpath.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/msg/util_msg_msg.h"

namespace {

constexpr double kRadToDeg = 57.295779513082320876798;  // 180 / π
const std::string kMsgPrefix = "tool/animinspect/tool_animinspect_report.";

// A loaded map that is emptied on every way out (its nodes are pool memory).
struct ScopedMap {
  ScopedMap() = default;
  ScopedMap(const ScopedMap&) = delete;
  ScopedMap& operator=(const ScopedMap&) = delete;
  ~ScopedMap() { map.ExtractAll(); }
  LoadedAnim map;
};

void Load(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& path,
          qvl_CUtilPtr<qvl_CUtilStream>& stream, LoadedAnim* map) {
  if (!path.IsEmpty()) stream.Set(new qvl_CUtilCachedFile(handler, "", "", path, 10, -1));
  LoadPathAnim(handler, path, pool, stream.Get(), map);
}

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

void BuildErrorReport(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& refdir,
                      const BoneAnimJob& job, const RuntimeAnim& runtime, ErrorReport* report) {
  const qvl_CUtilStr refPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job.ref_path));
  const qvl_CUtilStr animPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job.anim_path));
  *report = ErrorReport{};
  report->animPath = animPath.GetChars();
  report->refPath = refPath.GetChars();
  report->epsTransl = job.identity_eps_transl;
  report->epsQuat = job.identity_eps_quat;

  qvl_CUtilPtr<qvl_CUtilStream> refStream;
  ScopedMap ref;
  qvl_CUtilPtr<qvl_CUtilStream> animStream;
  ScopedMap anim;
  Load(handler, pool, refPath, refStream, &ref.map);
  Load(handler, pool, animPath, animStream, &anim.map);

  std::vector<double> allRot;
  std::vector<double> allTransl;
  std::vector<double> scratch;
  for (const PathNode* node = anim.map.GetFirstNode(); node; node = node->GetNext()) {
    const AnimPath* path = node->path;
    BoneReport bone;
    bone.name = path->name ? path->name : "";
    Pose refPose{Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 1.0f}};
    const PathNode* found = FindPathNode(ref.map, path->name);
    if (found && CompareNames(found->key, path->name) == 0) {
      // The rest pose is each track's first key, as the converter takes it.
      refPose.transl = SampleAt(found->path->translTrack, -FLT_MAX);
      refPose.quat = SampleAt(found->path->quatTrack, -FLT_MAX);
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
}
