// The runtime animation writer, shared by the converter and the programs that
// rewrite its output: a data tree of format "quorvel_boneanim_runtime_164x12",
// text or binary, plain or packed.
#pragma once

#include <cstdint>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/math/util_math_pose.h"
#include "util/mempool/util_mempool_array.h"

// What a runtime animation file holds: the converter's result, or a file read
// back and rewritten. Everything lives in a pool; a zero-filled record is an
// empty animation. Name pointers are shared, not copied.
// Invariants (B = boneNames.count, K = keyTimes.count): keys holds K x B
// poses, key-major: entry k * B + b is bone b at keyTimes[k]; maskNames and
// maskWeights have the same count; both name lists ascend by CompareNames.
struct RelativeAnim {
  float rangeStart;  // smallest rangeStart over all animation paths (FLT_MAX when none)
  float rangeEnd;    // largest rangeEnd over all animation paths (-FLT_MAX when none)
  qvl_CUtilMemPoolArray<const char*> maskNames;  // bones with a positive mask weight
  qvl_CUtilMemPoolArray<float> maskWeights;      // their weights, same index
  qvl_CUtilMemPoolArray<float> keyTimes;         // merged key times of the kept bones, strictly ascending
  qvl_CUtilMemPoolArray<const char*> boneNames;  // kept (non-identity) bones
  qvl_CUtilMemPoolArray<Pose> keys;              // the key matrix, key-major
  bool doTransl;
  bool doQuat;
  bool compress;
  // Packed words written as they stand, so that a rewritten file keeps the
  // bits it was given instead of packing decoded keys again: with
  // translAsWords (quatAsWords) and doTransl (doQuat) the channel is written
  // as "compr_transl_array" ("compr_quat_array") from translWords
  // (quatWords), whatever compress says, and keys' part of it is not read.
  // The converter leaves them false and empty.
  bool translAsWords;
  bool quatAsWords;
  qvl_CUtilMemPoolArray<std::int32_t> translWords;  // key-major, like keys
  qvl_CUtilMemPoolArray<std::int32_t> quatWords;
};

// Writes anim to stream: the root keys "format" and "data", in the binary
// data-tree encoding when binary is true, else in the text encoding. Reports
// nothing itself: the stream reports its own failures. When an exception
// leaves, the writer is released without Finish.
void WriteRuntimeAnim(qvl_CUtilStream* stream, bool binary, const RelativeAnim* anim);

// The root keys: "format" and the "data" chunk.
void WriteRuntimeAnimRoot(qvl_CUtilKvtSeqWrite* writer, const RelativeAnim* anim);

// The keys of the "data" chunk, always in this order: "range",
// "mask_name_array", "mask_wgh_array", "key_array", "bone_name_array", then
// the translations ("transl_array" plain, "compr_transl_array" packed) when
// doTransl, and the rotations ("quat_array" / "compr_quat_array") when doQuat.
// The key matrix is written key-major, as it is stored: entry k * B + b is
// bone b at key time k. Every loop runs to the count of the array it reads.
void WriteRuntimeAnimData(qvl_CUtilKvtSeqWrite* writer, const RelativeAnim* anim);
