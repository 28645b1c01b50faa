// The built boneanim program running the calculation: progress and summary
// lines, the calculation's errors with their contexts, exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"

namespace {

using boneanim_test::RunBoneAnim;

const char* kRef =
    "format \"quorvel_path_5\"\n"
    "data {\n"
    "  path_array {\n"
    "    name \"Hips\"\n"
    "    frame_array { key 0.0 transl 0.0 1.0 0.0 quat 0.0 0.0 0.0 1.0 }\n"
    "  } {\n"
    "    name \"Head\"\n"
    "    frame_array { key 0.0 transl 0.0 2.0 0.0 quat 0.0 0.0 0.0 1.0 }\n"
    "  }\n"
    "}\n";

const char* kAnim =
    "format \"quorvel_path_5\"\n"
    "data {\n"
    "  path_array {\n"
    "    name \"Hips\"\n"
    "    range 0.0 1.0\n"
    "    frame_array { key 0.0 transl 0.0 1.0 0.0 quat 0.0 0.0 0.0 1.0 }\n"
    "      { key 1.0 transl 0.0 1.5 0.0 quat 0.0 0.0 0.0 1.0 }\n"
    "  } {\n"
    "    name \"Head\"\n"
    "    frame_array { key 0.5 transl 0.0 2.0 0.0 quat 0.0 0.0 0.0 1.0 }\n"
    "  } {\n"
    "    name \"Tail\"\n"
    "    frame_array { key 0.0 transl 0.0 0.0 0.0 quat 0.0 0.0 0.38268343 0.92387953 }\n"
    "  }\n"
    "}\n";

TEST(BoneAnimCalcProgram, ProgressSummaryAndErrorsWithTheirContexts) {
  qvl_TestDir dir;
  std::filesystem::create_directories(dir / "rig");
  qvl_TestDir::WriteFile(dir / "rig/ref.kvt", kRef);
  qvl_TestDir::WriteFile(dir / "rig/walk.kvt", kAnim);
  qvl_TestDir::WriteFile(dir / "job.kvt",
                         "ref_path \"ref.kvt\"\n"
                         "anim_path \"walk.kvt\"\n"
                         "do_transl true\n"
                         "do_trnsl true\n"
                         "mask_array { bone_pat \"H*\" wgh 0.5 }\n");
  const std::string ref = dir / "rig/ref.kvt";
  const std::string anim = dir / "rig/walk.kvt";
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-refdir", "rig"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Loading reference file \"" + ref + "\"...\n" + "Loading animation file \"" + anim +
                       "\"...\n" + "Processed animation \"" + anim + "\" relative to \"" + ref +
                       "\" using 2 mask bones, 2 animation bones, and 2 keyframes.\n"
                       "Errors: 3\nDone.\n");
  const std::string job = dir / "job.kvt";
  EXPECT_EQ(r.err, job + ":4:1: error: Unknown key 'do_trnsl'. [util/kvt/util_kvt_extract.unknown]\n" + job +
                       ":1:1: error: Animation \"" + anim +
                       "\" uses bone \"Tail\" which is not defined in reference \"" + ref +
                       "\".  [tool/boneanim/tool_boneanim_calc.ref_not_defined]\n" + job +
                       ":1:1: error: Bone \"Tail\" of animation \"" + anim +
                       "\" has bones which are rotated relative to the reference \"" + ref +
                       "\" by 0.39018065  [tool/boneanim/tool_boneanim_calc.has_quat]\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.kvt")) << "no destination after an error";
}

TEST(BoneAnimCalcProgram, QuietRunWithoutErrorsWritesTheDestination) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "walk.kvt", kAnim);
  // Tail in the reference without frames: its rest rotation is (0, 0, 0, 0),
  // every relative key is non-finite, and Tail is dropped without a message.
  std::string ref = kRef;
  ref.replace(ref.rfind("  }\n}\n"), 6, "  } { name \"Tail\" }\n}\n");
  qvl_TestDir::WriteFile(dir / "ref.kvt", ref);
  qvl_TestDir::WriteFile(dir / "job.kvt",
                         "ref_path \"ref.kvt\" anim_path \"walk.kvt\" do_transl true do_quat true\n");
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-quiet", "1"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Errors: 0\nDone.\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "out.kvt"));
}

TEST(BoneAnimCalcProgram, AnimationOfAnotherFormatIsNamedWithItsPlace) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "ref.kvt", kRef);
  qvl_TestDir::WriteFile(dir / "anim.kvt", "format \"quorvel_boneanim_runtime_164x12\"\ndata { }\n");
  qvl_TestDir::WriteFile(dir / "job.kvt", "ref_path \"ref.kvt\" anim_path \"anim.kvt\"\n");
  const qvl_TestOutcome r = RunBoneAnim(dir.Path(), {"job.kvt", "out.kvt", "-quiet", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            (dir / "anim.kvt") +
                ":2:1: error: Found format \"quorvel_boneanim_runtime_164x12\" instead of 'quorvel_path_5'. "
                "[tool/pvsgen/pvsgen_load.format]\n" +
                (dir / "job.kvt") + ":1:1: error: Animation \"" + (dir / "anim.kvt") + "\" relative to \"" +
                (dir / "ref.kvt") + "\" uses no bones.  [tool/boneanim/tool_boneanim_calc.no_bones]\n");
  EXPECT_EQ(r.out, "Errors: 2\nDone.\n");
}

}  // namespace
