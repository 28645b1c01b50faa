// Loading the source of a job: its two path files, the skeleton and the unit.
#include "util/anim/util_anim_jobsource.h"

#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_filesystem.h"

const AnimPath* FindPath(const LoadedAnim& map, const char* name) {
  const PathNode* found = FindPathNode(map, name);
  return found && CompareNames(found->key, name) == 0 ? found->path : nullptr;
}

void LoadJobSource(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& refdir,
                   const BoneAnimJob& job, JobSource* out) {
  const qvl_CUtilStr refPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job.ref_path));
  const qvl_CUtilStr animPath = qvl_CUtilFilesystem::GetAlignedPath(refdir, qvl_CUtilStr(job.anim_path));
  out->refPath = refPath.GetChars();
  out->animPath = animPath.GetChars();
  {
    qvl_CUtilPtr<qvl_CUtilStream> stream;
    if (!refPath.IsEmpty()) stream.Set(new qvl_CUtilCachedFile(handler, "", "", refPath, 10, -1));
    SkeletonKeysRead keys;
    LoadPathAnimWithSkeletonKeys(handler, refPath, pool, stream.Get(), &out->ref, &keys);
    BuildSkeleton(handler, out->ref, keys, &out->skeleton);
    out->metersPerUnit = CheckMetersPerUnit(handler, keys);
  }
  qvl_CUtilPtr<qvl_CUtilStream> stream;
  if (!animPath.IsEmpty()) stream.Set(new qvl_CUtilCachedFile(handler, "", "", animPath, 10, -1));
  LoadPathAnim(handler, animPath, pool, stream.Get(), &out->anim);
}
