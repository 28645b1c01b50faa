// One bone path of a loaded animation: its name, time range and the
// translation and rotation tracks, with the path-level key operations.
#pragma once

#include "util/anim/util_anim_track.h"

// Allocated zero-filled from the run's pool; all zero is a valid path without
// name and with empty tracks. Everything it points to lives in the pool.
struct AnimPath {
  char* name;        // pool copy of the bone name; null when the file gave none
  float rangeStart;  // first value of the path's "range"
  float rangeEnd;    // second value of the path's "range"
  TranslTrack translTrack;
  QuatTrack quatTrack;

  // The smaller of the two tracks' next key times after t (FLT_MAX when none).
  float NextKeyTime(float t) const;

  // True when every translation key is (0, 0, 0) (float compare: −0 is zero,
  // NaN is not) and every rotation key has x, y, z equal to 0 and w with the
  // exact bit pattern of 1.0; a path with two empty tracks is identity.
  bool IsIdentity() const;

  // Sets translation keys within epsTransl of (0, 0, 0) to exactly (0, 0, 0)
  // and rotation keys within epsQuat of (0, 0, 0, 1) to exactly (0, 0, 0, 1);
  // times stay. Tolerances are Euclidean distances in the value's units
  // (epsQuat is a 4-D distance to the identity, not an angle); only their
  // squares are used, so a negative tolerance acts as its absolute value and
  // a NaN tolerance snaps nothing.
  void SnapToIdentity(float epsTransl, float epsQuat);
};
