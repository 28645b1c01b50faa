// Tests of the key reduction: the guarantee recomputed with the inspector's
// clip, the kept keys' stored bits, rotation signs, shapes whose answer is
// known, and the distance from the exact optimum (generated and real clips).
#include "tool/animreduce/tool_animreduce_reduce.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "tests/tool/animreduce/tool_animreduce_testclip.h"
#include "tool/animreduce/tool_animreduce_run.h"

namespace {

using animreduce_test::Clip;
using animreduce_test::CountViolations;
using animreduce_test::LocalPose;

constexpr double kPi = 3.14159265358979323846;

LocalPose AboutZ(double tx, double ty, double tz, double deg) {
  const double h = deg * kPi / 360.0;
  return LocalPose{{tx, ty, tz}, {0.0, 0.0, std::sin(h), std::cos(h)}};
}

// Checks what the reducer keeps of clip.runtime against the file written from
// it and read back: key times and stored values of the kept keys (rotations
// of plain files up to an exact negation, continuous in sign), the guarantee,
// and returns the number of kept keys.
int ReduceAndCheck(Clip& clip, double shell, double bound, bool binary) {
  KeyReducer reducer;
  reducer.Init(clip.source, clip.runtime);
  EXPECT_TRUE(reducer.Measure(shell, bound));
  const std::vector<int> kept = reducer.Reduce();
  const RuntimeAnim& in = clip.runtime;
  const int k = in.GetKeyCnt();
  EXPECT_GE(kept.size(), k > 1 ? 2u : 1u);
  EXPECT_EQ(kept.front(), 0);
  EXPECT_EQ(kept.back(), k - 1);
  for (std::size_t i = 1; i < kept.size(); ++i) EXPECT_LT(kept[i - 1], kept[i]);

  qvl_CUtilPtr<qvl_CUtilMemStream> bytes(new qvl_CUtilMemStream());
  WriteRuntimeAnim(bytes.Get(), binary, ToWritable(clip.env.pool.Get(), KeepKeys(in, kept)));
  RuntimeAnim out;
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(bytes->GetData(), "out"));
  if (!LoadRuntimeAnim(clip.env.handler.Get(), "", s.Get(), &out)) {
    ADD_FAILURE() << "the written file does not load";
    return -1;
  }
  EXPECT_EQ(out.binary, binary);
  EXPECT_EQ(out.boneNames, in.boneNames);
  EXPECT_EQ(out.packedTransl, in.packedTransl);
  EXPECT_EQ(out.packedQuat, in.packedQuat);
  EXPECT_EQ(out.rangeStart, in.rangeStart);
  EXPECT_EQ(out.rangeEnd, in.rangeEnd);
  const std::size_t n = in.boneNames.size();
  const std::size_t entries = kept.size() * n;
  if (out.keyTimes.size() != kept.size() || out.translWords.size() != (in.packedTransl ? entries : 0) ||
      out.translFloats.size() != (in.packedTransl ? 0 : 3 * entries) ||
      out.quatWords.size() != (in.packedQuat ? entries : 0) ||
      out.quatFloats.size() != (in.packedQuat ? 0 : 4 * entries)) {
    ADD_FAILURE() << "the written file holds other counts";
    return -1;
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::size_t src = static_cast<std::size_t>(kept[i]) * n, dst = i * n;
    EXPECT_EQ(out.keyTimes[i], in.keyTimes[static_cast<std::size_t>(kept[i])]);
    for (std::size_t b = 0; b < n; ++b) {
      if (in.packedTransl) {
        EXPECT_EQ(out.translWords[dst + b], in.translWords[src + b]);
      } else {
        for (int c = 0; c < 3; ++c)
          EXPECT_EQ(out.translFloats[3 * (dst + b) + c], in.translFloats[3 * (src + b) + c]);
      }
      if (in.packedQuat) {
        EXPECT_EQ(out.quatWords[dst + b], in.quatWords[src + b]);
        continue;
      }
      const float* o = &out.quatFloats[4 * (dst + b)];
      const float* q = &in.quatFloats[4 * (src + b)];
      const float sign = o[3] == q[3] && o[0] == q[0] ? 1.0f : -1.0f;
      for (int c = 0; c < 4; ++c) EXPECT_EQ(o[c], sign * q[c]) << "key " << i << " bone " << b;
      if (i > 0) {
        const float* p = &out.quatFloats[4 * (dst - n + b)];
        EXPECT_GE(double{p[0]} * o[0] + double{p[1]} * o[1] + double{p[2]} * o[2] + double{p[3]} * o[3], 0.0);
      }
    }
  }
  EXPECT_EQ(CountViolations(clip.source, in, out, shell, bound), 0);
  return static_cast<int>(kept.size());
}

TEST(AnimReduce, ShapesWithAKnownAnswerPlainAndPacked) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  struct Case {
    const char* name;
    int bones, frames;
    std::function<LocalPose(int, int)> motion;
    int keptPlain;  // expected keys of the plain file; -1: all of them
  };
  const Case cases[] = {
      // Every key off the line through its neighbours by far more than the bound.
      {"noise", 3, 40,
       [&](int, int) {
         return AboutZ(0.1 * jitter(rng), 1.0 + 0.1 * jitter(rng), 0.1 * jitter(rng), 20.0 * jitter(rng));
       },
       -1},
      // A straight line at constant speed and a turn at constant angular
      // speed (under 180°): interpolation rebuilds every frame.
      {"line", 3, 60, [](int b, int f) { return AboutZ(0.01 * f, 1.0, 0.002 * f * b, 1.5 * f + 10.0 * b); },
       2},
      // A turn of 270° at 10° per frame: a segment cannot span 180° or more
      // (it would go the short way round), so a key near the middle stays.
      {"turn", 1, 28, [](int, int f) { return AboutZ(0.0, 1.0, 0.0, 10.0 * f); }, 3},
  };
  for (const Case& c : cases) {
    for (const bool packed : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (packed ? " packed" : " plain"));
      Clip clip;
      clip.Make(c.bones, c.frames, 30.0, true, packed, packed, c.motion);
      const int kept = ReduceAndCheck(clip, 0.03, 0.001, packed);
      if (c.keptPlain < 0) {
        EXPECT_EQ(kept, c.frames);
      } else if (!packed) {
        EXPECT_EQ(kept, c.keptPlain);
      }
    }
  }
}

TEST(AnimReduce, StoredSignFlipsBecomeContinuousAndTurnTheShortWay) {
  // The 270° turn with every other stored rotation negated (the same
  // rotations): the kept keys must come out continuous, and interpolation
  // across the removed ones must still follow the source.
  Clip clip;
  clip.Make(2, 28, 30.0, true, false, false,
            [](int b, int f) { return AboutZ(0.0, 1.0, 0.0, (10.0 - b) * f); });
  RuntimeAnim& rt = clip.runtime;
  const std::size_t n = rt.boneNames.size();
  for (std::size_t k = 1; k < rt.keyTimes.size(); k += 2) {
    for (std::size_t b = 0; b < n; ++b) {
      for (int c = 0; c < 4; ++c) rt.quatFloats[4 * (k * n + b) + c] *= -1.0f;
      Quatd& q = rt.quat[k * n + b];
      q = Quatd{-q.x, -q.y, -q.z, -q.w};
    }
  }
  EXPECT_EQ(ReduceAndCheck(clip, 0.03, 0.001, true), 3);
}

TEST(AnimReduce, EachChannelKeepsItsOwnForm) {
  // Packed translations with plain rotations (a file the reader takes,
  // though the converter packs both or neither): each channel stays as it is.
  const auto motion = [](int b, int f) { return AboutZ(0.001 * f * f, 1.0, 0.0, 3.0 * f + b); };
  Clip packed, mixed;
  packed.Make(2, 30, 30.0, true, true, false, motion);
  mixed.Make(2, 30, 30.0, true, false, false, motion);
  RuntimeAnim& rt = mixed.runtime;
  rt.packedTransl = true;
  rt.transl = packed.runtime.transl;
  rt.translWords = packed.runtime.translWords;
  rt.translFloats.clear();
  EXPECT_LT(ReduceAndCheck(mixed, 0.03, 0.001, false), 30);
}

// A captured-like motion: a few incommensurate waves per bone with a little
// jitter, along a chain, at 120 frames per second.
LocalPose Waves(int b, int f, std::mt19937& rng) {
  std::normal_distribution<double> noise(0.0, 0.002);
  const double t = f / 120.0;
  const double deg = 25.0 * std::sin(2.1 * t + b) + 8.0 * std::sin(7.3 * t + 2.0 * b) + noise(rng);
  return AboutZ(0.05 * std::sin(1.3 * t + b), 1.0, 0.02 * std::cos(3.1 * t), deg);
}

TEST(AnimReduce, CloseToTheExactOptimum) {
  std::mt19937 rng(5);
  for (const double bound : {0.0005, 0.002}) {
    SCOPED_TRACE(bound);
    Clip clip;
    clip.Make(4, 150, 120.0, true, false, false, [&](int b, int f) { return Waves(b, f, rng); });
    KeyReducer reducer;
    reducer.Init(clip.source, clip.runtime);
    ASSERT_TRUE(reducer.Measure(0.03, bound));
    const std::size_t fast = reducer.Reduce().size();
    const std::size_t exact = reducer.ReduceExact().size();
    EXPECT_LE(exact, fast);
    EXPECT_LE(static_cast<double>(fast), 1.05 * static_cast<double>(exact));
    EXPECT_LT(fast, 150u);  // the waves are smooth enough to lose keys
  }
}

TEST(AnimReduce, DefaultBoundFromTheUnitOrTheRestPose) {
  struct Case {
    double metersPerUnit, boxDiagonal, bound;
  };
  for (const Case& c :
       {Case{1.0, 5.0, 0.001}, Case{0.01, 5.0, 0.1}, Case{0.0, 2.0, 0.001}, Case{-1.0, 2.0, 0.001},
        Case{NAN, 4.0, 0.002}, Case{0.0, 0.0, 0.0005}, Case{0.0, INFINITY, 0.0005}}) {
    EXPECT_DOUBLE_EQ(DefaultReduceBound(c.metersPerUnit, c.boxDiagonal), c.bound)
        << c.metersPerUnit << " " << c.boxDiagonal;
  }
}

TEST(AnimReduce, MemoryBudgetRefusesBeforeAllocating) {
  Clip clip;
  clip.Make(2, 10, 30.0, true, false, false, [](int, int f) { return AboutZ(0.0, 1.0, 0.0, f); });
  KeyReducer reducer;
  reducer.Init(clip.source, clip.runtime);
  EXPECT_FALSE(reducer.Measure(0.03, 0.001, KeyReducer::NeededBytes(10, 2) - 1));
  EXPECT_TRUE(reducer.Measure(0.03, 0.001, KeyReducer::NeededBytes(10, 2)));
  EXPECT_EQ(KeyReducer::NeededBytes(std::uint64_t{1} << 40, std::uint64_t{1} << 40), UINT64_MAX);
}

// The first keys of a captured clip, imported and converted by the programs,
// against the exact optimum.
TEST(AnimReduceReal, CapturedClipCloseToTheExactOptimum) {
  const std::string real = QVL_SOURCE_DIR "/../shared/data/real/bvh-cmu-01_01/01_01.bvh";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "real files not found: " << real;
  if (std::string(QVL_ANIMIMPORT_EXE).empty()) GTEST_SKIP() << "animimport is not built";
  Clip clip;
  const std::string dir = clip.dir.Path();
  ASSERT_EQ(qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir, {real, ".", "-quiet", "1"}).exitCode, 0);
  ASSERT_EQ(boneanim_test::RunBoneAnim(dir, {"01_01.job.kvt", "rt.kvt", "-quiet", "1"}).exitCode, 0);
  clip.Load(qvl_TestDir::ReadFile(clip.dir / "rt.kvt"));
  BoneAnimJob job{};
  job.ref_path = const_cast<char*>("rest.kvt");
  job.anim_path = const_cast<char*>("01_01.kvt");
  LoadJobSource(clip.env.handler.Get(), clip.env.pool.Get(), qvl_CUtilStr((dir + "/").c_str()), job,
                &clip.source);
  // One second of it (120 keys): the optimum takes O(K²) segments.
  std::vector<int> first;
  for (int k = 0; k < 120; ++k) first.push_back(k);
  const RuntimeAnim part = KeepKeys(clip.runtime, first);
  for (const double bound : {0.007, 0.035}) {  // about 0.1 and 0.5 cm on this skeleton's units
    SCOPED_TRACE(bound);
    KeyReducer reducer;
    reducer.Init(clip.source, part);
    ASSERT_TRUE(reducer.Measure(0.2, bound));
    const std::vector<int> fast = reducer.Reduce();
    const std::size_t exact = reducer.ReduceExact().size();
    EXPECT_LE(static_cast<double>(fast.size()), 1.05 * static_cast<double>(exact));
    EXPECT_LT(fast.size(), first.size()) << exact;  // some keys go, even with the errors of the chains
    EXPECT_EQ(CountViolations(clip.source, part, KeepKeys(part, fast), 0.2, bound), 0);
  }
}

}  // namespace
