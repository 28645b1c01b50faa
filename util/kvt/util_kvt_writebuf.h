// The output buffer of the data-tree writers: bytes collect in one large block
// that is handed to the stream in big pieces.
#pragma once

#include <cstddef>

#include "util/file/util_file_stream.h"

// Holds a reference to the stream; a null stream swallows the output. Bytes
// still buffered when the buffer is destroyed are dropped, not written.
class qvl_CUtilKvtWriteBuf {
 public:
  // Bytes collected before they go to the stream.
  static constexpr std::size_t kCap = std::size_t{1} << 20;

  explicit qvl_CUtilKvtWriteBuf(qvl_CUtilStream* stream);
  ~qvl_CUtilKvtWriteBuf();
  qvl_CUtilKvtWriteBuf(const qvl_CUtilKvtWriteBuf&) = delete;
  qvl_CUtilKvtWriteBuf& operator=(const qvl_CUtilKvtWriteBuf&) = delete;

  // Bytes buffered, and free bytes after them.
  std::size_t GetLen() const { return m_len; }
  std::size_t GetFree() const { return m_cap - m_len; }
  // The buffered byte at offset off (off < GetLen()); for patching a count
  // written earlier.
  char* At(std::size_t off) { return m_buf + off; }
  // Where the next byte goes; GetFree() bytes may be written there.
  char* End() { return m_buf + m_len; }
  // Counts n bytes written at End() as buffered (n <= GetFree()).
  void Advance(std::size_t n) { m_len += n; }
  // Room for n bytes at End(): flushes first when fewer are free.
  char* Room(std::size_t n) {
    if (m_cap - m_len < n) Flush(n);
    return m_buf + m_len;
  }
  // Hands the buffered bytes to the stream and empties the buffer; then
  // replaces the block with one of n bytes when it holds fewer.
  void Flush(std::size_t n = 0);

 private:
  qvl_CUtilStream* m_stream;
  char* m_buf;
  std::size_t m_len = 0;
  std::size_t m_cap;
};
