// Splitting of a 4x4 affine matrix into translation, rotation and scale.
#pragma once

#include "util/math/util_math_double.h"

// m: 16 doubles in column-major order (m[12..14] the translation), an affine
// transform without shear. Gives the translation, the unit rotation and the
// scale per axis; a mirroring matrix (negative determinant) gives a negative
// x scale. A column of zero length gives scale 0 and leaves that axis out of
// the rotation (the identity where nothing is left).
void DecomposeMatrix(const double* m, Vector3d* transl, Quatd* rot, Vector3d* scale);
