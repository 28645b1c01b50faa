// Tests of the path-level key operations: the merged key-time walk, the exact
// identity test and snapping to the identity within tolerances.
#include "util/anim/util_anim_animpath.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class AnimPathTest : public ::testing::Test {
 protected:
  qvl_CUtilPtr<qvl_CUtilMemPool> m_pool{new qvl_CUtilMemPool()};
  AnimPath m_path{};

  void T(float time, Vector3 v) { AddKey(m_path.translTrack, m_pool.Get(), time, v); }
  void Q(float time, Quat q) { AddKey(m_path.quatTrack, m_pool.Get(), time, q); }
  // A path with copies of m_path's translation keys (snapping changes keys in place).
  AnimPath CopyTransl() {
    AnimPath p{};
    for (int i = 0; i < m_path.translTrack.count; ++i) {
      const TranslKey& k = m_path.translTrack.RefAt(i);
      AddKey(p.translTrack, m_pool.Get(), k.time, k.value);
    }
    return p;
  }
};

TEST_F(AnimPathTest, ZeroFilledPathIsValidAndIdentity) {
  EXPECT_TRUE(m_path.IsIdentity());
  EXPECT_EQ(m_path.NextKeyTime(-FLT_MAX), FLT_MAX);
  m_path.SnapToIdentity(1.0f, 1.0f);  // nothing to touch
  EXPECT_EQ(m_path.translTrack.count, 0);
}

TEST_F(AnimPathTest, NextKeyTimeMergesBothTracks) {
  T(0.0f, {1, 0, 0});
  T(2.0f, {1, 0, 0});
  Q(1.0f, {0, 0, 0, 1});
  std::vector<float> seen;
  for (float t = m_path.NextKeyTime(-FLT_MAX); t != FLT_MAX; t = m_path.NextKeyTime(t)) seen.push_back(t);
  EXPECT_EQ(seen, (std::vector<float>{0.0f, 1.0f, 2.0f}));
  // A time present in both tracks comes once.
  Q(2.0f, {0, 0, 0, 1});
  EXPECT_EQ(m_path.NextKeyTime(1.0f), 2.0f);
  EXPECT_EQ(m_path.NextKeyTime(2.0f), FLT_MAX);
}

TEST_F(AnimPathTest, IsIdentityComparesExactly) {
  struct Case {
    Vector3 t;
    Quat q;
    bool identity;
  };
  const Case cases[] = {
      {{-0.0f, 0.0f, -0.0f}, {0, 0, 0, 1}, true},  // −0 counts as zero
      {{0, 0, 0}, {-0.0f, -0.0f, 0.0f, 1.0f}, true},
      {{0, 0, 0}, {0, 0, 0, -1}, false},  // the same rotation, other sign
      {{0, 0, 0}, {0, 0, 0, 0}, false},
      {{0, 0, 0}, {0, 0, 0, 1.0000001f}, false},
      {{0, 0, 1e-30f}, {0, 0, 0, 1}, false},
      {{0, 0, 0}, {std::numeric_limits<float>::denorm_min(), 0, 0, 1}, false},
  };
  for (const Case& c : cases) {
    AnimPath p{};
    AddKey(p.translTrack, m_pool.Get(), 0.0f, c.t);
    AddKey(p.quatTrack, m_pool.Get(), 0.0f, c.q);
    EXPECT_EQ(p.IsIdentity(), c.identity) << c.t.z << " " << c.q.x << " " << c.q.w;
  }
  // A later key decides as well as the first one.
  T(0.0f, {0, 0, 0});
  T(1.0f, {0, 0, 0});
  Q(0.0f, {0, 0, 0, 1});
  EXPECT_TRUE(m_path.IsIdentity());
  Q(1.0f, {0, 0, 0.5f, 1});
  EXPECT_FALSE(m_path.IsIdentity());
}

TEST_F(AnimPathTest, SnapTranslationsWithinTolerance) {
  T(0.0f, {-0.0f, 0.0f, 0.0f});
  T(1.0f, {0.03f, 0.04f, 0.0f});
  T(2.0f, {0.3f, 0.0f, 0.0f});
  T(3.0f, {0.0f, 0.0f, 1e-30f});
  // Tolerance 0: only exact zeros, and −0 becomes +0.
  AnimPath p0 = CopyTransl();
  p0.SnapToIdentity(0.0f, 0.0f);
  EXPECT_EQ(FloatBits(p0.translTrack.RefAt(0).value.x), 0u);
  EXPECT_EQ(p0.translTrack.RefAt(1).value.x, 0.03f);
  EXPECT_EQ(p0.translTrack.RefAt(3).value.z, 1e-30f);
  // Tolerance 0.1 and −0.1 alike: (0.03, 0.04, 0) at distance 0.05 snaps, 0.3 stays.
  const float tolerances[] = {0.1f, -0.1f};
  for (float eps : tolerances) {
    AnimPath p = CopyTransl();
    p.SnapToIdentity(eps, 0.0f);
    const Vector3 s = p.translTrack.RefAt(1).value;
    EXPECT_EQ(FloatBits(s.x) | FloatBits(s.y) | FloatBits(s.z), 0u) << eps;
    EXPECT_EQ(p.translTrack.RefAt(2).value.x, 0.3f) << eps;
    EXPECT_EQ(p.translTrack.RefAt(3).value.z, 0.0f) << eps;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.translTrack.RefAt(i).time, static_cast<float>(i));  // times stay
    EXPECT_FALSE(p.IsIdentity());
  }
  // NaN tolerance snaps nothing, not even −0.
  AnimPath pn{};
  AddKey(pn.translTrack, m_pool.Get(), 0.0f, Vector3{-0.0f, 0.0f, 0.0f});
  pn.SnapToIdentity(kNaN, kNaN);
  EXPECT_EQ(FloatBits(pn.translTrack.RefAt(0).value.x), 0x80000000u);
}

TEST_F(AnimPathTest, SnapRotationsMeasuresToThePositiveIdentity) {
  struct Case {
    Quat q;
    float eps;
    bool snapped;
  };
  const Case cases[] = {
      {{0, 0, 0, -1}, 1.99f, false},  // squared distance 4
      {{0, 0, 0, -1}, 2.0f, true},
      {{0, 0, 0, -1}, -2.0f, true},
      {{0, 0, 0, 0}, 0.99f, false},  // squared distance 1
      {{0, 0, 0, 0}, 1.0f, true},
      {{0.001f, 0, 0, 1}, 0.0f, false},
      {{0.001f, 0, 0, 1}, 0.002f, true},
      {{-0.0f, 0, -0.0f, 1}, 0.0f, true},  // exact distance 0: rewritten as +0
      {{0, 0, 0, 1.001f}, 0.001f, false},  // (w − 1)² in double is a little above 1e-6
      {{-0.0f, 0, 0, 1}, kNaN, false},     // NaN snaps nothing: −0 stays
  };
  for (const Case& c : cases) {
    AnimPath p{};
    AddKey(p.quatTrack, m_pool.Get(), 5.0f, c.q);
    p.SnapToIdentity(0.0f, c.eps);
    const Quat r = p.quatTrack.RefAt(0).value;
    const bool isId = FloatBits(r.x) == 0u && FloatBits(r.y) == 0u && FloatBits(r.z) == 0u && r.w == 1.0f;
    EXPECT_EQ(isId, c.snapped) << c.q.x << " " << c.q.w << " eps " << c.eps;
    if (!c.snapped) {
      EXPECT_EQ(r.w, c.q.w);
    }
    EXPECT_EQ(p.quatTrack.RefAt(0).time, 5.0f);
    EXPECT_EQ(p.IsIdentity(), c.snapped || (c.q.x == 0.0f && c.q.w == 1.0f));
  }
}

}  // namespace
