// Path animation file reader and the name-ordered path map.
#include "util/anim/util_anim_load.h"

#include "util/kvt/util_kvt_seqread.h"
#include "util/kvt/util_kvt_work.h"
#include "util/msg/util_msg_msg.h"

namespace {

constexpr const char* kPathFormat = "quorvel_path_5";

// Reports a format problem to the reader's handler, or throws it without one.
void ReportFormatMsg(qvl_CUtilKvtSeqRead* reader, const qvl_CUtilMsg& msg) {
  qvl_CUtilMsgHandler::ReportError(reader->GetMsgHandler(), msg);
}

// Reads each chunk value of the open key with readElem.
template <class F>
void ReadChunkList(qvl_CUtilKvtSeqRead* reader, F&& readElem) {
  while (reader->IsValue() > 0) {
    reader->BeginChunk();
    readElem();
    reader->EndChunk();
  }
}

}  // namespace

int CompareNames(const char* a, const char* b) {
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b ? b : "");
  while (*pa == *pb) {
    if (*pa == 0) return 0;
    ++pa;
    ++pb;
  }
  return *pa < *pb ? -1 : 1;
}

PathNode* FindPathNode(const LoadedAnim& map, const char* name) {
  PathNode* candidate = nullptr;
  for (PathNode* node = map.GetRootNode(); node;) {
    if (CompareNames(node->key, name) < 0) {
      node = node->GetRight();
    } else {
      candidate = node;
      node = node->GetLeft();
    }
  }
  return candidate;
}

bool InsertPath(LoadedAnim* map, qvl_CUtilMemPool* pool, const char* name, AnimPath* path) {
  PathNode* found = FindPathNode(*map, name);
  if (found && CompareNames(found->key, name) == 0) {
    found->path = path;
    return true;
  }
  PathNode* node = static_cast<PathNode*>(pool->Alloc(sizeof(PathNode), alignof(PathNode)));
  node->key = name;
  node->path = path;
  map->InsertBefore(found ? &found->links : nullptr, &node->links);
  return false;
}

void LoadPathAnim(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name, qvl_CUtilMemPool* pool,
                  qvl_CUtilStream* stream, LoadedAnim* target) {
  LoadPathAnimWithSkeletonKeys(handler, name, pool, stream, target, nullptr);
}

void LoadPathAnimWithSkeletonKeys(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name,
                                  qvl_CUtilMemPool* pool, qvl_CUtilStream* stream, LoadedAnim* target,
                                  SkeletonKeysRead* keys) {
  qvl_CUtilKvtSeqRead* created = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(handler, name, stream, true);
  if (!created) return;
  // The holder takes over the creation reference, so that an exception
  // releases the reader (without Finish).
  qvl_CUtilPtr<qvl_CUtilKvtSeqRead> reader(created);
  qvl_CUtilPtrBase::RefReleaseOf(created);
  ReadPathAnimRoot(reader.Get(), pool, target, keys);
  reader->Finish();
}

void ReadPathAnimRoot(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                      SkeletonKeysRead* keys) {
  qvl_CUtilStr format;
  bool hasFormat = false;
  while (reader->IsKey() > 0) {
    qvl_CUtilStr key = reader->ReadKey();
    if (key.Compare("format") == 0) {
      format = reader->ReadStr();
      hasFormat = true;
    } else if (key.Compare("data") == 0) {
      reader->BeginChunk();
      if (format.Compare(kPathFormat) == 0) {
        ReadPathAnimData(reader, pool, target, keys);
      } else {
        qvl_CUtilMsg msg("tool/pvsgen/pvsgen_load.format", "Found format \"[2]\" instead of '[1]'.");
        msg.AddInfo(reader->GetInfo());
        msg.AddInfo(kPathFormat);
        msg.AddInfo(format);
        ReportFormatMsg(reader, msg);
      }
      reader->EndChunk();
    }
    reader->EndKey();
  }
  if (!hasFormat) {
    qvl_CUtilMsg msg("tool/pvsgen/pvsgen_load.no_format", "No format \"[1]\" found.");
    msg.AddInfo(reader->GetInfo());
    msg.AddInfo(kPathFormat);
    ReportFormatMsg(reader, msg);
  }
}

void ReadPathAnimData(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                      SkeletonKeysRead* keys) {
  while (reader->IsKey() > 0) {
    qvl_CUtilStr key = reader->ReadKey();
    if (key.Compare("path_array") == 0) {
      ReadChunkList(reader, [&] { ReadAnimPath(reader, pool, target, keys); });
    } else if (keys && key.Compare("meters_per_unit") == 0) {
      keys->hasUnit = true;
      keys->unitInfo = reader->GetInfo().GetChars();
      keys->metersPerUnit = reader->ReadFloat();
    }
    reader->EndKey();
  }
}

void ReadAnimPath(qvl_CUtilKvtSeqRead* reader, qvl_CUtilMemPool* pool, LoadedAnim* target,
                  SkeletonKeysRead* keys) {
  // Allocated before the first key, so a path chunk without keys is a path too.
  AnimPath* path = static_cast<AnimPath*>(pool->Alloc(sizeof(AnimPath), alignof(AnimPath)));
  qvl_CUtilArray<PathFrame> frames;  // every "frame_array" of the path, in file order
  while (reader->IsKey() > 0) {
    qvl_CUtilStr key = reader->ReadKey();
    if (key.Compare("name") == 0) {
      qvl_CUtilStr name = reader->ReadStr();
      path->name = qvl_CUtilMemPoolStr::Alloc(pool, name.GetChars());
    } else if (key.Compare("range") == 0) {
      path->rangeStart = reader->ReadFloat();
      path->rangeEnd = reader->ReadFloat();
    } else if (key.Compare("frame_array") == 0) {
      ReadChunkList(reader, [&] { ReadPathFrame(reader, frames); });
    } else if (keys && key.Compare("parent") == 0) {
      std::string info = reader->GetInfo().GetChars();
      keys->parents.push_back(ParentKeyRead{path, reader->ReadStr().GetChars(), std::move(info)});
    }
    reader->EndKey();
  }
  // Each frame gives one translation key and one rotation key; the two
  // tracks are filled independently (a frame with a non-finite rotation
  // still gives its translation key).
  path->translTrack.Reserve(pool, frames.GetCount());
  path->quatTrack.Reserve(pool, frames.GetCount());
  for (int i = 0; i < frames.GetCount(); ++i) {
    const PathFrame& f = frames[i];
    AddKey(path->translTrack, pool, f.time, f.transl);
    AddKey(path->quatTrack, pool, f.time, f.quat);
  }
  InsertPath(target, pool, path->name, path);
}

void ReadPathFrame(qvl_CUtilKvtSeqRead* reader, qvl_CUtilArray<PathFrame>& frames) {
  PathFrame f{0.0f, Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 0.0f}};
  while (reader->IsKey() > 0) {
    qvl_CUtilStr key = reader->ReadKey();
    if (key.Compare("key") == 0) {
      f.time = reader->ReadFloat();
    } else if (key.Compare("transl") == 0) {
      f.transl.x = reader->ReadFloat();
      f.transl.y = reader->ReadFloat();
      f.transl.z = reader->ReadFloat();
    } else if (key.Compare("quat") == 0) {
      f.quat.x = reader->ReadFloat();
      f.quat.y = reader->ReadFloat();
      f.quat.z = reader->ReadFloat();
      f.quat.w = reader->ReadFloat();
    }
    reader->EndKey();
  }
  const int n = frames.GetCount();
  frames.SetCount(n + 1);
  frames[n] = f;
}
