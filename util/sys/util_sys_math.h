// frexp and ldexp on 32-bit floats.
#pragma once

// Splits value into mantissa · 2^(*exp) with 0.5 ≤ |mantissa| < 1 and returns
// the mantissa; value 0 gives mantissa 0 and *exp 0. Infinities and NaN come
// back unchanged with *exp unspecified (0 here).
float qvl_SysFrexp(float value, int* exp);

// value · 2^exp as a 32-bit float (overflow gives an infinity, underflow
// rounds to a subnormal or zero).
float qvl_SysLdexp(float value, int exp);
