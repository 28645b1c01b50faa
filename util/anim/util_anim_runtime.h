// A runtime animation file read back into a read-only record, its packed keys
// decoded once, and the sampling of a bone's relative pose at any time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/file/util_file_stream.h"
#include "util/math/util_math_double.h"
#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"

// Format identifier of a runtime animation file.
inline constexpr const char* kRuntimeAnimFormat = "quorvel_boneanim_runtime_164x12";

// A relative pose in double precision: translation, then unit rotation.
struct PoseD {
  Vector3d transl;
  Quatd quat;
};

// The identity pose: (0, 0, 0) and (0, 0, 0, 1).
inline constexpr PoseD kIdentityPoseD{{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 1.0}};

// The contents of one runtime animation file. After a successful load the
// counts agree: K = keyTimes.size() strictly ascending finite times, B =
// boneNames.size() distinct names, maskWeights as many as maskNames, and each
// present channel holds K·B entries, key-major (entry k·B + b is bone b at
// key k). Rotations are of unit length, decoded from the packed words or
// normalised from the stored floats, with the sign the file gives them.
struct RuntimeAnim {
  std::string file;         // the name the messages used
  bool binary = false;      // binary encoding (else text)
  std::uint64_t bytes = 0;  // size of the file
  float rangeStart = 0.0f;
  float rangeEnd = 0.0f;
  std::vector<std::string> maskNames;
  std::vector<float> maskWeights;
  std::vector<float> keyTimes;
  std::vector<std::string> boneNames;
  bool hasTransl = false;  // a translation matrix is present
  bool hasQuat = false;    // a rotation matrix is present
  bool packedTransl = false;
  bool packedQuat = false;
  std::vector<Vector3d> transl;  // K·B entries, or none without the channel
  std::vector<Quatd> quat;       // K·B entries, or none without the channel
  // The channels' values as stored, for programs that rewrite the file and
  // keep its bits: the packed words of a packed channel (K·B), or the floats
  // of a plain one (3·K·B resp. 4·K·B); empty without the channel.
  std::vector<std::int32_t> translWords, quatWords;
  std::vector<float> translFloats, quatFloats;

  int GetKeyCnt() const { return static_cast<int>(keyTimes.size()); }
  int GetBoneCnt() const { return static_cast<int>(boneNames.size()); }
  // Index of the bone named name, −1 when the file does not hold it. O(log B).
  int FindBone(std::string_view name) const;
  // The mask weight of the bone named name; 0 when no mask lists it.
  float GetMaskWeight(std::string_view name) const;
  // The stored pose of bone b at key k (identity for a missing channel).
  PoseD GetKey(int k, int b) const;

  // The relative pose of bone b at time t (the file's time unit): the first
  // key's pose at or before the first key time (also for t NaN), the last
  // key's at or after the last; between two keys the translation linear and
  // the rotation spherical linear along the shorter arc. A bone index that
  // the file does not hold (b < 0 or b ≥ B), a file without keys and a
  // missing channel give the identity. Allocates nothing.
  PoseD Sample(int b, double t) const;

  std::vector<int> byName;  // bone indices ascending by name, for FindBone
};

// Reads the runtime animation on stream (text or binary data tree) into out,
// which is reset first. name is the file name for messages ("" takes the
// stream's path). Every problem is reported to handler at level 2 under an id
// "util/anim/util_anim_runtime.KEY" with the key's "FILE:LINE:COL" (or
// "FILE:@OFFSET") as context, naming the key and what is wrong: a missing or
// wrong format, a missing "data" chunk, "range", "key_array" or
// "bone_name_array", a key given twice, a range without two values, mask names
// and weights of different counts, a non-finite or non-ascending key time, a
// bone name listed twice, a channel both plain and packed, a key matrix of the
// wrong length (checked in 64 bits), a non-finite value or a zero rotation.
// Syntax errors are the data-tree reader's. Without a handler the first error
// is thrown. True when nothing was reported; on false, out holds no key
// matrix (so nothing can be read out of range) and must not be used.
bool LoadRuntimeAnim(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name, qvl_CUtilStream* stream,
                     RuntimeAnim* out);

// The relative pose at time t between two keys p0 at time t0 and p1 at t1
// (t0 < t1), as Sample gives it: p0 itself at t == t0, else the translation
// linear and the rotation SlerpShorter at u = (t − t0) / (t1 − t0).
PoseD InterpolatePose(const PoseD& p0, double t0, const PoseD& p1, double t1, double t);

// Spherical linear interpolation from a (u = 0) to b (u = 1) along the shorter
// arc: b is negated when the four-component dot product is negative. Unit
// inputs; the result is normalised. Nearly equal rotations are interpolated
// linearly (then normalised), where the sine of the angle would divide by ~0.
Quatd SlerpShorter(const Quatd& a, const Quatd& b, double u);

// The angle between two unit rotations, 2·acos(min(1, |a·b|)), in degrees
// within [0, 180]; q and −q are the same rotation (angle 0).
double RotationAngleDeg(const Quatd& a, const Quatd& b);

// The Euclidean distance of two translations.
double TranslDistance(const Vector3d& a, const Vector3d& b);
