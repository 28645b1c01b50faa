// Relative bone paths: every key of a path taken relative to the rest pose.
#include "util/anim/util_anim_relpath.h"

#include <algorithm>
#include <cfloat>

AnimPath* MakeRelativePath(qvl_CUtilMemPool* pool, const AnimPath* path, const Pose& refPose) {
  if (!path) return nullptr;
  AnimPath* rel = static_cast<AnimPath*>(pool->Alloc(sizeof(AnimPath), alignof(AnimPath)));
  rel->name = path->name;
  // One key per distinct time of the union of both tracks: usually both
  // tracks share their times, so the larger count is the size to expect.
  // Reserving it once avoids the copies (and the pool blocks they leave
  // behind) of growth by doubling; a larger union still grows as usual.
  const int expected = std::max(path->translTrack.count, path->quatTrack.count);
  rel->translTrack.Reserve(pool, expected);
  rel->quatTrack.Reserve(pool, expected);
  Quat prev{0.0f, 0.0f, 0.0f, 1.0f};
  // The key times only increase, so each track is searched from where the
  // last search ended (same results as AnimPath::NextKeyTime and SampleAt).
  TrackCursor cursor;
  for (float t = cursor.NextKeyTime(*path, -FLT_MAX); t < FLT_MAX; t = cursor.NextKeyTime(*path, t)) {
    const Pose sample = cursor.Sample(*path, t);
    Pose r = refPose.GetRelative(sample);
    // The first key is taken with w >= 0, each later one in the hemisphere
    // of the key before it. A rotation that came out non-finite is dropped
    // below and so is not the one the next key must follow.
    if (Dot4(prev, r.quat) < 0.0) r.quat = Negated(r.quat);
    if (r.quat.IsFinite()) prev = r.quat;
    AddKey(rel->translTrack, pool, t, r.transl);
    AddKey(rel->quatTrack, pool, t, r.quat);
  }
  return rel;
}
