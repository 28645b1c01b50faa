// Choosing the fewest key times of a runtime file whose interpolation keeps
// every bone's object-space error against the source within a bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/anim/util_anim_jobsource.h"
#include "util/anim/util_anim_objerr.h"
#include "util/anim/util_anim_runtime.h"

// Bytes the reducer may hold for the source's model poses and allowed errors
// (source times × bones × 64): 1 GiB.
inline constexpr std::uint64_t kReduceMemoryBudget = std::uint64_t{1} << 30;

// The largest object-space error of a clip: its size, bone and time.
struct WorstError {
  double error = 0.0;
  std::string bone;  // "" when there are no bones or times
  double time = 0.0;
};

// The key times of runtime that can go. A key can go when interpolating
// across it, the way runtime.Sample does (linear translations, shorter-arc
// rotations), keeps the object-space error of every bone at every source
// time t (ObjectSpaceClip, the inspector's measure) at most
// max(bound, the input's own error of that bone at t).
class KeyReducer {
 public:
  // Takes the bones and times of source and runtime (ObjectSpaceClip::Init);
  // both must outlive this and stay unchanged. GetClip then gives the rest
  // pose, for the defaults of shell and bound.
  void Init(const JobSource& source, const RuntimeAnim& runtime);
  // Poses the source and the input at every source time once, at shell
  // distance shell, and keeps the allowed error of every bone at every time.
  // shell and bound in file units, > 0. False, with nothing held, when that
  // would take more than budget bytes (see NeededBytes).
  bool Measure(double shell, double bound, std::uint64_t budget = kReduceMemoryBudget);

  // Bytes Init holds for a clip of times source times and bones bones.
  static std::uint64_t NeededBytes(std::uint64_t times, std::uint64_t bones);

  // The input's own largest error (found by Measure).
  const WorstError& GetInputError() const { return m_inputWorst; }
  const ObjectSpaceClip& GetClip() const { return m_clip; }

  // After Measure: whether keys i < j of runtime, kept with none between them, keep every
  // source time strictly between their times within the allowed errors.
  // Keys next to each other always do.
  bool SegmentHolds(int i, int j);

  // The kept key indices, ascending, the first and the last key always
  // among them (none for a file without keys, one for one key). From each
  // kept key the next is the farthest one that SegmentHolds reaches, found
  // by doubling the step and then halving it; that is the optimum where a
  // segment that holds has only sub-segments that hold, and near it
  // otherwise. Costs O(K·L·log L) segment times for segments of L keys.
  std::vector<int> Reduce();

  // The fewest kept keys by dynamic programming over every pair of keys:
  // exact, O(K²) segments; for measuring how far Reduce is from it.
  std::vector<int> ReduceExact();

 private:
  const RuntimeAnim* m_runtime = nullptr;
  ObjectSpaceClip m_clip;
  double m_shell = 0.0;
  std::vector<double> m_times;          // the source times, ascending
  std::vector<PoseD> m_srcModel;        // time-major: entry s·N + b
  std::vector<double> m_allowed;        // same layout
  std::vector<PoseD> m_local, m_model;  // scratch, one per bone
  WorstError m_inputWorst;
};

// The worst object-space error of runtime against source at every source
// time (ObjectSpaceClip), the first of equal largest ones in time, then
// bone order.
WorstError MeasureWorstError(const JobSource& source, const RuntimeAnim& runtime, double shell);

// A copy of runtime that holds only the keys kept (ascending indices): their
// times, their decoded poses and their stored values, everything else as it
// is. Plain rotations are negated where the kept key's dot product with the
// kept key before it (of the copy) is negative, so that the signs stay
// continuous; packed words are copied as they stand.
RuntimeAnim KeepKeys(const RuntimeAnim& runtime, const std::vector<int>& kept);
