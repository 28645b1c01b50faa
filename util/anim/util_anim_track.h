// Time-ordered key tracks of one channel (translation or rotation) of a bone,
// stored in pool arrays, with lookup, sampling and validated appending.
#pragma once

#include <cfloat>

#include "util/math/util_math_quat.h"
#include "util/math/util_math_vector3.h"
#include "util/mempool/util_mempool_array.h"

struct TranslKey {
  float time;
  Vector3 value;
};

struct QuatKey {
  float time;
  Quat value;
};

// Invariants, kept by AddKey (the only way keys are added): every time and
// value component is finite, times are non-decreasing (equal times allowed).
// A zero-filled track is empty and valid. Times carry no unit.
using TranslTrack = qvl_CUtilMemPoolArray<TranslKey>;
using QuatTrack = qvl_CUtilMemPoolArray<QuatKey>;

// Index of the first key whose time is not less than t (lower bound by
// halving); count when every key is earlier, 0 for an empty track or t NaN.
int FindKey(const TranslTrack& track, float t);
int FindKey(const QuatTrack& track, float t);

// The value at t: the zero value ((0, 0, 0), resp. (0, 0, 0, 0), not the
// identity) for an empty track; key 0's value at or before the first key (and
// for t NaN); the last key's value after the last key; otherwise the
// interpolation between the two keys around t (equal times: t on them gives
// the first of them). Allocates nothing.
Vector3 SampleAt(const TranslTrack& track, float t);
Quat SampleAt(const QuatTrack& track, float t);

// Value between k0 and k1 (k0.time < t <= k1.time) at fraction
// f = (t − k0.time) / (k1.time − k0.time), f rounded to float: Vector3::Lerp
// resp. k0.value.Interp(k1.value, f). A non-finite result gives k0.value.
Vector3 SampleBetween(const TranslKey& k0, const TranslKey& k1, float t);
Quat SampleBetween(const QuatKey& k0, const QuatKey& k1, float t);

// Appends (time, value) to the track, taking memory from pool. A key with a
// non-finite time or value component is dropped silently; a time below the
// last key's time is raised to it (the value is stored unchanged).
void AddKey(TranslTrack& track, qvl_CUtilMemPool* pool, float time, const Vector3& value);
void AddKey(QuatTrack& track, qvl_CUtilMemPool* pool, float time, const Quat& value);

// The smallest key time strictly greater than t, FLT_MAX when there is none.
// Visiting every distinct key time: start from −FLT_MAX and feed each result
// back until FLT_MAX comes back.
float NextKeyTime(const TranslTrack& track, float t);
float NextKeyTime(const QuatTrack& track, float t);

// Forms for callers that walk a track at times that only increase (the
// calculation visits every key time in order). cursor is the caller's index,
// 0 at the start, kept between calls: the search gallops forward from it and
// then halves within the bracket it found, instead of halving the whole track
// each time, and gives the same lower bound as FindKey for any t and cursor
// (a t that went backwards, or NaN, falls back to the full search). The
// cursor becomes the lower bound of t.
int FindKeyFrom(const TranslTrack& track, float t, int& cursor);
int FindKeyFrom(const QuatTrack& track, float t, int& cursor);
Vector3 SampleAtFrom(const TranslTrack& track, float t, int& cursor);
Quat SampleAtFrom(const QuatTrack& track, float t, int& cursor);
float NextKeyTimeFrom(const TranslTrack& track, float t, int& cursor);
float NextKeyTimeFrom(const QuatTrack& track, float t, int& cursor);
