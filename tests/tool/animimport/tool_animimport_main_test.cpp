// Tests of animimport through the built program: usage, every command-line
// and input error, the outputs of a small import, and what a failed run leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

const char* const kBvh =
    "HIERARCHY\nROOT Hips\n{\n  OFFSET 0 100 0\n  CHANNELS 6 Xposition Yposition Zposition Zrotation "
    "Xrotation Yrotation\n"
    "  JOINT Arm\n  {\n    OFFSET 0 50 0\n    CHANNELS 3 Zrotation Xrotation Yrotation\n"
    "    End Site\n    {\n      OFFSET 0 1 0\n    }\n  }\n}\n"
    "MOTION\nFrames: 3\nFrame Time: 0.25\n"
    "0 0 0 0 0 0 0 0 0\n10 0 0 0 0 0 90 0 0\n20 0 0 0 0 0 180 0 0\n";

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

qvl_TestOutcome RunImport(const qvl_TestDir& dir, const std::vector<std::string>& args) {
  return qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), args);
}

TEST(AnimImportMain, UsageListsEveryOption) {
  qvl_TestDir dir;
  const qvl_TestOutcome r = RunImport(dir, {});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* opt :
       {"<src-file>", "<dest-dir>", "-clip", "-fps", "-scale", "-binary", "-quiet", "-list", "-max-memory",
        "-max-seconds", "-in-process"}) {
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  }
}

TEST(AnimImportMain, ErrorsWriteNothingAndSayWhy) {
  qvl_TestDir dir;
  Write(dir / "a.bvh", kBvh);
  Write(dir / "dup.bvh",
        "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 1 Zrotation\n JOINT Arm\n {\n  OFFSET 0 1 0\n"
        "  CHANNELS 1 Zrotation\n  JOINT Hips\n  {\n   OFFSET 0 1 0\n   CHANNELS 1 Zrotation\n  }\n }\n}\n"
        "MOTION\nFrames: 1\nFrame Time: 0.1\n0 0 0\n");
  Write(dir / "junk.fbx", "this is no model\n");
  Write(dir / "tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  Write(dir / "file", "x");
  const std::string missing = "\" for reading: No such file or directory.";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      // clang-format off
      {{"none.bvh", "out"}, "error: Cannot open \"" + dir.Path() + "/none.bvh" + missing},
      {{"none.glb", "out"}, "error: Cannot open \"" + dir.Path() + "/none.glb" + missing},
      {{"junk.fbx", "out"}, "junk.fbx: error: The file cannot be read: "},
      {{"tri.obj", "out"}, "tri.obj: error: The file has no skeleton"},
#ifndef QVL_SANITIZE
      {{"tri.obj", "out", "-max-memory", "8"}, "tri.obj: error: The OBJ reader ran out of memory while reading the file. "
                                               "It ran in a child process with 8 MiB of address space (-max-memory)"},
#endif
      {{"dup.bvh", "out"}, "dup.bvh: error: Joint name \"Hips\" is taken by two nodes: \"Hips\" and \"Hips/Arm/Hips\"."},
      {{"a.bvh", "out", "-clip", "Walk"}, "a.bvh: error: There is no clip \"Walk\"; the file's clips are: \"a\"."},
      {{"a.bvh", "out", "-fps", "0"}, "error: The value \"0\" of option -fps is not a positive number."},
      {{"a.bvh", "out", "-fps", "abc"}, "error: The value \"abc\" of option -fps is not a positive number."},
      {{"a.bvh", "out", "-fps", "1e300"}, "-fps 1e+300 gives more than 1e+07 frames per joint."},
      {{"a.bvh", "out", "-scale", "1x"}, "error: The value \"1x\" of option -scale is not a positive number."},
      {{"a.bvh", "out", "-scale", "-1"}, "error: The value \"-1\" of option -scale is not a positive number."},
      {{"a.bvh", "out", "-fps", "-.5"}, "error: The value \"-.5\" of option -fps is not a positive number."},
      {{"a.bvh", "out", "-scale", "-x"}, "error: The option -scale needs a value."},
      {{"a.bvh", "out", "-max-memory", "0"}, "error: The value \"0\" of option -max-memory is not a whole number from 1 to 1048576."},
      {{"a.bvh", "out", "-max-memory", "1048577"}, "of option -max-memory is not a whole number from 1 to 1048576."},
      {{"a.bvh", "out", "-max-seconds", "1.5"}, "error: The value \"1.5\" of option -max-seconds is not a whole number from 1 to 1000000."},
      {{"junk.fbx", "out", "-in-process", "1"}, "junk.fbx: error: The file cannot be read: "},
      {{"a.bvh", "out", "-speed", "2"}, "error: Unknown option -speed."},
      {{"a.bvh"}, "error: Positional argument 2 is missing."},
      {{"a.bvh", "file/out"}, "error: Cannot create the directory \"" + dir.Path() + "/file\": Not a directory."},
      // clang-format on
  };
  for (const Case& c : cases) {
    const qvl_TestOutcome r = RunImport(dir, c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0] << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.err << "\n" << r.err;
    EXPECT_NE(r.out.find("Done."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.err;
  }
}

TEST(AnimImportMain, ImportsListsResamplesScalesAndWritesBinary) {
  qvl_TestDir dir;
  Write(dir / "a.bvh", kBvh);
  // -list writes nothing and is not hidden by -quiet.
  qvl_TestOutcome r = RunImport(dir, {"a.bvh", "out", "-list", "1", "-quiet", "1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "clip a duration 0.5 s, keys 3, joints 2\njoint Hips parent -\njoint Arm parent Hips\nErrors: "
            "0\nDone.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));

  r = RunImport(dir, {"a.bvh", "out", "-fps", "3", "-scale", "0.01"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const ReadFile rest = ReadPathFile(dir / "out/rest.kvt");
  EXPECT_EQ(rest.format, "quorvel_path_5");
  EXPECT_EQ(rest.order, (std::vector<std::string>{"Hips", "Arm"}));
  EXPECT_FLOAT_EQ(rest.paths.at("Hips").frames.at(0).t[1], 1.0f);  // 100 x 0.01
  EXPECT_EQ(rest.paths.at("Arm").parents, std::vector<std::string>{"Hips"});
  EXPECT_TRUE(rest.paths.at("Hips").parents.empty());
  EXPECT_TRUE(rest.metersPerUnit.empty());  // a BVH file has no unit
  const ReadFile clip = ReadPathFile(dir / "out/a.kvt");
  const ReadPath& hips = clip.paths.at("Hips");
  ASSERT_EQ(hips.frames.size(), 3u);  // 0, 1/3, and the end 0.5
  EXPECT_FLOAT_EQ(hips.frames[1].key, 1.0f / 3);
  EXPECT_FLOAT_EQ(hips.frames[1].t[0], 0.01f * 40 / 3);  // between 10 and 20 at 1/3 s
  EXPECT_FLOAT_EQ(hips.range[1], 0.5f);
  // Arm: 90 then 180 degrees about z; at 1/3 s slerp gives 120 degrees.
  const ReadFrame& arm = clip.paths.at("Arm").frames[1];
  EXPECT_NEAR(2 * std::atan2(arm.q[2], arm.q[3]) * 180 / M_PI, 120.0, 1e-4);

  // The job runs as it is.
  qvl_TestOutcome b =
      qvl_TestRunProgram(QVL_BONEANIM_EXE, dir.Path(), {"out/a.job.kvt", "out/a.anim.kvt", "-refdir", "out"});
  EXPECT_EQ(b.exitCode, 0) << b.err;

  // Binary path files read back the same; the job stays text.
  // -unit gives the unit in inches; -scale 0.01 makes one written unit 2.54 m.
  r = RunImport(dir, {"a.bvh", "bin", "-binary", "1", "-fps", "3", "-scale", "0.01", "-unit", "0.0254"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadPathFile(dir / "bin/rest.kvt").metersPerUnit, std::vector<double>{2.54f});
  EXPECT_TRUE(qvl_CUtilKvtWork::IsBinary(qvl_TestDir::ReadFile(dir / "bin/a.kvt")));
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "bin/a.job.kvt"), qvl_TestDir::ReadFile(dir / "out/a.job.kvt"));
  EXPECT_FLOAT_EQ(ReadPathFile(dir / "bin/a.kvt").paths.at("Hips").frames[1].t[0], hips.frames[1].t[0]);
  b = qvl_TestRunProgram(QVL_BONEANIM_EXE, dir.Path(), {"bin/a.job.kvt", "bin/a.anim.kvt", "-refdir", "bin"});
  EXPECT_EQ(b.exitCode, 0) << b.err;

  // The same inputs give byte-identical outputs.
  r = RunImport(dir, {"a.bvh", "out2", "-fps", "3", "-scale", "0.01"});
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "out2/a.kvt"), qvl_TestDir::ReadFile(dir / "out/a.kvt"));
}

TEST(AnimImportMain, AFailedImportLeavesOlderFilesAlone) {
  qvl_TestDir dir;
  Write(dir / "a.bvh", kBvh);
  ASSERT_EQ(RunImport(dir, {"a.bvh", "out"}).exitCode, 0);
  const std::string before = qvl_TestDir::ReadFile(dir / "out/a.kvt");
  std::string bad = kBvh;
  bad.replace(bad.find("20 0 0 0 0 0 180 0 0"), 20, "20 0 0 0 0 0 180 0");  // a short line
  Write(dir / "a.bvh", bad);
  const qvl_TestOutcome r = RunImport(dir, {"a.bvh", "out"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("a.bvh:21:19: error: The frame line has 8 values instead of 9."), std::string::npos)
      << r.err;
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "out/a.kvt"), before);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "out")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.job.kvt", "a.kvt", "rest.kvt"}));
}

}  // namespace
