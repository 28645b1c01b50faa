// Message builders shared by the array families (owned and pool arrays): each
// family keeps its own ids and exception types and fills them in here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/msg/util_msg_msg.h"

// The out-of-range message under the given id: text "Array of element type
// \"[1]\". Function \"[2]\". Containing [3] elements. Index [4] is out of
// range.", infos "", "?", func, count and index.
qvl_CUtilMsg qvl_CUtilArrayMsgOfOutOfRange(const char* id, const char* func, int count, int index);

// The too-large message under the given id: text "Array of [1] elements of
// [2] bytes passes the 2 GiB limit.", infos "", wanted (items) and itemSize
// (bytes).
qvl_CUtilMsg qvl_CUtilArrayMsgOfTooLarge(const char* id, std::int64_t wanted, std::size_t itemSize);
