// Benchmark of animinspect's error report against the boneanim run that made
// the file: 200 bones x 5,000 frames, flat and in a hierarchy of depth 10
// (where the report adds the object-space error), both programs run as a
// user runs them, alternately, best of 3, the ratio taken within the same run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_pathgen.h"

namespace {

constexpr int kRepeats = 3;

// Runs a command line and returns its wall time in seconds; a failed command is fatal.
double Timed(const std::string& cmd) {
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(cmd.c_str());
  const auto t1 = std::chrono::steady_clock::now();
  if (rc != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", rc, cmd.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "qvl_bench_inspect";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "ref.kvt", std::ios::binary) << MakeBenchPathFile(1);
  std::ofstream(dir / "tree-ref.kvt", std::ios::binary) << MakeBenchPathFile(1, true);
  std::ofstream(dir / "anim.kvt", std::ios::binary) << MakeBenchPathFile(kBenchFrames);
  const std::string d = dir.string();
  std::printf("inspect: %d bones x %d frames, best of %d (seconds)\n", kBenchBones, kBenchFrames, kRepeats);
  std::printf("  %-26s %10s %12s %8s %10s\n", "job", "boneanim", "animinspect", "ratio", "file MB");
  for (const bool tree : {false, true}) {
    for (const bool compress : {false, true}) {
      const std::string name = std::string(compress ? "packed" : "plain") + (tree ? "-tree" : "");
      std::ofstream(dir / (name + ".job.kvt"))
          << "ref_path \"" << (tree ? "tree-ref.kvt" : "ref.kvt")
          << "\"\nanim_path \"anim.kvt\"\ndo_transl true\ndo_quat true\ncompress "
          << (compress ? "true" : "false") << "\nidentity_eps_transl 0.0001\nidentity_eps_quat 0.0001\n";
      const std::string job = "\"" + d + "/" + name + ".job.kvt\"";
      const std::string out = "\"" + d + "/" + name + ".anim.kvt\"";
      const std::string convert = std::string("\"") + QVL_BONEANIM_EXE + "\" " + job + " " + out +
                                  " -refdir \"" + d + "\" -quiet 1 >/dev/null";
      const std::string inspect = std::string("\"") + QVL_ANIMINSPECT_EXE + "\" " + out + " -job " + job +
                                  " -refdir \"" + d + "\" -quiet 1 >/dev/null";
      double bestConvert = 1e30;
      double bestInspect = 1e30;
      for (int r = 0; r < kRepeats; ++r) {
        bestConvert = std::min(bestConvert, Timed(convert));
        bestInspect = std::min(bestInspect, Timed(inspect));
      }
      const double mb = static_cast<double>(std::filesystem::file_size(dir / (name + ".anim.kvt"))) / 1e6;
      std::printf(
          "  %-26s %10.3f %12.3f %7.2fx %10.1f\n",
          (std::string(compress ? "packed" : "plain") + (tree ? ", hierarchy" : "") + ", text").c_str(),
          bestConvert, bestInspect, bestInspect / bestConvert, mb);
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
