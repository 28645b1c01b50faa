// Tests of the skeleton: its order and every bad parent at its key (text and
// binary), the unit, forward kinematics on a hand-computed chain, and the
// object-space error against its closed form for pure rotations.
#include "util/anim/util_anim_skeleton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "tests/util/kvt/util_kvt_test_util.h"

namespace {

using boneanim_test::Env;

constexpr double kTol = 1e-12;  // double rounding of a few products, in units

// Reads text (or its binary encoding) as a reference file "rest.kvt" and
// builds its skeleton; the result is each bone in order as "name" or
// "name<parent", then every report as "ID_KEY CONTEXT INFO...".
std::string Build(const std::string& text, bool binary = false, Skeleton* out = nullptr) {
  Env env;
  const std::string data = binary ? KvtConvert(nullptr, text, qvl_KvtFlagBinary) : text;
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(data, "rest.kvt"));
  LoadedAnim map;
  SkeletonKeysRead keys;
  LoadPathAnimWithSkeletonKeys(env.handler.Get(), "rest.kvt", env.pool.Get(), s.Get(), &map, &keys);
  Skeleton skel;
  BuildSkeleton(env.handler.Get(), map, keys, &skel);
  map.ExtractAll();
  std::string r;
  for (int b = 0; b < skel.GetBoneCnt(); ++b) {
    EXPECT_LT(skel.parents[b], b);
    EXPECT_EQ(skel.FindBone(skel.names[b]), b);
    r += (b ? " " : "") + skel.names[b] + (skel.parents[b] >= 0 ? "<" + skel.names[skel.parents[b]] : "");
  }
  for (const auto& e : env.collector.GetEntries()) {
    std::string id = e.msg.GetId().GetChars();
    r += " | " + id.substr(id.rfind('.') + 1);
    for (int i = 0; i < e.msg.GetInfoCnt(); ++i) r += std::string(" ") + e.msg.GetInfo(i).GetChars();
  }
  if (out) *out = skel;
  return r;
}

// A reference file, one path per line: "name" or "name parent" (a parent
// key before the frame), each path on its own line 2, 3, ...
std::string Rest(const std::vector<std::string>& paths) {
  std::string s = "format \"quorvel_path_5\"\ndata { path_array";
  for (const std::string& p : paths) {
    const std::size_t sp = p.find(' ');
    s += "\n{ name \"" + p.substr(0, sp) + "\"";
    if (sp != std::string::npos) s += " parent \"" + p.substr(sp + 1) + "\"";
    s += " frame_array { key 0 transl 0 1 0 quat 0 0 0 1 } }";
  }
  return s + " }\n";
}

TEST(Skeleton, OrderAndBadParentsAtTheirKeys) {
  struct Case {
    std::vector<std::string> paths;
    std::string expected;
  };
  const Case cases[] = {
      // No parent key: flat, by name.
      {{"B", "A", "C"}, "A B C"},
      // Children after parents whatever the file order; siblings by name; depth first.
      {{"Hand Arm", "Arm Hips", "Leg Hips", "Hips", "Foot Leg"}, "Hips Arm<Hips Hand<Arm Leg<Hips Foot<Leg"},
      {{"A", "B Nope"}, "A B | unknown_parent rest.kvt:4:12 B Nope"},
      {{"A A", "B A"}, "A B<A | self_parent rest.kvt:3:12 A A"},
      // A cycle: the last key of the ring closes it; what hangs from the ring stays.
      {{"A C", "B A", "C B", "D C"}, "C A<C B<A D<C | cycle rest.kvt:5:12 C B"},
      {{"A B", "B A"}, "B A<B | cycle rest.kvt:4:12 B A"},
      // Two rings and a bad parent: reports in file order.
      {{"A B", "B A", "X Z", "Y X", "Z Y", "Q Q"},
       "B A<B Q Z X<Z Y<X | cycle rest.kvt:4:12 B A | cycle rest.kvt:7:12 Z Y | self_parent rest.kvt:8:12 Q "
       "Q"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Build(Rest(c.paths)), c.expected) << Rest(c.paths);
  }
  // The binary encoding gives byte offsets, the same bones and messages.
  const std::string bin = Build(Rest({"A", "B Nope"}), true);
  EXPECT_EQ(bin.rfind("A B | unknown_parent rest.kvt:@", 0), 0u) << bin;
  EXPECT_NE(bin.find(" B Nope"), std::string::npos) << bin;
}

TEST(Skeleton, SecondParentCountsAndReplacedPathsAreIgnored) {
  const std::string head = "format \"quorvel_path_5\" data { path_array ";
  struct Case {
    std::string paths;
    std::string expected;
  };
  const Case cases[] = {
      {"{ name \"A\" } { name \"B\" parent \"X\" parent \"A\" }", "A B<A | dup_parent rest.kvt:1:78 B A X"},
      // The later key counts even when it is the bad one.
      {"{ name \"A\" } { name \"B\" parent \"A\" parent \"B\" }",
       "A B | dup_parent rest.kvt:1:78 B B A | self_parent rest.kvt:1:78 B B"},
      // A second path "B" replaces the first with its parent key.
      {"{ name \"A\" } { name \"B\" parent \"Nope\" } { name \"B\" parent \"A\" }", "A B<A"},
      {"{ name \"A\" } { name \"B\" parent \"A\" } { name \"B\" }", "A B"},
  };
  for (const Case& c : cases) EXPECT_EQ(Build(head + c.paths + " }"), c.expected) << c.paths;
  Skeleton s;
  Build(head + "{ name \"A\" } { name \"B\" } }", false, &s);
  EXPECT_FALSE(s.HasHierarchy());
  Build(head + "{ name \"A\" parent \"A\" } { name \"B\" } }", false, &s);
  EXPECT_TRUE(s.HasHierarchy());  // repaired to flat, still a skeleton that was asked for
  EXPECT_EQ(s.FindBone("C"), -1);
}

TEST(Skeleton, DeepChainInReverseOrder) {
  // 20,000 bones, each the child of the next one in the file: no recursion,
  // and the cost stays linear enough to run in a test.
  constexpr int kCnt = 20000;
  std::vector<std::string> paths;
  for (int i = 0; i < kCnt; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, i + 1 < kCnt ? "b%05d b%05d" : "b%05d", i, i + 1);
    paths.push_back(buf);
  }
  Skeleton s;
  EXPECT_EQ(Build(Rest(paths), false, &s).find('|'), std::string::npos);
  ASSERT_EQ(s.GetBoneCnt(), kCnt);
  EXPECT_EQ(s.names[0], "b19999");
  EXPECT_EQ(s.names[kCnt - 1], "b00000");
  int chained = 0;
  for (int b = 1; b < kCnt; ++b) chained += s.parents[b] == b - 1;
  EXPECT_EQ(chained, kCnt - 1);
}

TEST(Skeleton, MetersPerUnit) {
  struct Case {
    std::string value;
    double expected;
    bool reported;
  };
  for (const Case& c : {Case{"0.01", 0.01f, false}, Case{"1", 1.0, false}, Case{"0", 0.0, true},
                        Case{"-1", 0.0, true}, Case{"nan", 0.0, true}, Case{"inf", 0.0, true}}) {
    Env env;
    const std::string text = "format \"quorvel_path_5\"\ndata { meters_per_unit " + c.value + " }";
    qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(text, "rest.kvt"));
    LoadedAnim map;
    SkeletonKeysRead keys;
    LoadPathAnimWithSkeletonKeys(env.handler.Get(), "rest.kvt", env.pool.Get(), s.Get(), &map, &keys);
    EXPECT_EQ(CheckMetersPerUnit(env.handler.Get(), keys), c.expected) << c.value;
    std::vector<std::string> want;
    if (c.reported) want.push_back("2 util/anim/util_anim_skeleton.bad_unit | rest.kvt:2:8 | " + c.value);
    EXPECT_EQ(env.Lines(), want) << c.value;
  }
}

Quatd AxisAngle(Vector3d n, double rad) {
  const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  const double s = std::sin(rad / 2) / len;
  return Quatd{n.x * s, n.y * s, n.z * s, std::cos(rad / 2)};
}

TEST(Skeleton, HandBuiltChainInObjectSpace) {
  // Root at the origin, then two bones 1 unit along x each; the second pose
  // has 10° more at the root. Every point of the chain turns about the
  // origin by 10°, so a point at distance r moves 2·r·sin 5°: the root's
  // shell points r = D; for the others r is the distance of their farthest
  // point from the z axis.
  const double d = 0.25;
  const double deg = M_PI / 180;
  const int parents[] = {-1, 0, 1};
  const Quatd bend = AxisAngle({0, 1, 0}, 30 * deg);  // the middle bone bends the tip
  const PoseD localA[] = {{{0, 0, 0}, {0, 0, 0, 1}}, {{1, 0, 0}, bend}, {{1, 0, 0}, {0, 0, 0, 1}}};
  PoseD localB[3] = {localA[0], localA[1], localA[2]};
  localB[0].quat = AxisAngle({0, 0, 1}, 10 * deg);
  PoseD a[3], b[3];
  ComputeModelPoses(parents, localA, a);
  ComputeModelPoses(parents, localB, b);
  // The tip sits 1 along the bent direction: (1 + cos 30°, 0, −sin 30°).
  EXPECT_NEAR(a[2].transl.x, 1 + std::cos(30 * deg), kTol);
  EXPECT_NEAR(a[2].transl.z, -std::sin(30 * deg), kTol);
  EXPECT_NEAR(ObjectSpaceError(a[0], b[0], d), 2 * d * std::sin(5 * deg), kTol);
  // The middle bone's farthest point from the z axis is its x point, bent with it.
  EXPECT_NEAR(ObjectSpaceError(a[1], b[1], d), 2 * (1 + d * std::cos(30 * deg)) * std::sin(5 * deg), kTol);
  // The tip's farthest point from the z axis: its x point, at distance
  // √((1 + (1 + D)·cos 30°)² + 0²) from the axis (z does not count).
  const double tipR = 1 + (1 + d) * std::cos(30 * deg);
  EXPECT_NEAR(ObjectSpaceError(a[2], b[2], d), 2 * tipR * std::sin(5 * deg), kTol);
  // A translation error alone moves all four points alike.
  PoseD moved = a[2];
  moved.transl.y += 0.125;
  EXPECT_NEAR(ObjectSpaceError(a[2], moved, d), 0.125, kTol);
  EXPECT_EQ(ObjectSpaceError(a[2], a[2], d), 0.0);
}

TEST(Skeleton, PureRotationErrorIsTheClosedForm) {
  // 2·D·sin(θ/2)·maxᵢ √(1 − nᵢ²) over axes of the bone's frame and angles up
  // to 180°, from a pose that is itself turned and moved.
  const Vector3d axes[] = {{1, 0, 0}, {0, 1, 0},    {0, 0, 1},     {1, 1, 0},
                           {1, 1, 1}, {-2, 0.5, 3}, {0.1, -0.2, 7}};
  const PoseD a{{0.3, -1.2, 2.5}, AxisAngle({0.2, 0.9, -0.4}, 1.1)};
  int failures = 0;
  for (const Vector3d& n0 : axes) {
    const double len = std::sqrt(n0.x * n0.x + n0.y * n0.y + n0.z * n0.z);
    const Vector3d n{n0.x / len, n0.y / len, n0.z / len};
    const double reach = std::sqrt(1 - std::min({n.x * n.x, n.y * n.y, n.z * n.z}));
    for (int k = 0; k <= 36; ++k) {
      const double theta = k * M_PI / 36;
      const PoseD b{a.transl, Mul(a.quat, AxisAngle(n, theta))};
      for (const double d : {0.03, 1.0, 40.0}) {
        const double want = 2 * d * std::sin(theta / 2) * reach;
        failures += std::fabs(ObjectSpaceError(a, b, d) - want) > 1e-12 * (1 + d);
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(Skeleton, DefaultShellDistance) {
  const PoseD joints[] = {
      {{0, 0, 0}, {0, 0, 0, 1}}, {{0.3, 1.8, -0.4}, {0, 0, 0, 1}}, {{-0.3, 1, 0.2}, {0, 0, 0, 1}}};
  ShellDistance s = DefaultShellDistance(0.01, joints);
  EXPECT_EQ(s.source, ShellSource::kUnit);
  EXPECT_NEAR(s.distance, 3.0, 1e-12);
  s = DefaultShellDistance(0.0, joints);
  EXPECT_EQ(s.source, ShellSource::kBox);
  EXPECT_NEAR(s.boxDiagonal, std::sqrt(0.36 + 3.24 + 0.36), 1e-12);  // box 0.6 x 1.8 x 0.6
  EXPECT_NEAR(s.distance, 0.015 * s.boxDiagonal, 1e-15);
  EXPECT_EQ(DefaultShellDistance(0.0, std::span<const PoseD>(joints, 1)).distance, 1.0);  // no size
  EXPECT_EQ(DefaultShellDistance(-1.0, {}).distance, 1.0);
}

}  // namespace
