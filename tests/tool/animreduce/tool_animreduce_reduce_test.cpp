// Tests of the key reduction: the guarantee recomputed with the inspector's
// clip, the kept keys' stored bits, rotation signs, shapes whose answer is
// known, and the distance from the exact optimum (generated and real clips).
#include "tool/animreduce/tool_animreduce_reduce.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>
#include <tuple>

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
  // The first and the last key, ascending.
  EXPECT_TRUE(kept.size() >= (k > 1 ? 2u : 1u) && kept.front() == 0 && kept.back() == k - 1 &&
              std::adjacent_find(kept.begin(), kept.end(), std::greater_equal<>()) == kept.end())
      << testing::PrintToString(kept);

  qvl_CUtilPtr<qvl_CUtilMemStream> bytes(new qvl_CUtilMemStream());
  WriteRuntimeAnim(bytes.Get(), binary, ToWritable(clip.env.pool.Get(), KeepKeys(in, kept)));
  RuntimeAnim out;
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(bytes->GetData(), "out"));
  if (!LoadRuntimeAnim(clip.env.handler.Get(), "", s.Get(), &out)) {
    ADD_FAILURE() << "the written file does not load";
    return -1;
  }
  EXPECT_EQ(
      std::tie(out.binary, out.boneNames, out.packedTransl, out.packedQuat, out.rangeStart, out.rangeEnd),
      std::tie(binary, in.boneNames, in.packedTransl, in.packedQuat, in.rangeStart, in.rangeEnd));
  // The rows of v (width values per key) of the kept keys, as stored; none of an empty v.
  const std::size_t n = in.boneNames.size();
  const auto pick = [&](const auto& v, std::size_t width) {
    std::decay_t<decltype(v)> rows;
    for (const int key : kept) {
      if (v.empty()) break;
      const auto from = v.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(key) * width);
      rows.insert(rows.end(), from, from + static_cast<std::ptrdiff_t>(width));
    }
    return rows;
  };
  EXPECT_EQ(out.keyTimes, pick(in.keyTimes, 1));
  EXPECT_EQ(out.translWords, pick(in.translWords, n));
  EXPECT_EQ(out.translFloats, pick(in.translFloats, 3 * n));
  EXPECT_EQ(out.quatWords, pick(in.quatWords, n));
  // A plain file's rotation may come out negated as a whole, continuous in sign from key to key.
  std::vector<float> q = pick(in.quatFloats, 4 * n);
  for (std::size_t e = 0; e < q.size() && e < out.quatFloats.size(); e += 4) {
    const float* o = &out.quatFloats[e];
    if (o[3] != q[e + 3] || o[0] != q[e])
      for (int c = 0; c < 4; ++c) q[e + c] = -q[e + c];
    const float* p = e >= 4 * n ? o - 4 * n : o;  // the bone's rotation at the kept key before
    EXPECT_GE(double{p[0]} * o[0] + double{p[1]} * o[1] + double{p[2]} * o[2] + double{p[3]} * o[3], 0.0)
        << "kept key " << e / 4 / n << " bone " << e / 4 % n;
  }
  EXPECT_EQ(out.quatFloats, q);
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
    int keptPlain;  // expected keys of the plain file; of the packed one too when all of them
  };
  const Case cases[] = {
      // Every key off the line through its neighbours by far more than the bound.
      {"noise", 3, 40,
       [&](int, int) {
         return AboutZ(0.1 * jitter(rng), 1.0 + 0.1 * jitter(rng), 0.1 * jitter(rng), 20.0 * jitter(rng));
       },
       40},
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
      if (!packed || c.keptPlain == c.frames) {
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

// The reducer's keys of runtime within 5 % of the exact optimum's, fewer than
// all, and within the guarantee.
void ExpectNearTheOptimum(const JobSource& source, const RuntimeAnim& runtime, double shell, double bound) {
  SCOPED_TRACE(bound);
  KeyReducer reducer;
  reducer.Init(source, runtime);
  ASSERT_TRUE(reducer.Measure(shell, bound));
  const std::vector<int> fast = reducer.Reduce();
  const std::size_t exact = reducer.ReduceExact().size();
  EXPECT_LE(exact, fast.size());
  EXPECT_LE(static_cast<double>(fast.size()), 1.05 * static_cast<double>(exact));
  EXPECT_LT(fast.size(), runtime.keyTimes.size()) << exact;  // smooth enough to lose keys
  EXPECT_EQ(CountViolations(source, runtime, KeepKeys(runtime, fast), shell, bound), 0);
}

TEST(AnimReduce, CloseToTheExactOptimum) {
  std::mt19937 rng(5);
  for (const double bound : {0.0005, 0.002}) {
    Clip clip;
    clip.Make(4, 150, 120.0, true, false, false, [&](int b, int f) { return Waves(b, f, rng); });
    ExpectNearTheOptimum(clip.source, clip.runtime, 0.03, bound);
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
  // One second of it (120 keys): the optimum takes O(K²) segments. Even with
  // the errors of the chains, some keys go.
  std::vector<int> first(120);
  std::iota(first.begin(), first.end(), 0);
  const RuntimeAnim part = KeepKeys(clip.runtime, first);
  // About 0.1 and 0.5 cm on this skeleton's units.
  for (const double bound : {0.007, 0.035}) ExpectNearTheOptimum(clip.source, part, 0.2, bound);
}

}  // namespace
