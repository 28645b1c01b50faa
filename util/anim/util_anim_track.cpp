// Key track operations, shared by the translation and rotation tracks.
#include "util/anim/util_anim_track.h"

namespace {

template <class K>
int FindKeyOf(const qvl_CUtilMemPoolArray<K>& track, float t) {
  if (track.count <= 0) return 0;
  // Halving search for the first key whose time is not less than t. The
  // candidates are [lo, lo + n]; each step keeps the half that holds the
  // answer, chosen by a conditional move rather than a branch: a search over
  // thousands of keys then costs no mispredictions. Times never decrease, so
  // the result is the one lower bound; a NaN t compares false throughout and
  // gives 0.
  int lo = 0;
  int n = track.count;
  while (n > 1) {
    const int half = n / 2;
    const float mid = track.RefAt(lo + half).time;
    lo = mid < t ? lo + half : lo;
    n -= half;
  }
  return track.RefAt(lo).time < t ? lo + 1 : lo;
}

template <class K, class V>
V SampleAtOf(const qvl_CUtilMemPoolArray<K>& track, float t, const V& zero) {
  if (track.count <= 0) return zero;
  const int i = FindKeyOf(track, t);
  if (i == 0) return track.RefAt(0).value;
  if (i >= track.count) return track.RefAt(track.count - 1).value;
  return SampleBetween(track.RefAt(i - 1), track.RefAt(i), t);
}

template <class K, class V>
void AddKeyOf(qvl_CUtilMemPoolArray<K>& track, qvl_CUtilMemPool* pool, float time, const V& value) {
  if (!IsFinite(time)) return;
  if (!value.IsFinite()) return;
  if (track.count > 0) {
    const float last = track.RefBack().time;
    if (time < last) time = last;
  }
  track.Append(pool, K{time, value});
}

template <class K>
float NextKeyTimeOf(const qvl_CUtilMemPoolArray<K>& track, float t) {
  for (int i = FindKeyOf(track, t); i < track.count; ++i) {
    const float kt = track.RefAt(i).time;
    if (kt > t) return kt;
  }
  return FLT_MAX;
}

// f = (t − t0) / (t1 − t0) in double, rounded to float.
inline float Fraction(float t0, float t1, float t) {
  return static_cast<float>((static_cast<double>(t) - static_cast<double>(t0)) /
                            (static_cast<double>(t1) - static_cast<double>(t0)));
}

}  // namespace

int FindKey(const TranslTrack& track, float t) {
  return FindKeyOf(track, t);
}
int FindKey(const QuatTrack& track, float t) {
  return FindKeyOf(track, t);
}

Vector3 SampleAt(const TranslTrack& track, float t) {
  return SampleAtOf(track, t, Vector3{0.0f, 0.0f, 0.0f});
}
Quat SampleAt(const QuatTrack& track, float t) {
  return SampleAtOf(track, t, Quat{0.0f, 0.0f, 0.0f, 0.0f});
}

Vector3 SampleBetween(const TranslKey& k0, const TranslKey& k1, float t) {
  const float f = Fraction(k0.time, k1.time, t);
  const Vector3 v = Vector3::Lerp(k0.value, k1.value, f);
  return v.IsFinite() ? v : k0.value;
}

Quat SampleBetween(const QuatKey& k0, const QuatKey& k1, float t) {
  const float f = Fraction(k0.time, k1.time, t);
  const Quat v = k0.value.Interp(k1.value, f);
  return v.IsFinite() ? v : k0.value;
}

void AddKey(TranslTrack& track, qvl_CUtilMemPool* pool, float time, const Vector3& value) {
  AddKeyOf(track, pool, time, value);
}
void AddKey(QuatTrack& track, qvl_CUtilMemPool* pool, float time, const Quat& value) {
  AddKeyOf(track, pool, time, value);
}

float NextKeyTime(const TranslTrack& track, float t) {
  return NextKeyTimeOf(track, t);
}
float NextKeyTime(const QuatTrack& track, float t) {
  return NextKeyTimeOf(track, t);
}
