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
using boneanim_test::TempDir;

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
struct JobSpec {
  const char* ref = "ref.kvt";
  const char* anim = "anim.kvt";
  bool doTransl = true;
  bool doQuat = true;
  float epsTransl = 0.0f;
  float epsQuat = 0.0f;
  std::vector<std::pair<const char*, float>> masks;
};

BoneAnimJob* MakeJob(Env& env, const JobSpec& spec) {
  qvl_CUtilMemPool* pool = env.pool.Get();
  auto* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  job->info = qvl_CUtilMemPoolStr::Alloc(pool, "job.kvt:1:1");
  job->ref_path = spec.ref ? qvl_CUtilMemPoolStr::Alloc(pool, spec.ref) : nullptr;
  job->anim_path = spec.anim ? qvl_CUtilMemPoolStr::Alloc(pool, spec.anim) : nullptr;
  job->do_transl = spec.doTransl;
  job->do_quat = spec.doQuat;
  job->identity_eps_transl = spec.epsTransl;
  job->identity_eps_quat = spec.epsQuat;
  for (const auto& m : spec.masks) {
    auto* e = static_cast<MaskEntry*>(pool->Alloc(sizeof(MaskEntry), alignof(MaskEntry)));
    e->bone_pat = qvl_CUtilMemPoolStr::Alloc(pool, m.first);
    e->bone_pat_info = qvl_CUtilMemPoolStr::Alloc(pool, m.first);
    e->wgh = m.second;
    job->masks.Append(pool, e);
  }
  return job;
}

struct CalcRun {
  TempDir dir;
  Env env;
  RelativeAnim* result = nullptr;
  std::string refPath;
  std::string animPath;

  CalcRun(const std::vector<Bone>& ref, const std::vector<Bone>& anim, const JobSpec& spec) {
    refPath = dir.Write("ref.kvt", PathFile(ref));
    animPath = dir.Write("anim.kvt", PathFile(anim));
    result = CalcRelativeAnim(env.handler.Get(), env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
  }
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
  JobSpec spec;
  spec.doTransl = false;
  spec.doQuat = false;
  spec.epsQuat = 1e-5f;  // C's inverse-times-itself is the identity only within rounding
  CalcRun run(ref, anim, spec);
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
  const auto& e = run.env.collector.GetEntries();
  EXPECT_EQ(e[0].msg.GetFilledText(), "Loading reference file \"" + run.refPath + "\"...");
  EXPECT_EQ(e[2].msg.GetFilledText(), "Animation \"" + run.animPath +
                                          "\" uses bone \"B\" which is not defined in reference \"" +
                                          run.refPath + "\". ");
  EXPECT_EQ(e[4].msg.GetFilledText(), "Bone \"A\" of animation \"" + run.animPath +
                                          "\" has bones which are translated relative to the reference \"" +
                                          run.refPath + "\" by 5 ");
  EXPECT_EQ(e[6].msg.GetFilledText(), "Processed animation \"" + run.animPath + "\" relative to \"" +
                                          run.refPath +
                                          "\" using 0 mask bones, 2 animation bones, and 3 keyframes.");

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
  CalcRun run(ref, anim, JobSpec{});
  ASSERT_EQ(run.BoneNames(), (std::vector<std::string>{"A"}));
  ASSERT_EQ(run.result->keys.count, 1);
  ExpectPose(run.Key(0, 0), {1, 0, 0}, kId);
}

TEST(CalcRelativeAnim, ZeroReferenceRotationDropsTheBoneSilently) {
  // The reference frame has no "quat": its rotation is (0, 0, 0, 0), every
  // relative value is non-finite, the relative path stays empty (identity).
  TempDir dir;
  Env env;
  dir.Write("ref.kvt",
            "format \"quorvel_path_5\" data { path_array { name \"A\" frame_array { key 0.0 } } }");
  dir.Write("anim.kvt", PathFile({{"A", {F(0, {1, 2, 3}, kRotZ90)}}}));
  JobSpec spec;
  spec.doTransl = false;
  spec.doQuat = false;
  spec.masks = {{"A", 1.0f}};
  RelativeAnim* r =
      CalcRelativeAnim(env.handler.Get(), env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
  EXPECT_EQ(env.Ids(), (std::vector<std::string>{"1 load_ref", "1 load_anim", "1 result", "2 no_bones"}));
  EXPECT_EQ(r->boneNames.count, 0);
  EXPECT_EQ(CalcRun::Strings(r->maskNames),
            (std::vector<std::string>{"A"}));  // dropped bones still get masks
}

TEST(CalcRelativeAnim, HemisphereRules) {
  const std::vector<Bone> ref = {{"A", {F(0, {0, 0, 0})}}, {"B", {F(0, {0, 0, 0})}}};
  const std::vector<Bone> anim = {
      // (0, 0, 0, -1) is the identity rotation: negated at the first key, then exact identity.
      {"A", {F(0, {0, 0, 0}, Quat{0, 0, 0, -1}), F(1, {0, 0, 0}, Quat{-0.0f, 0, 0, -1})}},
      // The second key lies in the other hemisphere of the first and is negated.
      {"B", {F(0, {0, 0, 0}, Quat{0, 0, 0, -1}), F(1, {0, 0, 0}, Quat{0, 0, 0.70710678f, -0.70710678f})}},
  };
  CalcRun run(ref, anim, JobSpec{});
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
    JobSpec spec;
    spec.doTransl = c.doTransl;
    spec.doQuat = c.doQuat;
    spec.epsTransl = 0.5f;
    CalcRun run(ref, anim, spec);
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
    JobSpec spec;
    spec.masks = c.masks;
    CalcRun run(ref, anim, spec);
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
  CalcRun run({{"A", {F(0, {0, 0, 0})}}, {"B", {F(0, {0, 0, 0})}}}, anim, JobSpec{});
  EXPECT_EQ(run.result->rangeStart, -2.0f);
  EXPECT_EQ(run.result->rangeEnd, 3.0f);
}

TEST(CalcRelativeAnim, EmptyAnimationGivesNoBones) {
  JobSpec spec;
  spec.doTransl = false;
  spec.doQuat = false;
  spec.masks = {{"*", 1.0f}};
  CalcRun run({{"A", {F(0, {0, 0, 0})}}}, {}, spec);
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
  EXPECT_EQ(run.env.collector.GetEntries()[3].msg.GetFilledText(),
            "Animation \"" + run.animPath + "\" relative to \"" + run.refPath + "\" uses no bones. ");
}

TEST(CalcRelativeAnim, EmptyReferencePathComputesAgainstTheIdentity) {
  TempDir dir;
  Env env;
  dir.Write("anim.kvt", PathFile({{"A", {F(0, {1, 2, 3})}}, {"B", {F(0, {0, 0, 0})}}}));
  JobSpec spec;
  spec.ref = nullptr;  // a null path counts as ""
  RelativeAnim* r =
      CalcRelativeAnim(env.handler.Get(), env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
  EXPECT_EQ(env.Ids(), (std::vector<std::string>{"1 load_ref", "1 load_anim", "2 ref_not_defined",
                                                 "2 ref_not_defined", "1 result"}));
  EXPECT_STREQ(env.collector.GetEntries()[0].msg.GetInfo(1).GetChars(), "");
  ASSERT_EQ(CalcRun::Strings(r->boneNames), (std::vector<std::string>{"A"}));
  EXPECT_EQ(r->keys.RefAt(0).transl.z, 3.0f);  // absolute values
}

TEST(CalcRelativeAnim, MissingReferenceFileIsReportedAndTheRunGoesOn) {
  TempDir dir;
  Env env;
  dir.Write("anim.kvt", PathFile({{"A", {F(0, {1, 2, 3})}}}));
  JobSpec spec;
  spec.ref = "missing.kvt";
  RelativeAnim* r =
      CalcRelativeAnim(env.handler.Get(), env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
  const auto ids = env.Ids();
  ASSERT_GE(ids.size(), 4u);
  EXPECT_EQ(ids.front(), "1 load_ref");
  EXPECT_EQ(ids.back(), "1 result");
  EXPECT_NE(std::find(ids.begin(), ids.end(), "2 ref_not_defined"), ids.end());
  EXPECT_EQ(r->boneNames.count, 1);
}

TEST(CalcRelativeAnim, WithoutHandlerTheFirstErrorIsThrown) {
  TempDir dir;
  dir.Write("ref.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}}));
  dir.Write("anim.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}, {"Z", {F(0, {1, 0, 0})}}}));
  Env env;
  JobSpec spec;
  try {
    CalcRelativeAnim(nullptr, env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
    ADD_FAILURE() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), "tool/boneanim/tool_boneanim_calc.ref_not_defined");
    EXPECT_STREQ(m.GetInfo(3).GetChars(), "Z");
  }
  dir.Write("anim.kvt", PathFile({{"A", {F(0, {0, 0, 0})}}}));
  try {
    CalcRelativeAnim(nullptr, env.pool.Get(), dir.Path().c_str(), MakeJob(env, spec));
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

TEST(GetAnimRange, StrictComparisonsOnly) {
  Env env;
  LoadedAnim map;
  float s = 0.0f;
  float e = 0.0f;
  GetAnimRange(map, s, e);
  EXPECT_EQ(s, FLT_MAX);
  EXPECT_EQ(e, -FLT_MAX);
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
  GetAnimRange(map, s, e);
  EXPECT_EQ(s, -1.0f);
  EXPECT_EQ(e, 5.0f);
}

}  // namespace
