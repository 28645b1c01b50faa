// Benchmark of the relative animation calculation: 200 bones x 5,000 frames,
// timing the reading of the animation text file and the calculation alone
// (after loading, before writing).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_pathgen.h"
#include "tool/boneanim/tool_boneanim_calc.h"
#include "util/file/util_file_cachedfile.h"

namespace {

constexpr int kRepeats = 3;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "qvl_bench_calc";
  std::filesystem::create_directories(dir);
  const std::string refFile = (dir / "ref.kvt").string();
  const std::string animFile = (dir / "anim.kvt").string();
  std::ofstream(refFile, std::ios::binary) << MakeBenchPathFile(1);
  const std::string animText = MakeBenchPathFile(kBenchFrames);
  std::ofstream(animFile, std::ios::binary) << animText;

  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  double bestLoad = 1e30;
  double bestCalc = 1e30;
  int keyCnt = 0;
  int boneCnt = 0;
  for (int r = 0; r < kRepeats; ++r) {
    qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
    BoneAnimJob job{};
    job.info = const_cast<char*>("bench");
    job.do_transl = true;
    job.do_quat = true;
    LoadedAnim ref;
    LoadedAnim anim;
    {
      qvl_CUtilPtr<qvl_CUtilStream> s(
          new qvl_CUtilCachedFile(handler.Get(), "", "", refFile.c_str(), 10, -1));
      LoadPathAnim(handler.Get(), refFile.c_str(), pool.Get(), s.Get(), &ref);
    }
    const auto t0 = std::chrono::steady_clock::now();
    {
      qvl_CUtilPtr<qvl_CUtilStream> s(
          new qvl_CUtilCachedFile(handler.Get(), "", "", animFile.c_str(), 10, -1));
      LoadPathAnim(handler.Get(), animFile.c_str(), pool.Get(), s.Get(), &anim);
    }
    const auto t1 = std::chrono::steady_clock::now();
    const RelativeAnim* result =
        CalcRelativeFromMaps(handler.Get(), pool.Get(), &job, ref, anim, animFile.c_str(), refFile.c_str());
    const auto t2 = std::chrono::steady_clock::now();
    bestLoad = std::min(bestLoad, Seconds(t1 - t0));
    bestCalc = std::min(bestCalc, Seconds(t2 - t1));
    keyCnt = result->keyTimes.count;
    boneCnt = result->boneNames.count;
    ref.ExtractAll();
    anim.ExtractAll();
  }
  std::printf("calc: %d bones x %d frames (text %.1f MB)\n", kBenchBones, kBenchFrames,
              static_cast<double>(animText.size()) / 1e6);
  std::printf("  read animation text file: %8.3f s\n", bestLoad);
  std::printf("  calculation alone:        %8.3f s  (%d kept bones, %d key times)\n", bestCalc, boneCnt,
              keyCnt);
  std::filesystem::remove_all(dir);
  return boneCnt == kBenchBones && keyCnt == kBenchFrames ? 0 : 1;
}
