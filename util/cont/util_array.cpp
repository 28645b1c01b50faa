// Out-of-line error routines of the owned array.
#include "util/cont/util_array.h"

#include "util/str/util_str_strutil.h"

void qvl_CUtilArrayThrowOutOfRange(const char* func, int count, int index) {
  qvl_CUtilMsg msg("util/cont/util_array.idx_out_of_range",
                   "Array of element type \"[1]\". Function \"[2]\". Containing [3] elements. "
                   "Index [4] is out of range.");
  msg.AddInfo("");
  msg.AddInfo("?");
  msg.AddInfo(func);
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(count, 0, 0));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(index, 0, 0));
  throw qvl_CUtilArrayOutOfRange(msg);
}

void qvl_CUtilArrayThrowTooLarge(std::int64_t wanted, std::size_t itemSize) {
  qvl_CUtilMsg msg("util/cont/util_array.too_large",
                   "Array of [1] elements of [2] bytes passes the 2 GiB limit.");
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(wanted), 0, 0));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(itemSize), 0, 0));
  throw msg;
}
