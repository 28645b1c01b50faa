// Message builders shared by the array families.
#include "util/cont/util_array_msg.h"

#include "util/str/util_str_strutil.h"

qvl_CUtilMsg qvl_CUtilArrayMsgOfOutOfRange(const char* id, const char* func, int count, int index) {
  qvl_CUtilMsg msg(id,
                   "Array of element type \"[1]\". Function \"[2]\". Containing [3] elements. "
                   "Index [4] is out of range.");
  msg.AddInfo("");
  msg.AddInfo("?");
  msg.AddInfo(func);
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(count, 0, 0));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(index, 0, 0));
  return msg;
}

qvl_CUtilMsg qvl_CUtilArrayMsgOfTooLarge(const char* id, std::int64_t wanted, std::size_t itemSize) {
  qvl_CUtilMsg msg(id, "Array of [1] elements of [2] bytes passes the 2 GiB limit.");
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(wanted), 0, 0));
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(itemSize), 0, 0));
  return msg;
}
