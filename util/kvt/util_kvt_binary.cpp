// The binary encoding of data trees: header, tagged keys with a name table,
// runs of one value type; every count is checked against the bytes left.
#include "util/kvt/util_kvt_binary.h"

#include <bit>
#include <cstring>

#include "util/kvt/util_kvt_reader_impl.h"

template class qvl_CUtilKvtReaderOf<qvl_CUtilKvtBinaryReader>;

namespace {

inline std::uint32_t LoadLe32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) {
    v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
  }
  return v;
}

inline void StoreLe32(char* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) {
    v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
  }
  std::memcpy(p, &v, 4);
}

bool IsValidName(std::string_view s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!alpha && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return s != "true" && s != "false" && s != "inf" && s != "nan";
}

std::string TagText(unsigned char tag) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "tag 0x";
  text += kHex[tag >> 4];
  text += kHex[tag & 15];
  return text;
}

}  // namespace

bool qvl_KvtBinaryHasMagic(std::string_view data) {
  return data.size() >= 4 && std::memcmp(data.data(), qvl_KvtBinMagic, 4) == 0;
}

// ---------------------------------------------------------------- reader

qvl_CUtilKvtBinaryReader::qvl_CUtilKvtBinaryReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file,
                                                   std::string_view data)
    : qvl_CUtilKvtReaderOf(handler, file, data) {
  m_binary = true;
  if (data.size() < qvl_KvtBinHeaderSize) {
    Fail(qvl_KvtErrBinTruncated, m_end, "the end of the data in the header");
  } else if (LoadLe32(m_begin + 4) != qvl_KvtBinVersion) {
    Fail(qvl_KvtErrBinVersion, m_begin + 4, "version " + std::to_string(LoadLe32(m_begin + 4)));
  } else {
    m_p = m_tokStart = m_tokEnd = m_begin + qvl_KvtBinHeaderSize;
  }
}

qvl_CUtilKvtPos qvl_CUtilKvtBinaryReader::PosOf(const char* p) {
  if (!p || p < m_begin) p = m_begin;
  if (p > m_end) p = m_end;
  return qvl_CUtilKvtPos::OfBinary(static_cast<std::uint64_t>(p - m_begin));
}

void qvl_CUtilKvtBinaryReader::FailCount(const char* p, const char* from, std::uint64_t need) {
  Fail(qvl_KvtErrBinCount, p,
       std::to_string(need) + " bytes needed with " + std::to_string(Left(from)) + " left");
}

void qvl_CUtilKvtBinaryReader::FailNameIndex(const char* p, std::uint32_t index) {
  Fail(qvl_KvtErrBinNameIndex, p,
       "index " + std::to_string(index) + " of " + std::to_string(m_nameTable.size()) + " names");
}

void qvl_CUtilKvtBinaryReader::FailTag(const char* p) {
  Fail(qvl_KvtErrBinTag, p, TagText(static_cast<unsigned char>(*p)));
}

qvl_CUtilStr qvl_CUtilKvtBinaryReader::NameAt(const char* p) {
  // Only called for a name the look-ahead has checked.
  if (static_cast<unsigned char>(*p) == qvl_KvtBinTagNameRef) {
    std::uint32_t index = LoadLe32(p + 1);
    return index < m_nameTable.size() ? m_nameTable[index] : qvl_CUtilStr();
  }
  return qvl_CUtilStr(p + 5, LoadLe32(p + 1));
}

std::string qvl_CUtilKvtBinaryReader::PeekText() {
  switch (m_item) {
    case qvl_KvtItemName:
      return "a key name";
    case qvl_KvtItemInt:
      return "an int";
    case qvl_KvtItemFloat:
      return "a float";
    case qvl_KvtItemStr:
      return "a string";
    case qvl_KvtItemOpen:
      return "a chunk";
    case qvl_KvtItemClose:
      return "the end of a chunk";
    default:
      return "the end mark";
  }
}

int qvl_CUtilKvtBinaryReader::Peek() {
  if (m_failed) return qvl_KvtItemEnd;
  if (m_peeked) return m_item;
  const char* p = m_p;
  if (m_runLeft == 0) {
    // Tags; the frequent ones first.
    for (;;) {
      m_tokStart = p;
      if (p >= m_end) {
        Fail(qvl_KvtErrBinTruncated, p, "the end of the data");
        return qvl_KvtItemEnd;
      }
      unsigned char tag = static_cast<unsigned char>(*p);
      if (tag == qvl_KvtBinTagNameRef) {
        if (Left(p) < 5) {
          Fail(qvl_KvtErrBinTruncated, m_end, "the end of the data");
          return qvl_KvtItemEnd;
        }
        std::uint32_t v = LoadLe32(p + 1);
        if (v >= m_nameTable.size()) {
          FailNameIndex(p + 1, v);
          return qvl_KvtItemEnd;
        }
        m_nameRef = v;
        m_tokEnd = p + 5;
        return Seen(qvl_KvtItemName);
      }
      if (tag >= qvl_KvtBinTagRunInt && tag <= qvl_KvtBinTagRunStr) {
        if (Left(p) < 5) {
          Fail(qvl_KvtErrBinTruncated, m_end, "the end of the data");
          return qvl_KvtItemEnd;
        }
        std::uint32_t count = LoadLe32(p + 1);
        // Every value takes at least 4 bytes (a string its length).
        std::uint64_t need = std::uint64_t{count} * 4;
        if (need > Left(p + 5)) {
          FailCount(p + 1, p + 5, need);
          return qvl_KvtItemEnd;
        }
        p += 5;
        m_p = p;
        if (count == 0) continue;
        m_runLeft = count;
        m_runItem = tag == qvl_KvtBinTagRunInt     ? qvl_KvtItemInt
                    : tag == qvl_KvtBinTagRunFloat ? qvl_KvtItemFloat
                                                   : qvl_KvtItemStr;
        break;
      }
      m_tokEnd = p + 1;
      if (tag == qvl_KvtBinTagChunkBegin) return Seen(qvl_KvtItemOpen);
      if (tag == qvl_KvtBinTagChunkEnd) return Seen(qvl_KvtItemClose);
      if (tag == qvl_KvtBinTagFileEnd) {
        m_tokEnd = p;
        return Seen(qvl_KvtItemEnd);
      }
      if (tag == qvl_KvtBinTagNameNew) return PeekNewName(p);
      FailTag(p);
      return qvl_KvtItemEnd;
    }
  }
  // A value of the current run at p.
  m_tokStart = p;
  if (m_runItem == qvl_KvtItemStr) {
    // Each string's length is checked where it stands; the run count only
    // guaranteed 4 bytes per string.
    if (Left(p) < 4) {
      FailCount(p, p, 4);
      return qvl_KvtItemEnd;
    }
    std::uint64_t len = LoadLe32(p);
    if (len > Left(p) - 4) {
      FailCount(p, p, len + 4);
      return qvl_KvtItemEnd;
    }
    // Names and paths are zero-terminated texts: a zero byte would cut them
    // silently, so it is an error where it stands.
    if (const void* nul = std::memchr(p + 4, 0, len)) {
      Fail(qvl_KvtErrBinStrNul, static_cast<const char*>(nul), "byte 0x00");
      return qvl_KvtItemEnd;
    }
    m_tokEnd = p + 4 + len;
  } else {
    m_tokEnd = p + 4;  // guaranteed by the run's count check
    std::uint32_t bits = LoadLe32(p);
    m_int = static_cast<std::int32_t>(bits);
    m_float = std::bit_cast<float>(bits);
  }
  --m_runLeft;  // the value is the run's from now on, consumed or peeked
  return Seen(m_runItem);
}

int qvl_CUtilKvtBinaryReader::PeekNewName(const char* p) {
  if (Left(p) < 5) {
    Fail(qvl_KvtErrBinTruncated, m_end, "the end of the data");
    return qvl_KvtItemEnd;
  }
  std::uint32_t len = LoadLe32(p + 1);
  if (len > Left(p + 5)) {
    FailCount(p + 1, p + 5, std::uint64_t{len});
    return qvl_KvtItemEnd;
  }
  if (!IsValidName(std::string_view(p + 5, len))) {
    FailQuoted(qvl_KvtErrBinName, p + 5, p + 5, p + 5 + std::min<std::size_t>(len, 24));
    return qvl_KvtItemEnd;
  }
  m_tokEnd = p + 5 + len;
  return Seen(qvl_KvtItemName);
}

qvl_CUtilStr qvl_CUtilKvtBinaryReader::TakeName() {
  Consume();
  if (static_cast<unsigned char>(*m_tokStart) != qvl_KvtBinTagNameNew) return m_nameTable[m_nameRef];
  qvl_CUtilStr name =
      InternName(std::string_view(m_tokStart + 5, static_cast<std::size_t>(m_tokEnd - m_tokStart - 5)));
  m_nameTable.push_back(name);
  return name;
}

bool qvl_CUtilKvtBinaryReader::ArmFloats() {
  // The inline range holds native patterns, which are the file's on a little-endian machine only.
  if constexpr (std::endian::native != std::endian::little) return false;
  if (m_peeked || !m_keyOpen || m_emptyDepth > 0 || m_failed) return false;
  const char* first;
  std::uint32_t count;
  if (m_runLeft > 0) {
    if (m_runItem != qvl_KvtItemFloat) return false;
    first = m_p;
    count = m_runLeft;
  } else {
    // A float run that starts here is entered directly (count checked as in Peek).
    if (Left(m_p) < 9 || static_cast<unsigned char>(*m_p) != qvl_KvtBinTagRunFloat) return false;
    count = LoadLe32(m_p + 1);
    if (count == 0 || std::uint64_t{count} * 4 > Left(m_p + 5)) return false;
    first = m_p + 5;
    m_runItem = qvl_KvtItemFloat;
  }
  // Until Sync takes the rest back, the run counts as read.
  m_fastCur = first;
  m_fastEnd = first + std::size_t{count} * 4;
  m_p = m_fastEnd;
  m_runLeft = 0;
  return true;
}

qvl_CUtilStr qvl_CUtilKvtBinaryReader::ReadKey() {
  Sync();
  if (m_peeked && m_item == qvl_KvtItemName && !m_keyOpen && m_emptyDepth == 0 &&
      static_cast<unsigned char>(*m_tokStart) == qvl_KvtBinTagNameRef) {
    // The common case: IsKey has just seen a checked reference to a known name.
    m_keyStart = m_tokStart;
    m_keyOpen = true;
    Consume();
    ArmFloats();
    return m_nameTable[m_nameRef];
  }
  qvl_CUtilStr name = qvl_CUtilKvtReaderOf::ReadKey();
  ArmFloats();
  return name;
}

int qvl_CUtilKvtBinaryReader::IsValueSlow() {
  Sync();
  if (ArmFloats()) return 1;
  return qvl_CUtilKvtReaderOf::IsValueSlow();
}

float qvl_CUtilKvtBinaryReader::ReadFloatSlow() {
  Sync();
  if (ArmFloats()) return ReadFloat();
  return qvl_CUtilKvtReaderOf::ReadFloatSlow();
}

qvl_CUtilStr qvl_CUtilKvtBinaryReader::TakeStr() {
  qvl_CUtilStr s(m_tokStart + 4, static_cast<std::size_t>(m_tokEnd - m_tokStart - 4));
  Consume();
  return s;
}

void qvl_CUtilKvtBinaryReader::CheckEnd() {
  if (m_failed) return;
  // Peek has seen the end mark at m_p.
  if (m_p + 1 != m_end) Fail(qvl_KvtErrBinTrailing, m_p + 1, std::to_string(Left(m_p + 1)) + " more bytes");
}

// ---------------------------------------------------------------- writer

qvl_CUtilKvtBinaryWriter::qvl_CUtilKvtBinaryWriter(qvl_CUtilStream* stream) : m_out(stream) {
  char* p = m_out.Room(qvl_KvtBinHeaderSize);
  std::memcpy(p, qvl_KvtBinMagic, 4);
  StoreLe32(p + 4, qvl_KvtBinVersion);
  m_out.Advance(qvl_KvtBinHeaderSize);
}

void qvl_CUtilKvtBinaryWriter::PutByte(unsigned char b) {
  *Room(1) = static_cast<char>(b);
  m_out.Advance(1);
}

void qvl_CUtilKvtBinaryWriter::PutU32(std::uint32_t v) {
  StoreLe32(Room(4), v);
  m_out.Advance(4);
}

void qvl_CUtilKvtBinaryWriter::CloseRun() {
  if (m_runTag == 0) return;
  StoreLe32(m_out.At(m_runCountAt), m_runCount);
  m_runTag = 0;
}

void qvl_CUtilKvtBinaryWriter::StartRun(unsigned char tag, std::size_t firstSize) {
  CloseRun();
  // The run header and its first value stay in one buffer.
  *Room(5 + firstSize) = static_cast<char>(tag);
  m_runCountAt = m_out.GetLen() + 1;
  m_out.Advance(5);
  m_runTag = tag;
  m_runCount = 0;
}

void qvl_CUtilKvtBinaryWriter::BeginKey(const qvl_CUtilStr& name) {
  if (m_keyOpen) EndKey();
  CloseRun();
  std::string key(name.View());
  auto it = m_names.find(key);
  if (it != m_names.end()) {
    PutByte(qvl_KvtBinTagNameRef);
    PutU32(it->second);
  } else {
    PutByte(qvl_KvtBinTagNameNew);
    PutU32(static_cast<std::uint32_t>(key.size()));
    std::memcpy(Room(key.size()), key.data(), key.size());
    m_out.Advance(key.size());
    m_names.emplace(std::move(key), static_cast<std::uint32_t>(m_names.size()));
  }
  m_keyOpen = true;
}

void qvl_CUtilKvtBinaryWriter::EndKey() {
  CloseRun();
  m_keyOpen = false;
}

void qvl_CUtilKvtBinaryWriter::WriteInt(std::int32_t value) {
  if (!m_keyOpen) return;
  if (m_runTag != qvl_KvtBinTagRunInt || m_out.GetFree() < 4 || m_runCount == UINT32_MAX) {
    StartRun(qvl_KvtBinTagRunInt, 4);
  }
  StoreLe32(m_out.End(), static_cast<std::uint32_t>(value));
  m_out.Advance(4);
  ++m_runCount;
}

void qvl_CUtilKvtBinaryWriter::WriteFloat(float value) {
  if (!m_keyOpen) return;
  if (m_runTag != qvl_KvtBinTagRunFloat || m_out.GetFree() < 4 || m_runCount == UINT32_MAX) {
    StartRun(qvl_KvtBinTagRunFloat, 4);
  }
  StoreLe32(m_out.End(), std::bit_cast<std::uint32_t>(value));
  m_out.Advance(4);
  ++m_runCount;
}

void qvl_CUtilKvtBinaryWriter::WriteStr(const qvl_CUtilStr& text) {
  if (!m_keyOpen) return;
  std::size_t n = text.GetLen();
  if (m_runTag != qvl_KvtBinTagRunStr || m_out.GetFree() < 4 + n || m_runCount == UINT32_MAX) {
    StartRun(qvl_KvtBinTagRunStr, 4 + n);
  }
  char* p = m_out.End();
  StoreLe32(p, static_cast<std::uint32_t>(n));
  std::memcpy(p + 4, text.GetChars(), n);
  m_out.Advance(4 + n);
  ++m_runCount;
}

void qvl_CUtilKvtBinaryWriter::BeginChunk() {
  if (!m_keyOpen) return;
  CloseRun();
  PutByte(qvl_KvtBinTagChunkBegin);
  ++m_level;
  m_keyOpen = false;
}

void qvl_CUtilKvtBinaryWriter::EndChunk() {
  if (m_level == 0) return;
  if (m_keyOpen) EndKey();
  PutByte(qvl_KvtBinTagChunkEnd);
  --m_level;
  m_keyOpen = true;
}

void qvl_CUtilKvtBinaryWriter::WriteKeyStr(const qvl_CUtilStr& name, const qvl_CUtilStr& text) {
  BeginKey(name);
  WriteStr(text);
  EndKey();
}

void qvl_CUtilKvtBinaryWriter::Finish() {
  if (m_finished) return;
  m_finished = true;
  while (m_level > 0) EndChunk();
  EndKey();
  PutByte(qvl_KvtBinTagFileEnd);
  Flush();
}
