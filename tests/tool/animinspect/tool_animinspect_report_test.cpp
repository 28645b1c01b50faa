// Tests of the error report on a hand-checked case (errors between and at
// keys, a missing and a dropped bone), the percentile rank and the ordering
// of the worst bones, and the object-space error of a hand-built chain.
#include "tool/animinspect/tool_animinspect_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "tests/util/file/util_file_testdir.h"
#include "tool/animinspect/tool_animinspect_json.h"
#include "tool/animinspect/tool_animinspect_svg.h"
#include "tool/animinspect/tool_animinspect_text.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

namespace {

using boneanim_test::Env;

TEST(AnimInspectReport, NearestRankAndToleranceAngle) {
  struct Case {
    int n;        // values 1 … n, shuffled
    double rank;  // the expected ⌈0.99·n⌉-th smallest
  };
  for (const Case& c :
       {Case{0, 0}, Case{1, 1}, Case{99, 99}, Case{100, 99}, Case{101, 100}, Case{200, 198}}) {
    std::vector<double> v;
    for (int i = c.n; i >= 1; --i) v.push_back((i * 37) % c.n + 1);  // a permutation of 1 … n
    EXPECT_EQ(NearestRankP99(v), c.rank) << c.n;
  }
  EXPECT_NEAR(ToleranceAngleDeg(0.0001), 0.01145916, 1e-8);
  EXPECT_NEAR(ToleranceAngleDeg(std::sqrt(2.0)), 180.0, 1e-9);  // (0, 0, 1, 0) is √2 from the identity
  EXPECT_EQ(ToleranceAngleDeg(2.5), 360.0);
}

TEST(AnimInspectReport, WorstBonesByErrorThenName) {
  ErrorReport r;
  for (const auto& [name, err, kept] : std::vector<std::tuple<std::string, double, bool>>{
           {"A", 1.0, true}, {"M", 2.0, true}, {"X", 9.0, false}, {"Z", 1.0, true}}) {
    BoneReport b;
    b.name = name;
    b.rotErrMax = err;
    b.kept = kept;
    r.bones.push_back(b);
  }
  std::vector<std::string> names;
  for (const BoneReport* b : WorstBones(r, 5)) names.push_back(b->name);
  EXPECT_EQ(names, (std::vector<std::string>{"M", "A", "Z"}));
  EXPECT_EQ(WorstBones(r, 1).size(), 1u);
}

// One path chunk of a source file: frames "key transl quat".
std::string Path(const std::string& name, const std::vector<std::string>& frames) {
  std::string s = "{ name \"" + name + "\" range 0 1 frame_array";
  for (const std::string& f : frames) s += " { " + f + " }";
  return s + " }\n";
}

TEST(AnimInspectReport, HandCheckedErrorsMissingAndDroppedBones) {
  qvl_TestDir dir;
  const std::string id = "quat 0 0 0 1";
  // sin and cos of 22.5°, 45° and 40° (half of 45°, 90° and 80°) about z.
  const std::string q45 = "quat 0 0 0.38268343 0.92387953";
  const std::string q90 = "quat 0 0 0.70710678 0.70710678";
  const std::string q80 = "0 0 0.64278761 0.76604444";
  qvl_TestDir::WriteFile(dir / "rest.kvt", "format \"quorvel_path_5\" data { path_array " +
                                               Path("A", {"key 0 transl 0 0 0 " + id}) +
                                               Path("B", {"key 0 transl 0 0 0 " + id}) +
                                               Path("C", {"key 0 transl 1 1 1 " + id}) + "}");
  qvl_TestDir::WriteFile(dir / "anim.kvt",
                         "format \"quorvel_path_5\" data { path_array " +
                             Path("A", {"key 0 transl 0 0 0 " + id, "key 0.25 transl 0.5 0 0 " + q45,
                                        "key 0.5 transl 1 0 0 " + q90, "key 1 transl 2 0 0 quat 0 0 1 0"}) +
                             Path("B", {"key 0 transl 0 0 0 " + id, "key 1 transl 0.5 0 0 " + id}) +
                             Path("C", {"key 0 transl 1 1 1 " + id, "key 1 transl 1.00005 1 1 " + id}) + "}");
  qvl_TestDir::WriteFile(dir / "job.kvt",
                         "ref_path \"rest.kvt\" anim_path \"anim.kvt\" do_transl true do_quat true "
                         "identity_eps_transl 0.0001 identity_eps_quat 0.0001");
  // The runtime file: A is 0.5 units and 10° off at 0.5 and stores 180° with
  // the other sign at 1; "D" is not in the animation.
  const std::string runtime =
      "format \"quorvel_boneanim_runtime_164x12\" data { range 0 1 key_array 0 0.5 1 "
      "bone_name_array \"A\" \"D\" "
      "transl_array 0 0 0 0 0 0  1 0.5 0 0 0 0  2 0 0 0 0 0 "
      "quat_array 0 0 0 1 0 0 0 1  " +
      q80 + " 0 0 0 1  0 0 -1 0 0 0 0 1 }";
  Env env;
  RuntimeAnim anim;
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(runtime, "rt.kvt"));
  ASSERT_TRUE(LoadRuntimeAnim(env.handler.Get(), "", s.Get(), &anim));
  qvl_CUtilPtr<qvl_CUtilMemStream> jobStream(new qvl_CUtilMemStream(qvl_TestDir::ReadFile(dir / "job.kvt")));
  qvl_CUtilKvtChunk* root =
      qvl_CUtilKvtWork::ReadStreamSimple(env.handler.Get(), "job.kvt", jobStream.Get(), false);
  BoneAnimJob job{};
  ReadJob(&job, env.handler.Get(), env.pool.Get(), root);
  qvl_CUtilPtrBase::RefReleaseOf(root);
  ErrorReport r;
  BuildErrorReport(env.handler.Get(), env.pool.Get(), qvl_CUtilStr(dir.Path().c_str()), job, anim, 0.0, &r);

  EXPECT_EQ(env.Ids(), std::vector<std::string>{"2 tool/animinspect/tool_animinspect_report.missing_bone"});
  ASSERT_EQ(r.bones.size(), 3u);
  const BoneReport& a = r.bones[0];
  EXPECT_EQ(a.name, "A");
  EXPECT_TRUE(a.kept);
  // At 0.25 the file gives the middle of its keys: 40° against 45°, and
  // (0.5, 0.25, 0) against (0.5, 0, 0).
  ASSERT_EQ(a.rotErrs.size(), 4u);
  EXPECT_NEAR(a.rotErrs[0], 0.0, 1e-5);
  EXPECT_NEAR(a.rotErrs[1], 5.0, 1e-5);
  EXPECT_NEAR(a.rotErrs[2], 10.0, 1e-5);
  EXPECT_NEAR(a.rotErrs[3], 0.0, 1e-5);
  EXPECT_NEAR(a.rotErrMax, 10.0, 1e-5);
  EXPECT_EQ(a.rotErrMaxTime, 0.5);
  EXPECT_EQ(a.rotErrP99, a.rotErrMax);  // N < 100
  EXPECT_NEAR(a.translErrMax, 0.5, 1e-7);
  EXPECT_EQ(a.translErrMaxTime, 0.5);
  EXPECT_NEAR(a.movedRotDeg, 180.0, 1e-5);
  EXPECT_NEAR(a.movedTransl, 2.0, 1e-7);

  const BoneReport& b = r.bones[1];
  EXPECT_TRUE(!b.kept && b.missing);
  EXPECT_NEAR(b.movedTransl, 0.5, 1e-7);
  const BoneReport& c = r.bones[2];
  EXPECT_TRUE(!c.kept && !c.missing);
  EXPECT_NEAR(c.movedTransl, 0.00005, 1e-6);
  EXPECT_EQ(c.movedRotDeg, 0.0);

  EXPECT_EQ(r.worstBone, "A");
  EXPECT_NEAR(r.rotErrMax, 10.0, 1e-5);
  EXPECT_NEAR(r.translErrP99, 0.5, 1e-7);

  // The JSON fields that do not apply are null, in the fixed order.
  const std::string json = JsonReport(anim, &r);
  EXPECT_NE(
      json.find("{\"name\": \"B\", \"kept\": false, \"rot_err_max_deg\": null, \"rot_err_p99_deg\": null, "
                "\"rot_err_max_time\": null, \"transl_err_max\": null, \"transl_err_p99\": null, "
                "\"transl_err_max_time\": null, \"moved_transl_max\": 0.5, \"moved_rot_max_deg\": 0, "
                "\"obj_err_max\": null, \"obj_err_p99\": null, \"obj_err_max_time\": null}"),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"rot_err_max_time\": 0.5, \"transl_err_max\""), std::string::npos);
  EXPECT_NE(json.find("\"moved_transl_max\": null, \"moved_rot_max_deg\": null, \"obj_err_max\""),
            std::string::npos);
  // Without a skeleton every object-space field is null.
  EXPECT_NE(json.find("\"worst_bone\": \"A\", \"obj_err_max\": null, \"obj_err_p99\": null, "
                      "\"obj_err_max_time\": null, \"shell\": null, \"meters_per_unit\": null}"),
            std::string::npos);
}

}  // namespace

namespace {

TEST(AnimInspectReport, ObjectSpaceErrorOfAHandBuiltChain) {
  // Root, Mid 1 along x from it, Tip 1 along x from Mid; Hand (reference
  // only) hangs from Tip. Metres per unit 0.5: the shell is 0.06 units. The
  // file turns Root 10° about z at time 1 (5° at 0.5, between its keys) and
  // holds no other bone, so every point turns about the origin: a point at
  // distance r from the z axis moves 2·r·sin(θ/2). Slide, a top bone turned
  // 90° about z at rest, moves 1 along −x, which the file holds turned into
  // the rest frame, (0, 1, 0): rebuilt, it has no error.
  qvl_TestDir dir;
  const std::string id = "quat 0 0 0 1";
  const std::string q90 = "quat 0 0 0.70710678 0.70710678";
  qvl_TestDir::WriteFile(dir / "rest.kvt",
                         "format \"quorvel_path_5\" data { meters_per_unit 0.5 path_array " +
                             Path("Root", {"key 0 transl 0 0 0 " + id}) +
                             Path("Mid\" parent \"Root", {"key 0 transl 1 0 0 " + id}) +
                             Path("Tip\" parent \"Mid", {"key 0 transl 1 0 0 " + id}) +
                             Path("Hand\" parent \"Tip", {"key 0 transl 1 0 0 " + id}) +
                             Path("Slide", {"key 0 transl 0 1 0 " + q90}) + "}");
  // "Loose" has no rest pose (a top bone at the identity) and adds the time 0.5.
  qvl_TestDir::WriteFile(
      dir / "anim.kvt", "format \"quorvel_path_5\" data { path_array " +
                            Path("Root", {"key 0 transl 0 0 0 " + id, "key 1 transl 0 0 0 " + id}) +
                            Path("Mid", {"key 0 transl 1 0 0 " + id, "key 1 transl 1 0 0 " + id}) +
                            Path("Tip", {"key 0 transl 1 0 0 " + id, "key 1 transl 1 0 0 " + id}) +
                            Path("Loose", {"key 0.5 transl 0 0 0 " + id}) +
                            Path("Slide", {"key 0 transl 0 1 0 " + q90, "key 1 transl -1 1 0 " + q90}) + "}");
  qvl_TestDir::WriteFile(dir / "job.kvt",
                         "ref_path \"rest.kvt\" anim_path \"anim.kvt\" do_transl true do_quat true");
  const std::string runtime =
      "format \"quorvel_boneanim_runtime_164x12\" data { range 0 1 key_array 0 1 bone_name_array \"Root\" "
      "\"Slide\" transl_array 0 0 0 0 0 0  0 0 0 0 1 0 quat_array 0 0 0 1 0 0 0 1  0 0 0.08715574 0.9961947 "
      "0 0 0 1 }";
  Env env;
  RuntimeAnim anim;
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(runtime, "rt.kvt"));
  ASSERT_TRUE(LoadRuntimeAnim(env.handler.Get(), "", s.Get(), &anim));
  qvl_CUtilPtr<qvl_CUtilMemStream> jobStream(new qvl_CUtilMemStream(qvl_TestDir::ReadFile(dir / "job.kvt")));
  qvl_CUtilKvtChunk* root =
      qvl_CUtilKvtWork::ReadStreamSimple(env.handler.Get(), "job.kvt", jobStream.Get(), false);
  BoneAnimJob job{};
  ReadJob(&job, env.handler.Get(), env.pool.Get(), root);
  qvl_CUtilPtrBase::RefReleaseOf(root);
  ErrorReport r;
  BuildErrorReport(env.handler.Get(), env.pool.Get(), qvl_CUtilStr(dir.Path().c_str()), job, anim, 0.0, &r);
  EXPECT_EQ(env.Ids(),
            std::vector<std::string>{"2 tool/animinspect/tool_animinspect_report.ref_not_defined"});

  ASSERT_TRUE(r.hasSkeleton);
  EXPECT_EQ(r.metersPerUnit, 0.5);
  EXPECT_EQ(r.shell.source, ShellSource::kUnit);
  const double d = 0.06;
  EXPECT_NEAR(r.shell.distance, d, 1e-15);
  EXPECT_EQ(r.objTimes, (std::vector<double>{0.0, 0.5, 1.0}));
  const double s5 = std::sin(5.0 * M_PI / 180), s25 = std::sin(2.5 * M_PI / 180);
  struct Want {
    const char* name;
    double r;  // farthest distance of the bone's points from the z axis
  };
  const Want wants[] = {{"Loose", 0.0}, {"Mid", 1 + d}, {"Root", d}, {"Slide", 0.0}, {"Tip", 2 + d}};
  ASSERT_EQ(r.bones.size(), 5u);  // the animation's bones, by name; not Hand
  constexpr double kTol = 2e-7;   // the file's float quaternions
  for (std::size_t i = 0; i < 5; ++i) {
    const BoneReport& b = r.bones[i];
    EXPECT_EQ(b.name, wants[i].name);
    ASSERT_EQ(b.objErrs.size(), 3u);
    EXPECT_NEAR(b.objErrs[0], 0.0, kTol) << b.name;
    EXPECT_NEAR(b.objErrs[1], 2 * wants[i].r * s25, kTol) << b.name;
    EXPECT_NEAR(b.objErrs[2], 2 * wants[i].r * s5, kTol) << b.name;
    if (wants[i].r == 0.0) continue;
    EXPECT_EQ(b.objErrMax, b.objErrs[2]);
    EXPECT_EQ(b.objErrP99, b.objErrMax);
    EXPECT_EQ(b.objErrMaxTime, 1.0) << b.name;
  }
  EXPECT_EQ(r.bones[0].objErrMaxTime, 0.0);  // Loose: 0 throughout, the first time
  EXPECT_EQ(r.objWorstBone, "Tip");
  EXPECT_EQ(r.objErrMax, r.bones[4].objErrMax);
  EXPECT_EQ(r.objErrMaxTime, 1.0);
  EXPECT_EQ(WorstBonesByObjErr(r, 2).back()->name, "Mid");

  // Centimetres where the unit is known: 50 per unit.
  const std::vector<std::string> lines = ReportLines(r);
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  EXPECT_NE(text.find("(shell: the default 3 cm at 0.5 m per unit):"), std::string::npos) << text;
  EXPECT_NE(
      text.find(
          "Tip                      dropped     0.359082         1     0.359082      17.9541      17.9541"),
      std::string::npos)
      << text;
  const std::string json = JsonReport(anim, &r);
  EXPECT_NE(json.find("\"obj_err_max_time\": 1, \"shell\": 0.06, \"meters_per_unit\": 0.5}"),
            std::string::npos)
      << json;
  const std::string svg = SvgChart(r);
  std::size_t series = 0;
  for (std::size_t at = 0; (at = svg.find("class=\"obj-series\"", at)) != std::string::npos; ++at) ++series;
  EXPECT_EQ(series, 5u);
}

}  // namespace
