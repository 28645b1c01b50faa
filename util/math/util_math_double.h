// Double-precision vector and quaternion for decoding and measuring: values
// read back from files are compared in double, so that the measure itself
// adds no float rounding to the error it reports.
#pragma once

// Three doubles, memory order x y z.
struct Vector3d {
  double x;
  double y;
  double z;
};

// Four doubles, memory order x y z w ((x, y, z) the vector part).
struct Quatd {
  double x;
  double y;
  double z;
  double w;
};

// The Hamilton product a ⊗ b (a on the left): the rotation b, then a.
inline Quatd Mul(const Quatd& a, const Quatd& b) {
  return Quatd{a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
               a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

// v turned by the unit rotation q, q ⊗ v ⊗ q⁻¹, as v + 2w·(u × v) + 2u × (u × v) with u the
// vector part (the same for −q). q is taken to be of unit length; it is not normalised here.
inline Vector3d Rotate(const Quatd& q, const Vector3d& v) {
  const double cx = q.y * v.z - q.z * v.y;  // c = u × v
  const double cy = q.z * v.x - q.x * v.z;
  const double cz = q.x * v.y - q.y * v.x;
  return Vector3d{v.x + 2.0 * (q.w * cx + q.y * cz - q.z * cy), v.y + 2.0 * (q.w * cy + q.z * cx - q.x * cz),
                  v.z + 2.0 * (q.w * cz + q.x * cy - q.y * cx)};
}
