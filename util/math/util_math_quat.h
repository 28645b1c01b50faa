// Quaternion of 32-bit floats, memory order x y z w ((x, y, z) the vector part,
// w the scalar part). Not assumed to be of unit length; (0, 0, 0, 0) is a value
// of its own and not the identity (0, 0, 0, 1).
#pragma once

#include "util/math/util_math_float.h"
#include "util/math/util_math_matrix3.h"

// Every operation evaluates its formula in double precision and rounds each
// stored component to float; the intermediate roundings that the results
// depend on are marked in the code. No operation fails: a non-finite result
// is an ordinary value that callers test with IsFinite.
struct Quat {
  float x;
  float y;
  float z;
  float w;

  // True when x, y, z and w are all finite.
  bool IsFinite() const { return ::IsFinite(x) && ::IsFinite(y) && ::IsFinite(z) && ::IsFinite(w); }

  // The inverse (−e·x, −e·y, −e·z, e·w) with e = 1 / |q|², e rounded to float.
  // The conjugate for a unit quaternion; the zero quaternion gives non-finite
  // components (no test for it).
  Quat GetInverse() const;

  // The Hamilton product this ⊗ other (this on the left).
  Quat Mul(const Quat& other) const;

  // The rotation matrix, with all four squares on the diagonal: for a
  // quaternion of squared length s it is s times the rotation matrix of the
  // normalised quaternion. A unit quaternion maps v to q·v·q⁻¹.
  Matrix3 GetMatrix() const;

  // Scales the rotation angle by t (any real t): always a unit quaternion.
  // A quaternion without vector part (also (0, 0, 0, ±1) and zero) gives the
  // identity. w < 0 is scaled along the longer way; no sign flip.
  Quat Pow(float t) const;

  // From this (t = 0) to `to` (t = 1): the direction turns at a constant rate
  // about the axis of conj(this) ⊗ to, the squared length moves linearly.
  // No shortest-arc correction. A zero-length this gives a non-finite result.
  Quat Interp(const Quat& to, float t) const;
};

// The four-component dot product a·b, in double: its sign tells whether b
// lies in a's hemisphere (the same rotation may come with either sign).
inline double Dot4(const Quat& a, const Quat& b) {
  return static_cast<double>(a.x) * static_cast<double>(b.x) +
         static_cast<double>(a.y) * static_cast<double>(b.y) +
         static_cast<double>(a.z) * static_cast<double>(b.z) +
         static_cast<double>(a.w) * static_cast<double>(b.w);
}

// −q: the same rotation in the other hemisphere (negation is exact).
inline Quat Negated(const Quat& q) {
  return Quat{-q.x, -q.y, -q.z, -q.w};
}
