// Three-component vector of 32-bit floats (translations), memory order x y z.
#pragma once

#include "util/math/util_math_float.h"

// Plain aggregate: Vector3{} is the zero vector.
struct Vector3 {
  float x;
  float y;
  float z;

  // True when x, y and z are all finite.
  bool IsFinite() const { return ::IsFinite(x) && ::IsFinite(y) && ::IsFinite(z); }

  // (1 - t)·a + t·b per component, evaluated in double and rounded to float.
  // This form (not a + t·(b - a)) gives exactly a at t = 0 and b at t = 1.
  static Vector3 Lerp(const Vector3& a, const Vector3& b, float t) {
    const double u = 1.0 - static_cast<double>(t);
    const double v = static_cast<double>(t);
    return Vector3{static_cast<float>(u * static_cast<double>(a.x) + v * static_cast<double>(b.x)),
                   static_cast<float>(u * static_cast<double>(a.y) + v * static_cast<double>(b.y)),
                   static_cast<float>(u * static_cast<double>(a.z) + v * static_cast<double>(b.z))};
  }
};
