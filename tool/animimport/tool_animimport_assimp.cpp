// Reader through the Open Asset Import Library: its scene graph and node
// animations copied into the model.
#include "tool/animimport/tool_animimport_assimp.h"

#include <assimp/config.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <fstream>
#include <map>

#include "tool/animimport/tool_animimport_collada.h"
#include "tool/animimport/tool_animimport_limits.h"
#include "util/msg/util_msg_msg.h"

namespace {

void Report(qvl_CUtilMsgHandler* handler, int level, const std::string& context, const char* key,
            const std::string& text) {
  ReportImportText(handler, level, "tool/animimport/tool_animimport_assimp.", context, key, text);
}

// Copies the keys of one channel; keys must ascend in time, a key that does
// not is dropped (counted in *dropped).
template <class Key, class Get>
Channel CopyKeys(const Key* keys, unsigned cnt, double secPerTick, int width, Get get, int* dropped) {
  Channel ch;
  auto times = std::make_shared<std::vector<double>>();
  times->reserve(cnt);
  ch.values.reserve(static_cast<std::size_t>(cnt) * width);
  for (unsigned k = 0; k < cnt; ++k) {
    const double t = keys[k].mTime * secPerTick;
    if (!times->empty() && !(t > times->back())) {
      ++*dropped;
      continue;
    }
    times->push_back(t);
    get(keys[k], &ch.values);
  }
  if (!times->empty()) ch.times = std::move(times);
  return ch;
}

// The unit of the scene's root frame, and the artist's node names for a
// Collada file, which the library names by id (asking the library for the
// names instead breaks its animation channels: they then key nothing).
void ReadUnitAndNames(qvl_CUtilMsgHandler* handler, const std::string& path, const aiScene* scene,
                      SourceModel* model) {
  aiString format;
  if (scene->mMetaData) scene->mMetaData->Get("SourceAsset_Format", format);
  // FBX: the file's unit scale in centimetres, which the library reports but does not apply.
  float fbxUnit = 0;
  double fbxUnitD = 0;
  if (scene->mMetaData && (scene->mMetaData->Get("UnitScaleFactor", fbxUnit) ||
                           scene->mMetaData->Get("UnitScaleFactor", fbxUnitD))) {
    const double cm = fbxUnit != 0 ? fbxUnit : fbxUnitD;
    if (std::isfinite(cm) && cm > 0) model->metersPerUnit = cm * 0.01;
  }
  if (std::string(format.C_Str()) != "Collada Importer") return;
  // The library has read the whole file already; the bound only keeps a
  // file that grew since from being read without end.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxColladaBytes) {
    Report(handler, qvl_MsgLevelWarning, path, "names_skipped",
           "The file cannot be read again or is larger than " + std::to_string(kMaxColladaBytes) +
               " bytes: its joints keep the node ids as names, and its unit is unknown.");
    return;
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  in.seekg(0);
  in.read(text.data(), size);
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  const ColladaNames names = ReadColladaNames(text);
  for (Node& node : model->nodes) {
    auto it = names.byLibraryName.find(node.name);
    if (it != names.byLibraryName.end()) node.name = it->second;
  }
  // Without <animation_clip> the library names its one clip by joining the
  // names of the nested <animation> elements ("Armature_Armature"); the
  // artist named the animated object, the outermost one.
  if (!names.hasClips && names.topAnimations.size() == 1 && model->clips.size() == 1 &&
      !names.topAnimations[0].empty()) {
    const std::string& top = names.topAnimations[0];
    std::string& clip = model->clips[0].name;
    if (clip == top || clip.rfind(top + "_", 0) == 0) clip = top;
  }
  // The library folds the unit into the root node's scale; it is moved back
  // out into the unit, so that the root frame is the file's own.
  if (names.meter > 0) {
    if (!model->nodes.empty()) {
      Vector3d& s = model->nodes[0].scale;
      s = Vector3d{s.x / names.meter, s.y / names.meter, s.z / names.meter};
    }
    model->metersPerUnit = names.meter;
  } else {
    Report(handler, qvl_MsgLevelWarning, path, "bad_unit",
           "The file's <unit> has a meter attribute that is not a positive number; the unit is unknown.");
  }
}

}  // namespace

bool ReadAssimp(qvl_CUtilMsgHandler* handler, const std::string& path, SourceModel* model) {
  Assimp::Importer importer;
  // Pivot nodes of FBX would stand between a bone and its parent; merged,
  // every bone keeps its own name and transform.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
  const aiScene* scene = importer.ReadFile(path, 0);
  if (!scene || !scene->mRootNode) {
    Report(handler, qvl_MsgLevelError, path, "read_failed",
           std::string("The file cannot be read: ") + importer.GetErrorString());
    return false;
  }
  // Nodes depth first, parents before children.
  std::map<std::string, int> byName;  // the first node of each name
  std::vector<std::pair<const aiNode*, int>> stack{{scene->mRootNode, -1}};
  while (!stack.empty()) {
    const auto [src, parent] = stack.back();
    stack.pop_back();
    Node node;
    node.name = src->mName.C_Str();
    node.parent = parent;
    aiVector3D s, p;
    aiQuaternion r;
    src->mTransformation.Decompose(s, r, p);
    node.transl = Vector3d{p.x, p.y, p.z};
    node.rot = Quatd{r.x, r.y, r.z, r.w};
    node.scale = Vector3d{s.x, s.y, s.z};
    const int index = static_cast<int>(model->nodes.size());
    byName.try_emplace(node.name, index);
    model->nodes.push_back(node);
    for (unsigned c = src->mNumChildren; c-- > 0;) stack.push_back({src->mChildren[c], index});
  }
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      auto it = byName.find(mesh->mBones[b]->mName.C_Str());
      if (it != byName.end()) model->nodes[it->second].skinBone = true;
    }
  }
  for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
    const aiAnimation* anim = scene->mAnimations[a];
    Clip clip;
    clip.name = anim->mName.C_Str();
    double ticksPerSec = anim->mTicksPerSecond;
    if (!(ticksPerSec > 0)) {
      ticksPerSec = 25.0;
      Report(handler, qvl_MsgLevelInfo, path, "no_tick_rate",
             "Animation \"" + clip.name + "\" gives 0 ticks per second; a tick is taken as 1/25 s.");
    }
    const double secPerTick = 1.0 / ticksPerSec;
    std::vector<int> trackOfNode(model->nodes.size(), -1);
    for (unsigned c = 0; c < anim->mNumChannels; ++c) {
      const aiNodeAnim* ch = anim->mChannels[c];
      auto it = byName.find(ch->mNodeName.C_Str());
      if (it == byName.end()) {
        Report(handler, qvl_MsgLevelWarning, path, "unknown_node",
               "Animation \"" + clip.name + "\" keys a node \"" + ch->mNodeName.C_Str() +
                   "\" that is not in the scene; skipped.");
        continue;
      }
      if (trackOfNode[it->second] < 0) {
        trackOfNode[it->second] = static_cast<int>(clip.tracks.size());
        clip.tracks.emplace_back();
        clip.tracks.back().node = it->second;
      }
      NodeTrack& track = clip.tracks[trackOfNode[it->second]];
      int dropped = 0;
      auto vec = [](const aiVectorKey& k, std::vector<double>* v) {
        v->insert(v->end(), {k.mValue.x, k.mValue.y, k.mValue.z});
      };
      auto quat = [](const aiQuatKey& k, std::vector<double>* v) {
        v->insert(v->end(), {k.mValue.x, k.mValue.y, k.mValue.z, k.mValue.w});
      };
      track.transl = CopyKeys(ch->mPositionKeys, ch->mNumPositionKeys, secPerTick, 3, vec, &dropped);
      track.rot = CopyKeys(ch->mRotationKeys, ch->mNumRotationKeys, secPerTick, 4, quat, &dropped);
      track.scale = CopyKeys(ch->mScalingKeys, ch->mNumScalingKeys, secPerTick, 3, vec, &dropped);
      if (dropped > 0) {
        Report(handler, qvl_MsgLevelWarning, path, "dropped_keys",
               "Animation \"" + clip.name + "\", node \"" + ch->mNodeName.C_Str() + "\": " +
                   std::to_string(dropped) + " keys do not come after the key before them and are dropped.");
      }
    }
    model->clips.push_back(std::move(clip));
  }
  ReadUnitAndNames(handler, path, scene, model);
  return true;
}
