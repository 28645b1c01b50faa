// The text encoding of data trees: reader and canonical writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/kvt/util_kvt_seqwrite.h"

// Reads the text encoding straight from the bytes given (no copy); numbers
// through std::from_chars, positions computed only when a message or a tree
// asks for them.
class qvl_CUtilKvtTextReader : public qvl_CUtilKvtReader {
public:
  qvl_CUtilKvtTextReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file, std::string_view data);
  qvl_CUtilKvtPos PosOf(const char* p) override;

protected:
  int Peek() override;
  const char* PeekStart() override { return m_tokStart; }
  std::string PeekText() override;
  qvl_CUtilStr TakeName() override;
  std::int32_t TakeInt() override;
  float TakeFloat() override;
  qvl_CUtilStr TakeStr() override;
  void SkipStr() override;
  void TakeOpen() override;
  void TakeClose() override;

private:
  int LexNumber(const char* p);
  int LexString(const char* p);
  void Consume() {
    m_p = m_tokEnd;
    m_peeked = false;
  }

  const char* m_body;  // after a byte-order mark
  const char* m_p;     // read position
  bool m_peeked = false;
  int m_item = qvl_KvtItemEnd;
  const char* m_tokStart;
  const char* m_tokEnd;
  std::int32_t m_int = 0;
  float m_float = 0.0f;
  bool m_strEsc = false;
  std::string m_strBuf;
  // Line counting resumes from the last position asked for.
  const char* m_lineAt;
  const char* m_lineStart;
  std::uint32_t m_line = 1;
};

// Writes the canonical text encoding into a large buffer handed to the stream
// in big pieces. A stream that is null swallows the output.
class qvl_CUtilKvtTextWriter : public qvl_CUtilKvtSeqWrite {
public:
  explicit qvl_CUtilKvtTextWriter(qvl_CUtilStream* stream);
  ~qvl_CUtilKvtTextWriter() override;

  void BeginKey(const qvl_CUtilStr& name) override;
  void EndKey() override;
  void WriteInt(std::int32_t value) override;
  void WriteFloat(float value) override;
  void WriteStr(const qvl_CUtilStr& text) override;
  void BeginChunk() override;
  void EndChunk() override;
  void WriteKeyStr(const qvl_CUtilStr& name, const qvl_CUtilStr& text) override;
  void Finish() override;

  // Numbers on one line before the list continues on the next.
  static constexpr int kValuesPerLine = 16;

private:
  char* Room(std::size_t n);
  void Flush();
  void Indent(int level);
  void NumberSep();

  qvl_CUtilStream* m_stream;
  char* m_buf;
  std::size_t m_len = 0;
  std::size_t m_cap;
  int m_level = 0;
  bool m_keyOpen = false;
  int m_lineValues = 0;
};

// Appends the shortest text that reads back as the same float, with ".0"
// added where it would read as an int, and inf, -inf, nan for the others.
// out needs room for 32 bytes; returns the end of the text.
char* qvl_KvtFormatFloat(char* out, float value);
