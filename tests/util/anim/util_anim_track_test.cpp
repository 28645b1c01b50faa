// Tests of the key tracks: lookup, sampling with clamping and interpolation,
// validated appending and the walk over key times.
#include "util/anim/util_anim_track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kTol = 1e-6f;
constexpr float kS = 0.70710678f;

class TrackTest : public ::testing::Test {
 protected:
  qvl_CUtilPtr<qvl_CUtilMemPool> m_pool{new qvl_CUtilMemPool()};
  qvl_CUtilMemPool* Pool() { return m_pool.Get(); }

  TranslTrack MakeTransl(std::initializer_list<std::pair<float, Vector3>> keys) {
    TranslTrack t{};
    for (const auto& k : keys) AddKey(t, Pool(), k.first, k.second);
    return t;
  }
  TranslTrack MakeTimes(std::initializer_list<float> times) {
    TranslTrack t{};
    for (float tm : times) AddKey(t, Pool(), tm, Vector3{tm, 0.0f, 0.0f});
    return t;
  }
};

void ExpectVec(const Vector3& got, const Vector3& want) {
  EXPECT_EQ(got.x, want.x);
  EXPECT_EQ(got.y, want.y);
  EXPECT_EQ(got.z, want.z);
}

TEST_F(TrackTest, EmptyTracksSampleAsZeroNotIdentity) {
  const TranslTrack tt{};
  const QuatTrack qt{};
  const float ts[] = {-FLT_MAX, -1.0f, 0.0f, 3.0f, FLT_MAX, kNaN, kInf};
  for (float t : ts) {
    const Vector3 v = SampleAt(tt, t);
    EXPECT_EQ(FloatBits(v.x) | FloatBits(v.y) | FloatBits(v.z), 0u);
    const Quat q = SampleAt(qt, t);
    EXPECT_EQ(FloatBits(q.x) | FloatBits(q.y) | FloatBits(q.z) | FloatBits(q.w), 0u);
    EXPECT_EQ(FindKey(tt, t), 0);
    EXPECT_EQ(NextKeyTime(tt, t), FLT_MAX);
    EXPECT_EQ(NextKeyTime(qt, t), FLT_MAX);
  }
}

TEST_F(TrackTest, OneKeyEverywhere) {
  const Vector3 a{1.5f, -2.0f, 3.0f};
  const TranslTrack t = MakeTransl({{4.0f, a}});
  const float ts[] = {-FLT_MAX, 0.0f, 4.0f, 4.5f, FLT_MAX, kNaN, -kInf, kInf};
  for (float tm : ts) ExpectVec(SampleAt(t, tm), a);
}

TEST_F(TrackTest, TwoKeysClampAndInterpolate) {
  const Vector3 a{4.0f, 8.0f, -4.0f};
  const Vector3 b{8.0f, 0.0f, 4.0f};
  const TranslTrack t = MakeTransl({{0.0f, a}, {2.0f, b}});
  struct Case {
    float t;
    Vector3 want;
  };
  const Case cases[] = {
      {-5.0f, a}, {0.0f, a}, {0.5f, {5.0f, 6.0f, -2.0f}}, {2.0f, b}, {7.0f, b}, {kNaN, a},
      {-kInf, a}, {kInf, b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    ExpectVec(SampleAt(t, c.t), c.want);
  }
}

TEST_F(TrackTest, EqualTimes) {
  const Vector3 a{1.0f, 0.0f, 0.0f}, b{2.0f, 0.0f, 0.0f}, c{4.0f, 2.0f, 0.0f};
  const TranslTrack t = MakeTransl({{1.0f, a}, {1.0f, b}, {2.0f, c}});
  ExpectVec(SampleAt(t, 1.0f), a);                   // the first of the equal keys
  ExpectVec(SampleAt(t, 1.5f), {3.0f, 1.0f, 0.0f});  // from the last of them
  ExpectVec(SampleAt(t, 0.5f), a);
  ExpectVec(SampleAt(t, 2.0f), c);
}

TEST_F(TrackTest, FindKeyAndNextKeyTime) {
  const TranslTrack t = MakeTimes({0.0f, 1.0f, 1.0f, 2.0f});
  struct Case {
    float t;
    int index;
    float next;
  };
  const Case cases[] = {
      {-FLT_MAX, 0, 0.0f}, {-1.0f, 0, 0.0f},   {0.0f, 0, 1.0f},    {0.5f, 1, 1.0f},    {1.0f, 1, 2.0f},
      {1.5f, 3, 2.0f},     {2.0f, 3, FLT_MAX}, {3.0f, 4, FLT_MAX}, {kNaN, 0, FLT_MAX}, {kInf, 4, FLT_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(FindKey(t, c.t), c.index);
    EXPECT_EQ(NextKeyTime(t, c.t), c.next);
  }
  // The walk from −FLT_MAX visits every distinct time once.
  std::vector<float> seen;
  for (float tm = NextKeyTime(t, -FLT_MAX); tm != FLT_MAX; tm = NextKeyTime(t, tm)) seen.push_back(tm);
  EXPECT_EQ(seen, (std::vector<float>{0.0f, 1.0f, 2.0f}));
}

TEST_F(TrackTest, FindKeyIsTheLowerBoundOnRandomTracks) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> len(0, 40);
  std::uniform_int_distribution<int> step(0, 2);  // 0: equal time
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    TranslTrack t{};
    std::vector<float> times;
    float tm = -5.0f;
    const int n = len(rng);
    for (int i = 0; i < n; ++i) {
      tm += static_cast<float>(step(rng));
      times.push_back(tm);
      AddKey(t, Pool(), tm, Vector3{0.0f, 0.0f, 0.0f});
    }
    for (float q = -7.0f; q <= tm + 2.0f; q += 0.5f) {
      const int want = static_cast<int>(std::lower_bound(times.begin(), times.end(), q) - times.begin());
      if (FindKey(t, q) != want) ++failures;
      const auto up = std::upper_bound(times.begin(), times.end(), q);
      const float next = up == times.end() ? FLT_MAX : *up;
      if (NextKeyTime(t, q) != next) ++failures;
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST_F(TrackTest, SearchesFromACursorGiveTheSameResultsForAnyCursorAndTime) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> len(0, 300);
  std::uniform_int_distribution<int> step(0, 2);  // 0: equal time
  std::uniform_real_distribution<float> query(-8.0f, 400.0f);
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    TranslTrack t{};
    float tm = -5.0f;
    const int n = len(rng);
    for (int i = 0; i < n; ++i) {
      tm += static_cast<float>(step(rng));
      AddKey(t, Pool(), tm, Vector3{tm, 1.0f, 0.0f});
    }
    // A walk at increasing times, the way the calculation uses a cursor ...
    int cursor = 0;
    for (float q = NextKeyTime(t, -FLT_MAX); q < FLT_MAX; q = NextKeyTime(t, q)) {
      int other = cursor;
      if (NextKeyTimeFrom(t, q, other) != NextKeyTime(t, q)) ++failures;
      const Vector3 a = SampleAtFrom(t, q + 0.25f, cursor), b = SampleAt(t, q + 0.25f);
      if (a.x != b.x || a.y != b.y || cursor != FindKey(t, q + 0.25f)) ++failures;
    }
    // ... and arbitrary cursors with times that jump back and forth, NaN included.
    for (int i = 0; i < 50; ++i) {
      int c = std::uniform_int_distribution<int>(-3, n + 3)(rng);
      const float q = i == 0 ? kNaN : query(rng);
      if (FindKeyFrom(t, q, c) != FindKey(t, q) || c != FindKey(t, q)) ++failures;
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST_F(TrackTest, AddKeyDropsInvalidAndClampsBackwardTimes) {
  TranslTrack t{};
  AddKey(t, Pool(), 7.0f, Vector3{1.0f, 1.0f, 1.0f});
  const float badTimes[] = {kNaN, kInf, -kInf};
  for (float bt : badTimes) AddKey(t, Pool(), bt, Vector3{2.0f, 2.0f, 2.0f});
  const Vector3 badValues[] = {{kNaN, 0.0f, 0.0f}, {0.0f, kInf, 0.0f}, {0.0f, 0.0f, -kInf}};
  for (const Vector3& bv : badValues) AddKey(t, Pool(), 8.0f, bv);
  EXPECT_EQ(t.count, 1);
  AddKey(t, Pool(), 5.0f, Vector3{3.0f, 0.0f, 0.0f});
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.RefAt(1).time, 7.0f);
  ExpectVec(t.RefAt(1).value, {3.0f, 0.0f, 0.0f});
  AddKey(t, Pool(), -FLT_MAX, Vector3{4.0f, 0.0f, 0.0f});
  EXPECT_EQ(t.RefBack().time, 7.0f);

  QuatTrack q{};
  AddKey(q, Pool(), 0.0f, Quat{0.0f, 0.0f, 0.0f, kNaN});
  AddKey(q, Pool(), kNaN, Quat{0.0f, 0.0f, 0.0f, 1.0f});
  EXPECT_EQ(q.count, 0);
  AddKey(q, Pool(), 1.0f, Quat{0.0f, 0.0f, 0.0f, 0.0f});  // the zero rotation is a valid value
  AddKey(q, Pool(), 0.5f, Quat{0.0f, 0.0f, 0.0f, 1.0f});
  ASSERT_EQ(q.count, 2);
  EXPECT_EQ(q.RefAt(1).time, 1.0f);
}

TEST_F(TrackTest, RotationSampling) {
  QuatTrack q{};
  AddKey(q, Pool(), 0.0f, Quat{0.0f, 0.0f, 0.0f, 1.0f});
  AddKey(q, Pool(), 2.0f, Quat{0.0f, 0.0f, kS, kS});
  const Quat h = SampleAt(q, 1.0f);
  EXPECT_NEAR(h.z, 0.38268343f, kTol);
  EXPECT_NEAR(h.w, 0.92387953f, kTol);
  EXPECT_EQ(SampleAt(q, 2.0f).z, kS);
  EXPECT_EQ(SampleAt(q, -1.0f).w, 1.0f);
}

TEST_F(TrackTest, NonFiniteInterpolationFallsBackToTheEarlierKey) {
  // From the zero rotation Interp is not finite: the zero rotation holds up
  // to the next key.
  QuatTrack q{};
  AddKey(q, Pool(), 0.0f, Quat{0.0f, 0.0f, 0.0f, 0.0f});
  AddKey(q, Pool(), 1.0f, Quat{0.0f, 0.0f, 0.0f, 1.0f});
  const Quat mid = SampleAt(q, 0.5f);
  EXPECT_EQ(FloatBits(mid.w), 0u);
  // At the next key's own time t still lies between the keys (f = 1), so the
  // fallback applies there too; only after the last key does its value come.
  EXPECT_EQ(FloatBits(SampleAt(q, 1.0f).w), 0u);
  EXPECT_EQ(SampleAt(q, 1.5f).w, 1.0f);
  // Translations far apart: the interpolation overflows to infinity and the
  // earlier key's value comes back.
  TranslTrack t{};
  AddKey(t, Pool(), 0.0f, Vector3{-FLT_MAX, 0.0f, 0.0f});
  AddKey(t, Pool(), 1.0f, Vector3{FLT_MAX, 0.0f, 0.0f});
  const Vector3 v = SampleAt(t, 0.5f);
  EXPECT_TRUE(v.IsFinite());
  // Interpolating with a fraction that is not finite: huge times whose
  // difference overflows the float fraction (f = 0 here, still finite).
  TranslTrack w{};
  AddKey(w, Pool(), -FLT_MAX, Vector3{1.0f, 0.0f, 0.0f});
  AddKey(w, Pool(), FLT_MAX, Vector3{3.0f, 0.0f, 0.0f});
  EXPECT_EQ(SampleAt(w, 0.0f).x, 2.0f);
}

TEST_F(TrackTest, SampleBetweenRoundsTheFractionToFloat) {
  // f = (t − t0) / (t1 − t0) = 1/3 rounded to float, then Lerp in double.
  const TranslKey k0{0.0f, {0.0f, 0.0f, 0.0f}};
  const TranslKey k1{3.0f, {3.0f, 0.0f, 0.0f}};
  const float f = static_cast<float>(1.0 / 3.0);
  EXPECT_EQ(SampleBetween(k0, k1, 1.0f).x, static_cast<float>(3.0 * static_cast<double>(f)));
}

}  // namespace
