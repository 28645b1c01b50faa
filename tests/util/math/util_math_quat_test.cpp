// Tests of the vector, quaternion, matrix and pose math: exact products and
// inverses, the angle scaling and interpolation cases, and the rounding points.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "util/math/util_math_pose.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Tolerance for results that go through sin, cos, atan2 or sqrt: a few float ulps at 1.
constexpr float kTol = 1e-6f;
constexpr float kS = 0.70710678f;  // sin 45° = cos 45°

struct Bits4 {
  std::uint32_t v[4];
  bool operator==(const Bits4&) const = default;
};
Bits4 BitsOf(const Quat& q) {
  return {{FloatBits(q.x), FloatBits(q.y), FloatBits(q.z), FloatBits(q.w)}};
}

void ExpectQuatNear(const Quat& got, const Quat& want, float tol = kTol) {
  EXPECT_NEAR(got.x, want.x, tol);
  EXPECT_NEAR(got.y, want.y, tol);
  EXPECT_NEAR(got.z, want.z, tol);
  EXPECT_NEAR(got.w, want.w, tol);
}

void ExpectQuatEq(const Quat& got, const Quat& want) {
  EXPECT_EQ(got.x, want.x);
  EXPECT_EQ(got.y, want.y);
  EXPECT_EQ(got.z, want.z);
  EXPECT_EQ(got.w, want.w);
}

TEST(MathFinite, TestsTheExponentBits) {
  EXPECT_TRUE(IsFinite(0.0f));
  EXPECT_TRUE(IsFinite(-0.0f));
  EXPECT_TRUE(IsFinite(FLT_MAX));
  EXPECT_TRUE(IsFinite(-FLT_MAX));
  EXPECT_TRUE(IsFinite(std::numeric_limits<float>::denorm_min()));
  EXPECT_FALSE(IsFinite(kInf));
  EXPECT_FALSE(IsFinite(-kInf));
  EXPECT_FALSE(IsFinite(kNaN));
  EXPECT_FALSE(IsFinite(std::bit_cast<float>(0xFF800001u)));  // a negative signalling NaN pattern
  EXPECT_TRUE((Vector3{1.0f, -2.0f, FLT_MAX}.IsFinite()));
  EXPECT_FALSE((Vector3{1.0f, kNaN, 0.0f}.IsFinite()));
  EXPECT_FALSE((Vector3{0.0f, 0.0f, -kInf}.IsFinite()));
  EXPECT_TRUE((Quat{0.0f, 0.0f, 0.0f, 0.0f}.IsFinite()));
  EXPECT_FALSE((Quat{0.0f, 0.0f, 0.0f, kNaN}.IsFinite()));
  EXPECT_FALSE((Quat{kInf, 0.0f, 0.0f, 1.0f}.IsFinite()));
}

TEST(MathVector3, LerpKeepsItsOperandOrder) {
  const Vector3 r = Vector3::Lerp({0.0f, 0.0f, 0.0f}, {2.0f, 4.0f, 6.0f}, 0.25f);
  EXPECT_EQ(r.x, 0.5f);
  EXPECT_EQ(r.y, 1.0f);
  EXPECT_EQ(r.z, 1.5f);
  // Evaluated in double: 1 − t with t = 2^-25 is not a float; in double the
  // result 1 − 2^-24 is exact, float arithmetic would round it to 1.
  const float t = std::ldexp(1.0f, -25);
  const Vector3 c = Vector3::Lerp({1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f}, t);
  EXPECT_EQ(c.x, 1.0f - std::ldexp(1.0f, -24));
}

// (1 − t)·a + t·b gives the end points exactly; a + t·(b − a) would give
// 0 instead of 1 at t = 1 for a = 1e8, b = 1 in float.
TEST(MathVector3, LerpEndPointsRandom) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::uniform_int_distribution<int> e(-40, 40);
  int failures = 0;
  for (int n = 0; n < 20000; ++n) {
    const Vector3 a{std::ldexp(d(rng), e(rng)), std::ldexp(d(rng), e(rng)), std::ldexp(d(rng), e(rng))};
    const Vector3 b{std::ldexp(d(rng), e(rng)), std::ldexp(d(rng), e(rng)), std::ldexp(d(rng), e(rng))};
    const Vector3 r0 = Vector3::Lerp(a, b, 0.0f);
    const Vector3 r1 = Vector3::Lerp(a, b, 1.0f);
    if (FloatBits(r0.x) != FloatBits(a.x) || FloatBits(r0.y) != FloatBits(a.y) ||
        FloatBits(r0.z) != FloatBits(a.z))
      ++failures;
    if (r1.x != b.x || r1.y != b.y || r1.z != b.z) ++failures;
  }
  EXPECT_EQ(failures, 0);
}

TEST(MathQuat, MulIsTheHamiltonProductThisOnTheLeft) {
  const Quat id{0.0f, 0.0f, 0.0f, 1.0f};
  const Quat q{0.25f, -1.5f, 3.0f, 0.5f};
  ExpectQuatEq(id.Mul(q), q);
  ExpectQuatEq(q.Mul(id), q);
  ExpectQuatEq(Quat{1.0f, 0.0f, 0.0f, 0.0f}.Mul({0.0f, 1.0f, 0.0f, 0.0f}), {0.0f, 0.0f, 1.0f, 0.0f});
  ExpectQuatEq(Quat{0.0f, 1.0f, 0.0f, 0.0f}.Mul({1.0f, 0.0f, 0.0f, 0.0f}), {0.0f, 0.0f, -1.0f, 0.0f});
  ExpectQuatEq(Quat{0.0f, 0.0f, 1.0f, 0.0f}.Mul({1.0f, 0.0f, 0.0f, 0.0f}), {0.0f, 1.0f, 0.0f, 0.0f});
  // Unit quaternions: i·i = −1.
  ExpectQuatEq(Quat{1.0f, 0.0f, 0.0f, 0.0f}.Mul({1.0f, 0.0f, 0.0f, 0.0f}), {0.0f, 0.0f, 0.0f, -1.0f});
}

TEST(MathQuat, MulSumsInDouble) {
  // x = a.w·b.x + a.x·b.w: (1 + 2^-12)² − (1 + 2^-11) = 2^-24 exactly in double;
  // with float products the first one rounds to 1 + 2^-11 and x would be 0.
  const float p = 1.0f + std::ldexp(1.0f, -12);
  const Quat a{-1.0f, 0.0f, 0.0f, p};
  const Quat b{p, 0.0f, 0.0f, 1.0f + std::ldexp(1.0f, -11)};
  EXPECT_EQ(a.Mul(b).x, std::ldexp(1.0f, -24));
}

TEST(MathQuat, InverseRoundsTheScaleToFloat) {
  const Quat inv = Quat{0.0f, 0.0f, 1.0f, 1.0f}.GetInverse();
  EXPECT_EQ(BitsOf(inv), BitsOf({-0.0f, -0.0f, -0.5f, 0.5f}));
  ExpectQuatEq(Quat{0.0f, 0.0f, 1.0f, 1.0f}.Mul(inv), {0.0f, 0.0f, 0.0f, 1.0f});
  // A unit quaternion gives its conjugate.
  ExpectQuatEq(Quat{0.5f, -0.5f, 0.5f, 0.5f}.GetInverse(), {-0.5f, 0.5f, -0.5f, 0.5f});
  EXPECT_FALSE((Quat{0.0f, 0.0f, 0.0f, 0.0f}.GetInverse().IsFinite()));
  // n = 3: e = float(1/3), and e·w is rounded once more; with e kept in double
  // the w component would be float(1/3) itself, here it is float(float(1/3)·1).
  const Quat third = Quat{1.0f, 1.0f, 1.0f, 0.0f}.GetInverse();
  EXPECT_EQ(third.x, -static_cast<float>(1.0 / 3.0));
  // n = 9 with w = 3: float(1/9)·3 in double, rounded, differs from float(3/9).
  const Quat q3 = Quat{0.0f, 0.0f, 0.0f, 3.0f}.GetInverse();
  EXPECT_EQ(q3.w, static_cast<float>(static_cast<double>(static_cast<float>(1.0 / 9.0)) * 3.0));
}

TEST(MathQuat, Matrix) {
  const Matrix3 unit = Quat{0.0f, 0.0f, 0.0f, 1.0f}.GetMatrix();
  const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(unit.m[i], id[i]) << i;
  // 90° about z: rows (0, −1, 0), (1, 0, 0), (0, 0, 1).
  const Matrix3 rz = Quat{0.0f, 0.0f, kS, kS}.GetMatrix();
  const float want[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(rz.m[i], want[i], kTol) << i;
  const Vector3 v = rz * Vector3{1.0f, 0.0f, 0.0f};
  EXPECT_NEAR(v.x, 0.0f, kTol);
  EXPECT_NEAR(v.y, 1.0f, kTol);
  EXPECT_EQ(v.z, 0.0f);
  // All four squares on the diagonal: (0, 0, 0, 2) gives 4 times the unit matrix.
  const Matrix3 four = Quat{0.0f, 0.0f, 0.0f, 2.0f}.GetMatrix();
  for (int i = 0; i < 9; ++i) EXPECT_EQ(four.m[i], 4.0f * id[i]) << i;
  // 180° about x: diag (1, −1, −1), exact.
  const Matrix3 rx = Quat{1.0f, 0.0f, 0.0f, 0.0f}.GetMatrix();
  const float wantX[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(rx.m[i], wantX[i]) << i;
  // Row-major application: component r = m[3r]·x + m[3r+1]·y + m[3r+2]·z.
  const Matrix3 m{{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const Vector3 p = m * Vector3{1.0f, 10.0f, 100.0f};
  EXPECT_EQ(p.x, 321.0f);
  EXPECT_EQ(p.y, 654.0f);
  EXPECT_EQ(p.z, 987.0f);
}

TEST(MathQuat, PowScalesTheAngle) {
  const Quat id{0.0f, 0.0f, 0.0f, 1.0f};
  const float ts[] = {0.0f, 0.5f, 1.0f, -3.0f, 1e6f};
  for (float t : ts) {
    EXPECT_EQ(BitsOf(id.Pow(t)), BitsOf(id)) << t;
    EXPECT_EQ(BitsOf(Quat{0.0f, 0.0f, 0.0f, -1.0f}.Pow(t)), BitsOf(id)) << t;
    EXPECT_EQ(BitsOf(Quat{0.0f, 0.0f, 0.0f, 0.0f}.Pow(t)), BitsOf(id)) << t;
    EXPECT_EQ(BitsOf(Quat{-0.0f, 0.0f, -0.0f, 5.0f}.Pow(t)), BitsOf(id)) << t;
  }
  // Pow(q, 0) is the identity for any quaternion with a vector part.
  // (The zero vector part keeps the signs of x, y, z: 0·x.)
  ExpectQuatEq(Quat{0.3f, -0.2f, 0.9f, -0.1f}.Pow(0.0f), {0.0f, 0.0f, 0.0f, 1.0f});
  const Quat rz90{0.0f, 0.0f, kS, kS};
  ExpectQuatNear(rz90.Pow(0.5f), {0.0f, 0.0f, 0.38268343f, 0.92387953f});
  ExpectQuatNear(rz90.Pow(1.0f), rz90);
  ExpectQuatNear(rz90.Pow(2.0f), {0.0f, 0.0f, 1.0f, 0.0f});
  ExpectQuatNear(rz90.Pow(-1.0f), {0.0f, 0.0f, -kS, kS});
  // w < 0: half angle 135°, scaled along the longer way without a sign flip.
  ExpectQuatNear(Quat{0.0f, 0.0f, kS, -kS}.Pow(0.5f), {0.0f, 0.0f, 0.92387953f, 0.38268343f});
  // Any length: the result is a unit quaternion (here 90° about x, length 10).
  const Quat p = Quat{7.0710678f, 0.0f, 0.0f, 7.0710678f}.Pow(0.5f);
  ExpectQuatNear(p, {0.38268343f, 0.0f, 0.0f, 0.92387953f});
  // A non-finite factor falls back to the identity.
  EXPECT_EQ(BitsOf(Quat{kNaN, 0.0f, 0.0f, 1.0f}.Pow(0.5f)), BitsOf(id));
}

TEST(MathQuat, InterpTurnsAndScales) {
  const Quat id{0.0f, 0.0f, 0.0f, 1.0f};
  // A quaternion and its negation: the relative rotation has no vector part.
  EXPECT_EQ(BitsOf(id.Interp({0.0f, 0.0f, 0.0f, -1.0f}, 0.5f)), BitsOf(id));
  // Only the length changes: squared length 2.5.
  const Quat l = id.Interp({0.0f, 0.0f, 0.0f, 2.0f}, 0.5f);
  EXPECT_EQ(BitsOf(l), BitsOf({0.0f, 0.0f, 0.0f, 1.5811388f}));
  // The longer way: identity to 270° about z at t = 0.5 is 135°, not −45°.
  ExpectQuatNear(id.Interp({0.0f, 0.0f, kS, -kS}, 0.5f), {0.0f, 0.0f, 0.92387953f, 0.38268343f});
  // The shorter case, and the end points.
  const Quat rz90{0.0f, 0.0f, kS, kS};
  ExpectQuatNear(id.Interp(rz90, 0.5f), {0.0f, 0.0f, 0.38268343f, 0.92387953f});
  const Quat a{0.1f, 0.7f, -0.2f, 0.5f};
  const Quat b{-0.4f, 0.3f, 0.6f, 0.2f};
  ExpectQuatNear(a.Interp(b, 0.0f), a);
  ExpectQuatNear(a.Interp(b, 1.0f), b);
  // Between the end points the squared length moves linearly.
  const Quat h = a.Interp(b, 0.25f);
  const auto sq = [](const Quat& q) {
    return double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w;
  };
  EXPECT_NEAR(sq(h), 0.75 * sq(a) + 0.25 * sq(b), 1e-6);
}

TEST(MathQuat, InterpFromZeroLengthIsNotFinite) {
  const Quat zero{0.0f, 0.0f, 0.0f, 0.0f};
  EXPECT_FALSE(zero.Interp({0.0f, 0.0f, 0.0f, 1.0f}, 0.5f).IsFinite());
  EXPECT_FALSE(zero.Interp(zero, 0.0f).IsFinite());
  // Negative radicand (extrapolating the squared length below 0).
  EXPECT_FALSE((Quat{0.0f, 0.0f, 0.0f, 1.0f}.Interp({0.0f, 0.0f, 0.0f, 3.0f}, -1.0f).IsFinite()));
}

TEST(MathPose, RelativeInTheReferenceFrame) {
  const Quat rz90{0.0f, 0.0f, kS, kS};
  const Pose a{{1.0f, 0.0f, 0.0f}, rz90};
  const Pose self = a.GetRelative(a);
  EXPECT_NEAR(self.transl.x, 0.0f, kTol);
  EXPECT_NEAR(self.transl.y, 0.0f, kTol);
  EXPECT_NEAR(self.transl.z, 0.0f, kTol);
  ExpectQuatNear(self.quat, {0.0f, 0.0f, 0.0f, 1.0f});
  const Pose rel = a.GetRelative({{1.0f, 1.0f, 0.0f}, rz90});
  EXPECT_NEAR(rel.transl.x, 1.0f, kTol);
  EXPECT_NEAR(rel.transl.y, 0.0f, kTol);
  EXPECT_NEAR(rel.transl.z, 0.0f, kTol);
  ExpectQuatNear(rel.quat, {0.0f, 0.0f, 0.0f, 1.0f});
  // The inverse is on the left: A = 90° about z, B = 90° about x gives
  // conj(A) ⊗ B = (0.5, −0.5, −0.5, 0.5), not B ⊗ conj(A) = (0.5, 0.5, −0.5, 0.5).
  const Pose r2 = Pose{{0, 0, 0}, rz90}.GetRelative({{0, 0, 0}, {kS, 0.0f, 0.0f, kS}});
  ExpectQuatNear(r2.quat, {0.5f, -0.5f, -0.5f, 0.5f});
  // Identity reference: the pose itself, exactly.
  const Pose b{{3.5f, -2.0f, 0.25f}, {0.1f, 0.2f, 0.3f, 0.9f}};
  const Pose r3 = Pose{{0, 0, 0}, {0, 0, 0, 1}}.GetRelative(b);
  EXPECT_EQ(r3.transl.x, b.transl.x);
  EXPECT_EQ(r3.transl.y, b.transl.y);
  EXPECT_EQ(r3.transl.z, b.transl.z);
  ExpectQuatEq(r3.quat, b.quat);
  // Non-unit reference (length² 4): the steps hold as written, the matrix of
  // the inverse scales by 1/4 and the translation difference shrinks with it.
  const Pose r4 = Pose{{0, 0, 0}, {0, 0, 0, 2}}.GetRelative({{8.0f, 0, 0}, {0, 0, 0, 2}});
  EXPECT_EQ(r4.transl.x, 2.0f);
  ExpectQuatEq(r4.quat, {0, 0, 0, 1});
  // A zero reference rotation: every component is non-finite.
  const Pose r5 = Pose{{0, 0, 0}, {0, 0, 0, 0}}.GetRelative(b);
  EXPECT_FALSE(IsFinite(r5.transl.x) || IsFinite(r5.transl.y) || IsFinite(r5.transl.z));
  EXPECT_FALSE(IsFinite(r5.quat.x) || IsFinite(r5.quat.y) || IsFinite(r5.quat.z) || IsFinite(r5.quat.w));
}

TEST(MathPose, DifferenceIsRoundedToFloatBeforeTheRotation) {
  // Reference rotation (1, 0, 0, 2): the second row of the inverse's matrix is
  // (0, 3e², 4e²) with e ≈ 1/5. The y difference 2^25 − (−1) rounds to 2^25
  // as a float; with the z difference −0.75·2^25 the two terms nearly cancel.
  // Kept in double, the difference would leave about 3e² ≈ 0.12 more.
  const Pose a{{0.0f, -1.0f, 0.0f}, {1.0f, 0.0f, 0.0f, 2.0f}};
  const Pose b{{0.0f, 33554432.0f, -25165824.0f}, {1.0f, 0.0f, 0.0f, 2.0f}};
  const Pose r = a.GetRelative(b);
  const Matrix3 m = a.quat.GetInverse().GetMatrix();
  const double unrounded = double(m.m[4]) * (double(b.transl.y) - double(a.transl.y)) +
                           double(m.m[5]) * (double(b.transl.z) - double(a.transl.z));
  const double rounded = double(m.m[4]) * 33554432.0 + double(m.m[5]) * -25165824.0;
  EXPECT_EQ(r.transl.y, static_cast<float>(rounded));
  EXPECT_GT(std::fabs(unrounded - rounded), 0.1);
}

}  // namespace
