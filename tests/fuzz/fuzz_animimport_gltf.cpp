// Fuzz target of animimport's glTF path on this side of the loader: a parsed
// file (tinygltf::Model) is built from the input's bytes and taken through the
// accessor reading, sampling, joint selection, naming, the checks and the writers.
#include <tiny_gltf.h>

#include <cmath>
#include <limits>

#include "tests/fuzz/fuzz_check.h"
#include "tests/util/kvt/util_kvt_test_util.h"
#include "tool/animimport/tool_animimport_gltf.h"
#include "tool/animimport/tool_animimport_limits.h"
#include "tool/animimport/tool_animimport_sample.h"
#include "tool/animimport/tool_animimport_write.h"
#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_work.h"

namespace {

// Numbers a file may hold, the awkward ones included; other bytes give a float of their own.
double Number(qvl_FuzzInput& in) {
  static const double kValues[] = {0.0,
                                   1.0,
                                   -1.0,
                                   0.5,
                                   2.0,
                                   1e-300,
                                   1e39,
                                   -1e39,
                                   1e30,
                                   3.4e38,
                                   1e-45,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity()};
  const std::uint8_t b = in.Byte();
  if (b < sizeof kValues / sizeof kValues[0]) return kValues[b];
  return static_cast<std::int16_t>(in.U16()) / 64.0;
}

// An index that is mostly valid for a list of cnt, sometimes -1 or beyond it.
int Index(qvl_FuzzInput& in, std::size_t cnt) {
  const std::uint8_t b = in.Byte();
  if (b == 255) return -1;
  if (b == 254) return static_cast<int>(cnt);
  return cnt ? static_cast<int>(b % cnt) : b % 4;
}

// A count or offset: small mostly, sometimes near the type's end.
std::size_t Size(qvl_FuzzInput& in, std::size_t small) {
  const std::uint8_t b = in.Byte();
  if (b == 255) return std::numeric_limits<std::size_t>::max() - in.Byte();
  if (b == 254) return std::size_t(0xffffffffu) - in.Byte();
  return b % (small + 1);
}

tinygltf::Model BuildModel(qvl_FuzzInput& in) {
  tinygltf::Model m;
  static const int kComponents[] = {TINYGLTF_COMPONENT_TYPE_FLOAT,          TINYGLTF_COMPONENT_TYPE_BYTE,
                                    TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE,  TINYGLTF_COMPONENT_TYPE_SHORT,
                                    TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_COMPONENT_TYPE_INT};
  static const int kTypes[] = {TINYGLTF_TYPE_SCALAR, TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4,
                               TINYGLTF_TYPE_VEC2};
  static const char* kPaths[] = {"translation", "rotation", "scale", "weights"};
  static const char* kInterps[] = {"LINEAR", "STEP", "CUBICSPLINE", "", "SMOOTH"};
  for (int b = in.Byte() % 3; b > 0; --b) {
    tinygltf::Buffer buf;
    const std::string_view data = in.Bytes(in.Byte());
    buf.data.assign(data.begin(), data.end());
    m.buffers.push_back(std::move(buf));
  }
  for (int v = in.Byte() % 6; v > 0; --v) {
    tinygltf::BufferView view;
    view.buffer = Index(in, m.buffers.size());
    view.byteOffset = Size(in, 64);
    view.byteLength = Size(in, 255);
    view.byteStride = in.Byte() % 4 == 0 ? Size(in, 32) : 0;
    m.bufferViews.push_back(view);
  }
  for (int a = in.Byte() % 8; a > 0; --a) {
    tinygltf::Accessor acc;
    acc.bufferView = Index(in, m.bufferViews.size());
    acc.byteOffset = Size(in, 16);
    const std::uint8_t kind = in.Byte();
    acc.componentType = kComponents[kind % 6];
    acc.type = kTypes[(kind / 6) % 4];
    acc.normalized = (kind & 0x80) != 0;
    acc.sparse.isSparse = kind == 0x7f;
    acc.count = Size(in, 64);
    m.accessors.push_back(acc);
  }
  const int nodes = in.Byte() % 12;
  for (int n = 0; n < nodes; ++n) {
    tinygltf::Node node;
    const std::uint8_t shape = in.Byte();
    if (shape & 1) node.name = std::string(in.Bytes(in.Byte() % 8));
    for (int c = (shape >> 1) % 3; c > 0; --c) node.children.push_back(Index(in, nodes));
    if (shape & 8) {
      for (int i = 0; i < 16; ++i) node.matrix.push_back(Number(in));
    } else {
      if (shape & 16) node.translation = {Number(in), Number(in), Number(in)};
      if (shape & 32) node.rotation = {Number(in), Number(in), Number(in), Number(in)};
      if (shape & 64) node.scale = {Number(in), Number(in), Number(in)};
    }
    m.nodes.push_back(std::move(node));
  }
  if (in.Byte() & 1) {
    tinygltf::Skin skin;
    for (int j = in.Byte() % 6; j > 0; --j) skin.joints.push_back(Index(in, m.nodes.size()));
    m.skins.push_back(std::move(skin));
  }
  for (int a = in.Byte() % 4; a > 0; --a) {
    tinygltf::Animation anim;
    anim.name = std::string(in.Bytes(in.Byte() % 6));
    for (int s = 1 + in.Byte() % 3; s > 0; --s) {
      tinygltf::AnimationSampler sampler;
      sampler.input = Index(in, m.accessors.size());
      sampler.output = Index(in, m.accessors.size());
      sampler.interpolation = kInterps[in.Byte() % 5];
      anim.samplers.push_back(sampler);
    }
    for (int c = in.Byte() % 6; c > 0; --c) {
      tinygltf::AnimationChannel ch;
      ch.sampler = Index(in, anim.samplers.size());
      ch.target_node = Index(in, m.nodes.size());
      ch.target_path = kPaths[in.Byte() % 4];
      anim.channels.push_back(ch);
    }
    m.animations.push_back(std::move(anim));
  }
  return m;
}

}  // namespace

int QvlFuzzAnimImportGltf(const std::uint8_t* data, std::size_t size) {
  qvl_FuzzInput in(data, size);
  const double fps = in.Byte() % 4 == 0 ? 30.0 : 0.0;
  KvtTestHandler h;
  SourceModel model;
  const bool ok = ReadGltfModel(h.Get(), "f.gltf", BuildModel(in), &model);
  QVL_FUZZ_CHECK(ok || h.Count() > 0);
  if (!ok) return 0;
  const int nodes = static_cast<int>(model.nodes.size());
  for (int i = 0; i < nodes; ++i) QVL_FUZZ_CHECK(model.nodes[i].parent >= -1 && model.nodes[i].parent < i);
  std::size_t frames = 0;
  for (const Clip& clip : model.clips) {
    for (const NodeTrack& track : clip.tracks) {
      QVL_FUZZ_CHECK(track.node >= 0 && track.node < nodes);
      for (const Channel* c : {&track.transl, &track.rot, &track.scale}) {
        const std::size_t width = (c == &track.rot ? 4 : 3) * (c->interp == Interp::kCubicSpline ? 3 : 1);
        QVL_FUZZ_CHECK(c->values.size() == c->KeyCnt() * width);
        for (std::size_t k = 1; k < c->KeyCnt(); ++k) QVL_FUZZ_CHECK((*c->times)[k - 1] < (*c->times)[k]);
      }
      frames += TrackFrameCnt(track);
    }
  }
  const JointSet joints = SelectJoints(model);
  QVL_FUZZ_CHECK(joints.nodes.size() == joints.parents.size());
  for (std::size_t j = 0; j < joints.nodes.size(); ++j) {
    QVL_FUZZ_CHECK(joints.parents[j] >= -1 && joints.parents[j] < static_cast<int>(j));
    QVL_FUZZ_CHECK(joints.jointOfNode[joints.nodes[j]] == static_cast<int>(j));
  }
  const std::vector<std::string> names = NameClips(model, "f");
  QVL_FUZZ_CHECK(names.size() == model.clips.size());
  for (std::size_t c = 0; c < names.size(); ++c) {
    QVL_FUZZ_CHECK(!names[c].empty() && names[c] != "rest" && SanitizeName(names[c]) == names[c]);
    for (std::size_t d = 0; d < c; ++d) QVL_FUZZ_CHECK(names[c] != names[d] && names[c] != names[d] + ".job");
  }
  if (CheckModel(h.Get(), "f.gltf", model, joints, names) > 0 || joints.nodes.empty()) return 0;
  // Small outputs only: the size limits are the run's, not this target's.
  if (frames > 100000) return 0;
  auto write = [&](const auto& body) {
    qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
    qvl_CUtilPtr<qvl_CUtilKvtSeqWrite> w(
        qvl_CUtilKvtWork::CreateSeqWriteStream(h.Get(), "f.kvt", out.Get(), 0));
    qvl_CUtilPtrBase::RefReleaseOf(w.Get());
    const std::size_t written = body(w.Get());
    QVL_FUZZ_CHECK(!out->GetData().empty());
    return written;
  };
  write([&](qvl_CUtilKvtSeqWrite* w) {
    WriteRestFile(w, model, joints, 1.0, model.metersPerUnit);
    return std::size_t{0};
  });
  for (const Clip& clip : model.clips) {
    double start = 0, end = 0;
    ClipRange(clip, &start, &end);
    // The run refuses more frames per joint before it resamples (too_many_frames).
    if (fps > 0 && ((end - start) * fps > kMaxResampledFrames ||
                    ResampleCnt(start, end, fps) * clip.tracks.size() > 100000))
      continue;
    std::string problem;
    const std::size_t n = write([&](qvl_CUtilKvtSeqWrite* w) {
      return WriteClipFile(w, model, joints, clip, start, end, fps, 1.0, &problem);
    });
    std::size_t want = 0;
    for (const NodeTrack& t : clip.tracks) want += fps > 0 ? ResampleCnt(start, end, fps) : TrackFrameCnt(t);
    QVL_FUZZ_CHECK(!problem.empty() || n == want);
  }
  return 0;
}
