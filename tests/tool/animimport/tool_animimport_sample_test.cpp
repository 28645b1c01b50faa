// Tests of sampling, frame times, clip names, joint selection and matrix splitting.
#include "tool/animimport/tool_animimport_sample.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tool/animimport/tool_animimport_decompose.h"
#include "util/msg/util_msg_msg.h"

namespace {

constexpr double kEps = 1e-12;

Quatd AxisAngle(double x, double y, double z, double rad) {
  return Quatd{x * std::sin(rad / 2), y * std::sin(rad / 2), z * std::sin(rad / 2), std::cos(rad / 2)};
}

TEST(AnimImportSample, VectorChannelsFollowTheirInterpolation) {
  // Keys at 0 s (0), 2 s (1), 3 s (4); x holds the value, y and z its negation and 0.
  const Channel lin = MakeChannel({0, 2, 3}, {0, 0, 0, 1, -1, 0, 4, -4, 0});
  const Channel step = MakeChannel({0, 2, 3}, {0, 0, 0, 1, -1, 0, 4, -4, 0}, Interp::kStep);
  // Cubic: in-tangent, value, out-tangent per key; out-tangent of key 0 is 1/s,
  // in-tangent of key 1 is 0, so at 1 s: 0.125*2*1 + 0.5*1 = 0.75 (Hermite basis).
  const Channel cub =
      MakeChannel({0, 2}, {9, 9, 9, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 9, 9, 9}, Interp::kCubicSpline);
  const Vector3d rest{7, 7, 7};
  struct Case {
    const Channel* ch;
    double t, x;
  } cases[] = {
      // clang-format off
      {&lin, -1.0, 0.0}, {&lin, 0.0, 0.0}, {&lin, 1.0, 0.5}, {&lin, 2.5, 2.5}, {&lin, 3.0, 4.0}, {&lin, 9.0, 4.0},
      {&step, 1.999, 0.0}, {&step, 2.0, 1.0}, {&step, 2.9, 1.0}, {&step, 3.5, 4.0},
      // u = 0.25: h10 * dt * m0 + h01 * p1 = 0.140625 * 2 + 0.15625.
      {&cub, 0.0, 0.0}, {&cub, 1.0, 0.75}, {&cub, 2.0, 1.0}, {&cub, 0.5, 0.4375},
      // clang-format on
  };
  for (const Case& c : cases) {
    const Vector3d v = EvalVec(*c.ch, c.t, rest);
    EXPECT_NEAR(v.x, c.x, kEps) << "t " << c.t << " interp " << static_cast<int>(c.ch->interp);
    if (c.ch != &cub) {
      EXPECT_NEAR(v.y, -c.x, kEps);
    }
  }
  EXPECT_EQ(EvalVec(Channel{}, 1.0, rest).x, 7.0);
}

TEST(AnimImportSample, RotationsTakeTheShorterArcAndStayUnit) {
  // The second key is the 90° turn about z stored with w < 0: the same
  // rotation, so halfway lies the 45° turn, not a turn the long way round.
  const Quatd q90 = AxisAngle(0, 0, 1, M_PI / 2);
  const Channel ch = MakeChannel({0, 1}, {0, 0, 0, 1, -q90.x, -q90.y, -q90.z, -q90.w});
  const Quatd mid = EvalQuat(ch, 0.5, Quatd{0, 0, 0, 1});
  const Quatd want = AxisAngle(0, 0, 1, M_PI / 4);
  EXPECT_NEAR(std::fabs(mid.x * want.x + mid.y * want.y + mid.z * want.z + mid.w * want.w), 1.0, 1e-12);
  // A cubic spline with zero tangents between two rotations comes back normalised.
  const Channel cub = MakeChannel(
      {0, 1}, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, q90.x, q90.y, q90.z, q90.w, 0, 0, 0, 0},
      Interp::kCubicSpline);
  const Quatd c = EvalQuat(cub, 0.5, Quatd{0, 0, 0, 1});
  EXPECT_NEAR(c.x * c.x + c.y * c.y + c.z * c.z + c.w * c.w, 1.0, 1e-12);
  EXPECT_NEAR(c.z / c.w, q90.z / (1 + q90.w), 1e-12);  // the normalised halfway sum
  // Step keys hold, and a missing channel gives the rest rotation.
  const Channel step = MakeChannel({0, 1}, {0, 0, 0, 1, q90.x, q90.y, q90.z, q90.w}, Interp::kStep);
  EXPECT_NEAR(EvalQuat(step, 0.99, Quatd{}).w, 1.0, kEps);
  EXPECT_NEAR(EvalQuat(Channel{}, 0.5, q90).z, q90.z, kEps);
}

TEST(AnimImportSample, FrameTimesAreTheUnionAndResamplingEndsExactly) {
  NodeTrack track;
  track.transl = MakeChannel({0.0, 0.5, 1.0}, std::vector<double>(9, 0.0));
  track.rot = MakeChannel({0.25, 0.5, 2.0}, std::vector<double>(12, 0.0));
  EXPECT_EQ(TrackTimes(track), (std::vector<double>{0.0, 0.25, 0.5, 1.0, 2.0}));
  NodeTrack scaleOnly;
  scaleOnly.scale = MakeChannel({0.1, 0.2}, std::vector<double>(6, 1.0));
  EXPECT_EQ(TrackTimes(scaleOnly), (std::vector<double>{0.1, 0.2}));
  // The translation is interpolated at a rotation-only key time.
  track.transl = MakeChannel({0.0, 1.0}, {0, 0, 0, 2, 4, 6});
  EXPECT_NEAR(EvalVec(track.transl, 0.25, Vector3d{}).y, 1.0, kEps);

  EXPECT_EQ(ResampleTimes(0.0, 1.0, 3.0), (std::vector<double>{0.0, 1.0 / 3, 2.0 / 3, 1.0}));
  EXPECT_EQ(ResampleTimes(0.5, 0.5, 30.0), (std::vector<double>{0.5}));
  // A step that lands within 1e-6 s of the end is not doubled by the end.
  EXPECT_EQ(ResampleTimes(0.0, 1.0000005, 1.0), (std::vector<double>{0.0, 1.0000005}));
  EXPECT_EQ(ResampleTimes(0.0416667, 2.0, 24.0).size(), 48u);
}

TEST(AnimImportSample, ClipNamesAreSanitisedCountedAndMadeUnique) {
  EXPECT_EQ(SanitizeName("Armature|Walk Cycle.001"), "Armature_Walk_Cycle.001");
  EXPECT_EQ(SanitizeName("Gr\xC3\xBC\xC3\x9F-_"), "Gr____-_");  // each UTF-8 byte
  EXPECT_EQ(SanitizeName("../x"), ".._x");
  struct Case {
    std::vector<std::string> in, want;
  } cases[] = {
      {{""}, {"my_clip"}},
      {{"", "", "Run"}, {"anim0", "anim1", "Run"}},
      {{"Run", "", "Run", "R?n", "R_n"}, {"Run", "anim0", "Run_2", "R_n", "R_n_2"}},
      {{"a b", "a_b", "a_b"}, {"a_b", "a_b_2", "a_b_3"}},
      // No clip takes rest.kvt, and no clip's file is another clip's job.
      {{"rest", "rest.job", "rest_2"}, {"rest_2", "rest.job", "rest_2_2"}},
      {{"Wave", "Wave.job", "Wave"}, {"Wave", "Wave.job_2", "Wave_2"}},
      {{"Wave.job", "Wave", "Wave.job"}, {"Wave.job", "Wave_2", "Wave.job_2"}},
      {{std::string(201, 'x'), std::string(201, 'x')},
       {std::string(191, 'x') + "~ce0b7927", std::string(191, 'x') + "~ce0b7927_2"}},
  };
  for (const Case& c : cases) {
    SourceModel model;
    for (const std::string& n : c.in) model.clips.push_back(Clip{n, {}});
    EXPECT_EQ(NameClips(model, "my clip"), c.want);
  }
}

// R -> A -> B -> {C, D, E}; B -> C -> F; a second tree S -> T.
SourceModel TestTree() {
  SourceModel m;
  const char* names[] = {"R", "A", "B", "C", "D", "E", "F", "S", "T"};
  const int parents[] = {-1, 0, 1, 2, 2, 2, 3, -1, 7};
  for (int i = 0; i < 9; ++i) m.nodes.push_back(Node{names[i], parents[i]});
  return m;
}

// The counts the output bound uses agree with what the writer writes.
TEST(AnimImportSample, FrameCountsAgreeWithTheFramesWritten) {
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  int wrong = 0;
  for (int i = 0; i < 20000; ++i) {
    const double start = (next() % 2000) / 1000.0 - 1.0, len = (next() % 100000) / 997.0;
    const double rate = i % 3 == 0 ? 30.0 : 0.5 + (next() % 200000) / 1000.0;
    if (len * rate > 200000) continue;
    wrong += ResampleCnt(start, start + len, rate) != ResampleTimes(start, start + len, rate).size();
    NodeTrack track;
    std::vector<double> a, b;
    for (double t = 0; a.size() < next() % 6; t += 1 + next() % 3) a.push_back(t);
    for (double t = 0; b.size() < next() % 6; t += 1 + next() % 3) b.push_back(t);
    if (!a.empty()) track.transl = MakeChannel(a, std::vector<double>(a.size() * 3, 0.0));
    if (!b.empty()) track.rot = MakeChannel(b, std::vector<double>(b.size() * 4, 0.0));
    if (i % 7 == 0) track.scale = MakeChannel({0, 1}, std::vector<double>(6, 1.0));
    wrong += TrackFrameCnt(track) != TrackTimes(track).size();
  }
  EXPECT_EQ(wrong, 0);
}

// Every problem of a model is found with its joint (by index for a zero
// byte, which would cut the name), clip and key; the last column is the
// -scale factor the translations are written with.
TEST(AnimImportSample, ModelChecksNameTheJointClipAndKey) {
  const std::string kZero("Hi\0ps", 5);
  struct Case {
    std::string name;
    std::vector<double> times, transl;
    double restX, scale;
    std::string id, text;  // of the first report ("" when none), and a part of its text
  } cases[] = {
      {"A", {0, 1}, {0, 0, 0, 1, 0, 0}, 0, 1, "", ""},
      {kZero, {0, 1}, {0, 0, 0, 1, 0, 0}, 0, 1, "zero_in_name", "Joint 1 (node \"R/Hi\\x00ps\")"},
      {"A", {0, 1}, {0, 0, 0, 1e39, 0, 0}, 0, 1, "float_range", "has a translation of 1e+39 at key 1"},
      {"A", {0, 1}, {0, 0, 0, 1e30, 0, 0}, 0, 1e10, "float_range", "has a translation of 1e+40 at key 1"},
      {"A", {0, 1e39}, {0, 0, 0, 1, 0, 0}, 0, 1, "float_range", "translation key 1 at time 1e+39 s"},
      {"A", {1, 1.00000001}, {0, 0, 0, 1, 0, 0}, 0, 1, "float_times", "key 1 at 1.00000001 s is not after"},
      {"A", {0, 1}, {0, 0, 0, 1, 0, 0}, 1e30, 1e9, "float_range_rest", "rest translation (1e+39, 0, 0)"},
      {"A", {0, 1}, {0, 0, 0, NAN, 0, 0}, 0, 1, "non_finite", "non-finite translation at key 1"},
  };
  for (const Case& c : cases) {
    SourceModel m;
    m.nodes = {Node{"R", -1}, Node{c.name, 0}};
    m.nodes[1].transl.x = c.restX;
    m.nodes[0].skinBone = true;
    m.clips.push_back(Clip{"Walk", {NodeTrack{1, MakeChannel(c.times, c.transl), {}, {}}}});
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    qvl_CUtilMsgCollector collector;
    handler->RegisterBack(&collector);
    const int problems = CheckModel(handler.Get(), "f", m, SelectJoints(m), {"Walk"}, c.scale);
    EXPECT_EQ(problems, c.id.empty() ? 0 : 1) << c.id;
    std::string id, text;
    if (!collector.GetEntries().empty()) {
      id = collector.GetEntries()[0].msg.GetId().GetChars();
      text = collector.GetEntries()[0].msg.GetFilledText();
    }
    EXPECT_EQ(id, c.id.empty() ? std::string() : "tool/animimport/tool_animimport_model." + c.id);
    EXPECT_NE(text.find(c.text), std::string::npos) << text;
  }
}

// A chain of 100,000 nodes under one skin: every node is a joint, each with its parent.
TEST(AnimImportSample, JointSelectionTakesLongChainsWhole) {
  SourceModel m;
  for (int i = 0; i < 100000; ++i) m.nodes.push_back(Node{std::to_string(i), i - 1});
  m.nodes.front().skinBone = m.nodes.back().skinBone = true;
  const JointSet set = SelectJoints(m);
  ASSERT_EQ(set.nodes.size(), 100000u);
  EXPECT_EQ(set.parents[99999], 99998);
  EXPECT_EQ(NodePath(m, 99999).substr(0, 7), ".../999");
}

TEST(AnimImportSample, JointsReachUpToTheLowestCommonAncestorOnly) {
  struct Case {
    std::vector<int> skin, animated, want;
  } cases[] = {
      {{6}, {4}, {2, 3, 4, 6}},     // F and D meet at B; A and R stay out, E too
      {{3, 6}, {}, {3, 6}},         // C is the top itself
      {{}, {6, 8}, {6, 8}},         // one top per tree
      {{}, {}, {}},                 // nothing marked, no joints
      {{1}, {5, 8}, {1, 2, 5, 8}},  // A is marked and the top
  };
  for (const Case& c : cases) {
    SourceModel m = TestTree();
    for (int s : c.skin) m.nodes[s].skinBone = true;
    Clip clip;
    for (int a : c.animated) clip.tracks.push_back(NodeTrack{a, {}, {}, {}});
    m.clips.push_back(clip);
    const JointSet set = SelectJoints(m);
    EXPECT_EQ(set.nodes, c.want);
    for (std::size_t j = 0; j < set.nodes.size(); ++j) {
      const int p = m.nodes[set.nodes[j]].parent;
      EXPECT_EQ(set.parents[j], p >= 0 ? set.jointOfNode[p] : -1);
    }
  }
  EXPECT_EQ(NodePath(TestTree(), 6), "R/A/B/C/F");
}

TEST(AnimImportSample, MatricesSplitIntoTranslationRotationAndScale) {
  for (const Quatd& q : {AxisAngle(0, 0, 1, 0.3), AxisAngle(1, 0, 0, 3.0), AxisAngle(0, 0.6, 0.8, -2.5)}) {
    for (double sx : {1.0, 2.0, -0.5}) {
      // Column-major R * S with translation (1, 2, 3): column i is R e_i scaled.
      const double qa[4] = {q.x, q.y, q.z, q.w}, s[3] = {sx, 3.0, 0.25};
      double m[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 1};
      for (int c = 0; c < 3; ++c) {
        const double e[3] = {c == 0 ? s[0] : 0, c == 1 ? s[1] : 0, c == 2 ? s[2] : 0};
        QuatRotate(qa, e, m + 4 * c);
      }
      Vector3d t, sc;
      Quatd got;
      DecomposeMatrix(m, &t, &got, &sc);
      const double ga[4] = {got.x, got.y, got.z, got.w};
      EXPECT_EQ(t.y, 2.0);
      EXPECT_NEAR(sc.x, sx, 1e-12);  // a mirror shows as a negative x scale
      EXPECT_NEAR(sc.z, 0.25, 1e-12);
      EXPECT_LT(QuatDist(ga, qa), 1e-12) << sx;
    }
  }
}

}  // namespace
