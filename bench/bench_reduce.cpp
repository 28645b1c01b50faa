// Benchmark of animreduce: the generated 200 bones x 5,000 frames clip in a
// hierarchy of depth 10 against the boneanim run that made it (best of 3,
// as a user runs both programs), every real clip imported, converted plain
// and packed and reduced at the default bound, and the reducer's key count
// against the exact optimum on the first keys of each real clip.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_pathgen.h"
#include "tool/animreduce/tool_animreduce_reduce.h"
#include "tool/animreduce/tool_animreduce_run.h"
#include "util/anim/util_anim_job.h"
#include "util/file/util_file_cachedfile.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRepeats = 3;

// Runs a command line, its output into out (when given); returns its wall
// time in seconds. A failed command is fatal.
double Timed(const std::string& cmd, std::string* out = nullptr) {
  const std::string capture = (fs::temp_directory_path() / "qvl_bench_reduce_out.txt").string();
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system((cmd + " > \"" + capture + "\" 2>&1").c_str());
  const auto t1 = std::chrono::steady_clock::now();
  std::ifstream in(capture);
  std::stringstream text;
  text << in.rdbuf();
  if (rc != 0) {
    std::fprintf(stderr, "failed (%d): %s\n%s", rc, cmd.c_str(), text.str().c_str());
    std::exit(1);
  }
  if (out) *out = text.str();
  return std::chrono::duration<double>(t1 - t0).count();
}

std::string Quote(const fs::path& p) {
  std::string q(1, '"');
  q += p.string();
  q += '"';
  return q;
}

// The text after prefix on its line of out, "" when there is none.
std::string LineAfter(const std::string& out, const std::string& prefix) {
  const std::size_t at = out.find(prefix);
  if (at == std::string::npos) return "";
  const std::size_t from = at + prefix.size();
  return out.substr(from, out.find('\n', from) - from);
}

// One job converted (plain or packed) and reduced; prints one row.
void ConvertAndReduce(const fs::path& dir, const std::string& jobFile, bool compress,
                      const std::string& label) {
  std::ifstream in(dir / jobFile);
  std::stringstream job;
  job << in.rdbuf();
  std::string text = job.str();
  const std::size_t at = text.find("compress false");
  if (compress && at != std::string::npos) text.replace(at, 14, "compress true");
  const std::string name = label + (compress ? ".packed" : ".plain");
  std::ofstream(dir / (name + ".job.kvt")) << text;
  const fs::path rt = dir / (name + ".rt"), small = dir / (name + ".small");
  const std::string convert = Quote(QVL_BONEANIM_EXE) + " " + Quote(dir / (name + ".job.kvt")) + " " +
                              Quote(rt) + " -binary " + (compress ? "1" : "0") + " -refdir " + Quote(dir) +
                              " -quiet 1";
  const std::string reduce = Quote(QVL_ANIMREDUCE_EXE) + " " + Quote(rt) + " " + Quote(small) + " -job " +
                             Quote(dir / (name + ".job.kvt")) + " -refdir " + Quote(dir);
  double bestConvert = 1e30, bestReduce = 1e30;
  std::string out;
  for (int r = 0; r < kRepeats; ++r) {
    bestConvert = std::min(bestConvert, Timed(convert));
    bestReduce = std::min(bestReduce, Timed(reduce, &out));
  }
  std::printf("  %-34s %7.3f %7.3f %5.2f | %s | %s\n    before %s\n    after  %s\n", name.c_str(),
              bestConvert, bestReduce, bestReduce / bestConvert, LineAfter(out, "Keys: ").c_str(),
              LineAfter(out, "Bytes: ").c_str(), LineAfter(out, "error before: ").c_str(),
              LineAfter(out, "error after: ").c_str());
}

template <class T>
qvl_CUtilPtr<T> AdoptRef(T* p) {
  qvl_CUtilPtr<T> holder(p);
  qvl_CUtilPtrBase::RefReleaseOf(p);
  return holder;
}

// The reducer against the exact optimum on the first keys of a plain file.
void CompareWithExact(const fs::path& dir, const std::string& name, int keys) {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  qvl_CUtilPtr<qvl_CUtilMemPool> pool = AdoptRef(qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool());
  RuntimeAnim full;
  qvl_CUtilPtr<qvl_CUtilCachedFile> rt(
      new qvl_CUtilCachedFile(handler.Get(), "", "", (dir / (name + ".plain.rt")).c_str(), 10, -1));
  if (!LoadRuntimeAnim(handler.Get(), "", rt.Get(), &full)) return;
  qvl_CUtilPtr<qvl_CUtilCachedFile> jobFile(
      new qvl_CUtilCachedFile(handler.Get(), "", "", (dir / (name + ".plain.job.kvt")).c_str(), 10, -1));
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root =
      AdoptRef(qvl_CUtilKvtWork::ReadStreamSimple(handler.Get(), "", jobFile.Get(), false));
  BoneAnimJob* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  ReadJob(job, handler.Get(), pool.Get(), root.Get());
  JobSource source;
  LoadJobSource(handler.Get(), pool.Get(), qvl_CUtilStr((dir.string() + "/").c_str()), *job, &source);
  std::vector<int> first;
  for (int k = 0; k < std::min(keys, full.GetKeyCnt()); ++k) first.push_back(k);
  const RuntimeAnim part = KeepKeys(full, first);
  KeyReducer reducer;
  reducer.Init(source, part);
  const std::span<const PoseD> rest = reducer.GetClip().GetRestModel();
  const double shell = DefaultShellDistance(source.metersPerUnit, rest).distance;
  const double unitBound =
      DefaultReduceBound(source.metersPerUnit, DefaultShellDistance(0.0, rest).boxDiagonal);
  for (const double factor : {1.0, 5.0}) {
    if (!reducer.Measure(shell, factor * unitBound)) return;
    const auto t0 = std::chrono::steady_clock::now();
    const std::size_t fast = reducer.Reduce().size();
    const auto t1 = std::chrono::steady_clock::now();
    const std::size_t exact = reducer.ReduceExact().size();
    const auto t2 = std::chrono::steady_clock::now();
    std::printf(
        "  %-24s %5d keys, bound %-9.3g: reduce %5zu (%5.1f%%, %.3f s), exact %5zu "
        "(%5.1f%%, %.2f s): %+.1f%%\n",
        name.c_str(), part.GetKeyCnt(), factor * unitBound, fast, 100.0 * fast / part.GetKeyCnt(),
        std::chrono::duration<double>(t1 - t0).count(), exact, 100.0 * exact / part.GetKeyCnt(),
        std::chrono::duration<double>(t2 - t1).count(), 100.0 * (double(fast) / double(exact) - 1.0));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = fs::temp_directory_path() / "qvl_bench_reduce";
  fs::create_directories(dir);
  // "exact DIR NAME KEYS": only the comparison with the optimum, on
  // DIR/NAME.plain.rt made by DIR/NAME.plain.job.kvt (a clip prepared by hand).
  if (argc == 5 && std::string(argv[1]) == "exact") {
    CompareWithExact(argv[2], argv[3], std::atoi(argv[4]));
    return 0;
  }
  const bool realOnly = argc > 1 && std::string(argv[1]) == "real";
  std::printf("reduce: seconds, best of %d; boneanim, animreduce, ratio | keys | bytes\n", kRepeats);
  if (!realOnly) {
    std::ofstream(dir / "tree-ref.kvt", std::ios::binary) << MakeBenchPathFile(1, true);
    std::ofstream(dir / "anim.kvt", std::ios::binary) << MakeBenchPathFile(kBenchFrames);
    std::ofstream(dir / "gen.job.kvt")
        << "ref_path \"tree-ref.kvt\"\nanim_path \"anim.kvt\"\ndo_transl true\n"
           "do_quat true\ncompress false\nidentity_eps_transl 0.0001\n"
           "identity_eps_quat 0.0001\n";
    for (const bool compress : {false, true})
      ConvertAndReduce(dir, "gen.job.kvt", compress, "generated-200x5000");
  }
  const fs::path real = fs::path(QVL_SOURCE_DIR) / ".." / "shared" / "data" / "real";
  if (!fs::exists(real) || std::string(QVL_ANIMIMPORT_EXE).empty()) {
    std::printf("real clips or animimport not found: %s\n", real.c_str());
    return 0;
  }
  const char* files[] = {"bvh-cmu-01_01/01_01.bvh", "bvh-cmu-131_01/131_01.bvh",
                         "bvh-boxing-toes/Boxing_Toes.bvh", "gltf-fox/Fox.glb",
                         "gltf-cesiumman/CesiumMan.glb"};
  std::vector<std::string> clips;
  for (const char* file : files) {
    const fs::path out = dir / fs::path(file).stem();
    fs::create_directories(out);
    Timed(Quote(QVL_ANIMIMPORT_EXE) + " " + Quote(real / file) + " " + Quote(out) + " -quiet 1");
    std::vector<std::string> jobs;
    for (const auto& e : fs::directory_iterator(out)) {
      const std::string n = e.path().filename().string();
      if (n.size() > 8 && n.ends_with(".job.kvt") && n.find(".plain.") == std::string::npos &&
          n.find(".packed.") == std::string::npos)
        jobs.push_back(n);
    }
    std::sort(jobs.begin(), jobs.end());
    for (const std::string& j : jobs) {
      const std::string label = fs::path(file).stem().string() + "/" + j.substr(0, j.size() - 8);
      for (const bool compress : {false, true}) ConvertAndReduce(out, j, compress, j.substr(0, j.size() - 8));
      clips.push_back(out.string() + "|" + j.substr(0, j.size() - 8));
      (void)label;
    }
  }
  std::printf(
      "against the exact optimum (first keys of the plain file; bounds: the default and 5 times it):\n");
  for (const std::string& c : clips) {
    const std::size_t bar = c.find('|');
    CompareWithExact(c.substr(0, bar), c.substr(bar + 1), 240);
  }
  return 0;
}
