// The job description: what one run converts, with its switches, tolerances
// and bone masks, read from the configuration's root chunk.
#pragma once

#include "util/mempool/util_mempool_array.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"

class qvl_CUtilKvtChunk;

// One entry of "mask_array". Strings are pool copies (null reads as "").
struct MaskEntry {
  char* bone_pat;       // wildcard pattern matched against bone names
  char* bone_pat_info;  // the text handed to the matcher with the pattern (a second copy of it)
  float wgh;            // weight of every bone the pattern matches; only positive weights list a bone
};

// Filled once per run from the configuration and read-only afterwards. Lives
// in the run's pool, like every string and the mask storage it points to;
// nothing refers to the data tree after reading.
struct BoneAnimJob {
  char* info;                 // context text of the configuration's root chunk, for the calculation's errors
  char* ref_path;             // reference (rest pose) file, as written; resolved by the calculation
  char* anim_path;            // animation file, as written
  bool do_transl;             // output carries translations; otherwise translated bones are errors
  bool do_quat;               // output carries rotations; otherwise rotated bones are errors
  bool compress;              // keys are written quantised
  float identity_eps_transl;  // distance to (0, 0, 0) under which a translation counts as none
  float identity_eps_quat;    // 4-D distance to (0, 0, 0, 1) under which a rotation counts as none
  qvl_CUtilMemPoolArray<MaskEntry*> masks;  // in the order of "mask_array"
};

// Fills job (zero-filled by the caller) from the configuration's root chunk
// (null acts as an empty chunk: every field takes its default). Every key is
// optional with its default ("" / false / 0.0); type errors and unknown keys
// are reported by the extraction through handler (unknown root keys before
// any mask chunk is read) and reading goes on. Strings and masks come from
// pool. Exceptions from the extraction pass through unchanged.
void ReadJob(BoneAnimJob* job, qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
             const qvl_CUtilKvtChunk* root);

// Fills entry (zero-filled) from one chunk of "mask_array": "bone_pat"
// (default "") and "wgh" (default 0.0), then reports unknown keys.
void ReadMaskEntry(MaskEntry* entry, qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                   const qvl_CUtilKvtChunk* chunk);
