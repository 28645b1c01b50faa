// Key compression of translations (shared exponent) and rotations (L1-normalised),
// and the decoding of the packed words.
#include "util/anim/util_anim_pack.h"

#include <cmath>

#include "util/sys/util_sys_math.h"

namespace {

constexpr float kExpHeadroom = 1.001953125f;  // 1 + 2^−9, bits 0x3F804000
constexpr int kMinExp = -16;
constexpr int kMaxExp = 15;
constexpr std::uint32_t kIdentityQuatWord = 0x1FF7FDFFu;
constexpr std::uint32_t kZeroTranslWord = 0x84020100u;

// floor(v) limited to lo…hi; the limit is applied in double, before the
// conversion, so that huge values and NaN never reach the integer cast.
int FloorField(double v, int lo, int hi) {
  const double f = std::floor(v);
  if (!(f >= lo)) return lo;  // also NaN
  if (f > hi) return hi;
  return static_cast<int>(f);
}

}  // namespace

std::int32_t PackTransl(const Vector3& in) {
  const Vector3 v = in.IsFinite() ? in : Vector3{0.0f, 0.0f, 0.0f};
  float m = std::fabs(v.x);
  if (std::fabs(v.y) > m) m = std::fabs(v.y);
  if (std::fabs(v.z) > m) m = std::fabs(v.z);
  // The product is rounded to float before its exponent is taken.
  const float p = static_cast<float>(static_cast<double>(m) * static_cast<double>(kExpHeadroom));
  int e = 0;
  if (IsFinite(p)) {
    qvl_SysFrexp(p, &e);  // 0 for m = 0
  } else {
    e = kMaxExp;  // m within 0.2% of FLT_MAX: the product overflowed, the exponent is at its limit
  }
  if (e < kMinExp) e = kMinExp;
  if (e > kMaxExp) e = kMaxExp;
  const float c[3] = {v.x, v.y, v.z};
  std::uint32_t field[3];
  for (int i = 0; i < 3; ++i) {
    const float t = qvl_SysLdexp(c[i], -e);  // c · 2^−e as a float
    field[i] = static_cast<std::uint32_t>(FloorField(static_cast<double>(t) * 256.0, -256, 255) + 256);
  }
  const std::uint32_t word =
      (static_cast<std::uint32_t>(e + 16) << 27) | (field[2] << 18) | (field[1] << 9) | field[0];
  return static_cast<std::int32_t>(word);
}

std::int32_t PackQuat(const Quat& in) {
  if (!in.IsFinite()) return static_cast<std::int32_t>(kIdentityQuatWord);
  // The word has no sign for w: store the hemisphere of w ≥ 0 (negation is exact).
  const Quat q = in.w < 0.0f ? Negated(in) : in;
  const double s = std::fabs(static_cast<double>(q.x)) + std::fabs(static_cast<double>(q.y)) +
                   std::fabs(static_cast<double>(q.z)) + std::fabs(static_cast<double>(q.w));
  if (s == 0.0) return static_cast<std::int32_t>(kIdentityQuatWord);
  // Double precision r: single precision would turn the exact tie of
  // (0, 0, √½, √½) from 767 into 766.
  const double r = 1.0 / s;
  const float c[3] = {q.x, q.y, q.z};
  std::uint32_t field[3];
  for (int i = 0; i < 3; ++i) {
    field[i] =
        static_cast<std::uint32_t>(FloorField(static_cast<double>(c[i]) * r * 511.0 + 0.5, -511, 512) + 511);
  }
  return static_cast<std::int32_t>((field[2] << 20) | (field[1] << 10) | field[0]);
}

Vector3d UnpackTransl(std::int32_t word) {
  const std::uint32_t w = static_cast<std::uint32_t>(word);
  if (w == kZeroTranslWord) return Vector3d{0.0, 0.0, 0.0};
  const int e = static_cast<int>(w >> 27) - 16;
  const auto field = [&](int shift) {
    const int q = static_cast<int>((w >> shift) & 0x1FFu);
    return std::ldexp(static_cast<double>(q - 256) + 0.5, e - 8);
  };
  return Vector3d{field(0), field(9), field(18)};
}

Quatd UnpackQuat(std::int32_t word) {
  const std::uint32_t w = static_cast<std::uint32_t>(word);
  const auto field = [&](int shift) {
    return static_cast<double>(static_cast<int>((w >> shift) & 0x3FFu) - 511) / 511.0;
  };
  const double x = field(0);
  const double y = field(10);
  const double z = field(20);
  const double qw = std::fmax(0.0, 1.0 - (std::fabs(x) + std::fabs(y) + std::fabs(z)));
  // Never zero: w is 1 when x, y and z are all 0.
  const double len = std::sqrt(x * x + y * y + z * z + qw * qw);
  return Quatd{x / len, y / len, z / len, qw / len};
}
