// Tests of the run's memory pool: alignment, zeroed blocks, large blocks, frames, limits.
#include "util/mempool/util_mempool_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "util/msg/util_msg_msg.h"

namespace {

bool AllZero(const void* p, std::size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i]) return false;
  }
  return true;
}

TEST(MemPool, BlocksAreAlignedZeroedAndDisjoint) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  const std::size_t aligns[] = {1, 2, 4, 8, 16, 32, 64};
  struct Block {
    unsigned char* p;
    std::size_t size;
  };
  std::vector<Block> blocks;
  int misaligned = 0, dirty = 0, overwritten = 0;
  for (int i = 0; i < 20000; ++i) {  // several chunks of the pool
    const std::size_t align = aligns[i % 7];
    const std::size_t size = static_cast<std::size_t>(1 + (i * 37) % 300);
    auto* p = static_cast<unsigned char*>(pool->Alloc(size, align));
    misaligned += reinterpret_cast<std::uintptr_t>(p) % align != 0 ? 1 : 0;
    dirty += AllZero(p, size) ? 0 : 1;
    std::memset(p, i & 0xFF, size);  // a pattern per block shows any overlap below
    blocks.push_back({p, size});
  }
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    for (std::size_t k = 0; k < blocks[i].size; ++k) overwritten += blocks[i].p[k] != (i & 0xFF) ? 1 : 0;
  }
  EXPECT_EQ(misaligned, 0);
  EXPECT_EQ(dirty, 0);
  EXPECT_EQ(overwritten, 0);
}

TEST(MemPool, LargeBlockAndLimit) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  void* small = pool->Alloc(10, 4);
  const std::size_t big = (std::size_t(3) << 20) + 5;
  char* p = static_cast<char*>(pool->Alloc(big, 64));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u);
  EXPECT_TRUE(AllZero(p, big));
  std::memset(p, 1, big);
  EXPECT_TRUE(AllZero(small, 10)) << "a large block must not overlap the earlier one";
  try {
    pool->Alloc(qvl_CUtilMemPool::kMaxAlloc + 1, 4);
    ADD_FAILURE() << "no message thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_EQ(m.GetId(), "util/mempool/util_mempool_pool.alloc_failed");
    EXPECT_EQ(m.GetInfo(1), "2147483649");
  }
}

TEST(MemPool, FrameRewindsAndMemoryIsZeroAgain) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool());
  qvl_CUtilPtrBase::RefReleaseOf(pool.Get());  // the creator's reference; the holder keeps its own
  EXPECT_EQ(pool->GetRefCnt(), 1);
  char* kept = qvl_CUtilMemPoolStr::Alloc(pool.Get(), "kept");
  const std::size_t usedBefore = pool->GetUsedBytes();
  char* first = nullptr;
  {
    qvl_CUtilMemPoolFrm frm(pool.Get());
    first = static_cast<char*>(pool->Alloc(100, 4));
    std::memset(first, 0xFF, 100);
    pool->Alloc(std::size_t(2) << 20, 4);  // a further chunk, freed by the frame
  }
  EXPECT_EQ(pool->GetUsedBytes(), usedBefore);
  char* again = static_cast<char*>(pool->Alloc(100, 4));
  EXPECT_EQ(again, first) << "the frame gives its memory back to the pool";
  EXPECT_TRUE(AllZero(again, 100));
  EXPECT_STREQ(kept, "kept");
  EXPECT_STREQ(qvl_CUtilMemPoolStr::Alloc(pool.Get(), nullptr), "");
}

}  // namespace
