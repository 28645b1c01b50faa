// The key reduction: the source posed once, segments between candidate keys
// checked against it, the farthest reach taken from each kept key.
#include "tool/animreduce/tool_animreduce_reduce.h"

#include <algorithm>
#include <limits>

std::uint64_t KeyReducer::NeededBytes(std::uint64_t times, std::uint64_t bones) {
  const std::uint64_t perEntry = sizeof(PoseD) + sizeof(double);
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / perEntry;
  if (bones != 0 && times > limit / bones) return std::numeric_limits<std::uint64_t>::max();
  return times * bones * perEntry;
}

void KeyReducer::Init(const JobSource& source, const RuntimeAnim& runtime) {
  m_runtime = &runtime;
  m_clip.Init(source, runtime);
}

bool KeyReducer::Measure(double shell, double bound, std::uint64_t budget) {
  m_shell = shell;
  m_times.clear();
  m_srcModel.clear();
  m_allowed.clear();
  m_inputWorst = WorstError{};
  const std::vector<float>& times = m_clip.GetTimes();
  const std::size_t n = static_cast<std::size_t>(m_clip.GetBoneCnt());
  if (NeededBytes(times.size(), n) > budget) return false;
  m_times.assign(times.begin(), times.end());
  m_srcModel.resize(times.size() * n);
  m_allowed.resize(times.size() * n);
  m_local.assign(n, kIdentityPoseD);
  m_model.assign(n, kIdentityPoseD);
  bool first = true;
  for (std::size_t s = 0; s < times.size(); ++s) {
    m_clip.Measure(times[s], shell);
    const std::span<const PoseD> src = m_clip.GetSourceModel();
    const std::span<const double> errs = m_clip.GetErrors();
    std::copy(src.begin(), src.end(), m_srcModel.begin() + static_cast<std::ptrdiff_t>(s * n));
    for (std::size_t b = 0; b < n; ++b) {
      m_allowed[s * n + b] = std::max(bound, errs[b]);
      if (first || errs[b] > m_inputWorst.error) {
        m_inputWorst = WorstError{errs[b], m_clip.GetBoneName(static_cast<int>(b)), times[s]};
        first = false;
      }
    }
  }
  return true;
}

bool KeyReducer::SegmentHolds(int i, int j) {
  const RuntimeAnim& rt = *m_runtime;
  const double t0 = rt.keyTimes[static_cast<std::size_t>(i)];
  const double t1 = rt.keyTimes[static_cast<std::size_t>(j)];
  // Source times strictly between the two key times.
  auto it = std::upper_bound(m_times.begin(), m_times.end(), t0);
  const std::size_t n = m_local.size();
  for (; it != m_times.end() && *it < t1; ++it) {
    const double t = *it;
    for (std::size_t b = 0; b < n; ++b) {
      const int bone = static_cast<int>(b);
      const int fb = m_clip.GetFileBone(bone);
      m_local[b] = fb < 0 ? m_clip.GetRestPose(bone)
                          : ComposeRestPose(m_clip.GetRestPose(bone),
                                            InterpolatePose(rt.GetKey(i, fb), t0, rt.GetKey(j, fb), t1, t));
    }
    ComputeModelPoses(m_clip.GetParents(), m_local, m_model);
    const std::size_t s = static_cast<std::size_t>(it - m_times.begin());
    const PoseD* src = &m_srcModel[s * n];
    const double* allowed = &m_allowed[s * n];
    for (std::size_t b = 0; b < n; ++b) {
      if (ObjectSpaceError(src[b], m_model[b], m_shell) > allowed[b]) return false;
    }
  }
  return true;
}

int KeyReducer::Reach(int i) {
  const int k = m_runtime->GetKeyCnt();
  int& memo = m_reach[static_cast<std::size_t>(i)];
  if (memo >= 0) return memo;
  // Double the step while the segment holds, then halve the gap between the
  // last step that held and the first that did not.
  int good = i + 1;
  int bad = -1;
  for (int step = 2; bad < 0 && good < k - 1; step *= 2) {
    const int j = std::min(i + step, k - 1);
    if (SegmentHolds(i, j)) {
      good = j;
    } else {
      bad = j;
    }
  }
  while (bad - good > 1) {
    const int mid = good + (bad - good) / 2;
    if (SegmentHolds(i, mid)) {
      good = mid;
    } else {
      bad = mid;
    }
  }
  memo = good;
  return good;
}

std::vector<int> KeyReducer::Reduce() {
  const int k = m_runtime->GetKeyCnt();
  std::vector<int> kept;
  if (k == 0) return kept;
  m_reach.assign(static_cast<std::size_t>(k), -1);
  int i = 0;
  kept.push_back(0);
  while (i < k - 1) {
    const int far = Reach(i);
    int next = far;
    // The farthest key is not always the best next one: where segments hold
    // and fail in turn, a nearer key can reach farther. Of the last few keys
    // that hold, the one reaching farthest is taken; on long segments the
    // gain (at most a key per segment) is not worth the search.
    if (far < k - 1 && far - i <= kLookaheadSpan) {
      int best = Reach(far);
      for (int c = far - 1; c > i && c >= far - kLookaheadKeys; --c) {
        if (!SegmentHolds(i, c)) continue;
        const int r = Reach(c);
        if (r > best) {
          best = r;
          next = c;
        }
      }
    }
    kept.push_back(next);
    i = next;
  }
  return kept;
}

std::vector<int> KeyReducer::ReduceExact() {
  const int k = m_runtime->GetKeyCnt();
  std::vector<int> kept;
  if (k == 0) return kept;
  // fewest[j]: the fewest keys of a reduction of keys 0..j that keeps j;
  // from[j] the kept key before j.
  std::vector<int> fewest(static_cast<std::size_t>(k), std::numeric_limits<int>::max());
  std::vector<int> from(static_cast<std::size_t>(k), -1);
  fewest[0] = 1;
  for (int j = 1; j < k; ++j) {
    for (int i = j - 1; i >= 0; --i) {
      if (fewest[static_cast<std::size_t>(i)] + 1 < fewest[static_cast<std::size_t>(j)] &&
          SegmentHolds(i, j)) {
        fewest[static_cast<std::size_t>(j)] = fewest[static_cast<std::size_t>(i)] + 1;
        from[static_cast<std::size_t>(j)] = i;
      }
    }
  }
  for (int j = k - 1; j >= 0; j = from[static_cast<std::size_t>(j)]) kept.push_back(j);
  std::reverse(kept.begin(), kept.end());
  return kept;
}

WorstError MeasureWorstError(const JobSource& source, const RuntimeAnim& runtime, double shell) {
  ObjectSpaceClip clip;
  clip.Init(source, runtime);
  WorstError worst;
  bool first = true;
  for (const float t : clip.GetTimes()) {
    clip.Measure(t, shell);
    const std::span<const double> errs = clip.GetErrors();
    for (std::size_t b = 0; b < errs.size(); ++b) {
      if (first || errs[b] > worst.error) {
        worst = WorstError{errs[b], clip.GetBoneName(static_cast<int>(b)), t};
        first = false;
      }
    }
  }
  return worst;
}

RuntimeAnim KeepKeys(const RuntimeAnim& runtime, const std::vector<int>& kept) {
  RuntimeAnim out;
  out.file = runtime.file;
  out.binary = runtime.binary;
  out.rangeStart = runtime.rangeStart;
  out.rangeEnd = runtime.rangeEnd;
  out.maskNames = runtime.maskNames;
  out.maskWeights = runtime.maskWeights;
  out.boneNames = runtime.boneNames;
  out.byName = runtime.byName;
  out.hasTransl = runtime.hasTransl;
  out.hasQuat = runtime.hasQuat;
  out.packedTransl = runtime.packedTransl;
  out.packedQuat = runtime.packedQuat;
  const std::size_t n = runtime.boneNames.size();
  for (const int k : kept) {
    const std::size_t first = static_cast<std::size_t>(k) * n;
    out.keyTimes.push_back(runtime.keyTimes[static_cast<std::size_t>(k)]);
    if (runtime.hasTransl) {
      out.transl.insert(out.transl.end(), runtime.transl.begin() + first, runtime.transl.begin() + first + n);
      if (runtime.packedTransl) {
        out.translWords.insert(out.translWords.end(), runtime.translWords.begin() + first,
                               runtime.translWords.begin() + first + n);
      } else {
        out.translFloats.insert(out.translFloats.end(), runtime.translFloats.begin() + 3 * first,
                                runtime.translFloats.begin() + 3 * (first + n));
      }
    }
    if (runtime.hasQuat) {
      out.quat.insert(out.quat.end(), runtime.quat.begin() + first, runtime.quat.begin() + first + n);
      if (runtime.packedQuat) {
        out.quatWords.insert(out.quatWords.end(), runtime.quatWords.begin() + first,
                             runtime.quatWords.begin() + first + n);
      } else {
        out.quatFloats.insert(out.quatFloats.end(), runtime.quatFloats.begin() + 4 * first,
                              runtime.quatFloats.begin() + 4 * (first + n));
      }
    }
  }
  // Sign continuity of plain rotations between kept keys: a negated
  // quaternion is the same rotation, and negation is exact in both the
  // stored floats and the decoded doubles.
  if (runtime.hasQuat && !runtime.packedQuat) {
    for (std::size_t k = 1; k < out.keyTimes.size(); ++k) {
      for (std::size_t b = 0; b < n; ++b) {
        float* cur = &out.quatFloats[4 * (k * n + b)];
        const float* prev = &out.quatFloats[4 * ((k - 1) * n + b)];
        const double dot = double{prev[0]} * cur[0] + double{prev[1]} * cur[1] + double{prev[2]} * cur[2] +
                           double{prev[3]} * cur[3];
        if (dot >= 0.0) continue;
        for (int c = 0; c < 4; ++c) cur[c] = -cur[c];
        Quatd& q = out.quat[k * n + b];
        q = Quatd{-q.x, -q.y, -q.z, -q.w};
      }
    }
  }
  return out;
}

RelativeAnim* ToWritable(qvl_CUtilMemPool* pool, const RuntimeAnim& a) {
  RelativeAnim* r = static_cast<RelativeAnim*>(pool->Alloc(sizeof(RelativeAnim), alignof(RelativeAnim)));
  r->rangeStart = a.rangeStart;
  r->rangeEnd = a.rangeEnd;
  for (const std::string& n : a.maskNames)
    r->maskNames.Append(pool, qvl_CUtilMemPoolStr::Alloc(pool, n.c_str()));
  for (const float w : a.maskWeights) r->maskWeights.Append(pool, w);
  for (const float t : a.keyTimes) r->keyTimes.Append(pool, t);
  for (const std::string& n : a.boneNames)
    r->boneNames.Append(pool, qvl_CUtilMemPoolStr::Alloc(pool, n.c_str()));
  r->doTransl = a.hasTransl;
  r->doQuat = a.hasQuat;
  r->compress = false;
  r->translAsWords = a.hasTransl && a.packedTransl;
  r->quatAsWords = a.hasQuat && a.packedQuat;
  for (const std::int32_t w : a.translWords) r->translWords.Append(pool, w);
  for (const std::int32_t w : a.quatWords) r->quatWords.Append(pool, w);
  const bool plainTransl = a.hasTransl && !a.packedTransl;
  const bool plainQuat = a.hasQuat && !a.packedQuat;
  if (plainTransl || plainQuat) {
    const std::size_t entries = a.keyTimes.size() * a.boneNames.size();
    if (entries > static_cast<std::size_t>(INT32_MAX)) {
      qvl_CUtilMemPoolArrayThrowTooLarge(static_cast<std::int64_t>(entries), sizeof(Pose));
    }
    r->keys.Reserve(pool, static_cast<int>(entries));
    for (std::size_t i = 0; i < entries; ++i) {
      Pose p{Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 1.0f}};
      if (plainTransl)
        p.transl = Vector3{a.translFloats[3 * i], a.translFloats[3 * i + 1], a.translFloats[3 * i + 2]};
      if (plainQuat) {
        p.quat = Quat{a.quatFloats[4 * i], a.quatFloats[4 * i + 1], a.quatFloats[4 * i + 2],
                      a.quatFloats[4 * i + 3]};
      }
      r->keys.Append(pool, p);
    }
  }
  return r;
}
