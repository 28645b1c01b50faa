// The relative animation calculation: both files loaded, every animation bone
// expressed relative to its reference pose, identity bones dropped, keys
// merged and sampled, masks weighted; the result is handed to the writer.
#pragma once

#include <cstdint>

#include "util/anim/util_anim_job.h"
#include "util/anim/util_anim_load.h"
#include "util/anim/util_anim_relpath.h"
#include "util/anim/util_anim_write.h"
#include "util/math/util_math_pose.h"
#include "util/mempool/util_mempool_array.h"
#include "util/str/util_str_str.h"

// Bytes of key data (bones x key times x sizeof(Pose)) a key matrix may take:
// 2 GiB. A larger one (or one past the arrays' int count) is a level-2 error
// ("key_budget") naming the animation, the bone and key counts and the bytes,
// reported before any of the matrix is allocated; the result then has no key
// times and no keys.
constexpr std::uint64_t kKeyMatrixBudgetDefault = std::uint64_t{2} << 30;
// Sets that budget for the calculations that follow (tests use a small one).
void SetKeyMatrixBudget(std::uint64_t bytes);
std::uint64_t GetKeyMatrixBudget();

// Runs the whole calculation for job: resolves ref_path and anim_path against
// refdir (GetAlignedPath), loads both files, builds the relative tracks,
// drops identity bones, fills and returns a new RelativeAnim from pool (never
// null). Progress ("load_ref", "load_anim", "result") goes to handler at
// level 1; errors ("ref_not_defined", "key_budget", "has_transl", "has_quat", "no_bones")
// at level 2, and the calculation goes on. With a null handler progress is
// skipped and the first error is thrown. Scratch memory, the maps and the
// streams are released on every way out, exceptions included.
RelativeAnim* CalcRelativeAnim(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                               const qvl_CUtilStr& refdir, const BoneAnimJob* job);

// Steps after loading, on the two loaded maps: relative paths, identity
// filter, then the record (as CalcRelativeAnim, which calls it). animPath and
// refPath are the resolved paths the messages name. Separate so that the
// calculation can be measured without the file reading.
RelativeAnim* CalcRelativeFromMaps(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool,
                                   const BoneAnimJob* job, const LoadedAnim& ref, const LoadedAnim& anim,
                                   const qvl_CUtilStr& animPath, const qvl_CUtilStr& refPath);

// The smallest rangeStart and the largest rangeEnd over every path of map;
// (FLT_MAX, -FLT_MAX) for an empty map. NaN ranges never replace a value.
void GetAnimRange(const LoadedAnim& map, float& rangeStart, float& rangeEnd);
