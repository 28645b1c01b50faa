// A bone path expressed relative to its rest pose: the relative keys that both
// the converter and the inspection of its output start from.
#pragma once

#include "util/anim/util_anim_animpath.h"
#include "util/math/util_math_pose.h"
#include "util/mempool/util_mempool_pool.h"

// Search positions in a path's two tracks for a walk at increasing times:
// NextKeyTime and Sample give what AnimPath::NextKeyTime and SampleAt give,
// searching each track from where the last search ended.
struct TrackCursor {
  int transl = 0;
  int quat = 0;

  float NextKeyTime(const AnimPath& path, float t) {
    const float r = NextKeyTimeFrom(path.quatTrack, t, quat);
    const float s = NextKeyTimeFrom(path.translTrack, t, transl);
    return s < r ? s : r;
  }
  Pose Sample(const AnimPath& path, float t) {
    return Pose{SampleAtFrom(path.translTrack, t, transl), SampleAtFrom(path.quatTrack, t, quat)};
  }
};

// path expressed relative to refPose: a new pool path (sharing path's name
// pointer) with one translation and one rotation key at every distinct key
// time of path's two tracks, each the sampled pose taken through
// refPose.GetRelative. Rotations are made sign-continuous (the first with
// w >= 0, each later one in the hemisphere of the one before). Keys that come
// out non-finite are dropped. Null when path is null.
AnimPath* MakeRelativePath(qvl_CUtilMemPool* pool, const AnimPath* path, const Pose& refPose);
