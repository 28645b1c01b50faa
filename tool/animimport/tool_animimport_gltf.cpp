// glTF reader: the file is parsed by the glTF loader library; the accessors
// are read and checked here, and the samplers are kept as the file keys them.
#include "tool/animimport/tool_animimport_gltf.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "tool/animimport/tool_animimport_decompose.h"
#include "tool/animimport/tool_animimport_gltffiles.h"
#include "tool/animimport/tool_animimport_limits.h"
#include "tool/animimport/tool_animimport_meshopt.h"
#include "util/msg/util_msg_msg.h"

namespace {

// Images are neither needed nor decoded.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int,
               void*) {
  return true;
}

// Whether the importer reads a file that requires extension name right:
// extensions it decodes, and extensions of data it never reads (meshes,
// materials, textures), which cannot change a node, a skin or an animation.
bool IsSupportedExtension(const std::string& name) {
  static const char* const kSupported[] = {
      "EXT_meshopt_compression",     // decoded (DecodeMeshoptView)
      "KHR_mesh_quantization",       // mesh attributes; animations' normalized integers are core glTF
      "KHR_draco_mesh_compression",  // mesh geometry
      "KHR_texture_transform",      "KHR_texture_basisu", "EXT_texture_webp", "KHR_materials_unlit",
  };
  for (const char* s : kSupported) {
    if (name == s) return true;
  }
  return false;
}

// A non-negative whole number of an extension object, at most 2^53 (every
// count and offset of a file is far below); false when absent or not one.
bool WholeNumber(const tinygltf::Value& obj, const char* key, std::size_t* out) {
  if (!obj.Has(key)) return false;
  const tinygltf::Value& v = obj.Get(key);
  if (!v.IsNumber()) return false;
  const double d = v.GetNumberAsDouble();
  if (!(d >= 0 && d <= 9007199254740992.0) || d != std::floor(d)) return false;
  *out = static_cast<std::size_t>(d);
  return true;
}

class GltfReader {
 public:
  GltfReader(qvl_CUtilMsgHandler* handler, const std::string& path) : m_handler(handler), m_path(path) {}
  bool Read(SourceModel* model);
  // The model from a parsed file: nodes, then one clip per animation.
  bool Convert(tinygltf::Model gltf, SourceModel* model);

 private:
  bool Fail(const std::string& text) {
    qvl_CUtilMsg msg("tool/animimport/tool_animimport_gltf.bad_file", "[1]");
    msg.AddInfo(m_path.c_str());
    msg.AddInfo(text.c_str());
    qvl_CUtilMsgHandler::ReportError(m_handler, msg);
    return false;
  }
  // Reads accessor index as cnt elements of width components into out;
  // where names the user of the accessor in messages.
  bool ReadAccessor(int index, int width, const std::string& where, std::vector<double>* out);
  // The bytes of buffer view index: a slice of its buffer, or the view
  // decoded once where EXT_meshopt_compression compresses it; what names
  // the accessor in messages.
  bool ViewBytes(int index, const std::string& what, const unsigned char** bytes, std::size_t* len);
  bool ReadNodes(SourceModel* model);
  bool ReadClip(const tinygltf::Animation& anim, int animIndex, SourceModel* model);

  qvl_CUtilMsgHandler* m_handler;
  const std::string& m_path;
  tinygltf::Model m_gltf;
  std::vector<int> m_nodeOf;                            // glTF node index -> model node index
  std::map<int, std::vector<unsigned char>> m_decoded;  // buffer view index -> decoded bytes
  std::size_t m_decodedBytes = 0;                       // of all of m_decoded, at most kMaxGltfTotalBytes
};

bool GltfReader::ViewBytes(int index, const std::string& what, const unsigned char** bytes,
                           std::size_t* len) {
  const tinygltf::BufferView& view = m_gltf.bufferViews[index];
  const std::string viewWhat = what + ", buffer view " + std::to_string(index);
  auto ext = view.extensions.find("EXT_meshopt_compression");
  if (ext == view.extensions.end()) {
    if (view.buffer < 0 || view.buffer >= static_cast<int>(m_gltf.buffers.size()))
      return Fail(what + " has no valid buffer.");
    const std::vector<unsigned char>& data = m_gltf.buffers[view.buffer].data;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset)
      return Fail(what + " reaches beyond its buffer.");
    *bytes = data.data() + view.byteOffset;
    *len = view.byteLength;
    return true;
  }
  auto done = m_decoded.find(index);
  if (done == m_decoded.end()) {
    const tinygltf::Value& obj = ext->second;
    std::size_t buffer = 0, offset = 0, length = 0;
    MeshoptView desc;
    if (!obj.IsObject() || !WholeNumber(obj, "buffer", &buffer) || !WholeNumber(obj, "byteLength", &length) ||
        !WholeNumber(obj, "byteStride", &desc.byteStride) || !WholeNumber(obj, "count", &desc.count) ||
        !obj.Has("mode") || !obj.Get("mode").IsString()) {
      return Fail(
          viewWhat +
          ": its EXT_meshopt_compression object lacks buffer, byteLength, byteStride, count or mode.");
    }
    if (obj.Has("byteOffset") && !WholeNumber(obj, "byteOffset", &offset))
      return Fail(viewWhat + ": its EXT_meshopt_compression byteOffset is not a whole number.");
    desc.mode = obj.Get("mode").Get<std::string>();
    if (obj.Has("filter")) {
      if (!obj.Get("filter").IsString())
        return Fail(viewWhat + ": its EXT_meshopt_compression filter is not a string.");
      desc.filter = obj.Get("filter").Get<std::string>();
    }
    if (buffer >= m_gltf.buffers.size()) return Fail(viewWhat + ": its compressed data has no valid buffer.");
    const std::vector<unsigned char>& data = m_gltf.buffers[buffer].data;
    if (offset > data.size() || length > data.size() - offset)
      return Fail(viewWhat + ": its compressed data reaches beyond its buffer.");
    std::vector<unsigned char> decoded;
    std::string error;
    if (!DecodeMeshoptView(desc, data.data() + offset, length, view.byteLength,
                           static_cast<std::size_t>(kMaxGltfTotalBytes) - m_decodedBytes, &decoded, &error))
      return Fail(viewWhat + " (EXT_meshopt_compression) " + error);
    m_decodedBytes += decoded.size();
    done = m_decoded.emplace(index, std::move(decoded)).first;
  }
  *bytes = done->second.data();
  *len = done->second.size();
  return true;
}

bool GltfReader::ReadAccessor(int index, int width, const std::string& where, std::vector<double>* out) {
  const std::string what = where + ": accessor " + std::to_string(index);
  if (index < 0 || index >= static_cast<int>(m_gltf.accessors.size())) return Fail(what + " does not exist.");
  const tinygltf::Accessor& acc = m_gltf.accessors[index];
  if (acc.sparse.isSparse) return Fail(what + " is sparse; sparse accessors are not read.");
  const int type = width == 1 ? TINYGLTF_TYPE_SCALAR : width == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4;
  if (acc.type != type)
    return Fail(what + " has " + std::to_string(acc.type) + " components per element, expected " +
                std::to_string(width) + ".");
  int compSize = 0;
  switch (acc.componentType) {
    case TINYGLTF_COMPONENT_TYPE_FLOAT:
      compSize = 4;
      break;
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      compSize = 1;
      break;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      compSize = 2;
      break;
    default:
      return Fail(what + " has an unsupported component type " + std::to_string(acc.componentType) + ".");
  }
  if (compSize != 4 && !acc.normalized) return Fail(what + " holds integers that are not normalized.");
  if (acc.bufferView < 0 || acc.bufferView >= static_cast<int>(m_gltf.bufferViews.size())) {
    return Fail(what + " has no valid buffer view.");
  }
  const tinygltf::BufferView& view = m_gltf.bufferViews[acc.bufferView];
  const unsigned char* viewBytes = nullptr;
  std::size_t viewLen = 0;
  if (!ViewBytes(acc.bufferView, what, &viewBytes, &viewLen)) return false;
  const std::size_t elemSize = static_cast<std::size_t>(compSize) * width;
  const std::size_t stride = view.byteStride ? view.byteStride : elemSize;
  const std::size_t cnt = acc.count;
  // Every byte the accessor reads lies inside its view (and the view inside its buffer).
  if (stride < elemSize ||
      (cnt > 0 && (acc.byteOffset > viewLen || cnt - 1 > (viewLen - acc.byteOffset) / stride ||
                   (cnt - 1) * stride + elemSize > viewLen - acc.byteOffset))) {
    return Fail(what + " reaches beyond its buffer.");
  }
  out->resize(cnt * width);
  // An empty accessor reads nothing: its offset, unchecked then, is not applied.
  if (cnt == 0) return true;
  const unsigned char* base = viewBytes + acc.byteOffset;
  for (std::size_t i = 0; i < cnt; ++i) {
    const unsigned char* e = base + i * stride;
    for (int c = 0; c < width; ++c) {
      const unsigned char* p = e + c * compSize;
      double v = 0;
      switch (acc.componentType) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: {
          float f;
          std::memcpy(&f, p, 4);
          v = f;
          break;
        }
        case TINYGLTF_COMPONENT_TYPE_BYTE:
          v = std::max(static_cast<signed char>(*p) / 127.0, -1.0);
          break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
          v = *p / 255.0;
          break;
        case TINYGLTF_COMPONENT_TYPE_SHORT: {
          std::int16_t s;
          std::memcpy(&s, p, 2);
          v = std::max(s / 32767.0, -1.0);
          break;
        }
        default: {
          std::uint16_t s;
          std::memcpy(&s, p, 2);
          v = s / 65535.0;
          break;
        }
      }
      (*out)[i * width + c] = v;
    }
  }
  return true;
}

bool GltfReader::ReadNodes(SourceModel* model) {
  const int n = static_cast<int>(m_gltf.nodes.size());
  std::vector<int> parent(n, -1);
  for (int i = 0; i < n; ++i) {
    for (int c : m_gltf.nodes[i].children) {
      if (c < 0 || c >= n)
        return Fail("Node " + std::to_string(i) + " names a child " + std::to_string(c) +
                    " that does not exist.");
      if (parent[c] >= 0 || c == i) return Fail("Node " + std::to_string(c) + " has more than one parent.");
      parent[c] = i;
    }
  }
  // Depth-first from each root in index order, so parents come first; a
  // node never reached sits on a cycle.
  m_nodeOf.assign(n, -1);
  std::vector<int> stack;
  for (int r = 0; r < n; ++r) {
    if (parent[r] >= 0) continue;
    stack.push_back(r);
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      const tinygltf::Node& src = m_gltf.nodes[i];
      m_nodeOf[i] = static_cast<int>(model->nodes.size());
      Node node;
      node.name = src.name.empty() ? "node" + std::to_string(i) : src.name;
      node.parent = parent[i] >= 0 ? m_nodeOf[parent[i]] : -1;
      if (src.matrix.size() == 16) {
        double m[16];
        std::copy(src.matrix.begin(), src.matrix.end(), m);
        DecomposeMatrix(m, &node.transl, &node.rot, &node.scale);
      } else {
        if (src.translation.size() == 3)
          node.transl = Vector3d{src.translation[0], src.translation[1], src.translation[2]};
        if (src.rotation.size() == 4)
          node.rot = Quatd{src.rotation[0], src.rotation[1], src.rotation[2], src.rotation[3]};
        if (src.scale.size() == 3) node.scale = Vector3d{src.scale[0], src.scale[1], src.scale[2]};
      }
      model->nodes.push_back(node);
      for (auto it = src.children.rbegin(); it != src.children.rend(); ++it) stack.push_back(*it);
    }
  }
  for (int i = 0; i < n; ++i) {
    if (m_nodeOf[i] < 0) return Fail("Node " + std::to_string(i) + " lies on a cycle of the hierarchy.");
  }
  for (const tinygltf::Skin& skin : m_gltf.skins) {
    for (int j : skin.joints) {
      if (j < 0 || j >= n)
        return Fail("A skin names a joint node " + std::to_string(j) + " that does not exist.");
      model->nodes[m_nodeOf[j]].skinBone = true;
    }
  }
  return true;
}

bool GltfReader::ReadClip(const tinygltf::Animation& anim, int animIndex, SourceModel* model) {
  Clip clip;
  clip.name = anim.name;
  std::vector<int> trackOfNode(model->nodes.size(), -1);
  for (std::size_t c = 0; c < anim.channels.size(); ++c) {
    const tinygltf::AnimationChannel& ch = anim.channels[c];
    const std::string where =
        "animation " + std::to_string(animIndex) + " \"" + anim.name + "\", channel " + std::to_string(c);
    const std::string& path = ch.target_path;
    const int width = path == "rotation" ? 4 : 3;
    if (path != "translation" && path != "rotation" && path != "scale") continue;  // morph weights
    if (ch.target_node < 0) continue;  // a channel for an extension's target
    if (ch.target_node >= static_cast<int>(m_nodeOf.size()))
      return Fail(where + " targets a node that does not exist.");
    if (ch.sampler < 0 || ch.sampler >= static_cast<int>(anim.samplers.size()))
      return Fail(where + " has no valid sampler.");
    const tinygltf::AnimationSampler& sampler = anim.samplers[ch.sampler];
    Channel out;
    if (sampler.interpolation == "STEP") {
      out.interp = Interp::kStep;
    } else if (sampler.interpolation == "CUBICSPLINE") {
      out.interp = Interp::kCubicSpline;
    } else if (sampler.interpolation.empty() || sampler.interpolation == "LINEAR") {
      out.interp = Interp::kLinear;
    } else {
      return Fail(where + " has an unknown interpolation \"" + sampler.interpolation + "\".");
    }
    auto times = std::make_shared<std::vector<double>>();
    if (!ReadAccessor(sampler.input, 1, where + " (key times)", times.get())) return false;
    for (std::size_t k = 1; k < times->size(); ++k) {
      if (!((*times)[k] > (*times)[k - 1]))
        return Fail(where + ": key times are not strictly ascending at key " + std::to_string(k) + ".");
    }
    if (!ReadAccessor(sampler.output, width, where + " (values)", &out.values)) return false;
    const std::size_t perKey = out.interp == Interp::kCubicSpline ? 3 : 1;
    if (out.values.size() != times->size() * width * perKey) {
      return Fail(where + " has " + std::to_string(out.values.size() / width) + " values for " +
                  std::to_string(times->size()) + " keys.");
    }
    if (times->empty()) continue;
    out.times = std::move(times);
    const int node = m_nodeOf[ch.target_node];
    if (trackOfNode[node] < 0) {
      trackOfNode[node] = static_cast<int>(clip.tracks.size());
      clip.tracks.emplace_back();
      clip.tracks.back().node = node;
    }
    NodeTrack& track = clip.tracks[trackOfNode[node]];
    Channel& dst = path == "translation" ? track.transl : path == "rotation" ? track.rot : track.scale;
    dst = std::move(out);
  }
  model->clips.push_back(std::move(clip));
  return true;
}

bool GltfReader::Read(SourceModel* model) {
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(SkipImage, nullptr);
  std::string err;
  std::string warn;
  const bool binary = m_path.size() >= 4 && (m_path.compare(m_path.size() - 4, 4, ".glb") == 0 ||
                                             m_path.compare(m_path.size() - 4, 4, ".GLB") == 0);
  const int loaded = LoadGltfSource(m_handler, m_path, binary, &loader, &m_gltf, &err, &warn);
  if (loaded < 0) return false;
  const bool ok = loaded > 0;
  if (!warn.empty() && m_handler) {
    qvl_CUtilMsg msg("tool/animimport/tool_animimport_gltf.loader_warning", "[1]");
    msg.AddInfo(m_path.c_str());
    msg.AddInfo(warn.c_str());
    m_handler->Report(qvl_MsgLevelWarning, msg);
  }
  if (!ok)
    return Fail("The glTF file cannot be read: " + (err.empty() ? std::string("no reason given") : err));
  return Convert(std::move(m_gltf), model);
}

bool GltfReader::Convert(tinygltf::Model gltf, SourceModel* model) {
  m_gltf = std::move(gltf);
  // An extension the file requires changes what its data means: without it
  // the data would be misread, so such a file is refused before any is read.
  for (const std::string& ext : m_gltf.extensionsRequired) {
    if (!IsSupportedExtension(ext))
      return Fail("The file requires the glTF extension \"" + ext +
                  "\", which this importer does not support.");
  }
  model->metersPerUnit = 1.0;  // glTF lengths are metres
  if (!ReadNodes(model)) return false;
  for (std::size_t a = 0; a < m_gltf.animations.size(); ++a) {
    if (!ReadClip(m_gltf.animations[a], static_cast<int>(a), model)) return false;
  }
  return true;
}

}  // namespace

bool ReadGltf(qvl_CUtilMsgHandler* handler, const std::string& path, SourceModel* model) {
  GltfReader reader(handler, path);
  return reader.Read(model);
}

bool ReadGltfModel(qvl_CUtilMsgHandler* handler, const std::string& path, tinygltf::Model gltf,
                   SourceModel* model) {
  GltfReader reader(handler, path);
  return reader.Convert(std::move(gltf), model);
}
