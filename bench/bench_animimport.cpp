// Benchmark of animimport: the whole import (read, bake, sample, write text
// path files) of every real file and of a generated large BVH, next to the time
// the reading library alone needs to load the same file, with peak memory;
// then the cost of reading each glTF, FBX and Collada file in a child process.
#include <assimp/scene.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_assimp.h"
#include "tool/animimport/tool_animimport_gltf.h"
#include "tool/animimport/tool_animimport_run.h"

namespace {

constexpr int kRepeats = 3;

// 100 joints (a root with position channels and a chain of 99) x 20,000 frames.
std::string MakeLargeBvh(int joints, int frames) {
  std::string s =
      "HIERARCHY\nROOT j0\n{\n  OFFSET 0 0 0\n  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation "
      "Yrotation\n";
  for (int j = 1; j < joints; ++j)
    s += "JOINT j" + std::to_string(j) +
         "\n{\n  OFFSET 0 1.5 0.25\n  CHANNELS 3 Zrotation Xrotation Yrotation\n";
  s += "End Site\n{\n  OFFSET 0 1 0\n}\n";
  for (int j = 0; j < joints; ++j) s += "}\n";
  s += "MOTION\nFrames: " + std::to_string(frames) + "\nFrame Time: 0.008333\n";
  char buf[32];
  for (int f = 0; f < frames; ++f) {
    const int values = 3 + 3 * joints;
    for (int v = 0; v < values; ++v) {
      std::snprintf(buf, sizeof buf, v ? " %.4f" : "%.4f", 90.0 * std::sin(0.001 * f * (1 + v % 13) + v));
      s += buf;
    }
    s += '\n';
  }
  return s;
}

struct Measure {
  double seconds = -1;  // best of kRepeats; negative when the run failed
  long peakKb = 0;      // the child's peak resident size
};

// Runs work kRepeats times in a child process (so that peak memory is the
// work's own) and reports the best time and the child's peak resident size.
template <class F>
Measure InChild(F work) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    double best = 1e30;
    for (int r = 0; r < kRepeats; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      const bool ok = work();
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (!ok) best = -1;
      if (best >= 0) best = std::min(best, s);
    }
    (void)!::write(fds[1], &best, sizeof best);
    ::_exit(0);
  }
  ::close(fds[1]);
  Measure m;
  if (::read(fds[0], &m.seconds, sizeof m.seconds) != sizeof m.seconds) m.seconds = -1;
  ::close(fds[0]);
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  m.peakKb = ru.ru_maxrss;
  return m;
}

bool LibraryLoad(const std::string& path) {
  const std::string ext = path.substr(path.find_last_of('.'));
  if (ext == ".gltf" || ext == ".glb") {
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                             const unsigned char*, int, void*) { return true; },
                          nullptr);
    std::string err, warn;
    return ext == ".glb" ? loader.LoadBinaryFromFile(&model, &err, &warn, path)
                         : loader.LoadASCIIFromFile(&model, &err, &warn, path);
  }
  Assimp::Importer importer;
  return importer.ReadFile(path, 0) != nullptr;
}

bool Import(const std::string& path, const std::string& dest) {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  ImportOptions opt;
  opt.src = path;
  opt.destDir = dest;
  return RunImport(handler.Get(), opt, [](const std::string&) {}) == 0;
}

// The best of repeats reads of path through ReadIsolated, in this process or
// in a child, in seconds; negative when a read failed.
double BestRead(const std::string& path, bool inProcess, int repeats) {
  const std::string ext = path.substr(path.find_last_of('.'));
  const ReaderFunc read = ext == ".gltf" || ext == ".glb" ? ReaderFunc(ReadGltf) : ReaderFunc(ReadAssimp);
  ReaderLimits limits;
  limits.inProcess = inProcess;
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    SourceModel model;
    const auto t0 = std::chrono::steady_clock::now();
    if (!ReadIsolated(handler.Get(), path, "reader", limits, read, &model)) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// The reading of every file that goes through the outside libraries, with and
// without the child process: fork, limits, the model's encoding, the pipe.
void IsolationCost(const std::string& real) {
  constexpr int kReadRepeats = 20;
  const std::vector<std::string> files = {"gltf-cesiumman/CesiumMan.glb",
                                          "gltf-fox/Fox.gltf",
                                          "gltf-fox/Fox.glb",
                                          "fbx-assimp-tests/animation_with_skeleton.fbx",
                                          "fbx-assimp-tests/huesitos.fbx",
                                          "blender-samples/a_humanoid.glb",
                                          "blender-samples/a_humanoid.fbx",
                                          "blender-samples/a_humanoid.dae",
                                          "blender-samples/b_scale001.glb",
                                          "blender-samples/b_scale001.fbx",
                                          "blender-samples/b_scale001.dae",
                                          "blender-samples/c_twoclips.glb",
                                          "blender-samples/c_twoclips.fbx",
                                          "blender-samples/c_twoclips.dae"};
  std::printf("\n| file | size MB | read in process ms | read in a child ms | cost ms |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const std::string& rel : files) {
    const std::string f = real + "/" + rel;
    if (!std::filesystem::exists(f)) {
      std::printf("| %s | missing |\n", rel.c_str());
      continue;
    }
    const double here = BestRead(f, true, kReadRepeats);
    const double child = BestRead(f, false, kReadRepeats);
    std::printf("| %s | %.2f | %.2f | %.2f | %.2f |\n", std::filesystem::path(f).filename().c_str(),
                std::filesystem::file_size(f) / 1048576.0, here * 1e3, child * 1e3, (child - here) * 1e3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string real = argc > 1 ? argv[1] : QVL_SOURCE_DIR "/../shared/data/real";
  const std::filesystem::path tmp =
      std::filesystem::temp_directory_path() / ("bench_animimport_" + std::to_string(::getpid()));
  std::filesystem::create_directories(tmp);
  std::vector<std::string> files = {
      "bvh-cmu-01_01/01_01.bvh", "bvh-cmu-131_01/131_01.bvh", "bvh-boxing-toes/Boxing_Toes.bvh",
      "gltf-cesiumman/CesiumMan.glb", "gltf-fox/Fox.gltf", "gltf-fox/Fox.glb",
      "fbx-assimp-tests/animation_with_skeleton.fbx", "fbx-assimp-tests/huesitos.fbx",
      // scale baking, the Collada names and the meshopt decoding
      "blender-samples/c_twoclips.fbx", "blender-samples/c_twoclips.dae", "gltfpack/CesiumMan.cc.glb"};
  for (std::string& f : files) f = real + "/" + f;
  const std::string large = (tmp / "large_100x20000.bvh").string();
  std::ofstream(large, std::ios::binary) << MakeLargeBvh(100, 20000);
  files.push_back(large);

  std::printf("| file | size MB | import s | library load s | ratio | import peak MB | load peak MB |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const std::string& f : files) {
    if (!std::filesystem::exists(f)) {
      std::printf("| %s | missing |\n", f.c_str());
      continue;
    }
    const double mb = std::filesystem::file_size(f) / 1048576.0;
    const std::string dest = (tmp / "out").string();
    const Measure imp = InChild([&] { return Import(f, dest); });
    const Measure lib = InChild([&] { return LibraryLoad(f); });
    const std::string name = std::filesystem::path(f).filename().string();
    char libText[32] = "refused";
    char ratio[32] = "-";
    if (lib.seconds >= 0) {
      std::snprintf(libText, sizeof libText, "%.4f", lib.seconds);
      std::snprintf(ratio, sizeof ratio, "%.2f", imp.seconds / lib.seconds);
    }
    std::printf("| %s | %.2f | %.4f | %s | %s | %.1f | %.1f |\n", name.c_str(), mb, imp.seconds, libText,
                ratio, imp.peakKb / 1024.0, lib.peakKb / 1024.0);
  }
  std::error_code ec;
  std::filesystem::remove_all(tmp, ec);
  IsolationCost(real);
  return 0;
}
