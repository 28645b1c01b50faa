// Growable, bounds-checked array with owned heap storage, for scratch data.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "util/cont/util_ownarray.h"
#include "util/msg/util_msg_msg.h"

// Thrown when an index is outside 0 .. count - 1.
class qvl_CUtilArrayOutOfRange : public qvl_CUtilMsg {
 public:
  explicit qvl_CUtilArrayOutOfRange(const qvl_CUtilMsg& msg) : qvl_CUtilMsg(msg) {}
};

// Builds and throws the out-of-range message of the owned array family:
// id "util/cont/util_array.idx_out_of_range", infos "", "?", the function
// name, the count and the index.
[[noreturn]] void qvl_CUtilArrayThrowOutOfRange(const char* func, int count, int index);
// Throws "util/cont/util_array.too_large" for a capacity whose byte size passes INT32_MAX.
[[noreturn]] void qvl_CUtilArrayThrowTooLarge(std::int64_t wanted, std::size_t itemSize);

template <class T>
class qvl_CUtilArray {
 public:
  qvl_CUtilArray() = default;
  qvl_CUtilArray(const qvl_CUtilArray&) = delete;
  qvl_CUtilArray& operator=(const qvl_CUtilArray&) = delete;

  int GetCount() const { return count; }
  int GetCap() const { return capacity; }

  // Capacity becomes max(n, count); the elements are copied to a new block
  // and the old one is released. Nothing happens when that is the capacity.
  void SetCap(int n) {
    int newCap = n < count ? count : n;
    if (newCap == capacity) return;
    if (static_cast<std::int64_t>(newCap) * static_cast<std::int64_t>(sizeof(T)) > INT32_MAX)
      qvl_CUtilArrayThrowTooLarge(newCap, sizeof(T));
    qvl_CUtilOwnArray<T> block;
    block.Alloc(newCap);
    if (count > 0)
      std::memcpy(static_cast<void*>(block.Get()), storage.Get(),
                  sizeof(T) * static_cast<std::size_t>(count));
    storage = block;
    capacity = newCap;
  }

  // Count becomes max(n, 0), growing the capacity to max(2 * capacity, n)
  // when needed. Float elements between the old and the new count are set to
  // 0.0 (grown ones and dropped ones alike); other types are left as they are.
  void SetCount(int n) {
    int n2 = n < 0 ? 0 : n;
    if (capacity < n2) {
      std::int64_t grown = 2 * static_cast<std::int64_t>(capacity);
      if (grown > INT32_MAX / static_cast<std::int64_t>(sizeof(T))) grown = n2;
      SetCap(grown > n2 ? static_cast<int>(grown) : n2);
    }
    if constexpr (std::is_same_v<T, float>) {
      int lo = count < n2 ? count : n2;
      int hi = count < n2 ? n2 : count;
      for (int i = lo; i < hi; ++i) storage.Get()[i] = 0.0f;
    }
    count = n2;
  }

  void SetAt(int i, const T& value) {
    if (i < 0 || i >= count) qvl_CUtilArrayThrowOutOfRange("SetAt", count, i);
    storage.Get()[i] = value;
  }
  T& operator[](int i) {
    if (i < 0 || i >= count) qvl_CUtilArrayThrowOutOfRange("operator[]", count, i);
    return storage.Get()[i];
  }
  const T& operator[](int i) const {
    if (i < 0 || i >= count) qvl_CUtilArrayThrowOutOfRange("operator[]", count, i);
    return storage.Get()[i];
  }

 private:
  qvl_CUtilOwnArray<T> storage;
  int capacity = 0;
  int count = 0;
};
