// Import fidelity on files from the field: Blender's four exporters against
// the motion the artist authored (world positions after one similarity
// transform), and gltfpack's optimised glTF files against their originals.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testprogram.h"

namespace {

const std::string kReal = QVL_SOURCE_DIR "/../shared/data/real/";

#define SKIP_WITHOUT(dir) \
  if (!std::filesystem::exists(kReal + dir)) GTEST_SKIP() << "real files not found: " << kReal + dir

struct Truth {
  std::vector<std::string> bones, parents;  // parent "-" for none
  struct ClipPos {
    std::vector<double> frames;
    std::vector<std::vector<V3>> pos;  // per frame, per bone; metres
  };
  std::map<std::string, ClipPos> clips;
};

// The truth file (gzip JSON) through python3's standard library, as plain text.
Truth ReadTruth(const std::string& gz) {
  const char* script =
      "import gzip,json,sys\nj=json.load(gzip.open(sys.argv[1]))\n"
      "print(len(j['bones']),*[b+' '+(p or '-') for b,p in zip(j['bones'],j['parents'])])\n"
      "for c in j['clips']:\n print(c['name'],len(c['frames']),*c['frames'])\n"
      " for f in c['pos']: print(*f)\n";
  const qvl_TestOutcome r = qvl_TestRunProgram(QVL_PYTHON3_EXE, "/", {"-c", script, gz});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::istringstream in(r.out);
  Truth t;
  std::size_t n = 0;
  in >> n;
  t.bones.resize(n);
  t.parents.resize(n);
  for (std::size_t b = 0; b < n; ++b) in >> t.bones[b] >> t.parents[b];
  std::string name;
  std::size_t frames = 0;
  while (in >> name >> frames) {
    Truth::ClipPos& c = t.clips[name];
    c.frames.resize(frames);
    for (double& f : c.frames) in >> f;
    c.pos.assign(frames, std::vector<V3>(n));
    for (auto& f : c.pos) {
      for (V3& p : f) in >> p[0] >> p[1] >> p[2];
    }
  }
  return t;
}

// The sum of the bones' lengths (head to parent head): the skeleton's size,
// whatever its pose.
template <class PosOf>
double BoneLengths(const Truth& t, PosOf pos) {
  double sum = 0;
  for (std::size_t b = 0; b < t.bones.size(); ++b) {
    if (t.parents[b] != "-") sum += Dist(pos(t.bones[b]), pos(t.parents[b]));
  }
  return sum;
}

TEST(AnimImportFidelity, BlenderExportsMatchTheAuthoredMotion) {
  SKIP_WITHOUT("blender-samples");
  if (std::string(QVL_PYTHON3_EXE).empty()) GTEST_SKIP() << "no python3 to read the truth files";
  struct Case {
    const char* file;
    const char* clip;   // the written clip
    const char* truth;  // the truth clip it holds
    double scale;       // the expected fit: 100 for centimetres
    double unit;        // meters_per_unit, 0 for none
  } cases[] = {
      // BVH has no unit, and the armature object's 0.01 of b_scale001 is lost
      // by the format's nature (it holds bones only): it comes out in cm.
      {"a_humanoid.bvh", "a_humanoid", "scene", 1, 0},
      {"b_scale001.bvh", "b_scale001", "scene", 100, 0},
      {"c_twoclips.bvh", "c_twoclips", "scene", 1, 0},
      {"a_humanoid.dae", "Armature", "scene", 1, 1},
      {"b_scale001.dae", "Armature", "scene", 100, 0.01},
      {"c_twoclips.dae", "Armature", "scene", 1, 1},
      // FBX: the armature node's unit scale (100) is baked in: centimetres.
      {"a_humanoid.fbx", "Armature_Walk", "Walk", 100, 0.01},
      {"b_scale001.fbx", "Armature_Walk", "Walk", 100, 0.01},
      {"c_twoclips.fbx", "Walk", "Walk", 100, 0.01},
      {"c_twoclips.fbx", "Armature_Walk", "Walk", 100, 0.01},
      {"c_twoclips.fbx", "Armature_Wave", "scene", 100, 0.01},  // baked over the Walk track
      {"a_humanoid.glb", "Walk", "Walk", 1, 1},
      {"b_scale001.glb", "Walk", "Walk", 100, 0.01},
      {"c_twoclips.glb", "Walk", "Walk", 1, 1},
      {"c_twoclips.glb", "Wave", "Wave", 1, 1},
  };
  std::map<std::string, Truth> truths;
  for (const Case& c : cases) {
    const std::string file = c.file, stem = file.substr(0, file.find('.'));
    if (!truths.count(stem)) truths[stem] = ReadTruth(kReal + "blender-samples/" + stem + ".truth.json.gz");
    const Truth& truth = truths[stem];
    const Truth::ClipPos& tc = truth.clips.at(c.truth);
    qvl_TestDir dir;
    const qvl_TestOutcome r =
        qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {kReal + "blender-samples/" + file, "out"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string where = file + " " + c.clip;
    const ReadFile rest = ReadPathFile(dir / "out/rest.kvt");
    const ReadFile clip = ReadPathFile(dir / ("out/" + std::string(c.clip) + ".kvt"));
    ASSERT_FALSE(clip.order.empty()) << where;
    // The names and the chain of parents are the rig's.
    for (std::size_t b = 0; b < truth.bones.size(); ++b) {
      ASSERT_EQ(rest.paths.count(truth.bones[b]), 1u) << where << " " << truth.bones[b];
      const std::vector<std::string>& p = rest.paths.at(truth.bones[b]).parents;
      // A top bone of the rig may hang below the armature node, itself a top joint (FBX).
      const bool top = p.empty() || rest.paths.at(p[0]).parents.empty();
      EXPECT_TRUE(truth.parents[b] == "-" ? top : p == std::vector<std::string>{truth.parents[b]}) << where;
    }
    EXPECT_EQ(rest.metersPerUnit,
              c.unit > 0 ? std::vector<double>{static_cast<float>(c.unit)} : std::vector<double>{})
        << where;
    // Truth frame f lies at the clip's start + (f - first) / 30 s.
    const double start = clip.paths.begin()->second.range[0], end = clip.paths.begin()->second.range[1];
    std::vector<V3> x, y;
    for (std::size_t f = 0; f < tc.frames.size(); ++f) {
      const double t = start + (tc.frames[f] - tc.frames[0]) / 30.0;
      if (t > end + 1e-3) break;
      const auto world = WorldPoses(rest, &clip, t);
      for (std::size_t b = 0; b < truth.bones.size(); ++b) {
        x.push_back(tc.pos[f][b]);
        y.push_back(world.at(truth.bones[b]).first);
      }
    }
    const auto restPose = WorldPoses(rest, nullptr, 0);
    std::vector<V3> restPoints;
    for (const std::string& b : truth.bones) restPoints.push_back(restPose.at(b).first);
    const SimilarityFit fit = FitSimilarity(x, y);
    EXPECT_LE(fit.maxDist, 0.005 * Extent(restPoints)) << where << ": " << fit.maxDist / Extent(restPoints);
    EXPECT_NEAR(fit.scale / c.scale, 1.0, 1e-3) << where << " scale " << fit.scale;
    // The written skeleton times the unit is as large as the authored one in metres.
    if (c.unit > 0) {
      const double written = BoneLengths(truth, [&](const std::string& b) { return restPose.at(b).first; });
      const double authored = BoneLengths(truth, [&](const std::string& b) {
        return tc.pos[0][std::find(truth.bones.begin(), truth.bones.end(), b) - truth.bones.begin()];
      });
      EXPECT_NEAR(written * rest.metersPerUnit.at(0) / authored, 1.0, 1e-3) << where;
    }
    // boneanim reads the new keys as the lenient reader it is: the same bytes with and without them.
    const std::string restText = qvl_TestDir::ReadFile(dir / "out/rest.kvt");
    std::string plain;  // restText without its parent and meters_per_unit lines
    for (std::size_t at = 0, next; at < restText.size(); at = next) {
      next = std::min(restText.find('\n', at), restText.size() - 1) + 1;
      const std::size_t key = restText.find_first_not_of(' ', at);
      if (key >= next ||
          (restText.compare(key, 7, "parent ") != 0 && restText.compare(key, 16, "meters_per_unit ") != 0))
        plain.append(restText, at, next - at);
    }
    EXPECT_LT(plain.size(), restText.size()) << where;
    qvl_TestDir::WriteFile(dir / "out/plain.kvt", plain);
    std::string job = qvl_TestDir::ReadFile(dir / ("out/" + std::string(c.clip) + ".job.kvt"));
    qvl_TestDir::WriteFile(dir / "out/plain.job.kvt", job.replace(job.find("rest.kvt"), 8, "plain.kvt"));
    for (const char* j : {"plain", c.clip}) {
      const qvl_TestOutcome b = qvl_TestRunProgram(
          QVL_BONEANIM_EXE, dir.Path(),
          {"out/" + std::string(j) + ".job.kvt", "out/" + std::string(j) + ".anim.kvt", "-refdir", "out"});
      EXPECT_EQ(b.exitCode, 0) << b.err;
    }
    EXPECT_EQ(qvl_TestDir::ReadFile(dir / "out/plain.anim.kvt"),
              qvl_TestDir::ReadFile(dir / ("out/" + std::string(c.clip) + ".anim.kvt")))
        << where;
  }
}

// The angle in degrees between two rotations: of a^-1 b, from its vector
// part and w by atan2, which stays exact for small angles.
double AngleDeg(const Quatd& a, const Quatd& b) {
  const Quatd d = QuatMul(Quatd{-a.x, -a.y, -a.z, a.w}, b);
  return 2 * std::atan2(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), std::fabs(d.w)) * 180 / M_PI;
}

// gltfpack resamples at 30 Hz and quantises (Fox.quantized), and compresses
// the buffer views too (.cc): the same joints and clips as the original, and
// every key of the optimised file within 0.05 degrees and 0.1% of the
// skeleton's size of the original sampled at that key's time.
TEST(AnimImportFidelity, GltfpackFilesMatchTheirOriginalsAtTheirKeys) {
  SKIP_WITHOUT("gltfpack");
  struct Case {
    const char* packed;
    const char* original;
  } cases[] = {{"gltfpack/Fox.quantized.glb", "gltf-fox/Fox.glb"},
               {"gltfpack/Fox.cc.glb", "gltf-fox/Fox.glb"},
               {"gltfpack/CesiumMan.cc.glb", "gltf-cesiumman/CesiumMan.glb"}};
  for (const Case& c : cases) {
    qvl_TestDir dir;
    // Under the original's name, so that a clip named after the file is named alike.
    const std::string source = c.original, copy = dir / source.substr(source.rfind('/') + 1);
    qvl_TestDir::WriteFile(copy, qvl_TestDir::ReadFile(kReal + c.packed));
    for (const char* out : {"packed", "original"}) {
      const qvl_TestOutcome r =
          qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {out[0] == 'p' ? copy : kReal + source, out});
      ASSERT_EQ(r.exitCode, 0) << c.packed << " " << out << ": " << r.err;
    }
    const ReadFile packedRest = ReadPathFile(dir / "packed/rest.kvt");
    const ReadFile origRest = ReadPathFile(dir / "original/rest.kvt");
    EXPECT_EQ(packedRest.order, origRest.order) << c.packed;
    const std::vector<std::string> origClips = ListDir(dir / "original");
    EXPECT_EQ(ListDir(dir / "packed"), origClips) << c.packed;
    std::vector<V3> restPoints;
    for (const auto& [name, pose] : WorldPoses(origRest, nullptr, 0)) restPoints.push_back(pose.first);
    const double size = Extent(restPoints);
    double worstDeg = 0, worstT = 0;
    std::size_t keys = 0;
    for (const std::string& f : origClips) {
      if (f == "rest.kvt" || f.find(".job.") != std::string::npos) continue;
      const ReadFile packed = ReadPathFile(dir / ("packed/" + f));
      const ReadFile orig = ReadPathFile(dir / ("original/" + f));
      for (const auto& [name, path] : packed.paths) {
        // A joint the original does not animate holds its rest pose there.
        const auto o = orig.paths.find(name);
        const ReadPath& ref = o != orig.paths.end() ? o->second : origRest.paths.at(name);
        for (const ReadFrame& k : path.frames) {
          V3 t;
          Quatd q;
          SamplePath(ref, k.key, &t, &q);
          worstDeg = std::max(worstDeg, AngleDeg(q, Quatd{k.q[0], k.q[1], k.q[2], k.q[3]}));
          worstT = std::max(worstT, Dist(t, V3{k.t[0], k.t[1], k.t[2]}) / size);
          ++keys;
        }
      }
    }
    EXPECT_GT(keys, 100u) << c.packed;
    EXPECT_LE(worstDeg, 0.05) << c.packed;
    EXPECT_LE(worstT, 0.001) << c.packed;
  }
}

// A required extension the importer does not know is refused before any
// data is read, naming it; one it supports does not stop the file.
TEST(AnimImportFidelity, ARequiredExtensionIsSupportedOrTheFileRefused) {
  SKIP_WITHOUT("gltf-fox");
  const std::string gltf = qvl_TestDir::ReadFile(kReal + "gltf-fox/Fox.gltf");
  struct Case {
    const char* required;
    const char* refused;  // the extension named in the error, nullptr for an import
  } cases[] = {{"\"KHR_mesh_quantization\"", nullptr},
               {"\"KHR_mesh_quantization\", \"EXT_made_up\"", "EXT_made_up"},
               {"\"KHR_animation_pointer\"", "KHR_animation_pointer"}};
  for (const Case& c : cases) {
    qvl_TestDir dir;
    qvl_TestDir::WriteFile(dir / "Fox.bin", qvl_TestDir::ReadFile(kReal + "gltf-fox/Fox.bin"));
    qvl_TestDir::WriteFile(dir / "Fox.gltf",
                           "{\"extensionsRequired\": [" + std::string(c.required) + "]," + gltf.substr(1));
    const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"Fox.gltf", "out"});
    EXPECT_EQ(r.exitCode == 0, c.refused == nullptr) << c.required << ": " << r.err;
    EXPECT_EQ(std::filesystem::exists(dir / "out/rest.kvt"), c.refused == nullptr) << c.required;
    if (c.refused) {
      EXPECT_NE(r.err.find("The file requires the glTF extension \"" + std::string(c.refused) +
                           "\", which this importer does not support."),
                std::string::npos)
          << r.err;
    }
  }
}

// A Collada <unit> other than metres gives meters_per_unit and leaves the
// values as the file writes them (the library's folding of the unit into the
// root node is taken back out).
TEST(AnimImportFidelity, ColladaUnitIsTheFilesAndLeavesTheValuesAlone) {
  SKIP_WITHOUT("blender-samples");
  std::string dae = qvl_TestDir::ReadFile(kReal + "blender-samples/a_humanoid.dae");
  const std::string metre = "<unit name=\"meter\" meter=\"1\"/>";
  ASSERT_NE(dae.find(metre), std::string::npos);
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "m.dae", dae);
  qvl_TestDir::WriteFile(dir / "cm.dae", dae.replace(dae.find(metre), metre.size(), "<unit meter='0.01'/>"));
  for (const char* f : {"m", "cm"}) {
    const qvl_TestOutcome r =
        qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {std::string(f) + ".dae", f, "-quiet", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  EXPECT_EQ(ReadPathFile(dir / "m/rest.kvt").metersPerUnit, std::vector<double>{1.0});
  EXPECT_EQ(ReadPathFile(dir / "cm/rest.kvt").metersPerUnit, std::vector<double>{0.01f});
  std::string rest = qvl_TestDir::ReadFile(dir / "cm/rest.kvt");
  rest.replace(rest.find("meters_per_unit 0.01"), 20, "meters_per_unit 1.0");
  EXPECT_EQ(rest, qvl_TestDir::ReadFile(dir / "m/rest.kvt"));
  EXPECT_EQ(qvl_TestDir::ReadFile(dir / "cm/Armature.kvt"), qvl_TestDir::ReadFile(dir / "m/Armature.kvt"));
}

}  // namespace
