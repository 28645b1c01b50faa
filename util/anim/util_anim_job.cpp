// Reading of the job description from the configuration's data tree.
#include "util/anim/util_anim_job.h"

#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_extract.h"
#include "util/ptr/util_ptr_array.h"
#include "util/str/util_str_str.h"

void ReadJob(BoneAnimJob* job, qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
             const qvl_CUtilKvtChunk* root) {
  qvl_CUtilKvtExtract extract;
  extract.Assign(handler, root);
  job->info = qvl_CUtilMemPoolStr::Alloc(pool, extract.GetInfo().GetChars());

  job->ref_path = qvl_CUtilMemPoolStr::Alloc(pool, extract.ExtractStr("ref_path", true, "").GetChars());
  job->anim_path = qvl_CUtilMemPoolStr::Alloc(pool, extract.ExtractStr("anim_path", true, "").GetChars());
  job->do_transl = extract.ExtractBool("do_transl", true, false);
  job->do_quat = extract.ExtractBool("do_quat", true, false);
  job->compress = extract.ExtractBool("compress", true, false);
  job->identity_eps_transl = extract.ExtractFloat("identity_eps_transl", true, 0.0f);
  job->identity_eps_quat = extract.ExtractFloat("identity_eps_quat", true, 0.0f);

  qvl_CUtilPtrArray<qvl_CUtilKvtChunk> maskChunks;
  extract.ExtractChunkArray(maskChunks, "mask_array", true);
  // Unknown root keys are reported before any mask chunk is read.
  extract.CheckForUnknown();

  for (int i = 0; i < maskChunks.GetCount(); ++i) {
    MaskEntry* entry = static_cast<MaskEntry*>(pool->Alloc(sizeof(MaskEntry), alignof(MaskEntry)));
    qvl_CUtilPtr<qvl_CUtilKvtChunk> chunk(maskChunks.FetchAt(i));
    qvl_CUtilPtrBase::RefReleaseOf(chunk.Get());  // the holder keeps the reference FetchAt took
    ReadMaskEntry(entry, handler, pool, chunk.Get());
    chunk.Release();
    job->masks.Append(pool, entry);
  }
}

void ReadMaskEntry(MaskEntry* entry, qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                   const qvl_CUtilKvtChunk* chunk) {
  qvl_CUtilKvtExtract extract;
  extract.Assign(handler, chunk);
  qvl_CUtilStr pattern;
  qvl_CUtilStr patternPos;  // the value's position; not used
  extract.ExtractStr(pattern, patternPos, "bone_pat", true, "");
  entry->bone_pat_info = qvl_CUtilMemPoolStr::Alloc(pool, pattern.GetChars());
  entry->bone_pat = qvl_CUtilMemPoolStr::Alloc(pool, pattern.GetChars());
  entry->wgh = extract.ExtractFloat("wgh", true, 0.0f);
  extract.CheckForUnknown();
}
