// The runtime animation writer: the calculation's result as a data tree of
// format "quorvel_boneanim_runtime_164x12", text or binary, plain or packed.
#pragma once

#include "tool/boneanim/tool_boneanim_calc.h"
#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_seqwrite.h"

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
