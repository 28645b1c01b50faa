// Choosing the fewest key times of a runtime file whose interpolation keeps
// every bone's object-space error against the source within a bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/anim/util_anim_jobsource.h"
#include "util/anim/util_anim_objerr.h"
#include "util/anim/util_anim_runtime.h"
#include "util/anim/util_anim_write.h"
#include "util/mempool/util_mempool_pool.h"

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

  // Bytes Measure holds for a clip of times source times and bones bones
  // (saturating at the largest value).
  static std::uint64_t NeededBytes(std::uint64_t times, std::uint64_t bones);

  // The input's own largest error (found by Measure).
  const WorstError& GetInputError() const { return m_inputWorst; }
  const ObjectSpaceClip& GetClip() const { return m_clip; }

  // After Measure: whether keys i < j of runtime, kept with none between
  // them, keep every source time strictly between their times within the
  // allowed errors. Keys next to each other always do.
  bool SegmentHolds(int i, int j);

  // The kept key indices, ascending, the first and the last key always
  // among them (none for a file without keys, one for one key). From each
  // kept key the next is, of the last kLookaheadKeys keys that hold up to
  // the farthest one, the one whose own farthest key is farthest (only the
  // farthest on segments over kLookaheadSpan keys). The farthest key that
  // holds from a key is found by doubling the step and then halving it.
  // Where every sub-segment of a segment that holds holds too that is the
  // optimum; elsewhere it stays near it. Costs O(K·log L) segment checks of
  // O(L) times each for segments of L keys (O(kLookaheadKeys) times that on
  // short ones).
  std::vector<int> Reduce();
  static constexpr int kLookaheadKeys = 8;
  static constexpr int kLookaheadSpan = 64;

  // The fewest kept keys by dynamic programming over every pair of keys:
  // exact, O(K²) segments; for measuring how far Reduce is from it.
  std::vector<int> ReduceExact();

 private:
  // The farthest key that holds from key i (memoised in m_reach, −1 unknown).
  int Reach(int i);

  const RuntimeAnim* m_runtime = nullptr;
  std::vector<int> m_reach;
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

// The record the writer takes, made from a runtime file in pool memory: the
// same range, masks, key times and bones, plain channels from their stored
// floats and packed ones as their words, so that writing it reproduces the
// stored values bit for bit. Counts past the pool arrays' limit throw.
RelativeAnim* ToWritable(qvl_CUtilMemPool* pool, const RuntimeAnim& anim);
