// Key compression: a translation or a rotation packed into one 32-bit word,
// and the decoding of each word. Each pack function stands next to its inverse.
#pragma once

#include <cstdint>

#include "util/math/util_math_double.h"
#include "util/math/util_math_quat.h"
#include "util/math/util_math_vector3.h"

// Shared-exponent translation. Bits 27–31: e + 16 (−16 ≤ e ≤ 15); bits 0–8,
// 9–17, 18–26: x, y, z fields floor(c · 2^(8−e)) + 256 limited to 0…511, so a
// field q stands for [(q − 256)·2^(e−8), (q − 255)·2^(e−8)). e comes from the
// largest magnitude m: frexp of float(m · 1.001953125), which keeps every field
// within 0…511 unless e was limited. A non-finite component packs (0, 0, 0).
// Returned as the signed 32-bit word the file stores.
std::int32_t PackTransl(const Vector3& v);

// The inverse of PackTransl: with e = (bits 27–31) − 16, field q decodes to
// the middle of its interval, (q − 256 + 0.5) · 2^(e−8), so the error is at
// most half a step. The one exception is the word 0x84020100 (e = 0, every
// field 256), which only the zero translation packs to: it decodes to exactly
// (0, 0, 0), as the middle would move every bone that does not translate by
// 2^−9 on each axis. Any word decodes; nothing fails.
Vector3d UnpackTransl(std::int32_t word);

// Rotation over its L1 norm s = |x| + |y| + |z| + |w|: bits 0–9, 10–19, 20–29
// hold x, y, z as floor(c / s · 511 + 0.5) + 511 limited to 0…1023 (r = 1 / s
// kept in double precision); w is not stored and bits 30–31 are 0. A rotation
// with w < 0 is negated first (the same rotation), so that the word always
// stands for w ≥ 0: the calculation keeps a bone's rotations sign-continuous,
// and a bone turned past 180° has w < 0, which a decoder cannot know. A
// rotation that is all zero or not finite packs as the identity word
// 0x1FF7FDFF.
std::int32_t PackQuat(const Quat& q);

// The inverse of PackQuat: x, y, z = (n − 511) / 511 of the L1 norm for the
// fields n, w = max(0, 1 − (|x| + |y| + |z|)), the whole normalised to unit
// length (in double). The result has w ≥ 0. Any word decodes (bits 30–31 are
// ignored); nothing fails.
Quatd UnpackQuat(std::int32_t word);
