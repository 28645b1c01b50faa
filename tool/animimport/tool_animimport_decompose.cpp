// Matrix decomposition into translation, rotation and scale.
#include "tool/animimport/tool_animimport_decompose.h"

#include <cmath>

#include "tool/animimport/tool_animimport_sample.h"

void DecomposeMatrix(const double* m, Vector3d* transl, Quatd* rot, Vector3d* scale) {
  *transl = Vector3d{m[12], m[13], m[14]};
  double c[3][3];
  double s[3];
  for (int i = 0; i < 3; ++i) {
    s[i] = std::sqrt(m[4 * i] * m[4 * i] + m[4 * i + 1] * m[4 * i + 1] + m[4 * i + 2] * m[4 * i + 2]);
    for (int r = 0; r < 3; ++r) c[i][r] = s[i] > 0 ? m[4 * i + r] / s[i] : (i == r ? 1.0 : 0.0);
  }
  const double det = c[0][0] * (c[1][1] * c[2][2] - c[2][1] * c[1][2]) -
                     c[1][0] * (c[0][1] * c[2][2] - c[2][1] * c[0][2]) +
                     c[2][0] * (c[0][1] * c[1][2] - c[1][1] * c[0][2]);
  if (det < 0) {
    s[0] = -s[0];
    for (int r = 0; r < 3; ++r) c[0][r] = -c[0][r];
  }
  *scale = Vector3d{s[0], s[1], s[2]};
  // Rotation matrix element (row r, column i) is c[i][r].
  const double m00 = c[0][0], m11 = c[1][1], m22 = c[2][2];
  const double trace = m00 + m11 + m22;
  Quatd q;
  if (trace > 0) {
    const double k = 0.5 / std::sqrt(trace + 1.0);
    q = Quatd{(c[1][2] - c[2][1]) * k, (c[2][0] - c[0][2]) * k, (c[0][1] - c[1][0]) * k, 0.25 / k};
  } else if (m00 > m11 && m00 > m22) {
    const double k = 2.0 * std::sqrt(1.0 + m00 - m11 - m22);
    q = Quatd{0.25 * k, (c[1][0] + c[0][1]) / k, (c[2][0] + c[0][2]) / k, (c[1][2] - c[2][1]) / k};
  } else if (m11 > m22) {
    const double k = 2.0 * std::sqrt(1.0 + m11 - m00 - m22);
    q = Quatd{(c[1][0] + c[0][1]) / k, 0.25 * k, (c[2][1] + c[1][2]) / k, (c[2][0] - c[0][2]) / k};
  } else {
    const double k = 2.0 * std::sqrt(1.0 + m22 - m00 - m11);
    q = Quatd{(c[2][0] + c[0][2]) / k, (c[2][1] + c[1][2]) / k, 0.25 * k, (c[0][1] - c[1][0]) / k};
  }
  *rot = QuatNormalize(q);
}
