// The relative animation calculation: loading, relative tracks, identity
// filter, merged key set and key matrix, deviation reports, masks, summary.
#include "tool/boneanim/tool_boneanim_calc.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>

#include "tool/boneanim/tool_boneanim_raise.h"
#include "util/cont/util_array.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/msg/util_msg_msg.h"
#include "util/str/util_str_strutil.h"
#include "util/str/util_str_wildcard.h"

namespace {

constexpr const char* kMsgPrefix = "tool/boneanim/tool_boneanim_calc.";

// A map that is emptied when the calculation leaves, on every way out. The
// nodes are pool memory, so emptying is all the teardown there is.
class ScopedMap {
 public:
  ScopedMap() = default;
  ScopedMap(const ScopedMap&) = delete;
  ScopedMap& operator=(const ScopedMap&) = delete;
  ~ScopedMap() { map.ExtractAll(); }
  LoadedAnim map;
};

qvl_CUtilMsg MakeMsg(const char* key, const char* text) {
  return qvl_CUtilMsg(qvl_CUtilStr((std::string(kMsgPrefix) + key).c_str()), text);
}

// Opens path as a read stream, or none for an empty path.
void OpenAndLoad(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& path,
                 qvl_CUtilPtr<qvl_CUtilStream>& stream, LoadedAnim* map) {
  if (!path.IsEmpty()) stream.Set(new qvl_CUtilCachedFile(handler, "", "", path, 10, -1));
  LoadPathAnim(handler, path, pool, stream.Get(), map);
}

void ReportProgress(qvl_CUtilMsgHandler* handler, const char* key, const char* text,
                    const qvl_CUtilStr& arg) {
  if (!handler) return;
  qvl_CUtilMsg msg = MakeMsg(key, text);
  msg.AddInfo("");
  msg.AddInfo(arg);
  handler->Report(qvl_MsgLevelInfo, msg);
}

std::uint64_t g_keyMatrixBudget = kKeyMatrixBudgetDefault;

// True when a key matrix of boneCnt x keyCnt poses fits the array limit and
// the budget; otherwise a level-2 error (raised without a handler) naming the
// animation, both counts and the bytes the matrix would take.
bool CheckKeyMatrixSize(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& info, const qvl_CUtilStr& animPath,
                        int boneCnt, int keyCnt) {
  const std::uint64_t entries = static_cast<std::uint64_t>(boneCnt) * static_cast<std::uint64_t>(keyCnt);
  const std::uint64_t bytes =
      entries > UINT64_MAX / sizeof(Pose) ? UINT64_MAX : entries * std::uint64_t{sizeof(Pose)};
  if (entries <= static_cast<std::uint64_t>(INT32_MAX) && bytes <= g_keyMatrixBudget) return true;
  qvl_CUtilMsg msg = MakeMsg("key_budget",
                             "Animation \"[1]\" needs a key matrix of [2] bones x [3] key times, [4] bytes, "
                             "more than the limit of [5] bytes (at most [6] entries). ");
  msg.AddInfo(info);
  msg.AddInfo(animPath);
  msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(boneCnt, 0, 0));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(keyCnt, 0, 0));
  msg.AddInfo(qvl_CUtilStr(std::string_view(std::to_string(bytes))));
  msg.AddInfo(qvl_CUtilStr(std::string_view(std::to_string(g_keyMatrixBudget))));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(INT32_MAX, 0, 0));
  ReportOrRaise(handler, msg);
  return false;
}

// The second half of the calculation: bone list, merged key set and key
// matrix, deviation reports, switches, mask list and the closing messages.
void FillRelativeAnim(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const BoneAnimJob* job,
                      const LoadedAnim& anim, const qvl_CUtilArray<AnimPath*>& kept,
                      const qvl_CUtilStr& animPath, const qvl_CUtilStr& refPath, RelativeAnim* result) {
  const int boneCnt = kept.GetCount();
  const qvl_CUtilStr info(job->info);

  // Scratch state per kept bone, released when this function leaves.
  qvl_CUtilArray<Pose> prevPose;
  qvl_CUtilArray<float> largestTransl;  // largest length of the translation over all key times
  qvl_CUtilArray<float> largestRot;     // largest 4-D distance of the rotation to (0, 0, 0, 1)
  qvl_CUtilArray<TrackCursor> cursors;  // where each bone's searches continue
  cursors.SetCount(boneCnt);
  for (int b = 0; b < boneCnt; ++b) cursors.SetAt(b, TrackCursor{});
  prevPose.SetCount(boneCnt);
  largestTransl.SetCount(boneCnt);
  largestRot.SetCount(boneCnt);

  // The key set is at least as large as the largest relative path, and as
  // large when the bones share their key times (the usual case): reserve that.
  int expectedKeys = 0;
  for (int b = 0; b < boneCnt; ++b) expectedKeys = std::max(expectedKeys, kept[b]->translTrack.count);
  result->boneNames.Reserve(pool, boneCnt);
  result->keyTimes.Reserve(pool, expectedKeys);

  // 1. Bone list.
  for (int b = 0; b < boneCnt; ++b) {
    result->boneNames.Append(pool, kept[b]->name);
    prevPose.SetAt(b, Pose{Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 1.0f}});
    largestTransl.SetAt(b, 0.0f);
    largestRot.SetAt(b, 0.0f);
  }

  // 2. Key set: each step takes the smallest next key time of all bones. Its
  // size is bounded by the keys in the file; the matrix's is not (bones with
  // keys at different times multiply), so the matrix waits for the check below.
  float last = -FLT_MAX;
  while (boneCnt >= 1) {
    float t = FLT_MAX;
    for (int b = 0; b < boneCnt; ++b) {
      const float tb = cursors[b].NextKeyTime(*kept[b], last);
      if (tb < t) t = tb;
    }
    if (t == FLT_MAX) break;
    last = t;
    result->keyTimes.Append(pool, t);
  }
  const int keyCnt = result->keyTimes.count;
  if (!CheckKeyMatrixSize(handler, info, animPath, boneCnt, keyCnt)) {
    // No matrix: no key times either, so that K x B still holds (the run has
    // an error and writes nothing).
    result->keyTimes.count = 0;
  } else {
    result->keys.Reserve(pool, keyCnt * boneCnt);
  }

  // The key matrix: every bone sampled at every key time (key-major layout).
  for (int b = 0; b < boneCnt; ++b) cursors.SetAt(b, TrackCursor{});
  for (int k = 0; k < result->keyTimes.count; ++k) {
    const float t = result->keyTimes[k];
    for (int b = 0; b < boneCnt; ++b) {
      Pose v = cursors[b].Sample(*kept[b], t);
      // Sign continuity along the key times, starting from the identity.
      if (Dot4(prevPose[b].quat, v.quat) < 0.0) v.quat = Negated(v.quat);
      prevPose[b] = v;
      const Vector3& p = v.transl;
      if (p.x != 0.0f || p.y != 0.0f || p.z != 0.0f) {
        const double sq = static_cast<double>(p.x) * static_cast<double>(p.x) +
                          static_cast<double>(p.y) * static_cast<double>(p.y) +
                          static_cast<double>(p.z) * static_cast<double>(p.z);
        const float len = static_cast<float>(std::sqrt(sq));
        if (largestTransl[b] < len) largestTransl[b] = len;
      }
      const Quat& q = v.quat;
      if (q.x != 0.0f || q.y != 0.0f || q.z != 0.0f || q.w != 1.0f) {
        const double dw = static_cast<double>(q.w) - 1.0;
        const double sq = static_cast<double>(q.x) * static_cast<double>(q.x) +
                          static_cast<double>(q.y) * static_cast<double>(q.y) +
                          static_cast<double>(q.z) * static_cast<double>(q.z) + dw * dw;
        const float dev = static_cast<float>(std::sqrt(sq));
        if (largestRot[b] < dev) largestRot[b] = dev;
      }
      result->keys.Append(pool, v);
    }
  }

  // 3., 4. Deviations in channels that the job leaves out of the output.
  struct Deviation {
    bool enabled;
    const qvl_CUtilArray<float>* largest;
    const char* key;
    const char* text;
  };
  const Deviation deviations[] = {
      {!job->do_transl, &largestTransl, "has_transl",
       "Bone \"[3]\" of animation \"[1]\" has bones which are translated relative to the reference \"[2]\" "
       "by [4] "},
      {!job->do_quat, &largestRot, "has_quat",
       "Bone \"[3]\" of animation \"[1]\" has bones which are rotated relative to the reference \"[2]\" by "
       "[4] "},
  };
  for (const Deviation& d : deviations) {
    if (!d.enabled) continue;
    for (int b = 0; b < boneCnt; ++b) {
      const float value = (*d.largest)[b];
      if (!(value > 0.0f)) continue;
      qvl_CUtilMsg msg = MakeMsg(d.key, d.text);
      msg.AddInfo(info);
      msg.AddInfo(animPath);
      msg.AddInfo(refPath);
      msg.AddInfo(kept[b]->name);
      msg.AddInfo(qvl_CUtilStrUtil::StrOfFloat(value, 0, 0, -1));
      ReportOrRaise(handler, msg);
    }
  }

  // 5. Switches.
  result->doTransl = job->do_transl;
  result->doQuat = job->do_quat;
  result->compress = job->compress;

  // 6. Mask list over every animation path, kept or not: the largest weight
  // of all matching entries, listed when positive.
  for (const PathNode* node = anim.GetFirstNode(); node; node = node->GetNext()) {
    const char* name = node->path->name;
    float weight = 0.0f;
    for (int m = 0; m < job->masks.count; ++m) {
      const MaskEntry* entry = job->masks.GetAt(m);
      if (qvl_CUtilWildcard::IsMatching(handler, entry->bone_pat_info, entry->bone_pat, name) &&
          weight < entry->wgh) {
        weight = entry->wgh;
      }
    }
    if (weight > 0.0f) {
      result->maskNames.Append(pool, name);
      result->maskWeights.Append(pool, weight);
    }
  }

  // 7. Summary.
  if (handler) {
    qvl_CUtilMsg msg =
        MakeMsg("result",
                "Processed animation \"[1]\" relative to \"[2]\" using [3] mask bones, [4] animation "
                "bones, and [5] keyframes.");
    msg.AddInfo("");
    msg.AddInfo(animPath);
    msg.AddInfo(refPath);
    msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(result->maskNames.count, 0, 0));
    msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(boneCnt, 0, 0));
    msg.AddInfo(qvl_CUtilStrUtil::StrOfInt(result->keyTimes.count, 0, 0));
    handler->Report(qvl_MsgLevelInfo, msg);
  }

  // 8. Nothing to animate.
  if (boneCnt < 1) {
    qvl_CUtilMsg msg = MakeMsg("no_bones", "Animation \"[1]\" relative to \"[2]\" uses no bones. ");
    msg.AddInfo(info);
    msg.AddInfo(animPath);
    msg.AddInfo(refPath);
    ReportOrRaise(handler, msg);
  }
}

}  // namespace

void SetKeyMatrixBudget(std::uint64_t bytes) {
  g_keyMatrixBudget = bytes;
}

std::uint64_t GetKeyMatrixBudget() {
  return g_keyMatrixBudget;
}

void GetAnimRange(const LoadedAnim& map, float& rangeStart, float& rangeEnd) {
  rangeStart = FLT_MAX;
  rangeEnd = -FLT_MAX;
  for (const PathNode* node = map.GetFirstNode(); node; node = node->GetNext()) {
    if (node->path->rangeStart < rangeStart) rangeStart = node->path->rangeStart;
    if (node->path->rangeEnd > rangeEnd) rangeEnd = node->path->rangeEnd;
  }
}

RelativeAnim* CalcRelativeFromMaps(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                                   const BoneAnimJob* job, const LoadedAnim& ref, const LoadedAnim& anim,
                                   const qvl_CUtilStr& animPath, const qvl_CUtilStr& refPath) {
  const qvl_CUtilStr info(job->info);
  // The kept bones by name; emptied after the scratch arrays are released.
  ScopedMap keptMap;

  // 5. Relative paths; identity bones are dropped.
  for (const PathNode* node = anim.GetFirstNode(); node; node = node->GetNext()) {
    const AnimPath* path = node->path;
    Pose refPose{Vector3{0.0f, 0.0f, 0.0f}, Quat{0.0f, 0.0f, 0.0f, 1.0f}};
    const PathNode* found = FindPathNode(ref, path->name);
    if (found && CompareNames(found->key, path->name) == 0) {
      // The reference pose is each track's first key (zeros for an empty track).
      refPose.transl = SampleAt(found->path->translTrack, -FLT_MAX);
      refPose.quat = SampleAt(found->path->quatTrack, -FLT_MAX);
    } else {
      qvl_CUtilMsg msg =
          MakeMsg("ref_not_defined",
                  "Animation \"[1]\" uses bone \"[3]\" which is not defined in reference \"[2]\". ");
      msg.AddInfo(info);
      msg.AddInfo(animPath);
      msg.AddInfo(refPath);
      msg.AddInfo(path->name);
      ReportOrRaise(handler, msg);
    }
    AnimPath* rel = MakeRelativePath(pool, path, refPose);
    rel->SnapToIdentity(job->identity_eps_transl, job->identity_eps_quat);
    if (!rel->IsIdentity()) InsertPath(&keptMap.map, pool, path->name, rel);
  }

  // 6. The kept bones in name order.
  qvl_CUtilArray<AnimPath*> kept;
  kept.SetCount(keptMap.map.GetCount());
  int b = 0;
  for (const PathNode* node = keptMap.map.GetFirstNode(); node; node = node->GetNext())
    kept.SetAt(b++, node->path);

  // 7. The record.
  RelativeAnim* result = static_cast<RelativeAnim*>(pool->Alloc(sizeof(RelativeAnim), alignof(RelativeAnim)));
  GetAnimRange(anim, result->rangeStart, result->rangeEnd);

  // 8. Key set, key matrix, reports, masks, summary.
  FillRelativeAnim(handler, pool, job, anim, kept, animPath, refPath, result);
  return result;
}

RelativeAnim* CalcRelativeAnim(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                               const qvl_CUtilStr& refdir, const BoneAnimJob* job) {
  // 1. Paths resolved against the reference directory.
  const qvl_CUtilStr refPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job->ref_path));
  const qvl_CUtilStr animPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job->anim_path));

  // Declared in the reverse order of their teardown: the animation map and
  // stream, then the reference map and stream.
  qvl_CUtilPtr<qvl_CUtilStream> refStream;
  ScopedMap ref;
  qvl_CUtilPtr<qvl_CUtilStream> animStream;
  ScopedMap anim;

  // 2.-4. Loading.
  ReportProgress(handler, "load_ref", "Loading reference file \"[1]\"...", refPath);
  OpenAndLoad(handler, pool, refPath, refStream, &ref.map);
  ReportProgress(handler, "load_anim", "Loading animation file \"[1]\"...", animPath);
  OpenAndLoad(handler, pool, animPath, animStream, &anim.map);

  return CalcRelativeFromMaps(handler, pool, job, ref.map, anim.map, animPath, refPath);
}
