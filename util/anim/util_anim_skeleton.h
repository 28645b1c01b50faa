// The skeleton of a reference (rest-pose) file, read from its "parent" keys,
// and the object-space measures built on it: model poses by forward
// kinematics and the object-space error of a bone.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/anim/util_anim_load.h"
#include "util/anim/util_anim_runtime.h"
#include "util/msg/util_msg_handler.h"

// The bones of a reference file and how they hang together. Every path of
// the file is one bone. Bones are ordered so that every parent comes before
// its children: depth first from the top bones, top bones and the children
// of a bone ascending by name (bytes), so that a subtree is one run.
struct Skeleton {
  std::vector<std::string> names;  // the bones' path names
  std::vector<int> parents;  // index of each bone's parent in names, −1 for a top bone; parents[i] < i
  int parentKeyCnt = 0;      // "parent" keys of the file's paths; 0 is a flat skeleton (no hierarchy)

  int GetBoneCnt() const { return static_cast<int>(names.size()); }
  // Whether the file gave a hierarchy at all (even one repaired after errors).
  bool HasHierarchy() const { return parentKeyCnt > 0; }
  // Index of the bone named name, −1 when there is none. O(log n).
  int FindBone(std::string_view name) const;

  std::vector<int> byName;  // bone indices ascending by name, for FindBone
};

// Builds the skeleton of the reference paths in ref (as LoadPathAnim filed
// them) from the parent keys read with them. A key of a path that a later
// path of the same name replaced is ignored with its path. Errors, each at
// level 2 to handler with the key's position as context, naming both bones,
// under ids "util/anim/util_anim_skeleton.KEY":
//   dup_parent      a second "parent" key in one path: the later one counts;
//   unknown_parent  a parent that names no path of the file;
//   self_parent     a bone that names itself;
//   cycle           a parent that closes a cycle: of the keys on a cycle, the
//                   last in the file, the one that closes it when the keys
//                   are taken in file order.
// The bone of an unknown, self or cycle parent is a top bone. Reports come in
// file order of their keys; without a handler the first is thrown. out is
// replaced. Costs O(n log n) for n paths and parent keys, whatever the shape.
void BuildSkeleton(qvl_CUtilMsgHandler* handler, const LoadedAnim& ref, const SkeletonKeysRead& keys,
                   Skeleton* out);

// Checks keys' "meters_per_unit": the size in metres of one unit of the
// file's translations, or 0 when the file gives none. A value that is not a
// finite number greater than 0 is reported at level 2 at its key
// ("util/anim/util_anim_skeleton.bad_unit") and gives 0 (unknown).
double CheckMetersPerUnit(qvl_CUtilMsgHandler* handler, const SkeletonKeysRead& keys);

// The rest pose of a reference path in double: the first key of each track,
// the rotation normalised; a missing channel, a zero rotation and a null path
// give the identity's part.
PoseD RestPoseOf(const AnimPath* path);

// Model (object-space) poses from local poses: for each bone i in order,
//   model[i].transl = model[p].transl + R(model[p].quat) · local[i].transl
//   model[i].quat   = model[p].quat ⊗ local[i].quat         (p = parents[i])
// and model[i] = local[i] for a top bone (p < 0). parents[i] < i must hold
// (a skeleton's order), so one pass suffices; local rotations of unit length.
// All three spans have the same length. Double precision, no allocation.
void ComputeModelPoses(std::span<const int> parents, std::span<const PoseD> local, std::span<PoseD> model);

// The object-space error of one bone between its model poses a and b (unit
// rotations) at shell distance shell (the poses' length unit): the largest
// distance between a and b applied to the same point, over four points of the
// bone's frame, its origin and the points at distance shell along its x, y and
// z axes. For a pure rotation error θ about the unit axis n of the bone's
// frame (b = a ⊗ (n, θ), equal translations), point i moves by
// 2·shell·sin(θ/2)·√(1 − nᵢ²), so the error is
//     2·shell·sin(θ/2)·maxᵢ √(1 − nᵢ²),
// which is 2·shell·sin(θ/2) for an axis perpendicular to one of the bone's
// axes. Allocates nothing.
double ObjectSpaceError(const PoseD& a, const PoseD& b, double shell);

// The shell distance to use when none is given, in the file's units.
inline constexpr double kShellMeters = 0.03;        // 3 cm, where the unit is known
inline constexpr double kShellBoxFraction = 0.015;  // of the rest pose's joint box diagonal otherwise
enum class ShellSource { kOption, kUnit, kBox };
struct ShellDistance {
  double distance = 0.0;  // in the file's units
  ShellSource source = ShellSource::kOption;
  double boxDiagonal = 0.0;  // kBox: the diagonal of the box around the rest joint positions
};
// kShellMeters / metersPerUnit where metersPerUnit > 0; otherwise
// kShellBoxFraction times the diagonal of the axis-aligned box around the
// positions of restModel (the rest pose's model poses), or 1 unit when that
// is 0 or not finite (every joint in one place).
ShellDistance DefaultShellDistance(double metersPerUnit, std::span<const PoseD> restModel);
