// Row-major 3x3 matrix of 32-bit floats, applied to column vectors.
#pragma once

#include "util/math/util_math_vector3.h"

// m[0..2] is the first row, m[3..5] the second, m[6..8] the third.
struct Matrix3 {
  float m[9];

  // The product M·v: component r is m[3r]·x + m[3r+1]·y + m[3r+2]·z,
  // summed in double and rounded to float.
  Vector3 Apply(const Vector3& v) const {
    const double x = v.x, y = v.y, z = v.z;
    return Vector3{static_cast<float>(static_cast<double>(m[0]) * x + static_cast<double>(m[1]) * y +
                                      static_cast<double>(m[2]) * z),
                   static_cast<float>(static_cast<double>(m[3]) * x + static_cast<double>(m[4]) * y +
                                      static_cast<double>(m[5]) * z),
                   static_cast<float>(static_cast<double>(m[6]) * x + static_cast<double>(m[7]) * y +
                                      static_cast<double>(m[8]) * z)};
  }
};

inline Vector3 operator*(const Matrix3& a, const Vector3& v) {
  return a.Apply(v);
}
