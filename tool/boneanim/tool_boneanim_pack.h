// Key compression: a translation or a rotation packed into one 32-bit word.
#pragma once

#include <cstdint>

#include "util/math/util_math_quat.h"
#include "util/math/util_math_vector3.h"

// Shared-exponent translation. Bits 27–31: e + 16 (−16 ≤ e ≤ 15); bits 0–8,
// 9–17, 18–26: x, y, z fields floor(c · 2^(8−e)) + 256 limited to 0…511, so a
// field q stands for [(q − 256)·2^(e−8), (q − 255)·2^(e−8)). e comes from the
// largest magnitude m: frexp of float(m · 1.001953125), which keeps every field
// within 0…511 unless e was limited. A non-finite component packs (0, 0, 0).
// Returned as the signed 32-bit word the file stores.
std::int32_t PackTransl(const Vector3& v);

// Rotation over its L1 norm s = |x| + |y| + |z| + |w|: bits 0–9, 10–19, 20–29
// hold x, y, z as floor(c / s · 511 + 0.5) + 511 limited to 0…1023 (r = 1 / s
// kept in double precision); w is not stored and bits 30–31 are 0. A rotation
// that is all zero or not finite packs as the identity word 0x1FF7FDFF.
std::int32_t PackQuat(const Quat& q);
