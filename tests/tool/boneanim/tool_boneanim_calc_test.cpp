// Tests of the relative animation calculation through small files in the
// text encoding: messages and their order, reference poses, hemisphere and
// identity rules, key merging, deviation reports, masks and the range.
#include "tool/boneanim/tool_boneanim_calc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"

namespace {

using boneanim_test::Env;

constexpr float kTol = 1e-6f;  // rounding of the quaternion formulas

std::string Num(float v) {
  if (std::isnan(v)) return "nan";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  return buf;
}

struct Frame {
  float t;
  Vector3 tr;
  Quat q;
};

Frame F(float t, Vector3 tr, Quat q = Quat{0.0f, 0.0f, 0.0f, 1.0f}) {
  return Frame{t, tr, q};
}

struct Bone {
  std::string name;
  std::vector<Frame> frames;
  float rangeStart = 0.0f;
  float rangeEnd = 1.0f;
};

std::string PathFile(const std::vector<Bone>& bones) {
  std::string s = "format \"quorvel_path_5\"\ndata {\n  path_array";
  for (const Bone& b : bones) {
    s += " {\n    name \"" + b.name + "\"\n    range " + Num(b.rangeStart) + " " + Num(b.rangeEnd) + "\n";
    if (!b.frames.empty()) s += "    frame_array";
    for (const Frame& f : b.frames) {
      s += " { key " + Num(f.t) + " transl " + Num(f.tr.x) + " " + Num(f.tr.y) + " " + Num(f.tr.z) +
           " quat " + Num(f.q.x) + " " + Num(f.q.y) + " " + Num(f.q.z) + " " + Num(f.q.w) + " }";
    }
    s += "\n  }";
  }
  return s + "\n}\n";
}

// A job in the pool, as ReadJob would leave it.
struct JobSetup {
  const char* ref = "ref.kvt";
  const char* anim = "anim.kvt";
  bool doTransl = true;
  bool doQuat = true;
  float epsTransl = 0.0f;
  float epsQuat = 0.0f;
  std::vector<std::pair<const char*, float>> masks;
};

BoneAnimJob* MakeJob(Env& env, const JobSetup& setup) {
  qvl_CUtilMemPool* pool = env.pool.Get();
  auto* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  job->info = qvl_CUtilMemPoolStr::Alloc(pool, "job.kvt:1:1");
  job->ref_path = setup.ref ? qvl_CUtilMemPoolStr::Alloc(pool, setup.ref) : nullptr;
  job->anim_path = setup.anim ? qvl_CUtilMemPoolStr::Alloc(pool, setup.anim) : nullptr;
  job->do_transl = setup.doTransl;
  job->do_quat = setup.doQuat;
  job->identity_eps_transl = setup.epsTransl;
  job->identity_eps_quat = setup.epsQuat;
  for (const auto& m : setup.masks) {
    auto* e = static_cast<MaskEntry*>(pool->Alloc(sizeof(MaskEntry), alignof(MaskEntry)));
    e->bone_pat = qvl_CUtilMemPoolStr::Alloc(pool, m.first);
    e->bone_pat_info = qvl_CUtilMemPoolStr::Alloc(pool, m.first);
    e->wgh = m.second;
    job->masks.Append(pool, e);
  }
  return job;
}

// The calculation run on ref.kvt and anim.kvt in a fresh directory.
struct CalcRun {
  qvl_TestDir dir;
  Env env;
  RelativeAnim* result = nullptr;
  std::string refPath = dir / "ref.kvt";
  std::string animPath = dir / "anim.kvt";

  CalcRun(const std::string& refText, const std::string& animText, const JobSetup& setup) {
    qvl_TestDir::WriteFile(refPath, refText);
    qvl_TestDir::WriteFile(animPath, animText);
    result = CalcRelativeAnim(env.handler.Get(), env.pool.Get(), dir.Path().c_str(), MakeJob(env, setup));
  }
  CalcRun(const std::vector<Bone>& ref, const std::vector<Bone>& anim, const JobSetup& setup)
      : CalcRun(PathFile(ref), PathFile(anim), setup) {}
  std::vector<std::string> BoneNames() const { return Strings(result->boneNames); }
  std::vector<std::string> MaskNames() const { return Strings(result->maskNames); }
  std::vector<float> KeyTimes() const {
    return std::vector<float>(result->keyTimes.items, result->keyTimes.items + result->keyTimes.count);
  }
  const Pose& Key(int k, int b) const { return result->keys.RefAt(k * result->boneNames.count + b); }
  static std::vector<std::string> Strings(const qvl_CUtilMemPoolArray<const char*>& a) {
    std::vector<std::string> out;
    for (int i = 0; i < a.count; ++i) out.push_back(a.GetAt(i) ? a.GetAt(i) : "<null>");
    return out;
  }
};

const Quat kId{0.0f, 0.0f, 0.0f, 1.0f};
const Quat kRotZ90{0.0f, 0.0f, 0.70710678f, 0.70710678f};

void ExpectPose(const Pose& p, Vector3 t, Quat q) {
  EXPECT_NEAR(p.transl.x, t.x, kTol);
  EXPECT_NEAR(p.transl.y, t.y, kTol);
  EXPECT_NEAR(p.transl.z, t.z, kTol);
  EXPECT_NEAR(p.quat.x, q.x, kTol);
  EXPECT_NEAR(p.quat.y, q.y, kTol);
  EXPECT_NEAR(p.quat.z, q.z, kTol);
  EXPECT_NEAR(p.quat.w, q.w, kTol);
}

TEST(CalcRelativeAnim, MessagesInOrderWithTheirInfos) {
  const std::vector<Bone> ref = {
      {"A", {F(0, {1, 0, 0})}},
      {"C", {F(0, {0, 2, 0}, kRotZ90)}},
  };
  const std::vector<Bone> anim = {
      {"D", {F(0, {0, 0, 0})}},                                     // not in the reference, identity: dropped
      {"C", {F(0, {0, 2, 0}, kRotZ90), F(2, {0, 2, 0}, kRotZ90)}},  // equals the reference: dropped
      {"B", {F(0.5f, {0, 0, 0}, Quat{0, 0, 1, 0})}},  // not in the reference, rotated by 180 degrees
      {"A", {F(0, {1, 0, 0}), F(1, {4, 4, 0})}},      // moved by (3, 4, 0)
  };
  JobSetup setup;
  setup.doTransl = false;
  setup.doQuat = false;
  setup.epsQuat = 1e-5f;  // C's inverse-times-itself is the identity only within rounding
  CalcRun run(ref, anim, setup);
  const std::string ctx = "job.kvt:1:1";
  const std::string p = " | " + run.animPath + " | " + run.refPath;
  const std::string id = "tool/boneanim/tool_boneanim_calc.";
  EXPECT_EQ(run.env.Lines(), (std::vector<std::string>{
                                 "1 " + id + "load_ref |  | " + run.refPath,
                                 "1 " + id + "load_anim |  | " + run.animPath,
                                 "2 " + id + "ref_not_defined | " + ctx + p + " | B",
                                 "2 " + id + "ref_not_defined | " + ctx + p + " | D",
                                 "2 " + id + "has_transl | " + ctx + p + " | A | 5",
                                 "2 " + id + "has_quat | " + ctx + p + " | B | 1.4142135",
                                 "1 " + id + "result | " + p + " | 0 | 2 | 3",
                             }));
  // The other texts are asserted on the console by the program tests.
  EXPECT_EQ(run.env.collector.GetEntries()[4].msg.GetFilledText(),
            "Bone \"A\" of animation \"" + run.animPath +
                "\" has bones which are translated relative to the reference \"" + run.refPath + "\" by 5 ");

  // Key matrix, key-major: A's translation interpolated at 0.5, B held at 0.
  EXPECT_EQ(run.BoneNames(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(run.KeyTimes(), (std::vector<float>{0.0f, 0.5f, 1.0f}));
  ASSERT_EQ(run.result->keys.count, 6);
  const Quat half{0, 0, 1, 0};
  ExpectPose(run.Key(0, 0), {0, 0, 0}, kId);
  ExpectPose(run.Key(0, 1), {0, 0, 0}, half);
  ExpectPose(run.Key(1, 0), {1.5f, 2, 0}, kId);
  ExpectPose(run.Key(1, 1), {0, 0, 0}, half);
  ExpectPose(run.Key(2, 0), {3, 4, 0}, kId);
  ExpectPose(run.Key(2, 1), {0, 0, 0}, half);
  EXPECT_FALSE(run.result->doTransl);
  EXPECT_FALSE(run.result->doQuat);
}

TEST(CalcRelativeAnim, RelativeToTheReferencePose) {
  // Reference at (1, 0, 0) rotated 90 degrees about z; the animation moves
  // one unit along world y, which is the reference's local x.
  const std::vector<Bone> ref = {{"A", {F(5, {1, 0, 0}, kRotZ90), F(6, {9, 9, 9})}}};  // first key counts
  const std::vector<Bone> anim = {{"A", {F(0, {1, 1, 0}, kRotZ90)}}};
  CalcRun run(ref, anim, JobSetup{});
  ASSERT_EQ(run.BoneNames(), (std::vector<std::string>{"A"}));
  ASSERT_EQ(run.result->keys.count, 1);
  ExpectPose(run.Key(0, 0), {1, 0, 0}, kId);
}

TEST(CalcRelativeAnim, ZeroReferenceRotationDropsTheBoneSilently) {
  // The reference frame has no "quat": its rotation is (0, 0, 0, 0), every
  // relative value is non-finite, the relative path stays empty (identity).
  JobSetup setup;
  setup.doTransl = false;
  setup.doQuat = false;
  setup.masks = {{"A", 1.0f}};
  CalcRun run("format \"quorvel_path_5\" data { path_array { name \"A\" frame_array { key 0.0 } } }",
              PathFile({{"A", {F(0, {1, 2, 3}, kRotZ90)}}}), setup);
  EXPECT_EQ(run.env.Ids(), (std::vector<std::string>{"1 load_ref", "1 load_anim", "1 result", "2 no_bones"}));
  EXPECT_EQ(run.result->boneNames.count, 0);
  EXPECT_EQ(run.MaskNames(), (std::vector<std::string>{"A"}));  // dropped bones still get masks
}

TEST(CalcRelativeAnim, HemisphereRules) {
  const std::vector<Bone> ref = {{"A", {F(0, {0, 0, 0})}}, {"B", {F(0, {0, 0, 0})}}};
  const std::vector<Bone> anim = {
      // (0, 0, 0, -1) is the identity rotation: negated at the first key, then exact identity.
      {"A", {F(0, {0, 0, 0}, Quat{0, 0, 0, -1}), F(1, {0, 0, 0}, Quat{-0.0f, 0, 0, -1})}},
      // The second key lies in the other hemisphere of the first and is negated.
      {"B", {F(0, {0, 0, 0}, Quat{0, 0, 0, -1}), F(1, {0, 0, 0}, Quat{0, 0, 0.70710678f, -0.70710678f})}},
  };
  CalcRun run(ref, anim, JobSetup{});
  EXPECT_EQ(run.BoneNames(), (std::vector<std::string>{"B"}));
  ASSERT_EQ(run.result->keys.count, 2);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(run.Key(0, 0).quat.w), 0x3F800000u);
  ExpectPose(run.Key(1, 0), {0, 0, 0}, Quat{0, 0, -0.70710678f, 0.70710678f});
}

TEST(CalcRelativeAnim, DeviationReportsTakeTheLargestValueAfterSnapping) {
  const std::vector<Bone> ref = {{"A", {F(0, {0, 0, 0})}}, {"B", {F(0, {0, 0, 0})}}};
  const std::vector<Bone> anim = {
      {"A", {F(0, {0.3f, 0, 0}), F(1, {0, 0, 2}), F(2, {0, 1.5f, 0})}},
      // Rotation only; its small translation snaps to zero, so no translation report.
      {"B", {F(0, {0.25f, 0, 0}, Quat{0, 0, 0.38268343f, 0.92387953f}), F(3, {0, 0, 0}, kRotZ90)}},
  };
  struct Case {
    bool doTransl;
    bool doQuat;
    std::vector<std::string> ids;
  };
  const Case cases[] = {
      {false, false, {"1 load_ref", "1 load_anim", "2 has_transl", "2 has_quat", "1 result"}},
      {true, false, {"1 load_ref", "1 load_anim", "2 has_quat", "1 result"}},
      {false, true, {"1 load_ref", "1 load_anim", "2 has_transl", "1 result"}},
      {true, true, {"1 load_ref", "1 load_anim", "1 result"}},
  };
  for (const Case& c : cases) {
    JobSetup setup;
    setup.doTransl = c.doTransl;
    setup.doQuat = c.doQuat;
    setup.epsTransl = 0.5f;
    CalcRun run(ref, anim, setup);
    EXPECT_EQ(run.env.Ids(), c.ids) << c.doTransl << c.doQuat;
    for (const auto& e : run.env.collector.GetEntries()) {
      std::string id = e.msg.GetId().GetChars();
      if (id.ends_with("has_transl")) {
        EXPECT_STREQ(e.msg.GetInfo(3).GetChars(), "A");
        EXPECT_STREQ(e.msg.GetInfo(4).GetChars(), "2");
      }
      if (id.ends_with("has_quat")) {
        EXPECT_STREQ(e.msg.GetInfo(3).GetChars(), "B");
        // 90 degrees about z: sqrt(0.5 + (0.70710678 - 1)^2) = 0.76536686.
        const float dev = std::stof(e.msg.GetInfo(4).GetChars());
        EXPECT_NEAR(dev, 0.76536686f, kTol);
      }
    }
    EXPECT_EQ(run.result->doTransl, c.doTransl);
    EXPECT_EQ(run.result->doQuat, c.doQuat);
  }
}

TEST(CalcRelativeAnim, MasksTakeTheLargestMatchingWeight) {
  const std::vector<Bone> ref = {
      {"Arm", {F(0, {0, 0, 0})}}, {"Head", {F(0, {0, 0, 0})}}, {"Leg", {F(0, {0, 0, 0})}}};
  const std::vector<Bone> anim = {
      {"Arm", {F(0, {1, 0, 0})}},
      {"Head", {F(0, {0, 0, 0})}},  // identity: dropped, still masked
      {"Leg", {F(0, {1, 0, 0})}},
      {"Tail", {F(0, {1, 0, 0})}},  // not in the reference, still masked
  };
  struct Case {
    std::vector<std::pair<const char*, float>> masks;
    std::vector<std::string> names;
    std::vector<float> weights;
  };
  const Case cases[] = {
      {{}, {}, {}},
      {{{"*", 0.3f},
        {"A*", 0.7f},
        {"Leg", 0.0f},
        {"H??d", 0.2f},
        {"Tail", -1.0f},
        {"Ta*", 0.4f},
        {"A*", 0.5f}},
       {"Arm", "Head", "Leg", "Tail"},
       {0.7f, 0.3f, 0.3f, 0.4f}},
      {{{"A*", 0.7f}, {"*", 0.3f}}, {"Arm", "Head", "Leg", "Tail"}, {0.7f, 0.3f, 0.3f, 0.3f}},
      {{{"Leg", 0.0f}, {"Tail", -1.0f}, {"arm", 1.0f}}, {}, {}},
      {{{"?e*", 0.25f}}, {"Head", "Leg"}, {0.25f, 0.25f}},
  };
  for (const Case& c : cases) {
    JobSetup setup;
    setup.masks = c.masks;
    CalcRun run(ref, anim, setup);
    EXPECT_EQ(run.MaskNames(), c.names);
    ASSERT_EQ(run.result->maskWeights.count, static_cast<int>(c.weights.size()));
    for (std::size_t i = 0; i < c.weights.size(); ++i)
      EXPECT_EQ(run.result->maskWeights.GetAt(static_cast<int>(i)), c.weights[i]);
    const auto& last = run.env.collector.GetEntries().back();  // ref_not_defined for Tail comes before
    EXPECT_STREQ(last.msg.GetInfo(3).GetChars(), std::to_string(c.names.size()).c_str());
    EXPECT_EQ(run.BoneNames(), (std::vector<std::string>{"Arm", "Leg", "Tail"}));
  }
}

TEST(CalcRelativeAnim, RangeCoversEveryAnimationPath) {
  std::vector<Bone> anim = {
      {"A", {F(0, {1, 0, 0})}, 0.0f, 1.0f},
      {"B", {F(0, {0, 0, 0})}, -2.0f, 0.5f},  // dropped as identity
      {"C", {F(0, {1, 0, 0})}, NAN, 3.0f},    // not in the reference; NaN replaces nothing
  };
  CalcRun run({{"A", {F(0, {0, 0, 0})}}, {"B", {F(0, {0, 0, 0})}}}, anim, JobSetup{});
  EXPECT_EQ(run.result->rangeStart, -2.0f);
  EXPECT_EQ(run.result->rangeEnd, 3.0f);
}

TEST(CalcRelativeAnim, EmptyAnimationGivesNoBones) {
  JobSetup setup;
  setup.doTransl = false;
  setup.doQuat = false;
  setup.masks = {{"*", 1.0f}};
  CalcRun run({{"A", {F(0, {0, 0, 0})}}}, {}, setup);
  EXPECT_EQ(run.result->rangeStart, FLT_MAX);
  EXPECT_EQ(run.result->rangeEnd, -FLT_MAX);
  EXPECT_EQ(run.result->keyTimes.count, 0);
  EXPECT_EQ(run.result->keys.count, 0);
  EXPECT_EQ(run.result->maskNames.count, 0);
  const auto lines = run.env.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "1 tool/boneanim/tool_boneanim_calc.result |  | " + run.animPath + " | " + run.refPath +
                          " | 0 | 0 | 0");
  EXPECT_EQ(lines[3], "2 tool/boneanim/tool_boneanim_calc.no_bones | job.kvt:1:1 | " + run.animPath + " | " +
                          run.refPath);
}

TEST(CalcRelativeAnim, EmptyReferencePathComputesAgainstTheIdentity) {
  JobSetup setup;
  setup.ref = nullptr;  // a null path counts as ""
  // A ref.kvt beside the animation is not read: A keeps its absolute values.
  CalcRun run({{"A", {F(0, {0, 0, 1})}}}, {{"A", {F(0, {1, 2, 3})}}, {"B", {F(0, {0, 0, 0})}}}, setup);
  EXPECT_EQ(run.env.Ids(), (std::vector<std::string>{"1 load_ref", "1 load_anim", "2 ref_not_defined",
                                                     "2 ref_not_defined", "1 result"}));
  EXPECT_STREQ(run.env.collector.GetEntries()[0].msg.GetInfo(1).GetChars(), "");
  ASSERT_EQ(run.BoneNames(), (std::vector<std::string>{"A"}));
  EXPECT_EQ(run.Key(0, 0).transl.z, 3.0f);  // absolute values
}

TEST(CalcRelativeAnim, MissingReferenceFileIsReportedAndTheRunGoesOn) {
  JobSetup setup;
  setup.ref = "missing.kvt";
  CalcRun run({{"A", {F(0, {0, 0, 0})}}}, {{"A", {F(0, {1, 2, 3})}}}, setup);
  const auto ids = run.env.Ids();
  ASSERT_GE(ids.size(), 4u);
  EXPECT_EQ(ids.front(), "1 load_ref");
  EXPECT_EQ(ids.back(), "1 result");
  EXPECT_NE(std::find(ids.begin(), ids.end(), "2 ref_not_defined"), ids.end());
  EXPECT_EQ(run.result->boneNames.count, 1);
}

TEST(CalcRelativeAnim, WithoutHandlerTheFirstErrorIsThrown) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "ref.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}}));
  qvl_TestDir::WriteFile(dir / "anim.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}, {"Z", {F(0, {1, 0, 0})}}}));
  Env env;
  JobSetup setup;
  try {
    CalcRelativeAnim(nullptr, env.pool.Get(), dir.Path().c_str(), MakeJob(env, setup));
    ADD_FAILURE() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), "tool/boneanim/tool_boneanim_calc.ref_not_defined");
    EXPECT_STREQ(m.GetInfo(3).GetChars(), "Z");
  }
  qvl_TestDir::WriteFile(dir / "anim.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}}));
  try {
    CalcRelativeAnim(nullptr, env.pool.Get(), dir.Path().c_str(), MakeJob(env, setup));
    ADD_FAILURE() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), "tool/boneanim/tool_boneanim_calc.no_bones");
  }
}

TEST(MakeRelativePath, OneKeyPerDistinctTimeOfEitherTrack) {
  Env env;
  qvl_CUtilMemPool* pool = env.pool.Get();
  EXPECT_EQ(MakeRelativePath(pool, nullptr, Pose{{0, 0, 0}, kId}), nullptr);
  AnimPath path{};
  char name[] = "A";
  path.name = name;
  AddKey(path.translTrack, pool, 0.0f, Vector3{0, 0, 0});
  AddKey(path.translTrack, pool, 2.0f, Vector3{2, 0, 0});
  AddKey(path.translTrack, pool, 2.0f, Vector3{4, 0, 0});  // equal time: one key
  AddKey(path.quatTrack, pool, 1.0f, kRotZ90);
  const AnimPath* rel = MakeRelativePath(pool, &path, Pose{{1, 0, 0}, kId});
  EXPECT_EQ(rel->name, path.name);
  ASSERT_EQ(rel->translTrack.count, 3);
  ASSERT_EQ(rel->quatTrack.count, 3);
  const float times[] = {0.0f, 1.0f, 2.0f};
  const float xs[] = {-1.0f, 0.0f, 1.0f};  // translation interpolated at 1, first of equal keys at 2
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rel->translTrack.RefAt(i).time, times[i]);
    EXPECT_EQ(rel->quatTrack.RefAt(i).time, times[i]);
    EXPECT_NEAR(rel->translTrack.RefAt(i).value.x, xs[i], kTol);
    EXPECT_NEAR(rel->quatTrack.RefAt(i).value.z, kRotZ90.z, kTol);  // held before and after its one key
  }
}

TEST(MakeRelativePath, ARotationThatOverflowsIsDroppedAndTheNextKeyStillFollowsTheKeptOnes) {
  Env env;
  qvl_CUtilMemPool* pool = env.pool.Get();
  AnimPath path{};
  // The inverse of a reference rotation of length 1e-19 scales by about
  // 1e19: the key at 1 overflows to (0, 0, inf, -inf) and is dropped; the key
  // at 2 comes out near (0, 0, 0, -1e37) and must be flipped into the
  // hemisphere of the kept key at 0, not compared with the dropped one.
  AddKey(path.quatTrack, pool, 0.0f, Quat{0.0f, 0.0f, 0.0f, 1.0f});
  AddKey(path.quatTrack, pool, 1.0f, Quat{0.0f, 0.0f, 1e20f, -1e20f});
  AddKey(path.quatTrack, pool, 2.0f, Quat{0.0f, 0.0f, 0.0f, -1e18f});
  const AnimPath* rel = MakeRelativePath(pool, &path, Pose{{0, 0, 0}, Quat{0.0f, 0.0f, 0.0f, 1e-19f}});
  ASSERT_EQ(rel->quatTrack.count, 2);
  EXPECT_GT(rel->quatTrack.RefAt(0).value.w, 0.0f);
  EXPECT_EQ(rel->quatTrack.RefAt(1).time, 2.0f);
  EXPECT_GT(rel->quatTrack.RefAt(1).value.w, 1e36f);
  EXPECT_EQ(rel->translTrack.count, 3);
}

TEST(GetAnimRange, StrictComparisonsOnly) {
  Env env;
  LoadedAnim map;
  AnimPath p[3]{};
  char n0[] = "a", n1[] = "b", n2[] = "c";
  p[0].name = n0;
  p[0].rangeStart = NAN;
  p[0].rangeEnd = NAN;
  p[1].name = n1;
  p[1].rangeStart = 4.0f;
  p[1].rangeEnd = 5.0f;
  p[2].name = n2;
  p[2].rangeStart = -1.0f;
  p[2].rangeEnd = 0.0f;
  for (AnimPath& x : p) InsertPath(&map, env.pool.Get(), x.name, &x);
  float s = 0.0f;
  float e = 0.0f;
  GetAnimRange(map, s, e);
  EXPECT_EQ(s, -1.0f);
  EXPECT_EQ(e, 5.0f);
}

}  // namespace

namespace {

// Restores the key-matrix budget when a test ends.
struct BudgetScope {
  std::uint64_t saved = GetKeyMatrixBudget();
  explicit BudgetScope(std::uint64_t bytes) { SetKeyMatrixBudget(bytes); }
  ~BudgetScope() { SetKeyMatrixBudget(saved); }
};

TEST(CalcRelativeAnim, KeyMatrixBeyondTheBudgetIsAnErrorBeforeItIsAllocated) {
  // 40 bones with one key each, all at different times: 40 key times, a
  // matrix of 1600 poses of 28 bytes = 44800 bytes.
  std::vector<Bone> anim;
  for (int b = 0; b < 40; ++b) anim.push_back({std::to_string(100 + b), {F(0.25f * b, {1, 0, 0})}});
  const std::string id = "tool/boneanim/tool_boneanim_calc.";
  EXPECT_EQ(kKeyMatrixBudgetDefault, std::uint64_t{2147483648});
  for (const std::uint64_t budget : {std::uint64_t{44800}, std::uint64_t{44799}}) {
    SCOPED_TRACE(budget);
    BudgetScope scope(budget);
    CalcRun run(std::vector<Bone>{}, anim, JobSetup{});
    std::vector<std::string> ids = run.env.Ids();
    // Only the bones missing from the (empty) reference and the closing report otherwise.
    ids.erase(std::remove(ids.begin(), ids.end(), "2 ref_not_defined"), ids.end());
    EXPECT_EQ(run.result->boneNames.count, 40);
    if (budget == 44800) {
      EXPECT_EQ(ids, (std::vector<std::string>{"1 load_ref", "1 load_anim", "1 result"}));
      EXPECT_EQ(run.result->keyTimes.count, 40);
      EXPECT_EQ(run.result->keys.count, 1600);
      EXPECT_EQ(run.result->keys.capacity, 1600);  // sized once, from the merged key count
      ExpectPose(run.Key(39, 39), {1, 0, 0}, kId);
    } else {
      EXPECT_EQ(ids, (std::vector<std::string>{"1 load_ref", "1 load_anim", "2 key_budget", "1 result"}));
      const auto& entries = run.env.collector.GetEntries();
      const auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const auto& e) { return e.msg.GetId().View() == id + "key_budget"; });
      ASSERT_NE(it, entries.end());
      std::string line = "2 " + id;
      line += "key_budget | job.kvt:1:1 | ";
      line += run.animPath;
      line += " | 40 | 40 | 44800 | 44799 | 2147483647";
      EXPECT_EQ(Env::Line(it->level, it->msg), line);
      // Nothing of the matrix was allocated, and K x B still holds.
      EXPECT_EQ(run.result->keyTimes.count, 0);
      EXPECT_EQ(run.result->keys.count, 0);
      EXPECT_EQ(run.result->keys.capacity, 0);
    }
  }
}

}  // namespace
