// The binary encoding of data trees: reader and writer (layout in docs/data-tree.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_writebuf.h"

// Layout constants. A file is the 4-byte magic, the 32-bit version, the root's
// keys and the end mark. Every number is little-endian.
constexpr unsigned char qvl_KvtBinMagic[4] = {0x9B, 'K', 'V', 'T'};
constexpr std::uint32_t qvl_KvtBinVersion = 1;
constexpr std::size_t qvl_KvtBinHeaderSize = 8;
enum qvl_KvtBinTag : unsigned char {
  qvl_KvtBinTagNameNew = 0x01,     // u32 length, bytes: a key whose name is new (added to the name table)
  qvl_KvtBinTagNameRef = 0x02,     // u32 index into the name table: a key with a name seen before
  qvl_KvtBinTagChunkEnd = 0x03,    // end of the current chunk
  qvl_KvtBinTagFileEnd = 0x04,     // end of the root; the last byte of the file
  qvl_KvtBinTagRunInt = 0x10,      // u32 count, count x i32
  qvl_KvtBinTagRunFloat = 0x11,    // u32 count, count x f32 bit patterns
  qvl_KvtBinTagRunStr = 0x12,      // u32 count, count x (u32 length, bytes)
  qvl_KvtBinTagChunkBegin = 0x13,  // a chunk value: its keys follow, then qvl_KvtBinTagChunkEnd
};

// True when data begins with the magic (which no text file can begin with).
bool qvl_KvtBinaryHasMagic(std::string_view data);

class qvl_CUtilKvtBinaryReader final : public qvl_CUtilKvtReaderOf<qvl_CUtilKvtBinaryReader> {
 public:
  qvl_CUtilKvtBinaryReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file, std::string_view data);
  qvl_CUtilKvtPos PosOf(const char* p) override;
  qvl_CUtilStr NameAt(const char* p) override;
  // A key whose values begin with a float run hands the run to the inline
  // fast path of IsValue and ReadFloat at once.
  qvl_CUtilStr ReadKey() override;
  // A value of the current run is seen and a float run handed to the inline
  // fast path without the general look-ahead.
  int IsValueSlow() override;
  float ReadFloatSlow() override;

  // The look-ahead used by qvl_CUtilKvtReaderOf.
  int Peek();
  std::string PeekText();
  qvl_CUtilStr TakeName();
  qvl_CUtilStr TakeStr();
  void CheckEnd();
  void Sync() {
    if (m_fastEnd) {
      m_p = m_fastCur;
      m_runLeft = static_cast<std::uint32_t>((m_fastEnd - m_fastCur) / 4);
      m_fastCur = m_fastEnd = nullptr;
    }
  }

 private:
  int Seen(int item) {
    m_item = item;
    m_peeked = true;
    return item;
  }
  int PeekNewName(const char* p);
  // When the open key's next values are a float run at the read position,
  // hands the rest of the run to the inline range and returns true.
  bool ArmFloats();
  std::size_t Left(const char* p) const { return static_cast<std::size_t>(m_end - p); }
  // A count at p that needs more bytes than there are from from on.
  [[gnu::cold, gnu::noinline]] void FailCount(const char* p, const char* from, std::uint64_t need);
  [[gnu::cold, gnu::noinline]] void FailNameIndex(const char* p, std::uint32_t index);
  [[gnu::cold, gnu::noinline]] void FailTag(const char* p);

  int m_runItem = qvl_KvtItemEnd;
  std::uint32_t m_runLeft = 0;
  std::uint32_t m_nameRef = 0;
  std::vector<qvl_CUtilStr> m_nameTable;
};

// Writes the binary encoding into a large buffer handed to the stream in big
// pieces. A stream that is null swallows the output; a writer released
// without Finish drops what it still buffers.
class qvl_CUtilKvtBinaryWriter : public qvl_CUtilKvtSeqWrite {
 public:
  explicit qvl_CUtilKvtBinaryWriter(qvl_CUtilStream* stream);

  void BeginKey(const qvl_CUtilStr& name) override;
  void EndKey() override;
  void WriteInt(std::int32_t value) override;
  void WriteFloat(float value) override;
  void WriteStr(const qvl_CUtilStr& text) override;
  void BeginChunk() override;
  void EndChunk() override;
  void WriteKeyStr(const qvl_CUtilStr& name, const qvl_CUtilStr& text) override;
  void Finish() override;

 private:
  // Room for n bytes at the buffer's end; a run still open is closed before
  // the buffer goes to the stream, since its count is patched in the buffer.
  char* Room(std::size_t n) {
    if (m_out.GetFree() < n) CloseRun();
    return m_out.Room(n);
  }
  void Flush() {
    CloseRun();
    m_out.Flush();
  }
  void PutByte(unsigned char b);
  void PutU32(std::uint32_t v);
  void StartRun(unsigned char tag, std::size_t firstSize);
  void CloseRun();

  qvl_CUtilKvtWriteBuf m_out;
  unsigned char m_runTag = 0;  // 0: no run open
  std::size_t m_runCountAt = 0;
  std::uint32_t m_runCount = 0;
  int m_level = 0;
  bool m_keyOpen = false;
  bool m_finished = false;
  std::unordered_map<std::string, std::uint32_t> m_names;
};
