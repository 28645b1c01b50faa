// The run's memory pool.
#include "util/mempool/util_mempool_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "util/msg/util_msg_msg.h"
#include "util/str/util_str_strutil.h"

namespace {
[[noreturn]] void ThrowAllocFailed(std::size_t size) {
  qvl_CUtilMsg msg("util/mempool/util_mempool_pool.alloc_failed",
                   "The memory pool cannot supply a block of [1] bytes.");
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(size), 0, 0));
  throw msg;
}
}  // namespace

qvl_CUtilMemPool::~qvl_CUtilMemPool() {
  for (Block& b : m_blocks) std::free(b.data);
}

void* qvl_CUtilMemPool::Alloc(std::size_t size, std::size_t align) {
  if (size > kMaxAlloc) ThrowAllocFailed(size);
  if (align == 0 || (align & (align - 1)) != 0 || align > 64) align = 64;
  if (!m_blocks.empty()) {
    Block& last = m_blocks.back();
    // Aligned as an address, not as an offset: the block itself is only
    // aligned as calloc aligns it.
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(last.data);
    const std::size_t start =
        static_cast<std::size_t>(((base + m_offset + align - 1) & ~(std::uintptr_t(align) - 1)) - base);
    if (start <= last.size && size <= last.size - start) {
      m_offset = start + size;
      m_used += size;
      // Only memory handed out before (and given back by a frame) needs
      // clearing: the rest of the block is still as calloc left it.
      if (start < last.dirty) std::memset(last.data + start, 0, std::min(size, last.dirty - start));
      if (last.dirty < m_offset) last.dirty = m_offset;
      return last.data + start;
    }
  }
  // A new block; a large request gets a block of its own size. Blocks come
  // from calloc, whose memory is zero and aligned for any scalar type; the
  // alignment above 16 is obtained by padding.
  std::size_t blockSize = size + 64 > kBlockSize ? size + 64 : kBlockSize;
  char* data = static_cast<char*>(std::calloc(blockSize, 1));
  if (!data) ThrowAllocFailed(size);
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(data);
  std::size_t start = static_cast<std::size_t>(((base + align - 1) & ~(std::uintptr_t(align) - 1)) - base);
  m_blocks.push_back({data, blockSize, start + size});
  m_offset = start + size;
  m_used += size;
  return data + start;
}

qvl_CUtilMemPool::Mark qvl_CUtilMemPool::GetMark() const {
  return {m_blocks.size(), m_offset, m_used};
}

void qvl_CUtilMemPool::Rewind(const Mark& mark) {
  while (m_blocks.size() > mark.blockCnt) {
    std::free(m_blocks.back().data);
    m_blocks.pop_back();
  }
  m_offset = mark.offset;
  m_used = mark.used;
}

char* qvl_CUtilMemPoolStr::Alloc(qvl_CUtilMemPool* pool, const char* text) {
  std::size_t len = text ? std::strlen(text) : 0;
  char* copy = static_cast<char*>(pool->Alloc(len + 1, 1));
  if (len) std::memcpy(copy, text, len);
  copy[len] = '\0';
  return copy;
}

qvl_CUtilMemPoolFrm::qvl_CUtilMemPoolFrm(qvl_CUtilMemPool* pool) : m_pool(pool), m_mark(pool->GetMark()) {}

qvl_CUtilMemPoolFrm::~qvl_CUtilMemPoolFrm() {
  m_pool->Rewind(m_mark);
}

qvl_CUtilMemPool* qvl_CUtilMemPoolStdCreator::CreatePrimalMemPool() {
  return qvl_CUtilPtrBase::RefAddOf(new qvl_CUtilMemPool());
}
