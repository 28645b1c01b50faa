// The text encoding of data trees: reader and canonical writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/file/util_file_stream.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/kvt/util_kvt_seqwrite.h"
#include "util/kvt/util_kvt_writebuf.h"

// Reads the text encoding straight from the bytes given (no copy); numbers
// through std::from_chars, positions computed only when a message or a tree
// asks for them.
class qvl_CUtilKvtTextReader final : public qvl_CUtilKvtReaderOf<qvl_CUtilKvtTextReader> {
 public:
  qvl_CUtilKvtTextReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file, std::string_view data);
  qvl_CUtilKvtPos PosOf(const char* p) override;
  qvl_CUtilStr NameAt(const char* p) override;
  // A float literal is read without the general look-ahead.
  float ReadFloatSlow() override;

  // The look-ahead used by qvl_CUtilKvtReaderOf.
  int Peek();
  std::string PeekText();
  void CheckEnd() {}  // the end of the data is the end of the root
  qvl_CUtilStr TakeName();
  qvl_CUtilStr TakeStr();

 private:
  int LexNumber(const char* p);
  int LexString(const char* p);
  [[gnu::cold, gnu::noinline]] void FailExcerpt(const char* p);
  const char* m_body;  // after a byte-order mark
  bool m_strEsc = false;
  std::string m_strBuf;
  // Line counting resumes from the last position asked for.
  const char* m_lineAt;
  const char* m_lineStart;
  std::uint32_t m_line = 1;
};

// Writes the canonical text encoding into a large buffer handed to the stream
// in big pieces. A stream that is null swallows the output; a writer released
// without Finish drops what it still buffers.
class qvl_CUtilKvtTextWriter : public qvl_CUtilKvtSeqWrite {
 public:
  explicit qvl_CUtilKvtTextWriter(qvl_CUtilStream* stream);

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
  void Indent(int level);
  void NumberSep();

  qvl_CUtilKvtWriteBuf m_out;
  int m_level = 0;
  bool m_keyOpen = false;
  int m_lineValues = 0;
};

// Appends the canonical text of a float: the shortest digits that read back
// as the same float (the nearest of them when several are as short), written
// plainly with zeros filling the places up to the point ("123456790.0") when
// that is not longer than the exponent form ("1e+20", "-2.5e-07"), ".0" added
// where it would read as an int; inf, -inf, nan for the others.
// out needs room for 32 bytes; returns the end of the text.
char* qvl_KvtFormatFloat(char* out, float value);
