// Tests of animinspect through the built program: the report on the bundled
// example, plain and packed, its JSON (parsed by Python's json) and SVG
// (parsed as XML), the limits, and every command-line error.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

const std::string kExampleDir = std::string(QVL_SOURCE_DIR) + "/examples/walk";

qvl_TestOutcome Inspect(const std::string& cwd, const std::vector<std::string>& args) {
  return qvl_TestRunProgram(QVL_ANIMINSPECT_EXE, cwd, args);
}

// The example converted by boneanim into dir/walk.kvt, with "compress" as given.
void Convert(const qvl_TestDir& dir, bool compress) {
  std::string job = qvl_TestDir::ReadFile(kExampleDir + "/walk.job.kvt");
  const std::size_t at = job.find("compress false");
  ASSERT_NE(at, std::string::npos);
  if (compress) job.replace(at, 14, "compress true");
  qvl_TestDir::WriteFile(dir / "job.kvt", job);
  const qvl_TestOutcome r = qvl_TestRunProgram(
      QVL_BONEANIM_EXE, dir.Path(), {"job.kvt", "walk.kvt", "-refdir", kExampleDir, "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

// Runs a Python check on file; its standard output is the result.
std::string Python(const std::string& script, const std::string& file) {
  const qvl_TestOutcome r = qvl_TestRunProgram(QVL_PYTHON3_EXE, "/", {"-c", script, file});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// Prints, from the JSON report: the largest error of the kept bones, whether
// any dropped bone has an error field set or a kept one a moved field, the
// worst bone, and whether it is the one with the largest rot_err_max_deg.
const char* kJsonCheck = R"(
import json, sys
d = json.load(open(sys.argv[1]))
assert list(d) == ['file', 'summary', 'bones', 'overall'], list(d)
assert list(d['summary']) == ['encoding', 'bytes', 'range', 'keys', 'bones', 'packed_transl', 'packed_quat', 'masks']
kept = [b for b in d['bones'] if b['kept']]
mixed = any(b['rot_err_max_deg'] is not None or b['moved_rot_max_deg'] is None for b in d['bones'] if not b['kept'])
mixed = mixed or any(b['moved_transl_max'] is not None for b in kept)
worst = sorted(kept, key=lambda b: (-b['rot_err_max_deg'], b['name']))[0]['name']
print(max(b['rot_err_max_deg'] for b in kept), max(b['transl_err_max'] for b in kept), len(kept), mixed,
      d['overall']['worst_bone'], worst == d['overall']['worst_bone'], d['summary']['packed_quat'])
)";

// Prints the number of series lines and the legend texts of the SVG.
const char* kSvgCheck = R"(
import sys, xml.etree.ElementTree as ET
ns = '{http://www.w3.org/2000/svg}'
root = ET.parse(sys.argv[1]).getroot()
lines = [p for p in root.iter(ns + 'polyline') if p.get('class') == 'series']
bars = [r for r in root.iter(ns + 'rect') if r.get('class') == 'bar']
assert not list(root.iter(ns + 'script'))
print(len(lines), len(bars), ' '.join(p.find(ns + 'title').text for p in lines))
)";

TEST(AnimInspectMain, PlainExampleIsExact) {
  qvl_TestDir dir;
  Convert(dir, false);
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
  double rot = 1, transl = 1;
  int kept = 0;
  char mixed[8] = {}, worst[32] = {}, same[8] = {}, packed[8] = {};
  const std::string out = Python(kJsonCheck, dir / "out/r.json");
  ASSERT_EQ(std::sscanf(out.c_str(), "%lf %lf %d %7s %31s %7s %7s", &rot, &transl, &kept, mixed, worst, same,
                        packed),
            7)
      << out;
  EXPECT_LT(rot, 1e-4);
  EXPECT_LT(transl, 1e-6);
  EXPECT_EQ(kept, 11);
  EXPECT_STREQ(mixed, "False");
  EXPECT_STREQ(same, "True");
  EXPECT_STREQ(packed, "False");
}

TEST(AnimInspectMain, CompressedExampleWithinThePackingBoundAndChart) {
  qvl_TestDir dir;
  Convert(dir, true);
  const qvl_TestOutcome r = Inspect(dir.Path(), {"walk.kvt", "-job", "job.kvt", "-refdir", kExampleDir,
                                                 "-json", "r.json", "-svg", "r.svg", "-quiet", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Errors: 0\nDone.\n");  // -quiet hides the report
  if (std::string(QVL_PYTHON3_EXE).empty()) GTEST_SKIP() << "no python3";
  double rot = 0, transl = 1;
  int kept = 0;
  char mixed[8] = {}, worst[32] = {}, same[8] = {}, packed[8] = {};
  const std::string out = Python(kJsonCheck, dir / "r.json");
  ASSERT_EQ(std::sscanf(out.c_str(), "%lf %lf %d %7s %31s %7s %7s", &rot, &transl, &kept, mixed, worst, same,
                        packed),
            7)
      << out;
  // One step of 1/511 of the L1 norm is at most about half a degree; packing
  // must show as error (not exactly 0) and stay within it.
  EXPECT_GT(rot, 0.01);
  EXPECT_LT(rot, 0.5);
  EXPECT_LT(transl, 0.01);
  EXPECT_STREQ(mixed, "False");
  EXPECT_STREQ(same, "True");
  EXPECT_STREQ(packed, "True");
  const std::string svg = Python(kSvgCheck, dir / "r.svg");
  EXPECT_EQ(svg.rfind("5 11 " + std::string(worst) + " ", 0), 0u) << svg;

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
  Convert(dir, false);
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
  };
  std::filesystem::create_symlink("walk.kvt", dir / "link.kvt");
  const std::string walk = qvl_TestDir::ReadFile(dir / "walk.kvt"),
                    job = qvl_TestDir::ReadFile(dir / "job.kvt");
  for (const Case& c : cases) {
    const qvl_TestOutcome r = Inspect(dir.Path(), c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0] << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.err << "\n" << r.err;
  }
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"bad.kvt", "job.kvt", "link.kvt", "r.json", "walk.kvt"}));
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "walk.kvt"), walk);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "job.kvt"), job);
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "r.json").substr(0, 1), "{");
}

}  // namespace
