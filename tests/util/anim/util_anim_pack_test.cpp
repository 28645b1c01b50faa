// Tests of key packing: the fixed examples bit for bit, the guarded inputs,
// and a large randomised unpack round trip against the stated steps.
#include "util/anim/util_anim_pack.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "util/sys/util_sys_math.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t U(std::int32_t w) {
  return static_cast<std::uint32_t>(w);
}

TEST(PackTransl, FixedExamples) {
  struct Case {
    Vector3 v;
    std::uint32_t word;
  };
  const Case cases[] = {
      {{0.0f, 0.0f, 0.0f}, 0x84020100u},
      {{1.0f, 0.0f, 0.0f}, 0x8C020180u},
      {{1.0f, -2.0f, 0.5f}, 0x94810140u},
      {{-1e-10f, 0.0f, 0.0f}, 0x040200FFu},
      {{40000.0f, 0.0f, 0.0f}, 0xFC0201FFu},
      // Every zero sign packs as 256; a non-finite component packs the zero vector.
      {{-0.0f, -0.0f, -0.0f}, 0x84020100u},
      {{kNaN, 1.0f, 2.0f}, 0x84020100u},
      {{1.0f, kInf, 2.0f}, 0x84020100u},
      {{1.0f, 2.0f, -kInf}, 0x84020100u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U(PackTransl(c.v)), c.word) << c.v.x << " " << c.v.y << " " << c.v.z;
  }
}

TEST(PackTransl, LimitsAndHeadroom) {
  // Largest component just below a power of two: the headroom factor moves
  // it to the next exponent, so the field stays below 512.
  const float below2 = std::nextafter(2.0f, 0.0f);
  const std::uint32_t w = U(PackTransl({below2, 0.0f, 0.0f}));
  EXPECT_EQ(w >> 27, 16u + 2u);
  EXPECT_EQ(w & 0x1FFu, 256u + 127u);  // floor(0.49999997 · 256) = 127
  // Saturation at e = 15 on both sides; a negative huge value gives field 0.
  // FLT_MAX · 1.001953125 overflows the float product: the exponent is still
  // limited to 15 instead of being taken from an infinity.
  EXPECT_EQ(U(PackTransl({-FLT_MAX, FLT_MAX, 32768.0f})), (31u << 27) | (511u << 18) | (511u << 9) | 0u);
  // -2^-24 with e = -16 is far below one step: rounds down to 255.
  EXPECT_EQ(U(PackTransl({0.0f, -std::ldexp(1.0f, -30), 0.0f})) >> 9 & 0x1FFu, 255u);
}

TEST(PackQuat, FixedExamples) {
  struct Case {
    Quat q;
    std::uint32_t word;
  };
  const Case cases[] = {
      {{0.0f, 0.0f, 0.0f, 1.0f}, 0x1FF7FDFFu},
      {{0.0f, 0.0f, 0.0f, -1.0f}, 0x1FF7FDFFu},
      {{1.0f, 0.0f, 0.0f, 0.0f}, 0x1FF7FFFEu},
      {{0.5f, 0.5f, 0.5f, 0.5f}, 0x27F9FE7Fu},
      {{0.0f, 0.0f, 0.70710678f, 0.70710678f}, 0x2FF7FDFFu},
      // The zero rotation and non-finite components give the identity word.
      {{0.0f, 0.0f, 0.0f, 0.0f}, 0x1FF7FDFFu},
      {{-0.0f, 0.0f, -0.0f, 0.0f}, 0x1FF7FDFFu},
      {{kNaN, 0.0f, 0.0f, 1.0f}, 0x1FF7FDFFu},
      {{0.0f, kInf, 0.0f, 1.0f}, 0x1FF7FDFFu},
      {{0.0f, 0.0f, 0.0f, -kInf}, 0x1FF7FDFFu},
  };
  for (const Case& c : cases) EXPECT_EQ(U(PackQuat(c.q)), c.word) << c.q.x << " " << c.q.z << " " << c.q.w;
}

TEST(PackQuat, ScaleInvariantAndExtremes) {
  // Any positive multiple packs alike (powers of two keep the rounding exact).
  const Quat q{0.1f, -0.7f, 0.3f, 0.2f};
  const std::uint32_t w = U(PackQuat(q));
  EXPECT_EQ(U(PackQuat({q.x * 1024.0f, q.y * 1024.0f, q.z * 1024.0f, q.w * 1024.0f})), w);
  EXPECT_EQ(U(PackQuat({q.x / 65536.0f, q.y / 65536.0f, q.z / 65536.0f, q.w / 65536.0f})), w);
  // Huge and subnormal components: the sum is taken in double, no overflow.
  EXPECT_EQ(U(PackQuat({-FLT_MAX, 0.0f, 0.0f, FLT_MAX})), (511u << 20) | (511u << 10) | 256u);
  const float tiny = std::numeric_limits<float>::denorm_min();
  EXPECT_EQ(U(PackQuat({0.0f, -tiny, 0.0f, 0.0f})), (511u << 20) | (0u << 10) | 511u);
}

TEST(SysFrexpLdexp, FloatSplitAndScale) {
  struct Case {
    float in, mant;
    int exp;
  };
  const Case cases[] = {{0.0f, 0.0f, 0},
                        {1.0f, 0.5f, 1},
                        {-0.75f, -0.75f, 0},
                        {std::numeric_limits<float>::denorm_min(), 0.5f, -148}};
  for (const Case& c : cases) {
    int e = 99;
    EXPECT_EQ(qvl_SysFrexp(c.in, &e), c.mant) << c.in;
    EXPECT_EQ(e, c.exp) << c.in;
  }
  EXPECT_EQ(qvl_SysLdexp(3.0f, -2), 0.75f);
  EXPECT_EQ(qvl_SysLdexp(1.0f, 200), kInf);
}

// The exponent of a packed translation word.
int WordExp(std::int32_t w) {
  return static_cast<int>(static_cast<std::uint32_t>(w) >> 27) - 16;
}

TEST(PackTransl, RandomRoundTripWithinHalfAStep) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
  std::uniform_int_distribution<int> expo(-20, 14);  // magnitudes that need no limiting at the top
  std::uniform_int_distribution<int> pick(0, 3);
  int failures = 0;
  const int kCount = 200000;
  for (int n = 0; n < kCount; ++n) {
    float c[3];
    for (float& x : c) {
      x = std::ldexp(mant(rng), expo(rng));
      if (pick(rng) == 0) x = 0.0f;  // zeros mixed in
    }
    const Vector3 v{c[0], c[1], c[2]};
    const std::int32_t word = PackTransl(v);
    const int e = WordExp(word);
    const Vector3d u = UnpackTransl(word);
    const double step = std::ldexp(1.0, e - 8);
    const float in[3] = {v.x, v.y, v.z};
    const double out[3] = {u.x, u.y, u.z};
    const bool zeroWord = static_cast<std::uint32_t>(word) == 0x84020100u;
    for (int i = 0; i < 3; ++i) {
      // The field's interval is [out − step/2, out + step/2); the zero word is exact.
      const double diff = static_cast<double>(in[i]) - out[i];
      if (zeroWord ? in[i] != 0.0f : !(diff >= -step / 2 && diff < step / 2)) ++failures;
    }
    // The exponent is the smallest one that holds the largest component with
    // its headroom (unless limited at -16), so the step is as fine as it can be.
    const float m = std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
    const double headroom = static_cast<float>(static_cast<double>(m) * 1.001953125);
    if (m > 0.0f && e > -16 && headroom < std::ldexp(1.0, e - 1)) ++failures;
    if (headroom >= std::ldexp(1.0, e)) ++failures;
    if (m == 0.0f && e != 0) ++failures;
  }
  EXPECT_EQ(failures, 0);
}

TEST(PackQuat, RandomRoundTripWithinOneStep) {
  std::mt19937 rng(777);
  std::uniform_real_distribution<float> comp(-1.0f, 1.0f);
  std::uniform_int_distribution<int> scale(-30, 30);
  int failures = 0;
  const int kCount = 200000;
  for (int n = 0; n < kCount; ++n) {
    Quat q{comp(rng), comp(rng), comp(rng), comp(rng)};
    const int k = scale(rng);
    q = Quat{std::ldexp(q.x, k), std::ldexp(q.y, k), std::ldexp(q.z, k), std::ldexp(q.w, k)};
    const double s =
        std::fabs(double(q.x)) + std::fabs(double(q.y)) + std::fabs(double(q.z)) + std::fabs(double(q.w));
    if (s == 0.0) continue;
    const std::uint32_t w = static_cast<std::uint32_t>(PackQuat(q));
    if ((w >> 30) != 0u) ++failures;
    // The stored hemisphere is that of w ≥ 0.
    const double sign = q.w < 0.0f ? -1.0 : 1.0;
    const float in[3] = {q.x, q.y, q.z};
    for (int i = 0; i < 3; ++i) {
      const int field = static_cast<int>((w >> (10 * i)) & 0x3FFu);
      if (field > 1022) ++failures;
      const double back = (field - 511) / 511.0;
      // Rounded to the nearest step of 1/511: within half a step, plus slack for the last bit.
      if (std::fabs(back - sign * in[i] / s) > 1.0 / 1022.0 + 1e-12) ++failures;
    }
  }
  EXPECT_EQ(failures, 0);
}

// Angle in degrees between two rotations, whatever their signs.
double AngleDeg(const Quatd& a, double x, double y, double z, double w) {
  const double len = std::sqrt(x * x + y * y + z * z + w * w);
  const double dot = std::fabs(a.x * x + a.y * y + a.z * z + a.w * w) / len;
  return 2.0 * std::acos(std::fmin(1.0, dot)) * 180.0 / M_PI;
}

TEST(PackQuat, FullTurnDecodesWithinTheStep) {
  // A bone turning 0 to 360 degrees about a tilted axis in 30-degree steps,
  // with the continuous signs the calculation writes: from 210 degrees on, w
  // is negative. Every key must decode to its own rotation (one step of
  // 1/511 on the L1 scale is well under one degree), never to its mirror.
  const double axis[3] = {0.0, 0.6, 0.8};
  for (int deg = 0; deg <= 360; deg += 30) {
    const double h = deg * M_PI / 360.0;
    const Quat q{static_cast<float>(axis[0] * std::sin(h)), static_cast<float>(axis[1] * std::sin(h)),
                 static_cast<float>(axis[2] * std::sin(h)), static_cast<float>(std::cos(h))};
    const std::int32_t word = PackQuat(q);
    const Quatd u = UnpackQuat(word);
    EXPECT_GE(u.w, 0.0) << deg;
    EXPECT_LT(AngleDeg(u, q.x, q.y, q.z, q.w), 1.0) << deg << " degrees, word " << word;
  }
  // A rotation and its negation pack alike.
  EXPECT_EQ(PackQuat({0.1f, -0.2f, 0.3f, -0.9f}), PackQuat({-0.1f, 0.2f, -0.3f, 0.9f}));
}

TEST(UnpackQuat, EveryFieldValueDecodesToItsStep) {
  // Each field alone over its whole range, the others at 511 (zero): the
  // component over the L1 norm is (n − 511) / 511, and w makes up the rest.
  int failures = 0;
  for (int n = 0; n <= 1022; ++n) {  // 1023 is never written
    for (int shift = 0; shift <= 20; shift += 10) {
      const std::uint32_t others = (511u << 20 | 511u << 10 | 511u) & ~(0x3FFu << shift);
      const std::uint32_t word = others | static_cast<std::uint32_t>(n) << shift;
      const Quatd u = UnpackQuat(static_cast<std::int32_t>(word));
      const double c = shift == 0 ? u.x : shift == 10 ? u.y : u.z;
      const double l1 = std::fabs(u.x) + std::fabs(u.y) + std::fabs(u.z) + std::fabs(u.w);
      const double len2 = u.x * u.x + u.y * u.y + u.z * u.z + u.w * u.w;
      if (std::fabs(c / l1 - (n - 511) / 511.0) > 1e-12 || std::fabs(len2 - 1.0) > 1e-12 || u.w < 0.0) {
        ++failures;
      }
    }
  }
  EXPECT_EQ(failures, 0);
  // The identity word is the identity exactly, and the zero translation word zero exactly.
  const Quatd id = UnpackQuat(0x1FF7FDFF);
  EXPECT_EQ(id.x, 0.0);
  EXPECT_EQ(id.w, 1.0);
  const Vector3d zero = UnpackTransl(static_cast<std::int32_t>(0x84020100u));
  EXPECT_EQ(zero.x, 0.0);
  EXPECT_EQ(zero.y, 0.0);
  EXPECT_EQ(zero.z, 0.0);
  // Next to it, the same fields with e = 1 decode to the middle of their step.
  EXPECT_EQ(UnpackTransl(static_cast<std::int32_t>(0x8C020100u)).x, 0.5 * std::ldexp(1.0, -7));
}

}  // namespace
