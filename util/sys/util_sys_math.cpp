// frexp and ldexp on 32-bit floats, through the float overloads of <cmath>.
#include "util/sys/util_sys_math.h"

#include <cmath>

float qvl_SysFrexp(float value, int* exp) {
  int e = 0;
  const float m = std::frexp(value, &e);
  if (!std::isfinite(value)) e = 0;  // the C library leaves it unspecified
  *exp = e;
  return m;
}

float qvl_SysLdexp(float value, int exp) {
  return std::ldexp(value, exp);
}
