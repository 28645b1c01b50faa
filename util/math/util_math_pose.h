// A translation followed by a rotation (seven floats), the key value of the
// relative animation.
#pragma once

#include "util/math/util_math_quat.h"
#include "util/math/util_math_vector3.h"

// Identity pose: transl (0, 0, 0), quat (0, 0, 0, 1).
struct Pose {
  Vector3 transl;
  Quat quat;

  // `other` expressed in the frame of this pose (this = reference A, other = B):
  // i = A.quat⁻¹ (GetInverse), transl = i.GetMatrix() · (B.transl − A.transl)
  // with the difference rounded to float per component, quat = i ⊗ B.quat (the
  // inverse on the left). The sign of the quaternion is not normalised. A zero
  // reference rotation makes every component non-finite.
  Pose GetRelative(const Pose& other) const;
};
