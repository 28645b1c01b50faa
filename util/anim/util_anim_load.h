// Reading of path animation files ("quorvel_path_5") into a name-ordered map
// of bone paths, and the map itself.
#pragma once

#include <string>
#include <vector>

#include "util/anim/util_anim_animpath.h"
#include "util/cont/util_array.h"
#include "util/file/util_file_stream.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"
#include "util/tree/util_tree_base.h"

class qvl_CUtilKvtSeqRead;

// One entry of a LoadedAnim. links must stay the first member: the tree hands
// out qvl_CUtilTreeBaseNode pointers that are converted back to PathNode.
struct PathNode {
  qvl_CUtilTreeBaseNode links;
  const char* key;  // the name the entry is filed under (the path's own name pointer; null sorts as "")
  AnimPath* path;

  // The next entry in ascending name order, null after the last.
  PathNode* GetNext() const { return FromLinks(links.next); }
  PathNode* GetLeft() const { return FromLinks(links.left); }
  PathNode* GetRight() const { return FromLinks(links.right); }
  static PathNode* FromLinks(qvl_CUtilTreeBaseNode* n) { return reinterpret_cast<PathNode*>(n); }
};

// Ordered map from path name to AnimPath, ascending by CompareNames, with no
// two equal keys. Nodes, paths and names live in the run's pool; the owner
// empties the map with ExtractAll when done.
class LoadedAnim : public qvl_CUtilTreeBase {
 public:
  PathNode* GetFirstNode() const { return PathNode::FromLinks(GetFirst()); }
  PathNode* GetRootNode() const { return PathNode::FromLinks(GetRoot()); }
};

// Byte-wise comparison of two names as unsigned bytes, a null name counting
// as "": 0 when equal, -1 when a sorts first (a proper prefix sorts first),
// +1 otherwise.
int CompareNames(const char* a, const char* b);

// The first entry whose key is not less than name (lower bound), or null.
// Exact lookups test the result's key with CompareNames for 0. O(log n).
PathNode* FindPathNode(const LoadedAnim& map, const char* name);

// Files path under name (the pointer is kept, not copied). When an entry with
// an equal key exists its path is replaced (the node keeps its key pointer)
// and the result is true; otherwise a new node from pool is linked in order
// and the result is false. O(log n).
bool InsertPath(LoadedAnim* map, qvl_CUtilMemPool* pool, const char* name, AnimPath* path);

// Reads the path animation file on stream into target, adding paths (a path
// of a name already in target replaces it). name is the file name for context
// texts. A null stream reads nothing. The reader is lenient: only the format
// is checked; unknown keys are skipped silently, missing values stay zero,
// and invalid keys are dropped by the tracks. A wrong or missing format is
// reported at level 2 ("tool/pvsgen/pvsgen_load.format" / ".no_format") to
// the reader's handler, or thrown when it has none. Exceptions from the
// reader pass through; the reader is released on every way out.
void LoadPathAnim(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name, qvl_CUtilMemPool* pool,
                  qvl_CUtilStream* stream, LoadedAnim* target);

// One "parent" key of a path chunk, as read.
struct ParentKeyRead {
  const AnimPath* path;  // the path whose chunk holds the key
  std::string parent;    // its value: the name of the parent bone's path
  std::string info;      // "FILE:LINE:COL" (text) or "FILE:@OFFSET" (binary) of the key
};

// The skeleton keys of a reference file, which the converter does not use:
// "parent" in a path chunk and "meters_per_unit" in the data chunk. They are
// only collected here (every one, in file order); their meaning and their
// checks belong to the skeleton (util/anim/util_anim_skeleton.h).
struct SkeletonKeysRead {
  std::vector<ParentKeyRead> parents;
  bool hasUnit = false;        // a "meters_per_unit" key was read (the last one counts)
  float metersPerUnit = 0.0f;  // its first value, unchecked
  std::string unitInfo;        // the key's position
};

// LoadPathAnim that also collects the skeleton keys into keys (not reset
// first). The messages and the loaded paths are exactly LoadPathAnim's, but
// for the reader's own type errors of the two keys ("parent" that is no
// string, "meters_per_unit" that is no number), which LoadPathAnim skips
// unread.
void LoadPathAnimWithSkeletonKeys(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                  qvl_CUtilMemPool* pool, qvl_CUtilStream* stream, LoadedAnim* target,
                                  SkeletonKeysRead* keys);

// One frame as the file gives it: time 0, translation (0, 0, 0) and rotation
// (0, 0, 0, 0) (not the identity) where its keys are missing.
struct PathFrame {
  float time;
  Vector3 transl;
  Quat quat;
};

// The levels of the file, each reading the chunk the reader stands in; keys,
// where not null, collects the skeleton keys.
void ReadPathAnimRoot(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                      SkeletonKeysRead* keys = nullptr);
void ReadPathAnimData(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                      SkeletonKeysRead* keys = nullptr);
// Reads one path chunk into a new pool path and files it in target. Its
// frames are collected first and then added to the tracks in file order
// (AddKey: invalid keys dropped, backward times raised), so each track is
// sized once instead of growing by doubling in the pool.
void ReadAnimPath(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                  SkeletonKeysRead* keys = nullptr);
// Reads one frame chunk and appends it to frames.
void ReadPathFrame(qvl_CUtilKvtSeqRead* reader, qvl_CUtilArray<PathFrame>& frames);
