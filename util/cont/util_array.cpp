// Out-of-line error routines of the owned array.
#include "util/cont/util_array.h"

#include "util/cont/util_array_msg.h"

void qvl_CUtilArrayThrowOutOfRange(const char* func, int count, int index) {
  throw qvl_CUtilArrayOutOfRange(
      qvl_CUtilArrayMsgOfOutOfRange("util/cont/util_array.idx_out_of_range", func, count, index));
}

void qvl_CUtilArrayThrowTooLarge(std::int64_t wanted, std::size_t itemSize) {
  throw qvl_CUtilArrayMsgOfTooLarge("util/cont/util_array.too_large", wanted, itemSize);
}
