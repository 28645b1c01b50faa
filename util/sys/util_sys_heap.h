// Heap memory outside the run's pool.
#pragma once

#include <cstddef>

// Allocates size bytes (at least 1); throws a qvl_CUtilMsg
// ("util/sys/util_sys_heap.alloc_failed") when the heap cannot serve it.
void* qvl_SysNewFunc(std::size_t size);
// Frees a block of qvl_SysNewFunc; null is ignored.
void qvl_SysDeleteFunc(void* p);
// Array forms, for blocks of several elements; same behaviour.
void* qvl_SysNewArrayFunc(std::size_t size);
void qvl_SysDeleteArrayFunc(void* p);
