// Heap memory outside the run's pool.
#include "util/sys/util_sys_heap.h"

#include <cstdlib>

#include "util/msg/util_msg_msg.h"
#include "util/str/util_str_strutil.h"

namespace {
[[noreturn]] void ThrowAllocFailed(std::size_t size) {
  qvl_CUtilMsg msg("util/sys/util_sys_heap.alloc_failed",
                   "Cannot allocate [1] bytes of heap memory.");
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(size), 0, 0));
  throw msg;
}
}  // namespace

void* qvl_SysNewFunc(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) ThrowAllocFailed(size);
  return p;
}

void qvl_SysDeleteFunc(void* p) { std::free(p); }

void* qvl_SysNewArrayFunc(std::size_t size) { return qvl_SysNewFunc(size); }

void qvl_SysDeleteArrayFunc(void* p) { qvl_SysDeleteFunc(p); }
