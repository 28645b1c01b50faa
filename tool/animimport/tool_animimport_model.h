// The importer's in-memory description of a source file: nodes with their rest
// transforms, skin bones and clips of keyed channels. Every reader fills it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/math/util_math_double.h"
#include "util/msg/util_msg_handler.h"

// How a channel's value between two keys is found.
enum class Interp : std::uint8_t {
  kLinear,       // linear for vectors, spherical linear on the shorter arc for rotations
  kStep,         // the earlier key's value holds until the next key
  kCubicSpline,  // Hermite spline; every key stores in-tangent, value, out-tangent
};

// One keyed channel: key times in seconds, strictly ascending, and per key
// `width` doubles (3 for translation and scale, 4 x y z w for rotation), or
// 3 * width with kCubicSpline (in-tangent, value, out-tangent). The times may
// be shared by several channels (a BVH's frames are the same for every joint).
struct Channel {
  std::shared_ptr<const std::vector<double>> times;
  std::vector<double> values;
  Interp interp = Interp::kLinear;

  std::size_t KeyCnt() const { return times ? times->size() : 0; }
  bool IsEmpty() const { return KeyCnt() == 0; }
};

// The three channels of one node in one clip; an empty channel holds the rest value.
struct NodeTrack {
  int node = -1;
  Channel transl;
  Channel rot;
  Channel scale;
};

// One clip: its name as the file gives it (empty when the file names it not,
// or when the name is one the reading library invents) and its tracks.
struct Clip {
  std::string name;
  std::vector<NodeTrack> tracks;
};

// One node of the source's hierarchy with its rest local transform (relative
// to its parent): translation in source units, unit rotation, scale.
struct Node {
  std::string name;
  int parent = -1;  // index into SourceModel::nodes, -1 for a root
  Vector3d transl{0.0, 0.0, 0.0};
  Quatd rot{0.0, 0.0, 0.0, 1.0};
  Vector3d scale{1.0, 1.0, 1.0};
  bool skinBone = false;  // named as a bone by a mesh skin
};

// What a reader gives: nodes in an order where each parent comes before its
// children, the clips in file order, and the unit the file states.
struct SourceModel {
  std::vector<Node> nodes;
  std::vector<Clip> clips;
  // The size in metres of one unit of the root nodes' parent frame, as the
  // file states it (glTF 1, FBX its unit scale, Collada its <unit>); 0 where
  // the file says nothing (BVH).
  double metersPerUnit = 0.0;
};

// The joints chosen from a model: node indices in model order (parents first)
// and, per joint, the index of its parent joint (-1 for a top joint).
struct JointSet {
  std::vector<int> nodes;
  std::vector<int> parents;
  std::vector<int> jointOfNode;  // per model node: its joint index, -1 when none
};

// The joints of model: every node a clip animates, every skin bone, and every
// node on the way from them up to their lowest common ancestor in each tree
// (nodes above that ancestor are not joints). Deterministic; no failure.
JointSet SelectJoints(const SourceModel& model);

// The node's path from its tree's root, "root/Armature/Bone", for messages;
// beyond kMaxNodePathParts names the rest is "...": ".../Spine/Bone".
std::string NodePath(const SourceModel& model, int node);

// Checks that no joint's name holds a zero byte (naming the joint's index),
// that every joint's name is unique (a duplicate names both nodes' paths),
// that no joint's rest value and no key of a clip is non-finite, that every
// key time and every translation times scale (a unitless factor) fits a
// float, and that each channel's key times still ascend strictly as floats
// (naming the joint, the clip by clipNames[c] and the key's index and time).
// Each problem is reported at level 2 to handler with context (the source
// file) as the message context. Returns the number of problems found.
int CheckModel(qvl_CUtilMsgHandler* handler, const std::string& context, const SourceModel& model,
               const JointSet& joints, const std::vector<std::string>& clipNames, double scale = 1.0);

// Reports text, the whole message, under the id idPrefix + key with context
// as its context: an error (level 2) through ReportError, so that it is thrown
// without a handler; other levels (information, warning) only to a handler.
void ReportImportText(qvl_CUtilMsgHandler* handler, int level, const char* idPrefix,
                      const std::string& context, const char* key, const std::string& text);
