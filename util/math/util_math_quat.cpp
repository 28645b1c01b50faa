// Quaternion arithmetic: double evaluation, float rounding where a value is stored.
#include "util/math/util_math_quat.h"

#include <cmath>

namespace {

inline float F(double v) {
  return static_cast<float>(v);
}

}  // namespace

Quat Quat::GetInverse() const {
  const double dx = x, dy = y, dz = z, dw = w;
  const double n = dx * dx + dy * dy + dz * dz + dw * dw;
  const double e = static_cast<float>(1.0 / n);  // e is rounded to float before use
  return Quat{F(-e * dx), F(-e * dy), F(-e * dz), F(e * dw)};
}

Quat Quat::Mul(const Quat& other) const {
  const double ax = x, ay = y, az = z, aw = w;
  const double bx = other.x, by = other.y, bz = other.z, bw = other.w;
  return Quat{F(aw * bx + ax * bw + ay * bz - az * by),  //
              F(aw * by - ax * bz + ay * bw + az * bx),  //
              F(aw * bz + ax * by - ay * bx + az * bw),  //
              F(aw * bw - ax * bx - ay * by - az * bz)};
}

Matrix3 Quat::GetMatrix() const {
  const double dx = x, dy = y, dz = z, dw = w;
  const double xx = dx * dx, yy = dy * dy, zz = dz * dz, ww = dw * dw;
  Matrix3 r;
  r.m[0] = F(ww + xx - yy - zz);
  r.m[1] = F(2.0 * dx * dy - 2.0 * dw * dz);
  r.m[2] = F(2.0 * dx * dz + 2.0 * dw * dy);
  r.m[3] = F(2.0 * dx * dy + 2.0 * dw * dz);
  r.m[4] = F(ww + yy - zz - xx);
  r.m[5] = F(2.0 * dy * dz - 2.0 * dw * dx);
  r.m[6] = F(2.0 * dx * dz - 2.0 * dw * dy);
  r.m[7] = F(2.0 * dy * dz + 2.0 * dw * dx);
  r.m[8] = F(ww + zz - xx - yy);
  return r;
}

Quat Quat::Pow(float t) const {
  const double dx = x, dy = y, dz = z, dw = w;
  const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
  // atan2 lies in [0, π] as len ≥ 0: h is the scaled half angle.
  const double h = std::atan2(len, dw) * static_cast<double>(t);
  const float s = F(std::sin(h) / len);                     // s is rounded to float before use
  if (!::IsFinite(s)) return Quat{0.0f, 0.0f, 0.0f, 1.0f};  // no vector part: 0/0 or x/0
  const double ds = s;
  const double hf = static_cast<float>(h);  // the cosine takes h rounded to float
  return Quat{F(ds * dx), F(ds * dy), F(ds * dz), F(std::cos(hf))};
}

Quat Quat::Interp(const Quat& to, float t) const {
  const Quat& a = *this;
  const Quat& b = to;
  const double m = static_cast<double>(a.x) * a.x + static_cast<double>(a.y) * a.y +
                   static_cast<double>(a.z) * a.z + static_cast<double>(a.w) * a.w;
  const double n = static_cast<double>(b.x) * b.x + static_cast<double>(b.y) * b.y +
                   static_cast<double>(b.z) * b.z + static_cast<double>(b.w) * b.w;
  // Length factor: the squared length moves linearly from m to n; rounded to float.
  const double l = static_cast<float>(std::sqrt((m + (n - m) * static_cast<double>(t)) / m));
  if (!::IsFinite(static_cast<float>(l))) {
    // m = 0 or a negative radicand: a non-finite value that callers reject.
    return Quat{F(l * b.x), F(l * b.y), F(l * b.z), F(l * b.w)};
  }
  const Quat c{-a.x, -a.y, -a.z, a.w};  // the conjugate, not the inverse
  const Quat r = c.Mul(b);
  const Quat p = r.Pow(t);
  const Quat q = a.Mul(p);
  return Quat{F(l * q.x), F(l * q.y), F(l * q.z), F(l * q.w)};
}
