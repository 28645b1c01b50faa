// Object-space poses of a clip's source and runtime file, and their error.
#include "util/anim/util_anim_objerr.h"

#include <algorithm>
#include <cmath>

namespace {

// The distinct key times of track, ascending, into out.
template <class Track>
void DistinctTimes(const Track& track, std::vector<float>& out) {
  out.clear();
  for (int i = 0; i < track.count; ++i) {
    const float t = track[i].time;
    if (out.empty() || out.back() != t) out.push_back(t);
  }
}

// times becomes the union of times and add (both ascending, distinct).
void Unite(std::vector<float>& times, const std::vector<float>& add, std::vector<float>& scratch) {
  if (add == times || add.empty()) return;  // the usual case: every track has the same times
  scratch.clear();
  std::set_union(times.begin(), times.end(), add.begin(), add.end(), std::back_inserter(scratch));
  times.swap(scratch);
}

}  // namespace

PoseD ComposeRestPose(const PoseD& rest, const PoseD& rel) {
  const Vector3d d = Rotate(rest.quat, rel.transl);
  return PoseD{Vector3d{rest.transl.x + d.x, rest.transl.y + d.y, rest.transl.z + d.z},
               Mul(rest.quat, rel.quat)};
}

void ObjectSpaceClip::Init(const JobSource& source, const RuntimeAnim& runtime) {
  m_runtime = &runtime;
  m_bones.clear();
  m_names.clear();
  m_parents.clear();
  m_times.clear();
  const Skeleton& skel = source.skeleton;
  for (int b = 0; b < skel.GetBoneCnt(); ++b) {
    const std::string& name = skel.names[b];
    m_bones.push_back(Bone{FindPath(source.anim, name.c_str()), runtime.FindBone(name),
                           RestPoseOf(FindPath(source.ref, name.c_str())), TrackCursor{}});
    m_names.push_back(name);
    m_parents.push_back(skel.parents[b]);
  }
  std::vector<float> own, scratch;
  for (const PathNode* n = source.anim.GetFirstNode(); n; n = n->GetNext()) {
    const char* name = n->key ? n->key : "";
    if (skel.FindBone(name) < 0) {
      m_bones.push_back(Bone{n->path, runtime.FindBone(name), kIdentityPoseD, TrackCursor{}});
      m_names.emplace_back(name);
      m_parents.push_back(-1);
    }
    DistinctTimes(n->path->translTrack, own);
    Unite(m_times, own, scratch);
    DistinctTimes(n->path->quatTrack, own);
    Unite(m_times, own, scratch);
  }
  const std::size_t n = m_bones.size();
  m_srcLocal.assign(n, kIdentityPoseD);
  m_fileLocal.assign(n, kIdentityPoseD);
  m_srcModel.assign(n, kIdentityPoseD);
  m_fileModel.assign(n, kIdentityPoseD);
  m_errors.assign(n, 0.0);
  const std::size_t refCnt = static_cast<std::size_t>(skel.GetBoneCnt());
  for (std::size_t b = 0; b < refCnt; ++b) m_srcLocal[b] = m_bones[b].rest;
  m_restModel.assign(refCnt, kIdentityPoseD);
  ComputeModelPoses(std::span<const int>(m_parents).first(refCnt),
                    std::span<const PoseD>(m_srcLocal).first(refCnt), m_restModel);
}

void ObjectSpaceClip::Measure(float t, double shell) {
  for (std::size_t b = 0; b < m_bones.size(); ++b) {
    Bone& bone = m_bones[b];
    PoseD src = bone.rest;
    if (bone.anim) {
      if (bone.anim->translTrack.count > 0) {
        const Vector3 v = SampleAtFrom(bone.anim->translTrack, t, bone.cursor.transl);
        src.transl = Vector3d{v.x, v.y, v.z};
      }
      if (bone.anim->quatTrack.count > 0) {
        const Quat q = SampleAtFrom(bone.anim->quatTrack, t, bone.cursor.quat);
        const double x = q.x, y = q.y, z = q.z, w = q.w;
        const double len = std::sqrt(x * x + y * y + z * z + w * w);
        if (len > 0.0 && std::isfinite(len)) src.quat = Quatd{x / len, y / len, z / len, w / len};
      }
    }
    m_srcLocal[b] = src;
    m_fileLocal[b] =
        bone.fileBone >= 0 ? ComposeRestPose(bone.rest, m_runtime->Sample(bone.fileBone, t)) : bone.rest;
  }
  ComputeModelPoses(m_parents, m_srcLocal, m_srcModel);
  ComputeModelPoses(m_parents, m_fileLocal, m_fileModel);
  for (std::size_t b = 0; b < m_bones.size(); ++b) {
    m_errors[b] = ObjectSpaceError(m_srcModel[b], m_fileModel[b], shell);
  }
}
