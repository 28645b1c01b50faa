// Out-of-line error routines of the pool array.
#include "util/mempool/util_mempool_array.h"

#include "util/cont/util_array_msg.h"

void qvl_CUtilMemPoolArrayThrowOutOfRange(const char* func, int count, int index) {
  throw qvl_CUtilMemPoolArrayOutOfRange(
      qvl_CUtilArrayMsgOfOutOfRange("util/mempool/util_mempool_array.idx_out_of_range", func, count, index));
}

void qvl_CUtilMemPoolArrayThrowTooLarge(std::int64_t wanted, std::size_t itemSize) {
  throw qvl_CUtilArrayMsgOfTooLarge("util/mempool/util_mempool_array.too_large", wanted, itemSize);
}
