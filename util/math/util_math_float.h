// Finiteness of 32-bit floats, tested on the bit pattern so that it does not
// depend on compiler flags that assume finite math.
#pragma once

#include <bit>
#include <cstdint>

// Exponent bits of a 32-bit IEEE-754 float; all ones means infinity or NaN.
inline constexpr std::uint32_t kFloatExpMask = 0x7F800000u;

// True when f is neither an infinity nor a NaN.
inline bool IsFinite(float f) {
  return (std::bit_cast<std::uint32_t>(f) & kFloatExpMask) != kFloatExpMask;
}

// The bit pattern of f (for exact comparisons where the sign of zero matters).
inline std::uint32_t FloatBits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}
