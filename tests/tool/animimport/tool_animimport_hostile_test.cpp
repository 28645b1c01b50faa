// Replays the hostile source files of tests/tool/animimport/hostile/ (and
// the ones generated here, too big or too odd to commit) through the built
// importer: each must end with an error naming the file, write nothing, and
// stay within the limits. Also the large inputs that must stay linear, and
// the output names that must never collide.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testdir.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

const std::string kHostileDir = std::string(QVL_SOURCE_DIR) + "/tests/tool/animimport/hostile";
constexpr unsigned kCpuSeconds = 10;
#ifdef QVL_SANITIZE
constexpr unsigned long long kAddressLimit = 0;  // the sanitizers reserve far more address space
#else
constexpr unsigned long long kAddressLimit = 512ull << 20;
#endif

std::string Base64(const std::string& in) {
  static const char* kAbc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, in.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kAbc[v >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

// Two keys of one translation: times 0 and t1 s, values (0, 0, 0) and (1, 0, 0).
std::string KeyBytes(float t1) {
  const float f[8] = {0, t1, 0, 0, 0, 1, 0, 0};
  return std::string(reinterpret_cast<const char*>(f), sizeof f);
}

// A glTF JSON text: nodes j0 ... (a chain when chain, else all roots), one
// animation per name in anims whose channels key every node with KeyBytes,
// the buffer's "uri" member as given (empty: none), skin joints as given.
std::string GltfJson(int nodes, bool chain, const std::vector<std::string>& anims,
                     const std::string& uriMember, const std::string& skin = "") {
  std::ostringstream j;
  j << "{\"asset\": {\"version\": \"2.0\"}, \"nodes\": [";
  for (int i = 0; i < nodes; ++i) {
    j << (i ? ", " : "") << "{\"name\": \"j" << i << "\"";
    if (chain && i + 1 < nodes) j << ", \"children\": [" << i + 1 << "]";
    j << "}";
  }
  j << "], \"buffers\": [{\"byteLength\": 32" << uriMember << "}], \"bufferViews\": [{\"buffer\": 0, "
    << "\"byteLength\": 8}, {\"buffer\": 0, \"byteOffset\": 8, \"byteLength\": 24}], \"accessors\": "
    << "[{\"bufferView\": 0, \"componentType\": 5126, \"count\": 2, \"type\": \"SCALAR\"}, {\"bufferView\": "
       "1, "
    << "\"componentType\": 5126, \"count\": 2, \"type\": \"VEC3\"}]";
  if (!skin.empty()) j << ", \"skins\": [{\"joints\": [" << skin << "]}]";
  j << ", \"animations\": [";
  for (std::size_t a = 0; a < anims.size(); ++a) {
    j << (a ? ", " : "") << "{\"name\": \"" << anims[a] << "\", \"channels\": [";
    for (int i = 0; i < nodes; ++i)
      j << (i ? ", " : "") << "{\"sampler\": 0, \"target\": {\"node\": " << i
        << ", \"path\": \"translation\"}}";
    j << "], \"samplers\": [{\"input\": 0, \"output\": 1}]}";
  }
  j << "]}";
  return j.str();
}

std::string DataUri(float t1) {
  return ", \"uri\": \"data:application/octet-stream;base64," + Base64(KeyBytes(t1)) + "\"";
}

// A GLB of json and bin, both padded; binExtra is added to the BIN chunk's
// declared length, cut bytes are taken off the end (the header keeps its length).
std::string Glb(std::string json, std::string bin, int binExtra = 0, std::size_t cut = 0) {
  while (json.size() % 4) json += ' ';
  while (bin.size() % 4) bin += '\0';
  const std::string chunks =
      U32(json.size()) + "JSON" + json + U32(bin.size() + binExtra) + std::string("BIN\0", 4) + bin;
  const std::string file = "glTF" + U32(2) + U32(12 + chunks.size()) + chunks;
  return file.substr(0, file.size() - cut);
}

// The generated cases of cases.txt, written into dir.
void Generate(const qvl_TestDir& dir, const std::string& cwd) {
  auto write = [&](const std::string& name, const std::string& bytes) {
    qvl_TestDir::WriteFile(dir / name, bytes);
  };
  const std::vector<std::string> one{"Walk"};
  write("fifo.gltf", GltfJson(1, true, one, ", \"uri\": \"fifo\""));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  write("directory.gltf", GltfJson(1, true, one, ", \"uri\": \"dir\""));
  std::filesystem::create_directory(dir / "dir");
  // Found only in the current directory, which is no longer looked in.
  write("in-current-directory.gltf", GltfJson(1, true, one, ", \"uri\": \"cwd.bin\""));
  qvl_TestDir::WriteFile(cwd + "/cwd.bin", KeyBytes(1));
  write("link-outside.gltf", GltfJson(1, true, one, ", \"uri\": \"link.bin\""));
  std::filesystem::create_symlink(cwd + "/cwd.bin", dir / "link.bin");
  // 100 joints keyed at 0 and 100,000 s: 30 frames per second give 3e8 frames.
  write("keys-far-apart.gltf", GltfJson(100, false, one, DataUri(100000)));
  // 20 clips of 1e7 frames each: under the clip limit, over the import's.
  write("many-clips-too-large.gltf",
        GltfJson(1, false, std::vector<std::string>(20, "Walk"), DataUri(333333)));
  const std::string json = GltfJson(1, true, one, "");
  write("bin-chunk-past-the-end.glb", Glb(json, KeyBytes(1), 8));
  write("cut-by-4-bytes.glb", Glb(json, KeyBytes(1), 0, 4));
  std::string zero = json;
  zero.replace(zero.find("\"byteLength\": 32"), 16, "\"byteLength\": 0");
  write("byte-length-zero.glb", Glb(zero, KeyBytes(1)));
  write("too-short.glb", Glb(json, KeyBytes(1)).substr(0, 11));
  std::string bigJson = Glb(json, KeyBytes(1));
  bigJson[15] = '\x7f';  // the JSON chunk's length far beyond the file
  write("json-chunk-past-the-end.glb", bigJson);
  // Nesting far deeper than any reader's stack: each must end in the child.
  constexpr std::size_t kDeep = 2'000'000;
  write("extras-nested-deep.gltf",
        "{\"asset\": {\"version\": \"2.0\"}, \"extras\": " + std::string(kDeep, '[') +
            std::string(kDeep, ']') + ", \"nodes\": [{\"name\": \"a\"}]}");
  std::string scopes;
  for (std::size_t i = 0; i < kDeep / 2; ++i) scopes += "A:{";
  write("fbx-ascii-nested-deep.fbx",
        "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n FBXHeaderVersion: 1003\n FBXVersion: 7400\n}\n"
        "Objects:  {\n" +
            scopes + std::string(kDeep / 2, '}') + "}\n");
  // Binary records, each holding the next: end offset, no properties, name "A";
  // every record but the innermost closes with a 13-byte null record.
  const std::size_t records = kDeep / 2;
  std::string fbx = std::string("Kaydara FBX Binary  \0\x1a\0", 23) + U32(7400);
  const std::size_t first = fbx.size(), last = first + 14 * records;
  for (std::size_t i = 0; i < records; ++i)
    fbx += U32(static_cast<std::uint32_t>(last + 13 * (records - 1 - i))) + U32(0) + U32(0) +
           "\x01"
           "A";
  fbx += std::string(13 * records, '\0');
  write("fbx-binary-nested-deep.fbx", fbx);
}

TEST(AnimImportHostile, EveryCaseEndsWithAnErrorNamingTheFileAndWritesNothing) {
  std::ifstream list(kHostileDir + "/cases.txt");
  ASSERT_TRUE(list.good()) << kHostileDir;
  qvl_TestDir generated, run;
  Generate(generated, run.Path());
  const std::vector<std::string> runBefore = run.List();
  int cases = 0;
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t bar1 = line.find(" | "), bar2 = line.find(" | ", bar1 + 3);
    ASSERT_NE(bar2, std::string::npos) << line;
    const std::string file = line.substr(0, bar1), opts = line.substr(bar1 + 3, bar2 - bar1 - 3),
                      want = line.substr(bar2 + 3);
    const std::string src =
        file.rfind("generated/", 0) == 0 ? generated / file.substr(10) : kHostileDir + "/" + file;
    std::vector<std::string> args{src, "out"};
    std::istringstream words(opts == "-" ? "" : opts);
    for (std::string w; words >> w;) args.push_back(w);
    const qvl_TestOutcome r =
        qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, run.Path(), args, kAddressLimit, kCpuSeconds);
    EXPECT_TRUE(r.exitCode == 1 || r.exitCode == 2) << file << " exit " << r.exitCode << "\n" << r.err;
    EXPECT_NE(r.err.find(src), std::string::npos) << file << ": the file is not named\n" << r.err;
    EXPECT_NE(r.err.find(want), std::string::npos) << file << ": expected\n" << want << "\n" << r.err;
    EXPECT_EQ(run.List(), runBefore) << file << ": something was written or left";
    ++cases;
  }
  EXPECT_GE(cases, 30);
}

// Long chains and many clips of one name stay linear: within the processor
// limit, with -list and writing.
TEST(AnimImportHostile, LongChainsAndManyClipsStayWithinTheLimits) {
  qvl_TestDir dir;
  auto run = [&](const std::string& name, const std::string& json, const std::vector<std::string>& opts,
                 unsigned long long memory = 0, unsigned cpu = kCpuSeconds) {
    qvl_TestDir::WriteFile(dir / (name + ".gltf"), json);
    std::vector<std::string> args{name + ".gltf", name};
    args.insert(args.end(), opts.begin(), opts.end());
    const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), args, memory, cpu);
    EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
    return r;
  };
  run("chain", GltfJson(100000, true, {}, DataUri(1), "0, 99999"), {"-quiet", "1"});
  EXPECT_TRUE(std::filesystem::exists(dir / "chain/rest.kvt"));

  // A keyed, non-uniform scale on top of the chain: baked into every joint below, and checked for
  // exactness, in time linear in the chain.
  std::string grow = GltfJson(100000, true, {"Grow"}, DataUri(1));
  run("grow", grow.replace(grow.find("\"translation\""), 13, "\"scale\""), {"-quiet", "1"});
  EXPECT_EQ(ReadPathFile(dir / "grow/Grow.kvt").paths.at("j99999").frames.size(), 2u);

  const qvl_TestOutcome r =
      run("many", GltfJson(1, true, std::vector<std::string>(20000, "Walk"), DataUri(1)), {"-list", "1"});
  EXPECT_NE(r.out.find("\nclip Walk_20000 duration 1 s, keys 2, joints 1\n"), std::string::npos);

  // 3,000 clips written under a 2 GiB address space: one output open at a time. Creating
  // 6,001 files costs the file system several seconds of processor time (more under the
  // sanitizers), hence a larger bound.
  run("some", GltfJson(1, true, std::vector<std::string>(3000, "Walk"), DataUri(1)), {"-quiet", "1"},
      kAddressLimit ? 2ull << 30 : 0, 3 * kCpuSeconds);
  const std::vector<std::string> some = ListDir(dir / "some");
  EXPECT_EQ(some.size(), 6001u);
  EXPECT_TRUE(std::binary_search(some.begin(), some.end(), "Walk_3000.job.kvt"));
}

// Names never collide with each other or with rest.kvt, and names too long
// for the file system are cut the same way every time, and said so.
TEST(AnimImportHostile, OutputNamesNeverCollide) {
  qvl_TestDir dir;
  const std::string longName(300, 'L');
  qvl_TestDir::WriteFile(
      dir / "names.gltf",
      GltfJson(1, true, {"rest", "Wave", "Wave.job", "Wave_2", "Wave", longName}, DataUri(1)));
  const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"names.gltf", "out"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Wrote 13 files"), std::string::npos) << r.out;
  const std::string cut = longName.substr(0, 191) + "~";
  EXPECT_NE(r.err.find("warning: The clip name \"" + longName +
                       "\" is longer than 200 bytes; its files are named \"" + cut),
            std::string::npos)
      << r.err;
  std::vector<std::string> names = ListDir(dir / "out");
  ASSERT_EQ(names.size(), 13u);
  EXPECT_EQ(names[0].substr(0, 192), cut);  // with 8 hex digits of the name's hash
  // A second run names every file the same.
  ASSERT_EQ(qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"names.gltf", "out2"}).exitCode, 0);
  EXPECT_EQ(ListDir(dir / "out2"), names);
  names.erase(names.begin(), names.begin() + 2);
  EXPECT_EQ(names, (std::vector<std::string>{"Wave.job.kvt", "Wave.job_2.job.kvt", "Wave.job_2.kvt",
                                             "Wave.kvt", "Wave_2.job.kvt", "Wave_2.kvt", "Wave_3.job.kvt",
                                             "Wave_3.kvt", "rest.kvt", "rest_2.job.kvt", "rest_2.kvt"}));
  // Each job names its own clip; the one of "rest" does not convert the rest pose.
  EXPECT_NE(qvl_TestDir::ReadFile(dir / "out/rest_2.job.kvt").find("anim_path \"rest_2.kvt\""),
            std::string::npos);
  // A BVH file called rest.bvh: its one clip takes the stem, and rest.kvt stays the rest pose.
  qvl_TestDir::WriteFile(
      dir / "rest.bvh",
      "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 1 Zrotation\n}\nMOTION\nFrames: 2\n"
      "Frame Time: 0.1\n0\n90\n");
  ASSERT_EQ(qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"rest.bvh", "bvh"}).exitCode, 0);
  EXPECT_EQ(ListDir(dir / "bvh"), (std::vector<std::string>{"rest.kvt", "rest_2.job.kvt", "rest_2.kvt"}));
  EXPECT_EQ(
      qvl_TestRunProgram(QVL_BONEANIM_EXE, dir.Path(), {"bvh/rest_2.job.kvt", "r.anim.kvt", "-refdir", "bvh"})
          .exitCode,
      0);
}

}  // namespace
