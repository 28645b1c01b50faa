// Relative pose: another pose expressed in the frame of a reference pose.
#include "util/math/util_math_pose.h"

Pose Pose::GetRelative(const Pose& other) const {
  const Quat i = quat.GetInverse();
  const Matrix3 rot = i.GetMatrix();
  // The difference is rounded to float per component before the rotation.
  const Vector3 d{static_cast<float>(static_cast<double>(other.transl.x) - static_cast<double>(transl.x)),
                  static_cast<float>(static_cast<double>(other.transl.y) - static_cast<double>(transl.y)),
                  static_cast<float>(static_cast<double>(other.transl.z) - static_cast<double>(transl.z))};
  return Pose{rot.Apply(d), i.Mul(other.quat)};
}
