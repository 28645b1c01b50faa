// Path-level key operations: next key time, identity test and snapping.
#include "util/anim/util_anim_animpath.h"

namespace {

constexpr std::uint32_t kOneBits = 0x3F800000u;  // bit pattern of 1.0f

}  // namespace

float AnimPath::NextKeyTime(float t) const {
  const float r = ::NextKeyTime(quatTrack, t);
  const float s = ::NextKeyTime(translTrack, t);
  return s < r ? s : r;
}

bool AnimPath::IsIdentity() const {
  for (int i = 0; i < translTrack.count; ++i) {
    const Vector3& v = translTrack.RefAt(i).value;
    if (v.x != 0.0f || v.y != 0.0f || v.z != 0.0f) return false;
  }
  for (int i = 0; i < quatTrack.count; ++i) {
    const Quat& q = quatTrack.RefAt(i).value;
    if (q.x != 0.0f || q.y != 0.0f || q.z != 0.0f || FloatBits(q.w) != kOneBits) return false;
  }
  return true;
}

// The squared distances and the squared tolerances are evaluated in double
// precision (floats squared and summed in double, no intermediate rounding),
// like every other formula of the system; the comparison is eps² ≥ d, which
// is false for a NaN tolerance.
void AnimPath::SnapToIdentity(float epsTransl, float epsQuat) {
  const double et = static_cast<double>(epsTransl) * static_cast<double>(epsTransl);
  const double eq = static_cast<double>(epsQuat) * static_cast<double>(epsQuat);
  for (int i = 0; i < translTrack.count; ++i) {
    Vector3& v = translTrack.RefAt(i).value;
    const double x = v.x, y = v.y, z = v.z;
    const double d = x * x + y * y + z * z;
    if (et >= d) v = Vector3{0.0f, 0.0f, 0.0f};
  }
  for (int i = 0; i < quatTrack.count; ++i) {
    Quat& q = quatTrack.RefAt(i).value;
    const double x = q.x, y = q.y, z = q.z, w1 = static_cast<double>(q.w) - 1.0;
    const double d = x * x + y * y + z * z + w1 * w1;
    if (eq >= d) q = Quat{0.0f, 0.0f, 0.0f, 1.0f};
  }
}
