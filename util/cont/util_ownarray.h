// A heap block of T owned by one holder and released when the holder goes.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "util/sys/util_sys_heap.h"

template <class T>
class qvl_CUtilOwnArray {
  static_assert(std::is_trivially_copyable_v<T>, "owned array elements are plain values");

public:
  qvl_CUtilOwnArray() = default;
  qvl_CUtilOwnArray(const qvl_CUtilOwnArray&) = delete;
  ~qvl_CUtilOwnArray() { qvl_SysDeleteArrayFunc(m_p); }

  // Replaces the block by a new, uninitialised one of n elements (none for
  // n <= 0). Throws when the heap cannot serve it.
  void Alloc(int n) {
    T* p = n > 0 ? static_cast<T*>(qvl_SysNewArrayFunc(sizeof(T) * static_cast<std::size_t>(n))) : nullptr;
    qvl_SysDeleteArrayFunc(m_p);
    m_p = p;
  }
  T* Get() const { return m_p; }
  operator T*() const { return m_p; }  // NOLINT: the runtime's conversion
  // Takes over other's block (other is left empty); the old block is released.
  qvl_CUtilOwnArray& operator=(qvl_CUtilOwnArray& other) {
    if (this != &other) {
      qvl_SysDeleteArrayFunc(m_p);
      m_p = std::exchange(other.m_p, nullptr);
    }
    return *this;
  }

private:
  T* m_p = nullptr;
};
