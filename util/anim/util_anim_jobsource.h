// The source of a job as the converter reads it: its reference and animation
// paths, resolved and loaded, with the reference's skeleton and unit.
#pragma once

#include <string>

#include "util/anim/util_anim_job.h"
#include "util/anim/util_anim_load.h"
#include "util/anim/util_anim_skeleton.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"

// The maps' nodes and paths live in the pool given to LoadJobSource, which
// must outlive this; the maps are emptied (not freed) on destruction.
struct JobSource {
  JobSource() = default;
  JobSource(const JobSource&) = delete;
  JobSource& operator=(const JobSource&) = delete;
  ~JobSource() {
    ref.ExtractAll();
    anim.ExtractAll();
  }

  std::string refPath;  // the job's files, resolved against the reference directory
  std::string animPath;
  LoadedAnim ref;              // the reference (rest pose) paths
  LoadedAnim anim;             // the animation paths
  Skeleton skeleton;           // of the reference's paths
  double metersPerUnit = 0.0;  // of the reference's "meters_per_unit"; 0 where unknown
};

// The path in map named name (null sorts as ""), or null.
const AnimPath* FindPath(const LoadedAnim& map, const char* name);

// Loads the source of job into out (fresh): ref_path and anim_path aligned
// to refdir (a complete directory) as the converter aligns them, both read
// with the path animation reader into pool memory, the reference with its
// skeleton keys, from which the skeleton and the unit are built
// (BuildSkeleton, CheckMetersPerUnit). Every problem is reported to handler,
// the reader's first, then the skeleton's, then the animation reader's; what
// could be read is kept. An empty path reads nothing.
void LoadJobSource(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& refdir,
                   const BoneAnimJob& job, JobSource* out);
