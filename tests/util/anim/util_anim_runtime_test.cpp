// Tests of reading runtime animation files back: every kind of broken file
// gives its error at its key, cut and flipped binary files never crash, packed
// keys decode, and sampling at, between and outside keys takes the shorter arc.
#include "util/anim/util_anim_runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "util/anim/util_anim_pack.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_work.h"

namespace {

using boneanim_test::Env;

constexpr double kEps = 1e-12;

bool Load(Env& env, const std::string& text, RuntimeAnim* out) {
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(text, "rt.kvt"));
  return LoadRuntimeAnim(env.handler.Get(), "", s.Get(), out);
}

// A valid file with 2 keys and 2 bones; parts can be replaced by the cases.
std::string File(const std::string& data,
                 const std::string& format = "format \"quorvel_boneanim_runtime_164x12\"\n") {
  return format + "data {\n" + data + "}\n";
}
const std::string kHead =
    "range 0.0 1.0\n mask_name_array \"A\"\n mask_wgh_array 0.5\n key_array 0.0 1.0\n"
    " bone_name_array \"B\" \"A\"\n";
const std::string kTransl = " transl_array 1 2 3  0 0 0  3 2 1  0 0 0\n";
const std::string kQuat = " quat_array 0 0 0 1  0 0 0 1  0 0 1 0  0 0 0 -1\n";

TEST(LoadRuntimeAnim, BrokenFilesNameTheKeyAndWhatIsWrong) {
  struct Case {
    std::string text;
    std::string line;  // "LEVEL ID | context | infos..." of the one report
  };
  const std::string p = "2 util/anim/util_anim_runtime.";
  const Case cases[] = {
      {File(kHead + kTransl, "format \"quorvel_path_5\"\n"),
       p + "format | rt.kvt:1:1 | quorvel_boneanim_runtime_164x12 | quorvel_path_5"},
      {File(kHead, ""), p + "no_format | rt.kvt | quorvel_boneanim_runtime_164x12"},
      {"data { } format \"quorvel_boneanim_runtime_164x12\"", p + "format_late | rt.kvt:1:10"},
      {"format \"quorvel_boneanim_runtime_164x12\"", p + "no_data | rt.kvt"},
      {File(kHead + kTransl) + "data { }", p + "dup_key | rt.kvt:10:1 | data"},
      {File(kHead + kTransl + " key_array 0.0\n"), p + "dup_key | rt.kvt:9:2 | key_array"},
      {File("range 0.0\n key_array 0.0 bone_name_array \"A\"\n"), p + "range | rt.kvt:3:1 | 1"},
      {File("key_array 0.0 bone_name_array \"A\"\n"), p + "missing | rt.kvt | range"},
      {File("range 0 1 bone_name_array \"A\" transl_array 0 0 0\n"), p + "missing | rt.kvt | key_array"},
      // A key matrix while an index key is missing.
      {File("range 0 1 key_array 0.0 compr_quat_array 5\n"), p + "missing | rt.kvt | bone_name_array"},
      {File("range 0 1 mask_name_array \"A\" \"B\" mask_wgh_array 1.0 key_array 0 bone_name_array\n"),
       p + "mask_count | rt.kvt:3:35 | 1 | 2"},
      {File("range 0 1 mask_name_array \"A\" mask_wgh_array nan key_array 0 bone_name_array\n"),
       p + "mask_weight | rt.kvt:3:31 | 0"},
      {File("range 0 1 key_array 0.0 inf bone_name_array\n"), p + "key_time | rt.kvt:3:11 | 1"},
      {File("range 0 1 key_array 0.0 0.5 0.5 bone_name_array\n"),
       p + "key_order | rt.kvt:3:11 | 2 | 0.500000 | 0.500000"},
      {File("range 0 1 key_array 1.0 0.5 bone_name_array\n"),
       p + "key_order | rt.kvt:3:11 | 1 | 0.500000 | 1.000000"},
      {File("range 0 1 key_array 0.0 bone_name_array \"A\" \"C\" \"A\"\n"), p + "dup_bone | rt.kvt:3:25 | A"},
      {File(kHead + " transl_array 1 2 3\n"), p + "count | rt.kvt:8:2 | transl_array | 3 | 12 | 3 | 2 | 2"},
      {File(kHead + " compr_quat_array 1 2 3 4 5\n"),
       p + "count | rt.kvt:8:2 | compr_quat_array | 5 | 4 | 1 | 2 | 2"},
      {File(kHead + kTransl + " compr_transl_array 1 2 3 4\n"),
       p + "both | rt.kvt:9:2 | transl_array | compr_transl_array"},
      {File(kHead + kQuat + " compr_quat_array 1 2 3 4\n"),
       p + "both | rt.kvt:9:2 | quat_array | compr_quat_array"},
      {File(kHead + " transl_array 1 2 3  0 0 0  3 2 nan  0 0 0\n"), p + "value | rt.kvt:8:2 | 2"},
      {File(kHead + " quat_array 0 0 0 1  0 0 0 1  0 0 0 0  0 0 0 -1\n"), p + "value | rt.kvt:8:2 | 2"},
  };
  for (const Case& c : cases) {
    Env env;
    RuntimeAnim a;
    EXPECT_FALSE(Load(env, c.text, &a)) << c.text;
    EXPECT_EQ(env.Lines(), std::vector<std::string>{c.line}) << c.text;
    EXPECT_TRUE(a.transl.empty() && a.quat.empty() && !a.hasTransl && !a.hasQuat);
  }
  // Syntax and type errors are the reader's, and the loader adds nothing to them.
  for (const char* bad : {" transl_array 1 2 {\n", " transl_array 1 2 =\n", " compr_quat_array 1.5\n"}) {
    Env env;
    RuntimeAnim a;
    EXPECT_FALSE(Load(env, File(kHead + bad), &a)) << bad;
    const std::vector<std::string> lines = env.Lines();
    ASSERT_FALSE(lines.empty()) << bad;
    for (const std::string& l : lines) EXPECT_EQ(l.rfind("2 util/kvt/", 0), 0u) << l;
  }
}

TEST(LoadRuntimeAnim, ReadsEveryFieldAndWithoutHandlerThrows) {
  Env env;
  RuntimeAnim a;
  ASSERT_TRUE(Load(env, File(kHead + kTransl + kQuat + " unknown_key 1 2\n"), &a));
  EXPECT_TRUE(env.Lines().empty());
  EXPECT_FALSE(a.binary);
  EXPECT_EQ(a.rangeEnd, 1.0f);
  EXPECT_EQ(a.GetKeyCnt(), 2);
  EXPECT_EQ(a.GetBoneCnt(), 2);
  EXPECT_EQ(a.FindBone("A"), 1);
  EXPECT_EQ(a.FindBone("B"), 0);
  EXPECT_EQ(a.FindBone("C"), -1);
  EXPECT_EQ(a.GetMaskWeight("A"), 0.5f);
  EXPECT_EQ(a.GetMaskWeight("B"), 0.0f);
  EXPECT_TRUE(a.hasTransl && a.hasQuat && !a.packedTransl && !a.packedQuat);
  // Entry k·B + b: key 1, bone 0 ("B") is (3, 2, 1).
  EXPECT_EQ(a.GetKey(1, 0).transl.x, 3.0);
  EXPECT_EQ(a.GetKey(1, 0).transl.z, 1.0);
  EXPECT_EQ(a.GetKey(1, 1).quat.w, -1.0);

  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(File(kHead + " transl_array 1\n"), "rt.kvt"));
  EXPECT_THROW(LoadRuntimeAnim(nullptr, "", s.Get(), &a), qvl_CUtilMsg);
  EXPECT_FALSE(LoadRuntimeAnim(env.handler.Get(), "", nullptr, &a));
}

// The valid file above with packed keys, written in the binary encoding.
std::string PackedBinary(const std::vector<Vector3>& t, const std::vector<Quat>& q) {
  qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
  qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", out.Get(), qvl_KvtFlagBinary);
  w->WriteKeyStr("format", "quorvel_boneanim_runtime_164x12");
  w->BeginKey("data");
  w->BeginChunk();
  w->BeginKey("range");
  w->WriteFloat(0.0f);
  w->WriteFloat(1.0f);
  w->EndKey();
  w->BeginKey("key_array");
  w->WriteFloat(0.0f);
  w->WriteFloat(1.0f);
  w->EndKey();
  w->BeginKey("bone_name_array");
  w->WriteStr("A");
  w->EndKey();
  w->BeginKey("compr_transl_array");
  for (const Vector3& v : t) w->WriteInt(PackTransl(v));
  w->EndKey();
  w->BeginKey("compr_quat_array");
  for (const Quat& v : q) w->WriteInt(PackQuat(v));
  w->EndKey();
  w->EndChunk();
  w->EndKey();
  w->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(w);
  return out->GetData();
}

TEST(LoadRuntimeAnim, PackedBinaryDecodesOnceAndCutOrFlippedFilesNeverCrash) {
  const std::vector<Vector3> t = {{0.0f, 0.0f, 0.0f}, {1.0f, -2.0f, 0.5f}};
  const std::vector<Quat> q = {{0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.70710678f, -0.70710678f}};
  const std::string bin = PackedBinary(t, q);
  {
    Env env;
    RuntimeAnim a;
    ASSERT_TRUE(Load(env, bin, &a));
    EXPECT_TRUE(a.binary && a.packedTransl && a.packedQuat);
    EXPECT_EQ(a.bytes, bin.size());
    for (int k = 0; k < 2; ++k) {
      const Vector3d u = UnpackTransl(PackTransl(t[k]));
      const Quatd v = UnpackQuat(PackQuat(q[k]));
      EXPECT_EQ(a.GetKey(k, 0).transl.y, u.y);
      EXPECT_EQ(a.GetKey(k, 0).quat.z, v.z);
      EXPECT_GE(a.GetKey(k, 0).quat.w, 0.0);  // w ≥ 0 after decoding
    }
    EXPECT_EQ(a.GetKey(0, 0).transl.x, 0.0);  // the zero word decodes exactly
  }
  // Every prefix, and every byte flipped: either a clean load or false with
  // at least one report, never a crash or an out-of-range read (sanitizers).
  int silentFailures = 0;
  for (std::size_t n = 0; n < bin.size(); ++n) {
    for (int flip = 0; flip < 2; ++flip) {
      std::string data = flip ? bin : bin.substr(0, n);
      if (flip) data[n] = static_cast<char>(data[n] ^ 0xA5);
      Env env;
      RuntimeAnim a;
      const bool ok = Load(env, data, &a);
      if (!ok && env.collector.GetErrorCnt() == 0) ++silentFailures;
      if (ok && (a.transl.size() != a.keyTimes.size() * a.boneNames.size())) ++silentFailures;
    }
  }
  EXPECT_EQ(silentFailures, 0);
}

double AngleDeg(const Quatd& a, const Quatd& b) {
  return RotationAngleDeg(a, b);
}

TEST(RuntimeAnimSample, AtBetweenOutsideAndShorterArc) {
  Env env;
  RuntimeAnim a;
  // Bone "B": translation (1,2,3) -> (3,2,1); rotation identity -> 180° about z.
  // Bone "A": identity -> (0,0,0,-1), the same rotation with the other sign:
  // the shorter arc stays at the identity instead of turning a full circle.
  ASSERT_TRUE(Load(env, File(kHead + kTransl + kQuat), &a));
  struct Case {
    int bone;
    double t;
    Vector3d transl;
    double angleFromIdentityDeg;
  };
  const Case cases[] = {
      {0, 0.0, {1, 2, 3}, 0.0},   {0, -5.0, {1, 2, 3}, 0.0},  {0, std::nan(""), {1, 2, 3}, 0.0},
      {0, 1.0, {3, 2, 1}, 180.0}, {0, 7.0, {3, 2, 1}, 180.0}, {0, 0.25, {1.5, 2, 2.5}, 45.0},
      {0, 0.5, {2, 2, 2}, 90.0},  {1, 0.5, {0, 0, 0}, 0.0},   {1, 0.9, {0, 0, 0}, 0.0},
      {-1, 0.5, {0, 0, 0}, 0.0},  {2, 0.5, {0, 0, 0}, 0.0},
  };
  const Quatd id{0, 0, 0, 1};
  for (const Case& c : cases) {
    const PoseD p = a.Sample(c.bone, c.t);
    EXPECT_NEAR(p.transl.x, c.transl.x, kEps) << c.bone << " " << c.t;
    EXPECT_NEAR(p.transl.y, c.transl.y, kEps) << c.bone << " " << c.t;
    EXPECT_NEAR(p.transl.z, c.transl.z, kEps) << c.bone << " " << c.t;
    EXPECT_NEAR(AngleDeg(p.quat, id), c.angleFromIdentityDeg, 1e-6) << c.bone << " " << c.t;
    EXPECT_NEAR(p.quat.x * p.quat.x + p.quat.y * p.quat.y + p.quat.z * p.quat.z + p.quat.w * p.quat.w, 1.0,
                kEps);
  }
  // Between keys the axis stays z.
  EXPECT_NEAR(a.Sample(0, 0.3).quat.x, 0.0, kEps);
  // A file without keys samples the identity.
  RuntimeAnim empty;
  ASSERT_TRUE(Load(env, File("range 0 0 key_array bone_name_array \"A\"\n"), &empty));
  EXPECT_EQ(empty.Sample(0, 0.0).quat.w, 1.0);
}

TEST(RuntimeAnimSample, SlerpAndAngleMeasures) {
  const double h = std::sqrt(0.5);
  const Quatd id{0, 0, 0, 1};
  const Quatd z90{0, 0, h, h};
  const Quatd negZ90{0, 0, -h, -h};
  // Shorter arc: from the identity to −z90 is the same quarter turn.
  EXPECT_NEAR(AngleDeg(SlerpShorter(id, negZ90, 0.5), id), 45.0, 1e-9);
  EXPECT_NEAR(AngleDeg(SlerpShorter(id, z90, 1.0), z90), 0.0, 1e-6);
  // Nearly equal rotations go the linear way without dividing by ~0.
  const Quatd tiny{0, 0, 1e-9, 1};
  const Quatd s = SlerpShorter(id, tiny, 0.5);
  EXPECT_TRUE(std::isfinite(s.z));
  EXPECT_NEAR(s.z, 0.5e-9, 1e-15);
  EXPECT_EQ(AngleDeg(z90, negZ90), 0.0);
  EXPECT_NEAR(AngleDeg(id, Quatd{1, 0, 0, 0}), 180.0, 1e-9);
  EXPECT_DOUBLE_EQ(TranslDistance({1, 2, 3}, {4, 6, 3}), 5.0);
}

}  // namespace
