// A clip posed in object space at the source's key times, once from its
// source animation and once from a runtime file made of it, with the
// object-space error of every bone between the two poses.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "util/anim/util_anim_jobsource.h"
#include "util/anim/util_anim_relpath.h"
#include "util/anim/util_anim_runtime.h"

// Set up once per clip (Init), then posed at any number of times (Measure),
// each pose without allocation. Bones: those of the reference's skeleton in
// its order, then the animation's bones that the reference lacks, ascending
// by name, as top bones with the identity rest pose. At time t:
// - the source's local pose of a bone is its animation path sampled at t by
//   the tracks' own sampling (SampleAt; the rotation normalised), the rest
//   pose's part for a channel without keys, the rest pose for a bone that the
//   animation lacks;
// - the file's local pose is the rest pose (T₀, Q₀) composed with the file's
//   relative sample (t, q) = runtime.Sample(b, t): T₀ + R(Q₀)·t and Q₀ ⊗ q,
//   so the rest pose itself for a bone that the file does not hold;
// - both are taken to model poses through the whole skeleton
//   (ComputeModelPoses), and each bone's error is ObjectSpaceError of its two
//   model poses. Rest rotations are normalised; all in double precision.
// A file's local pose of a bone: its rest pose rest composed with the file's
// relative pose rel, rest.transl + R(rest.quat)·rel.transl and rest.quat ⊗ rel.quat.
PoseD ComposeRestPose(const PoseD& rest, const PoseD& rel);

class ObjectSpaceClip {
 public:
  // Takes the bones, rest poses and times of source and the bone indices of
  // runtime; both must outlive this object and stay unchanged.
  void Init(const JobSource& source, const RuntimeAnim& runtime);

  int GetBoneCnt() const { return static_cast<int>(m_bones.size()); }
  const std::string& GetBoneName(int b) const { return m_names[b]; }
  // The parent's index, −1 for a top bone (always smaller than b).
  int GetParent(int b) const { return m_parents[b]; }
  // The bone's animation path; null for a bone the animation lacks.
  const AnimPath* GetAnimPath(int b) const { return m_bones[b].anim; }
  // The bone's index in the runtime file, −1 when the file does not hold it.
  int GetFileBone(int b) const { return m_bones[b].fileBone; }
  // The bone's rest pose (the identity for a bone the reference lacks).
  const PoseD& GetRestPose(int b) const { return m_bones[b].rest; }
  // The parents of all bones, in the bones' order (for ComputeModelPoses).
  std::span<const int> GetParents() const { return m_parents; }
  // Every distinct key time of the animation's tracks, ascending.
  const std::vector<float>& GetTimes() const { return m_times; }
  // The rest pose's model poses of the reference's bones (the first bones).
  std::span<const PoseD> GetRestModel() const { return m_restModel; }

  // Poses every bone at t and measures at shell distance shell (file units).
  // Times that only increase from call to call search the tracks from where
  // the last call ended; any other time is searched in full. No allocation.
  void Measure(float t, double shell);
  // The results of the last Measure, one entry per bone.
  std::span<const PoseD> GetSourceModel() const { return m_srcModel; }
  std::span<const PoseD> GetFileModel() const { return m_fileModel; }
  std::span<const double> GetErrors() const { return m_errors; }

 private:
  struct Bone {
    const AnimPath* anim;  // null: the animation lacks the bone
    int fileBone;          // index in the runtime file, −1 when it does not hold the bone
    PoseD rest;
    TrackCursor cursor;
  };
  const RuntimeAnim* m_runtime = nullptr;
  std::vector<Bone> m_bones;
  std::vector<std::string> m_names;
  std::vector<int> m_parents;
  std::vector<float> m_times;
  std::vector<PoseD> m_restModel;
  std::vector<PoseD> m_srcLocal, m_fileLocal, m_srcModel, m_fileModel;
  std::vector<double> m_errors;
};
