// Growable, bounds-checked array whose items live in a memory pool.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_msg.h"

// Thrown when an index is outside 0 .. count - 1.
class qvl_CUtilMemPoolArrayOutOfRange : public qvl_CUtilMsg {
 public:
  explicit qvl_CUtilMemPoolArrayOutOfRange(const qvl_CUtilMsg& msg) : qvl_CUtilMsg(msg) {}
};

// Builds and throws the out-of-range message of the pool array family:
// id "util/mempool/util_mempool_array.idx_out_of_range", infos "", "?",
// the function name, the count and the index.
[[noreturn]] void qvl_CUtilMemPoolArrayThrowOutOfRange(const char* func, int count, int index);
// Throws "util/mempool/util_mempool_array.too_large" for a capacity of
// wanted items of itemSize bytes that passes the 32-bit limits.
[[noreturn]] void qvl_CUtilMemPoolArrayThrowTooLarge(std::int64_t wanted, std::size_t itemSize);

// Items pointer, capacity and count; all zero is the empty array, so a
// zero-filled record holding such arrays needs no construction. Blocks come
// from the pool and are never freed by the array: growth leaves the old block
// in the pool. T must be trivially copyable (items are copied member by member).
template <class T>
struct qvl_CUtilMemPoolArray {
  static_assert(std::is_trivially_copyable_v<T>, "pool array items are plain values");

  T* items;
  int capacity;
  int count;

  // Capacity becomes at least n: twice the old capacity, or n if larger.
  // Throws when the capacity or its byte size would pass INT32_MAX.
  void Reserve(qvl_CUtilMemPool* pool, int n) {
    if (capacity >= n) return;
    std::int64_t newCap = 2 * static_cast<std::int64_t>(capacity);
    if (newCap < n) newCap = n;
    constexpr std::int64_t kMaxItems = INT32_MAX / static_cast<std::int64_t>(sizeof(T));
    if (newCap > kMaxItems) {
      // Doubling went past the limit: take what still fits if n itself does.
      if (n > kMaxItems) qvl_CUtilMemPoolArrayThrowTooLarge(n, sizeof(T));
      newCap = kMaxItems;
    }
    std::int64_t bytes = newCap * static_cast<std::int64_t>(sizeof(T));
    if (bytes <= 0) bytes = 1;
    // Alignment 4, or the item type's own when larger (pointers on 64-bit
    // hosts): a pointer at a 4-aligned address would be a misaligned access.
    constexpr std::size_t kAlign = alignof(T) > 4 ? alignof(T) : 4;
    T* block = static_cast<T*>(pool->Alloc(static_cast<std::size_t>(bytes), kAlign));
    if (count > 0) std::memcpy(static_cast<void*>(block), items, sizeof(T) * static_cast<std::size_t>(count));
    items = block;
    capacity = static_cast<int>(newCap);
  }

  // The item becomes the last one.
  void Append(qvl_CUtilMemPool* pool, const T& item) {
    if (count == INT32_MAX) qvl_CUtilMemPoolArrayThrowTooLarge(std::int64_t(count) + 1, sizeof(T));
    if (count >= capacity) {
      T copy = item;  // item may live in the block that Reserve replaces
      Reserve(pool, count + 1);
      items[count] = copy;
    } else {
      items[count] = item;
    }
    ++count;
  }

  T& RefAt(int i) {
    if (i < 0 || i >= count) qvl_CUtilMemPoolArrayThrowOutOfRange("RefAt", count, i);
    return items[i];
  }
  const T& RefAt(int i) const {
    if (i < 0 || i >= count) qvl_CUtilMemPoolArrayThrowOutOfRange("RefAt", count, i);
    return items[i];
  }
  T GetAt(int i) const {
    if (i < 0 || i >= count) qvl_CUtilMemPoolArrayThrowOutOfRange("GetAt", count, i);
    return items[i];
  }
  T& operator[](int i) {
    if (i < 0 || i >= count) qvl_CUtilMemPoolArrayThrowOutOfRange("operator[]", count, i);
    return items[i];
  }
  const T& operator[](int i) const {
    if (i < 0 || i >= count) qvl_CUtilMemPoolArrayThrowOutOfRange("operator[]", count, i);
    return items[i];
  }
  T& RefBack() {
    if (count < 1) qvl_CUtilMemPoolArrayThrowOutOfRange("RefBack", count, count - 1);
    return items[count - 1];
  }
  const T& RefBack() const {
    if (count < 1) qvl_CUtilMemPoolArrayThrowOutOfRange("RefBack", count, count - 1);
    return items[count - 1];
  }
};
