// An array of references to reference-counted runtime objects.
#pragma once

#include <vector>

#include "util/ptr/util_ptr_base.h"

template <class T>
class qvl_CUtilPtrArray {
 public:
  qvl_CUtilPtrArray() = default;
  qvl_CUtilPtrArray(const qvl_CUtilPtrArray&) = delete;
  qvl_CUtilPtrArray& operator=(const qvl_CUtilPtrArray&) = delete;
  ~qvl_CUtilPtrArray() { Clear(); }

  int GetCount() const { return static_cast<int>(m_items.size()); }
  // Appends p, taking a reference to it.
  void Append(T* p) { m_items.push_back(qvl_CUtilPtrBase::RefAddOf(p)); }
  // Item i with a new reference taken for the caller, who releases it with
  // qvl_CUtilPtrBase::RefReleaseOf; null when i is out of range.
  T* FetchAt(int i) const {
    if (i < 0 || i >= GetCount()) return nullptr;
    return qvl_CUtilPtrBase::RefAddOf(m_items[static_cast<std::size_t>(i)]);
  }
  // Item i without a new reference; null when i is out of range.
  T* PeekAt(int i) const { return i < 0 || i >= GetCount() ? nullptr : m_items[static_cast<std::size_t>(i)]; }
  // Drops every reference.
  void Clear() {
    for (T* p : m_items) qvl_CUtilPtrBase::RefReleaseOf(p);
    m_items.clear();
  }

 private:
  std::vector<T*> m_items;
};
