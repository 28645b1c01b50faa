// The real files of ../shared/data/real through the built program, with the
// written values checked against values computed here from the sources, and
// generated glTF files for the keys the asset library reads as linear.
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testprogram.h"
#include "tool/animimport/tool_animimport_gltf.h"
#include "tool/animimport/tool_animimport_sample.h"

namespace {

const std::string kReal = QVL_SOURCE_DIR "/../shared/data/real/";
constexpr double kTol = 2e-6;  // float rounding of the written values, relative to 1

#define SKIP_WITHOUT_REAL_FILES() \
  if (!std::filesystem::exists(kReal)) GTEST_SKIP() << "real files not found: " << kReal

// Imports src into dir/out, expects exit 0, runs boneanim on every job and
// gives the import's standard error (its warnings).
std::string ImportAndConvert(const qvl_TestDir& dir, const std::string& src,
                             const std::vector<std::string>& jobs) {
  const qvl_TestOutcome r = qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {src, "out"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const std::string& job : jobs) {
    const qvl_TestOutcome b =
        qvl_TestRunProgram(QVL_BONEANIM_EXE, dir.Path(),
                           {"out/" + job + ".job.kvt", "out/" + job + ".anim.kvt", "-refdir", "out"});
    EXPECT_EQ(b.exitCode, 0) << job << b.err;
  }
  return r.err;
}

void ExpectQuat(const double* got, const double* want, const std::string& where) {
  EXPECT_LT(QuatDist(got, want), kTol) << where;
}

// --- BVH, computed from OFFSETs and Euler channels in declared order ---
struct BvhJointRef {
  std::string name;
  double offset[3];
  std::vector<std::string> chans;
  int firstCol;
  std::string parent;  // "" for a ROOT
};

// A reading of the hierarchy and the frame lines, kept apart from the
// importer's reader: whitespace tokens, End Site skipped by brace counting.
void ParseBvhRef(const std::string& path, std::vector<BvhJointRef>* joints,
                 std::vector<std::vector<double>>* frames, double* frameTime) {
  std::ifstream in(path);
  std::string tok;
  int cols = 0;
  std::vector<std::string> open;  // the joints whose braces enclose the current one
  while (in >> tok && tok != "MOTION") {
    if (tok == "ROOT" || tok == "JOINT") {
      BvhJointRef j;
      in >> j.name >> tok >> tok >> j.offset[0] >> j.offset[1] >> j.offset[2];
      j.firstCol = cols;
      j.parent = open.empty() ? "" : open.back();
      open.push_back(j.name);
      joints->push_back(j);
    } else if (tok == "}") {
      open.pop_back();
    } else if (tok == "CHANNELS") {
      int n = 0;
      in >> n;
      for (int i = 0; i < n; ++i) {
        in >> tok;
        joints->back().chans.push_back(tok);
      }
      cols += n;
    } else if (tok == "Site") {
      in >> tok >> tok >> tok >> tok >> tok >> tok;  // { OFFSET x y z } of the End Site
    }
  }
  in >> tok >> tok >> tok >> tok >> *frameTime;  // Frames: N Frame Time: T
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::vector<double> row;
    double v;
    while (ls >> v) row.push_back(v);
    if (static_cast<int>(row.size()) == cols) frames->push_back(row);
  }
}

TEST(AnimImportReal, BvhValuesMatchOffsetsAndEulerChannels) {
  SKIP_WITHOUT_REAL_FILES();
  struct Case {
    const char* file;
    const char* clip;
    std::size_t frames;
  } cases[] = {{"bvh-cmu-01_01/01_01.bvh", "01_01", 2752},
               {"bvh-cmu-131_01/131_01.bvh", "131_01", 994},
               {"bvh-boxing-toes/Boxing_Toes.bvh", "Boxing_Toes", 3070}};
  for (const Case& c : cases) {
    qvl_TestDir dir;
    const std::string warnings = ImportAndConvert(dir, kReal + c.file, {c.clip});
    EXPECT_EQ(
        warnings.find("warning: The header declares 3069 frames, the file holds 3070") != std::string::npos,
        c.frames == 3070)
        << warnings;
    std::vector<BvhJointRef> joints;
    std::vector<std::vector<double>> frames;
    double ft = 0;
    ParseBvhRef(kReal + c.file, &joints, &frames, &ft);
    ASSERT_EQ(frames.size(), c.frames);
    const ReadFile rest = ReadPathFile(dir / "out/rest.kvt");
    const ReadFile clip = ReadPathFile(dir / ("out/" + std::string(c.clip) + ".kvt"));
    ASSERT_EQ(rest.order.size(), joints.size()) << c.file;
    for (std::size_t ji : {std::size_t(0), std::size_t(1), joints.size() / 2, joints.size() - 1}) {
      const BvhJointRef& j = joints[ji];
      EXPECT_EQ(rest.order[ji], j.name);
      EXPECT_EQ(rest.paths.at(j.name).parents,
                j.parent.empty() ? std::vector<std::string>{} : std::vector<std::string>{j.parent});
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(rest.paths.at(j.name).frames[0].t[i], j.offset[i], 1e-5);
      const ReadPath& path = clip.paths.at(j.name);
      ASSERT_EQ(path.frames.size(), c.frames) << j.name;
      EXPECT_NEAR(path.range[1], (c.frames - 1) * ft, 1e-4);
      for (std::size_t f : {std::size_t(0), std::size_t(1), c.frames / 3, c.frames - 1}) {
        const ReadFrame& got = path.frames[f];
        const std::string where = std::string(c.file) + " " + j.name + " frame " + std::to_string(f);
        EXPECT_NEAR(got.key, f * ft, 1e-5) << where;
        double t[3] = {j.offset[0], j.offset[1], j.offset[2]};
        for (std::size_t ch = 0; ch < j.chans.size(); ++ch) {
          if (j.chans[ch].find("position") != std::string::npos)
            t[j.chans[ch][0] - 'X'] = frames[f][j.firstCol + ch];  // the channel replaces the OFFSET
        }
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(got.t[i], t[i], 1e-4 * (1 + std::fabs(t[i]))) << where;
        std::vector<std::pair<int, double>> euler;
        for (std::size_t ch = 0; ch < j.chans.size(); ++ch) {
          if (j.chans[ch].find("rotation") != std::string::npos)
            euler.push_back({j.chans[ch][0] - 'X', frames[f][j.firstCol + ch]});
        }
        static constexpr double kProbes[2][3] = {{1, 0, 0}, {0, 0.6, 0.8}};
        for (const double* v : kProbes) {
          double want[3], have[3];
          EulerRotate(euler, v, want);
          QuatRotate(got.q, v, have);
          for (int i = 0; i < 3; ++i) EXPECT_NEAR(have[i], want[i], 1e-5) << where;
        }
      }
    }
  }
}

// --- glTF, computed from the accessors ---
std::vector<float> AccessorFloats(const tinygltf::Model& m, int index) {
  const tinygltf::Accessor& a = m.accessors[index];
  const tinygltf::BufferView& v = m.bufferViews[a.bufferView];
  const int width = tinygltf::GetNumComponentsInType(a.type);
  EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
  EXPECT_TRUE(v.byteStride == 0 || v.byteStride == 4u * width);
  std::vector<float> out(a.count * width);
  std::memcpy(out.data(), m.buffers[v.buffer].data.data() + v.byteOffset + a.byteOffset, out.size() * 4);
  return out;
}

TEST(AnimImportReal, GltfValuesMatchTheAccessors) {
  SKIP_WITHOUT_REAL_FILES();
  struct Case {
    const char* file;
    std::vector<std::string> clips;
    double firstKey;
  } cases[] = {{"gltf-cesiumman/CesiumMan.glb", {"CesiumMan"}, 1.0 / 24},
               {"gltf-fox/Fox.gltf", {"Survey", "Walk", "Run"}, 0.0},
               {"gltf-fox/Fox.glb", {"Survey", "Walk", "Run"}, 0.0}};
  for (const Case& c : cases) {
    qvl_TestDir dir;
    ImportAndConvert(dir, kReal + c.file, c.clips);
    tinygltf::Model m;
    tinygltf::TinyGLTF loader;
    std::string err, warn;
    const std::string path = kReal + c.file;
    ASSERT_TRUE(path.back() == 'b' ? loader.LoadBinaryFromFile(&m, &err, &warn, path)
                                   : loader.LoadASCIIFromFile(&m, &err, &warn, path));
    ASSERT_EQ(m.animations.size(), c.clips.size());
    const ReadFile rest = ReadPathFile(dir / "out/rest.kvt");
    for (std::size_t a = 0; a < c.clips.size(); ++a) {
      const ReadFile clip = ReadPathFile(dir / ("out/" + c.clips[a] + ".kvt"));
      const tinygltf::Animation& anim = m.animations[a];
      for (std::size_t ci : {std::size_t(0), anim.channels.size() / 2, anim.channels.size() - 1}) {
        const tinygltf::AnimationChannel& ch = anim.channels[ci];
        if (ch.target_path == "scale") continue;
        const tinygltf::Node& node = m.nodes[ch.target_node];
        const std::vector<float> times = AccessorFloats(m, anim.samplers[ch.sampler].input);
        const std::vector<float> values = AccessorFloats(m, anim.samplers[ch.sampler].output);
        const ReadPath& p = clip.paths.at(node.name);
        EXPECT_NEAR(p.range[0], c.firstKey, 1e-6);
        if (node.rotation.size() == 4) {
          ExpectQuat(rest.paths.at(node.name).frames[0].q, node.rotation.data(), node.name + " rest");
        }
        for (std::size_t n = 0; n < m.nodes.size(); ++n) {
          const std::vector<int>& kids = m.nodes[n].children;
          if (std::find(kids.begin(), kids.end(), ch.target_node) != kids.end() &&
              rest.paths.count(m.nodes[n].name)) {
            EXPECT_EQ(rest.paths.at(node.name).parents, std::vector<std::string>{m.nodes[n].name})
                << node.name;
          }
        }
        for (std::size_t k : {std::size_t(0), times.size() / 2, times.size() - 1}) {
          const std::string where =
              c.clips[a] + " " + node.name + " " + ch.target_path + " key " + std::to_string(k);
          auto frame = std::find_if(p.frames.begin(), p.frames.end(),
                                    [&](const ReadFrame& f) { return f.key == times[k]; });
          ASSERT_NE(frame, p.frames.end()) << where;
          if (ch.target_path == "rotation") {
            const double want[4] = {values[4 * k], values[4 * k + 1], values[4 * k + 2], values[4 * k + 3]};
            ExpectQuat(frame->q, want, where);
          } else {
            for (int i = 0; i < 3; ++i)
              EXPECT_NEAR(frame->t[i], values[3 * k + i], kTol * (1 + std::fabs(values[3 * k + i]))) << where;
          }
        }
      }
    }
    EXPECT_EQ(rest.metersPerUnit, std::vector<double>{1.0});  // glTF is in metres
    // Nodes above the skin's top joint are not joints.
    for (const char* above : {"Z_UP", "Armature", "root"}) EXPECT_EQ(rest.paths.count(above), 0u) << above;
  }
}

// --- FBX, against the asset library's own keys ---
TEST(AnimImportReal, FbxValuesMatchTheLibrarysKeys) {
  SKIP_WITHOUT_REAL_FILES();
  for (const char* file : {"fbx-assimp-tests/animation_with_skeleton.fbx", "fbx-assimp-tests/huesitos.fbx"}) {
    Assimp::Importer importer;
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    const aiScene* scene = importer.ReadFile(kReal + file, 0);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->mNumAnimations, 1u);
    const aiAnimation* anim = scene->mAnimations[0];
    const std::string clipName = SanitizeName(anim->mName.C_Str());
    qvl_TestDir dir;
    // Blender's armature carries a 100x scale: baked into the bones below it,
    // and its own dropped with a warning.
    EXPECT_NE(
        ImportAndConvert(dir, kReal + file, {clipName})
            .find("warning: Joint \"Armature\" has a scale that differs from 1 by up to 99 (in the rest "
                  "pose); it is baked into the translations of the joints below"),
        std::string::npos);
    const ReadFile clip = ReadPathFile(dir / ("out/" + clipName + ".kvt"));
    const ReadFile rest = ReadPathFile(dir / "out/rest.kvt");
    EXPECT_EQ(rest.metersPerUnit, std::vector<double>{0.01f});  // centimetres: the unit scale 1 of FBX
    const double tps = anim->mTicksPerSecond > 0 ? anim->mTicksPerSecond : 25.0;
    for (unsigned ci : {0u, anim->mNumChannels / 2, anim->mNumChannels - 1}) {
      const aiNodeAnim* ch = anim->mChannels[ci];
      const ReadPath& p = clip.paths.at(ch->mNodeName.C_Str());
      const aiNode* node = scene->mRootNode->FindNode(ch->mNodeName);
      ASSERT_NE(node, nullptr);
      // Every node below the scene's root is a joint here: a key's baked
      // translation is the library's times the product of its ancestors' scales.
      double factor = 1;
      for (const aiNode* n = node->mParent; n && n != scene->mRootNode; n = n->mParent) {
        aiVector3D s, t;
        aiQuaternion r;
        n->mTransformation.Decompose(s, r, t);
        factor *= s.x;
      }
      if (node->mParent != scene->mRootNode) {
        EXPECT_EQ(rest.paths.at(node->mName.C_Str()).parents,
                  std::vector<std::string>{node->mParent->mName.C_Str()});
      }
      for (unsigned k : {0u, ch->mNumRotationKeys - 1}) {
        const aiQuatKey& key = ch->mRotationKeys[k];
        auto frame = std::find_if(p.frames.begin(), p.frames.end(), [&](const ReadFrame& f) {
          return std::fabs(f.key - key.mTime / tps) < 1e-6;
        });
        ASSERT_NE(frame, p.frames.end()) << ch->mNodeName.C_Str() << " key " << k;
        const double want[4] = {key.mValue.x, key.mValue.y, key.mValue.z, key.mValue.w};
        ExpectQuat(frame->q, want, ch->mNodeName.C_Str());
        if (ch->mNumPositionKeys == ch->mNumRotationKeys) {
          const aiVector3D& t = ch->mPositionKeys[k].mValue;
          EXPECT_NEAR(frame->t[0], factor * t.x, kTol * (1 + std::fabs(factor * t.x)));
          EXPECT_NEAR(frame->t[2], factor * t.z, kTol * (1 + std::fabs(factor * t.z)));
        }
      }
    }
  }
}

// --- Generated glTF: step and cubic-spline keys, non-finite values ---
// Writes path (.gltf) and path + ".bin": node "Root" above node "Bone", whose
// translation is keyed at times with values (3 floats per key, 9 with
// CUBICSPLINE) under interp, in animation "Move".
void MakeGltf(const std::string& path, const std::vector<float>& times, const std::vector<float>& values,
              const char* interp) {
  std::string bytes(reinterpret_cast<const char*>(times.data()), times.size() * 4);
  bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * 4);
  std::ofstream(path + ".bin", std::ios::binary) << bytes;
  std::ostringstream s;
  s << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
    << R"("nodes":[{"name":"Root","children":[1],"translation":[5,5,5]},{"name":"Bone","translation":[0,1,0]}],)"
    << R"("buffers":[{"byteLength":)" << bytes.size() << R"(,"uri":")"
    << std::filesystem::path(path).filename().string() << R"(.bin"}],)"
    << R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":)" << times.size() * 4
    << R"(},{"buffer":0,"byteOffset":)" << times.size() * 4 << R"(,"byteLength":)" << values.size() * 4
    << R"(}],)"
    << R"("accessors":[{"bufferView":0,"componentType":5126,"count":)" << times.size()
    << R"(,"type":"SCALAR","min":[)" << times.front() << R"(],"max":[)" << times.back()
    << R"(]},{"bufferView":1,"componentType":5126,"count":)" << values.size() / 3 << R"(,"type":"VEC3"}],)"
    << R"("animations":[{"name":"Move","channels":[{"sampler":0,"target":{"node":1,"path":"translation"}}],)"
    << R"("samplers":[{"input":0,"output":1,"interpolation":")" << interp << R"("}]}]})";
  std::ofstream(path) << s.str();
}

TEST(AnimImportReal, StepAndCubicKeysAreKeptWhereTheAssetLibraryMakesThemLinear) {
  qvl_TestDir dir;
  // Step: 0 until 1 s, then 10.  Cubic: 0 -> 1 over 2 s with out-tangent 1/s.
  MakeGltf(dir / "s.gltf", {0, 1, 2}, {0, 0, 0, 10, 0, 0, 20, 0, 0}, "STEP");
  MakeGltf(dir / "c.gltf", {0, 2}, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, "CUBICSPLINE");
  struct Case {
    const char* file;
    double t;
    double want;  // by hand: step holds, the spline's basis at u = 0.25 gives 0.4375
  } cases[] = {{"s.gltf", 0.5, 0.0}, {"s.gltf", 1.5, 10.0}, {"c.gltf", 0.5, 0.4375}};
  for (const Case& c : cases) {
    SourceModel model;
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    ASSERT_TRUE(ReadGltf(handler.Get(), dir / c.file, &model));
    const Channel& ch = model.clips.at(0).tracks.at(0).transl;
    EXPECT_NEAR(EvalVec(ch, c.t, Vector3d{}).x, c.want, 1e-6);
    // The library keeps one value per key, and its keys blend linearly.
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(dir / c.file, 0);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    const aiNodeAnim* lib = scene->mAnimations[0]->mChannels[0];
    ASSERT_EQ(lib->mNumPositionKeys, ch.KeyCnt());
    const double tps = std::max(scene->mAnimations[0]->mTicksPerSecond, 1.0);
    std::size_t k = 0;
    while (lib->mPositionKeys[k + 1].mTime / tps <= c.t) ++k;
    const aiVectorKey &a = lib->mPositionKeys[k], &b = lib->mPositionKeys[k + 1];
    const double linear =
        a.mValue.x + (b.mValue.x - a.mValue.x) * (c.t * tps - a.mTime) / (b.mTime - a.mTime);
    EXPECT_GT(std::fabs(linear - c.want), 0.05) << "the library's keys, blended linearly, give " << linear;
  }
  // The written file: the joint is Bone only (Root is above it), its step keys hold.
  const qvl_TestOutcome r =
      qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"s.gltf", "out", "-fps", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const ReadFile out = ReadPathFile(dir / "out/Move.kvt");
  EXPECT_EQ(out.order, std::vector<std::string>{"Bone"});
  const std::vector<ReadFrame>& f = out.paths.at("Bone").frames;
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[1].t[0], 0.0f);
  EXPECT_EQ(f[3].t[0], 10.0f);
  EXPECT_EQ(f[4].t[0], 20.0f);
  // A NaN key is an error naming joint, clip and key, and nothing is written.
  MakeGltf(dir / "n.gltf", {0, 1}, {0, 0, 0, 0, NAN, 0}, "LINEAR");
  const qvl_TestOutcome n = qvl_TestRunProgram(QVL_ANIMIMPORT_EXE, dir.Path(), {"n.gltf", "nan"});
  EXPECT_EQ(n.exitCode, 1);
  EXPECT_NE(
      n.err.find("n.gltf: error: Joint \"Bone\" of clip \"Move\" has a non-finite translation at key 1"),
      std::string::npos)
      << n.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "nan"));
}

}  // namespace
