// Number-to-text conversions for message arguments and the text encoding.
#pragma once

#include <cstdint>

#include "util/str/util_str_str.h"

class qvl_CUtilStrUtil {
public:
  // Decimal text of value ("-12"). The two further arguments (minimum width,
  // flags) are accepted for the callers' sake; 0, 0 gives the plain text.
  static qvl_CUtilStr StrOfInt(int value, int width, int flags);
  // Decimal text of a pointer-sized signed value (counts, indices).
  static qvl_CUtilStr StrOfIntps(std::intptr_t value, int width, int flags);
  // Shortest decimal text that reads back as the same 32-bit float ("0.5",
  // "1", "3.4028235e+38", "-0", "inf", "-inf", "nan"). Width, flags and
  // precision are accepted; 0, 0, -1 gives the shortest text.
  static qvl_CUtilStr StrOfFloat(float value, int width, int flags, int precision);
};
