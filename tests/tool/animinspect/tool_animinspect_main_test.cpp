// Tests of animinspect through the built program: the report on the bundled
// example, plain and packed, its JSON (parsed by Python's json) and SVG
// (parsed as XML), the limits, and every command-line error.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_example.h"
#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

using boneanim_test::ConvertExample;
using boneanim_test::kExampleDir;

qvl_TestOutcome Inspect(const std::string& cwd, const std::vector<std::string>& args) {
  return qvl_TestRunProgram(QVL_ANIMINSPECT_EXE, cwd, args);
}

// Runs a Python check on file; its standard output is the result.
std::string Python(const std::string& script, const std::string& file) {
  const qvl_TestOutcome r = qvl_TestRunProgram(QVL_PYTHON3_EXE, "/", {"-c", script, file});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// Prints, from the JSON report: the largest error of the kept bones, whether
// any dropped bone has an error field set or a kept one a moved field, the
// worst bone, whether it is the one with the largest rot_err_max_deg, then
// the largest object-space error, whether the overall one is the largest of
// the bones (with its time), the shell and meters_per_unit.
const char* kJsonCheck = R"(
import json, sys
d = json.load(open(sys.argv[1]))
assert list(d) == ['file', 'summary', 'bones', 'overall'], list(d)
assert list(d['summary']) == ['encoding', 'bytes', 'range', 'keys', 'bones', 'packed_transl', 'packed_quat', 'masks']
for b in d['bones']:
    assert list(b) == ['name', 'kept', 'rot_err_max_deg', 'rot_err_p99_deg', 'rot_err_max_time', 'transl_err_max',
                       'transl_err_p99', 'transl_err_max_time', 'moved_transl_max', 'moved_rot_max_deg',
                       'obj_err_max', 'obj_err_p99', 'obj_err_max_time'], list(b)
    assert b['obj_err_max'] is None or 0 <= b['obj_err_p99'] <= b['obj_err_max'], b
o = d['overall']
assert list(o) == ['rot_err_max_deg', 'rot_err_p99_deg', 'transl_err_max', 'transl_err_p99', 'worst_bone',
                   'obj_err_max', 'obj_err_p99', 'obj_err_max_time', 'shell', 'meters_per_unit'], list(o)
kept = [b for b in d['bones'] if b['kept']]
mixed = any(b['rot_err_max_deg'] is not None or b['moved_rot_max_deg'] is None for b in d['bones'] if not b['kept'])
mixed = mixed or any(b['moved_transl_max'] is not None for b in kept)
worst = sorted(kept, key=lambda b: (-b['rot_err_max_deg'], b['name']))[0]['name']
objw = sorted(d['bones'], key=lambda b: (-b['obj_err_max'], b['name']))[0]
print(max(b['rot_err_max_deg'] for b in kept), max(b['transl_err_max'] for b in kept), len(kept), mixed,
      o['worst_bone'], worst == o['worst_bone'], d['summary']['packed_quat'], objw['obj_err_max'],
      o['obj_err_max'] == objw['obj_err_max'] and o['obj_err_max_time'] == objw['obj_err_max_time'],
      o['shell'], o['meters_per_unit'])
)";

// Prints the number of series lines and the legend texts of the SVG.
const char* kSvgCheck = R"(
import sys, xml.etree.ElementTree as ET
ns = '{http://www.w3.org/2000/svg}'
root = ET.parse(sys.argv[1]).getroot()
lines = [p for p in root.iter(ns + 'polyline') if p.get('class') == 'series']
bars = [r for r in root.iter(ns + 'rect') if r.get('class') == 'bar']
assert not list(root.iter(ns + 'script'))
objs = [p for p in root.iter(ns + 'polyline') if p.get('class') == 'obj-series']
print(len(lines), len(bars), ' '.join(p.find(ns + 'title').text for p in lines), '|', len(objs),
      ' '.join(p.find(ns + 'title').text for p in objs))
)";

// What kJsonCheck prints.
struct JsonFacts {
  double rot = 1, transl = 1, obj = -1, shell = 0;
  int kept = 0;
  char mixed[8] = {}, worst[32] = {}, same[8] = {}, packed[8] = {}, objSame[8] = {}, unit[16] = {};
};
JsonFacts CheckJson(const std::string& file) {
  JsonFacts f;
  const std::string out = Python(kJsonCheck, file);
  EXPECT_EQ(std::sscanf(out.c_str(), "%lf %lf %d %7s %31s %7s %7s %lf %7s %lf %15s", &f.rot, &f.transl,
                        &f.kept, f.mixed, f.worst, f.same, f.packed, &f.obj, f.objSame, &f.shell, f.unit),
            11)
      << out;
  return f;
}

TEST(AnimInspectMain, PlainExampleIsExact) {
  qvl_TestDir dir;
  ConvertExample(dir, false);
  const qvl_TestOutcome r = Inspect(dir.Path(), {"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir,
                                                 "-json", "out/r.json", "-bones", "1", "-at", "0.5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* line :
       {"Keys: 31, spacing", "Bones: 11\n", "Channels: translation plain, rotation plain",
        "Masked bones: 6: LeftArm 1, LeftForeArm 1, RightArm 1, RightForeArm 1, Spine 0.5, Spine1 0.5",
        "Neck                     dropped", "Pose at time 0.5:", "Errors: 0\nDone.\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  if (std::string(QVL_PYTHON3_EXE).empty()) GTEST_SKIP() << "no python3";
  const JsonFacts f = CheckJson(dir / "out/r.json");
  EXPECT_LT(f.rot, 1e-4);
  EXPECT_LT(f.transl, 1e-6);
  EXPECT_LT(f.obj, 1e-5);  // float rounding of the relative keys, carried down the chains
  EXPECT_STREQ(f.objSame, "True");
  EXPECT_STREQ(f.unit, "None");  // the example gives no unit: the shell comes from its size
  EXPECT_GT(f.shell, 0.02);
  EXPECT_LT(f.shell, 0.025);
  EXPECT_EQ(f.kept, 11);
  EXPECT_STREQ(f.mixed, "False");
  EXPECT_STREQ(f.same, "True");
  EXPECT_STREQ(f.packed, "False");
}

TEST(AnimInspectMain, CompressedExampleWithinThePackingBoundAndChart) {
  qvl_TestDir dir;
  ConvertExample(dir, true);
  const qvl_TestOutcome r = Inspect(dir.Path(), {"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir,
                                                 "-json", "r.json", "-svg", "r.svg", "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Errors: 0\nDone.\n");  // -quiet hides the report
  if (std::string(QVL_PYTHON3_EXE).empty()) GTEST_SKIP() << "no python3";
  const JsonFacts f = CheckJson(dir / "r.json");
  // One step of 1/511 of the L1 norm is at most about half a degree; packing
  // must show as error (not exactly 0) and stay within it.
  EXPECT_GT(f.rot, 0.01);
  EXPECT_LT(f.rot, 0.5);
  EXPECT_LT(f.transl, 0.01);
  // The hips' packed translation (half a step of 1/128 per axis) moves every
  // joint, and the packed rotations add along the chains.
  EXPECT_GT(f.obj, 0.001);
  EXPECT_LT(f.obj, 0.02);
  EXPECT_STREQ(f.objSame, "True");
  EXPECT_STREQ(f.mixed, "False");
  EXPECT_STREQ(f.same, "True");
  EXPECT_STREQ(f.packed, "True");
  const std::string worst = f.worst;
  const std::string svg = Python(kSvgCheck, dir / "r.svg");
  EXPECT_EQ(svg.rfind("5 11 " + worst + " ", 0), 0u) << svg;
  EXPECT_NE(svg.find("| 5 "), std::string::npos) << svg;  // five object-space series

  // The limits come after the report: every bone beyond them is named, exit 1,
  // and the JSON is still written.
  const qvl_TestOutcome lim =
      Inspect(dir.Path(), {"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-max-rot-error", "0.001",
                           "-max-transl-error", "1", "-json", "lim.json", "-quiet", "1"});
  EXPECT_EQ(lim.exitCode, 1);
  EXPECT_NE(lim.err.find("error: Bone \"" + std::string(worst) + "\": rotation error"), std::string::npos)
      << lim.err;
  EXPECT_EQ(lim.err.find("translation error"), std::string::npos);
  EXPECT_NE(lim.out.find("Errors: 11\n"), std::string::npos) << lim.out;
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "lim.json"), qvl_TestDir::ReadFile(dir / "r.json"));
}

TEST(AnimInspectMain, CommandLineAndFileErrors) {
  qvl_TestDir dir;
  ConvertExample(dir, false);
  const qvl_TestOutcome usage = Inspect(dir.Path(), {});
  EXPECT_EQ(usage.exitCode, 0);
  EXPECT_NE(usage.out.find("<runtime-file>"), std::string::npos);
  qvl_TestDir::WriteFile(dir / "bad.kvt",
                         "format \"quorvel_boneanim_runtime_164x12\" data { range 0 1 "
                         "key_array 0 1 bone_name_array \"A\" quat_array 0 0 0 1 }");
  struct Case {
    std::vector<std::string> args;
    std::string err;  // a part of standard error
  };
  const Case cases[] = {
      {{"bad.kvt"}, "bad.kvt:1:93: error: Key \"quat_array\" holds 4 values, 8 are needed"},
      {{"none.kvt"}, "[util/file/util_file_cachedfile.open_failed]"},
      {{"walk.kvt", "-at", "x"}, "error: Option -at takes a number, not \"x\"."},
      {{"walk.kvt", "-max-rot-error", "nan"}, "-max-rot-error takes a number of at least 0"},
      {{"walk.kvt", "-svg", "a.svg"}, "need -job. [tool/animinspect/tool_animinspect_main.needs_job]"},
      {{"walk.kvt", "-max-error", "1"}, "need -job. [tool/animinspect/tool_animinspect_main.needs_job]"},
      {{"walk.kvt", "-html", "a.html"}, "need -job. [tool/animinspect/tool_animinspect_main.needs_job]"},
      {{"walk.kvt", "-shell", "-1"}, "error: Option -shell takes a number greater than 0, not \"-1\"."},
      {{"walk.kvt", "-shell", "0"}, "error: Option -shell takes a number greater than 0, not \"0\"."},
      {{"walk.kvt", "-max-error", "-.5"},
       "error: Option -max-error takes a number of at least 0, not \"-.5\"."},
      {{"walk.kvt", "-at", "-x"}, "error: The option -at needs a value."},
      {{"walk.kvt", "other.kvt"}, "Unexpected argument \"other.kvt\""},
      {{"walk.kvt", "-color", "1"}, "[util/cmdline/util_cmdline_cmdline.unknown_opt]"},
      {{"walk.kvt", "-job", "nojob.kvt"}, "nojob.kvt"},
      {{"-quiet", "1"}, "[util/cmdline/util_cmdline_cmdline.missing_arg]"},
      {{"walk.kvt", "-at", ""}, "error: Option -at takes a number, not \"\"."},
      {{"walk.kvt", "-max-transl-error", ""}, "error: Option -max-transl-error takes a number of at least 0"},
      // No output replaces an input, nor the chart the JSON, links followed.
      {{"walk.kvt", "-json", "walk.kvt"},
       "error: The destination \"" + dir.Path() + "/walk.kvt\" is the runtime file \"" + dir.Path() +
           "/walk.kvt\"; it is not written. [tool/animinspect/tool_animinspect_main.dest_is_input]"},
      {{"walk.kvt", "-json", "link.kvt"}, "/link.kvt\" is the runtime file"},
      {{"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-json", "job.kvt"},
       "is the configuration file"},
      {{"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-json", "r.json", "-svg", "r.json"},
       "/r.json\" is the JSON file"},
      {{"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-svg", "r.svg", "-html", "r.svg"},
       "/r.svg\" is the SVG file"},
      {{"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir, "-html", "walk.kvt"}, "is the runtime file"},
  };
  std::filesystem::create_symlink("walk.kvt", dir / "link.kvt");
  const std::string walk = qvl_TestDir::ReadFile(dir / "walk.kvt"),
                    job = qvl_TestDir::ReadFile(dir / "job.kvt");
  for (const Case& c : cases) {
    const qvl_TestOutcome r = Inspect(dir.Path(), c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0] << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.err << "\n" << r.err;
  }
  EXPECT_EQ(dir.List(),
            (std::vector<std::string>{"bad.kvt", "job.kvt", "link.kvt", "r.json", "r.svg", "walk.kvt"}));
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "walk.kvt"), walk);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "job.kvt"), job);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "r.json").substr(0, 1), "{");
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "r.svg").substr(0, 5), "<?xml");
}

// The example's rest pose and walk in dir, the rest pose changed by edit, and
// the plain job on them; then animinspect on them with args.
qvl_TestOutcome InspectWithRest(const qvl_TestDir& dir, const std::function<void(std::string&)>& edit,
                                const std::vector<std::string>& args) {
  ConvertExample(dir, false);
  std::string rest = qvl_TestDir::ReadFile(kExampleDir + "/rest.kvt");
  edit(rest);
  qvl_TestDir::WriteFile(dir / "rest.kvt", rest);
  qvl_TestDir::WriteFile(dir / "walk-src.kvt", qvl_TestDir::ReadFile(kExampleDir + "/walk.kvt"));
  std::string job = qvl_TestDir::ReadFile(dir / "job.kvt");
  job.replace(job.find("\"walk.kvt\""), 10, "\"walk-src.kvt\"");
  qvl_TestDir::WriteFile(dir / "src.job.kvt", job);
  std::vector<std::string> all{"walk.kvt", "-job", "src.job.kvt", "-refdir", dir.Path()};
  all.insert(all.end(), args.begin(), args.end());
  return Inspect(dir.Path(), all);
}

void Replace(std::string& s, const std::string& from, const std::string& to) {
  const std::size_t at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

TEST(AnimInspectMain, SkeletonErrorsUnitShellAndGate) {
  // Spine1 names itself (line 23) and Neck a bone that is not there (line
  // 32): both errors at their keys, the report goes on with them as top bones.
  {
    qvl_TestDir dir;
    const qvl_TestOutcome r = InspectWithRest(dir,
                                              [](std::string& rest) {
                                                Replace(rest, "data {", "data { meters_per_unit 0.01");
                                                Replace(rest, "parent \"Spine\"\n", "parent \"Spine1\"\n");
                                                Replace(rest, "name \"Neck\"\n    parent \"Spine1\"",
                                                        "name \"Neck\"\n    parent \"Nobody\"");
                                              },
                                              {"-json", "r.json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(
                  "/rest.kvt:23:5: error: Bone \"Spine1\" names the parent \"Spine1\", itself; \"Spine1\" is "
                  "taken as a top bone. [util/anim/util_anim_skeleton.self_parent]"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(
                  "/rest.kvt:32:5: error: Bone \"Neck\" names the parent \"Nobody\", which is no bone of "
                  "the file; \"Neck\" is taken as a top bone. [util/anim/util_anim_skeleton.unknown_parent]"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("(shell: the default 3 cm at 0.01 m per unit):"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("obj p99       max cm       p99 cm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Errors: 2\nDone.\n"), std::string::npos) << r.out;
    // 0.03 m over the file's float 0.01 (0.0099999998).
    const std::string json = qvl_TestDir::ReadFile(dir / "r.json");
    EXPECT_NE(json.find("\"shell\": 3.0000000"), std::string::npos) << json;
    EXPECT_NE(json.find(", \"meters_per_unit\": 0.01}"), std::string::npos) << json;
  }
  // The gate on the largest object-space error, at a given shell.
  qvl_TestDir dir;
  ConvertExample(dir, true);
  const std::vector<std::string> job{"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = job;
    all.insert(all.end(), more.begin(), more.end());
    return Inspect(dir.Path(), all);
  };
  qvl_TestOutcome r = with({"-shell", "0.1", "-max-error", "0.001"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("at 0.1 units from it along its axes (shell: -shell 0.1):"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("error: Object-space error "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(
                "exceeds the limit of 0.001 (shell 0.1). [tool/animinspect/tool_animinspect_main.obj_limit]"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(with({"-max-error", "1", "-quiet", "1"}).exitCode, 0);
  // A time before the range is asked for with a negative number.
  r = with({"-at", "-0.5"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Pose at time -0.5:"), std::string::npos);

  // Without parent keys: the report as before, one line why, and the gate cannot pass.
  qvl_TestDir flat;
  r = InspectWithRest(flat,
                      [](std::string& rest) {
                        for (std::size_t at; (at = rest.find("    parent ")) != std::string::npos;)
                          rest.erase(at, rest.find('\n', at) + 1 - at);
                      },
                      {"-max-error", "1", "-json", "r.json"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("Object-space error: not measured; it needs a \"parent\" key in every path of the "
                       "reference whose bone has a parent (animimport writes them).\nErrors: 1\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("[tool/animinspect/tool_animinspect_main.needs_skeleton]"), std::string::npos)
      << r.err;
  EXPECT_NE(qvl_TestDir::ReadFile(flat / "r.json").find("\"obj_err_max\": null, \"obj_err_p99\": null"),
            std::string::npos);
}

}  // namespace
