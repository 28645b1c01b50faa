// Intrusive reference counting for runtime objects (streams, files, handler,
// console, pool, data-tree chunks, readers and writers).
#pragma once

#include <cstddef>
#include <utility>

// Base of every reference-counted runtime object. A new object starts with a
// count of 0; whoever keeps it takes a reference with RefAddOf and gives it
// back with RefReleaseOf; the object is deleted when the count returns to 0.
class qvl_CUtilPtrBase {
 public:
  qvl_CUtilPtrBase() = default;
  qvl_CUtilPtrBase(const qvl_CUtilPtrBase&) = delete;
  qvl_CUtilPtrBase& operator=(const qvl_CUtilPtrBase&) = delete;
  virtual ~qvl_CUtilPtrBase() = default;

  int GetRefCnt() const { return m_refCnt; }

  // Takes a reference to p (null is allowed and ignored). Returns p.
  template <class T>
  static T* RefAddOf(T* p) {
    if (p) ++static_cast<const qvl_CUtilPtrBase*>(p)->m_refCnt;
    return p;
  }
  // Drops a reference to p (null is ignored); deletes p when it was the last.
  template <class T>
  static void RefReleaseOf(T* p) {
    if (!p) return;
    const qvl_CUtilPtrBase* base = p;
    if (--base->m_refCnt <= 0) delete base;
  }
  // Takes a reference to pNew, then drops one of pOld; safe when both are equal.
  template <class T, class U>
  static void RefAddReleaseOf(T* pNew, U* pOld) {
    RefAddOf(pNew);
    RefReleaseOf(pOld);
  }

 private:
  mutable int m_refCnt = 0;
};

// Holds one reference to a runtime object for the lifetime of the holder, so
// that the reference is dropped on every path out, exceptions included.
template <class T>
class qvl_CUtilPtr {
 public:
  qvl_CUtilPtr() = default;
  explicit qvl_CUtilPtr(T* p) : m_p(qvl_CUtilPtrBase::RefAddOf(p)) {}
  qvl_CUtilPtr(const qvl_CUtilPtr& o) : m_p(qvl_CUtilPtrBase::RefAddOf(o.m_p)) {}
  qvl_CUtilPtr(qvl_CUtilPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~qvl_CUtilPtr() { qvl_CUtilPtrBase::RefReleaseOf(m_p); }
  qvl_CUtilPtr& operator=(const qvl_CUtilPtr& o) {
    Set(o.m_p);
    return *this;
  }
  qvl_CUtilPtr& operator=(qvl_CUtilPtr&& o) noexcept {
    if (this != &o) {
      qvl_CUtilPtrBase::RefReleaseOf(m_p);
      m_p = std::exchange(o.m_p, nullptr);
    }
    return *this;
  }
  // Takes a reference to p and drops the one held before.
  void Set(T* p) {
    T* old = m_p;
    m_p = qvl_CUtilPtrBase::RefAddOf(p);
    qvl_CUtilPtrBase::RefReleaseOf(old);
  }
  void Release() { Set(nullptr); }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};
