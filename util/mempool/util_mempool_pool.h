// The run's memory pool: a bump allocator over large blocks that frees
// nothing one by one; everything goes when the pool (or a scope frame) goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/ptr/util_ptr_base.h"

class qvl_CUtilMemPool : public qvl_CUtilPtrBase {
public:
  // Largest single request the pool serves (bytes); larger ones throw.
  static constexpr std::size_t kMaxAlloc = std::size_t(1) << 31;

  qvl_CUtilMemPool() = default;
  ~qvl_CUtilMemPool() override;

  // A block of size bytes aligned to align (a power of two, at most 64).
  // The memory is zero-filled. Throws a qvl_CUtilMsg
  // ("util/mempool/util_mempool_pool.alloc_failed") when size exceeds kMaxAlloc
  // or the system has no memory left; never returns null.
  void* Alloc(std::size_t size, std::size_t align);

  // Bytes handed out so far (for measurements).
  std::size_t GetUsedBytes() const { return m_used; }

  // Scope marks, used by qvl_CUtilMemPoolFrm: everything allocated after a
  // mark is released when the pool is rewound to it.
  struct Mark {
    std::size_t blockCnt;
    std::size_t offset;
    std::size_t used;
  };
  Mark GetMark() const;
  void Rewind(const Mark& mark);

private:
  struct Block {
    char* data;
    std::size_t size;
    std::size_t dirty;  // bytes from the start that were ever handed out; the rest is still zero
  };
  static constexpr std::size_t kBlockSize = std::size_t(1) << 20;
  std::vector<Block> m_blocks;
  std::size_t m_offset = 0;  // first free byte in the last block
  std::size_t m_used = 0;
};

// Copies of zero-terminated texts in the pool.
class qvl_CUtilMemPoolStr {
public:
  // A pool copy of text (a null text gives ""); never null.
  static char* Alloc(qvl_CUtilMemPool* pool, const char* text);
};

// A scope on a pool: what is allocated while the frame lives goes when the
// frame is destroyed. Frames must be destroyed in the reverse order of creation.
class qvl_CUtilMemPoolFrm {
public:
  explicit qvl_CUtilMemPoolFrm(qvl_CUtilMemPool* pool);
  ~qvl_CUtilMemPoolFrm();
  qvl_CUtilMemPoolFrm(const qvl_CUtilMemPoolFrm&) = delete;
  qvl_CUtilMemPoolFrm& operator=(const qvl_CUtilMemPoolFrm&) = delete;

private:
  qvl_CUtilPtr<qvl_CUtilMemPool> m_pool;
  qvl_CUtilMemPool::Mark m_mark;
};

class qvl_CUtilMemPoolStdCreator {
public:
  // A new, empty pool with one reference taken for the caller.
  static qvl_CUtilMemPool* CreatePrimalMemPool();
};
