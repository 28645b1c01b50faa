// Number-to-text conversions.
#include "util/str/util_str_strutil.h"

#include <charconv>
#include <cmath>

qvl_CUtilStr qvl_CUtilStrUtil::StrOfInt(int value, int, int) {
  return StrOfIntps(value, 0, 0);
}

qvl_CUtilStr qvl_CUtilStrUtil::StrOfIntps(std::intptr_t value, int, int) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return qvl_CUtilStr(buf, static_cast<std::size_t>(res.ptr - buf));
}

qvl_CUtilStr qvl_CUtilStrUtil::StrOfFloat(float value, int, int, int) {
  if (std::isnan(value)) return qvl_CUtilStr("nan");
  if (std::isinf(value)) return qvl_CUtilStr(value < 0 ? "-inf" : "inf");
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);  // shortest round-trip form
  return qvl_CUtilStr(buf, static_cast<std::size_t>(res.ptr - buf));
}
