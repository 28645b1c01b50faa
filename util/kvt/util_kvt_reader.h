// The common reader of both encodings: the lenient sequential reading, error
// reporting and typed look-ahead that whole-tree reading builds on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_seqread.h"

// Parse errors of both encodings. The description says what was expected.
enum qvl_KvtErr : int {
  qvl_KvtErrNone = 0,
  // Text encoding.
  qvl_KvtErrUnexpected,     // a byte that starts no token
  qvl_KvtErrExpectedKey,    // a value or '}' where a key name must stand
  qvl_KvtErrUnclosedChunk,  // end of file inside a chunk
  qvl_KvtErrBadNumber,      // malformed number
  qvl_KvtErrIntRange,       // integer outside 32 bits
  qvl_KvtErrFloatRange,     // finite literal beyond the float range
  qvl_KvtErrStrUnclosed,    // string not closed before the end of the file
  qvl_KvtErrStrLineBreak,   // raw line break inside a string
  qvl_KvtErrStrEscape,      // unknown or incomplete escape
  qvl_KvtErrNesting,        // chunks nested deeper than qvl_KvtMaxDepth
  qvl_KvtErrStrNul,         // a zero byte in a string (raw or as \x00)
  // Binary encoding.
  qvl_KvtErrBinVersion,    // unknown format version
  qvl_KvtErrBinTruncated,  // the data ends inside an item
  qvl_KvtErrBinTag,        // unknown tag byte
  qvl_KvtErrBinCount,      // a count or length larger than the bytes left
  qvl_KvtErrBinNameIndex,  // reference to a name not defined before
  qvl_KvtErrBinName,       // a key name that is not a valid name
  qvl_KvtErrBinTrailing,   // bytes after the end mark
  qvl_KvtErrBinStructure,  // an item where it cannot stand (value at chunk start, stray end mark)
  qvl_KvtErrBinNesting,    // chunks nested deeper than qvl_KvtMaxDepth
  qvl_KvtErrBinStrNul,     // a zero byte in a string
  qvl_KvtErrCount
};

// What was expected, for the message text ("expected a key name").
const char* qvl_KvtErrDesc(int code);

// Deepest chunk nesting a reader accepts.
constexpr int qvl_KvtMaxDepth = 256;

// Kinds of item the look-ahead can see.
enum qvl_KvtItem : int {
  qvl_KvtItemEnd = 0,  // end of the data, or the reader has failed
  qvl_KvtItemName,
  qvl_KvtItemInt,
  qvl_KvtItemFloat,
  qvl_KvtItemStr,
  qvl_KvtItemOpen,   // a chunk value begins
  qvl_KvtItemClose,  // the current chunk ends
};

// Base of the text and binary readers: state, positions and reports. The
// reading itself is qvl_CUtilKvtReaderOf below.
class qvl_CUtilKvtReader : public qvl_CUtilKvtSeqRead {
 public:
  // data must stay valid while the reader lives (the stream's bytes).
  qvl_CUtilKvtReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file, std::string_view data);
  ~qvl_CUtilKvtReader() override;

  qvl_CUtilMsgHandler* GetMsgHandler() override { return m_handler; }
  qvl_CUtilStr GetInfo() override;

  // --- Beyond the sequential interface (whole-tree reading, kvt) ---
  // Type of the open key's next value (qvl_KvtType), qvl_KvtTypeNone when none.
  virtual int PeekValueType() = 0;
  // Next value as an int; a float is a type error (0).
  virtual std::int32_t ReadInt() = 0;
  // Position of the next item (after white space), or of the failure.
  virtual qvl_CUtilKvtPos GetNextPos() = 0;
  bool HasFailed() const { return m_failed; }
  // Code and position of the first parse error (qvl_KvtErrNone when none).
  int GetErrCode() const { return m_errCode; }
  qvl_CUtilKvtPos GetErrPos() const { return m_errPos; }
  const qvl_CUtilStr& GetFile() const { return m_file; }
  // The position a pointer into the data stands for.
  virtual qvl_CUtilKvtPos PosOf(const char* p) = 0;
  // The name of the key whose name begins at p (for messages).
  virtual qvl_CUtilStr NameAt(const char* p) = 0;

 protected:
  // Start of the item the look-ahead saw (for positions).
  const char* PeekStart() const { return m_tokStart; }
  // Consumes the peeked item (a number, a string not wanted, a brace).
  void Consume() {
    m_p = m_tokEnd;
    m_peeked = false;
  }

  // Reports the first parse error (code at p) with the found text and marks
  // the reader failed; later calls do nothing.
  void Fail(int code, const char* p, std::string_view found);
  // Fail with the bytes [from, to) in quotes as the found text. Kept out of
  // line so that the lexers' hot paths carry no string temporaries.
  [[gnu::cold, gnu::noinline]] void FailQuoted(int code, const char* p, const char* from, const char* to);
  // The shared name for the bytes of a key name, so that repeated names
  // share one storage instead of allocating each time.
  qvl_CUtilStr InternName(std::string_view name);
  // True when a chunk may be entered; a parse error otherwise.
  bool EnterDepth(const char* p);
  // A reader that never sets the inline float range has nothing to take back.
  void Sync() {}

  const char* m_begin;
  const char* m_end;
  const char* m_p;  // read position
  bool m_peeked = false;
  int m_item = qvl_KvtItemEnd;
  const char* m_tokStart;
  const char* m_tokEnd;
  std::int32_t m_int = 0;
  float m_float = 0.0f;
  bool m_failed = false;
  bool m_binary = false;  // selects the binary error codes for structure errors
  bool m_keyOpen = false;
  int m_emptyDepth = 0;  // empty chunks entered in place of a value that was no chunk

  void TypeError(int expected, int found);
  void MissingValue(int expected);
  void Misuse(const char* what);
  void Report(const qvl_CUtilMsg& msg);
  static int TypeOfItem(int item);

  int m_depth = 0;                   // chunks entered in the data
  const char* m_keyStart = nullptr;  // where the open (or last) key's name stands
  // The key that holds each chunk entered (one per m_depth level), so that
  // leaving a chunk makes its key the context again instead of the last key
  // read inside it.
  std::vector<const char*> m_outerKeys;

 private:
  qvl_CUtilMsgHandler* m_handler;
  qvl_CUtilStr m_file;
  int m_errCode = qvl_KvtErrNone;
  qvl_CUtilKvtPos m_errPos;
  std::unordered_map<std::string_view, qvl_CUtilStr> m_names;
};

// The reading of both encodings on top of the look-ahead that D supplies:
//   int Peek()              one item at m_p into m_item, m_tokStart, m_tokEnd
//                           (numbers into m_int / m_float), m_peeked until it
//                           is consumed; qvl_KvtItemEnd after a parse error;
//   qvl_CUtilStr TakeName() and TakeStr(): consume the peeked name / string;
//   std::string PeekText(): the peeked item as found text for messages;
//   void CheckEnd():        at the end of the root, that nothing follows;
//   void Sync():            takes the rest of the inline float range
//                           (m_fastCur, m_fastEnd) back into the reader's own
//                           state; called first by every operation here.
template <class D>
class qvl_CUtilKvtReaderOf : public qvl_CUtilKvtReader {
 public:
  using qvl_CUtilKvtReader::qvl_CUtilKvtReader;

  int IsKey() override;
  qvl_CUtilStr ReadKey() override;
  void EndKey() override;
  int IsValueSlow() override;
  float ReadFloatSlow() override;
  qvl_CUtilStr ReadStr() override;
  void BeginChunk() override;
  void EndChunk() override;
  void Finish() override;
  int PeekValueType() override;
  std::int32_t ReadInt() override;
  qvl_CUtilKvtPos GetNextPos() override;

 protected:
  // The reader as its final class, so that calls among the operations are direct.
  D* Self() { return static_cast<D*>(this); }
  int PeekItem() { return m_peeked ? m_item : static_cast<D*>(this)->Peek(); }
  std::string PeekText() { return static_cast<D*>(this)->PeekText(); }
  qvl_CUtilStr TakeName() { return static_cast<D*>(this)->TakeName(); }
  qvl_CUtilStr TakeStr() { return static_cast<D*>(this)->TakeStr(); }
  void SkipValue();
  // Starts a read of one value: the next item, or kNoValueRead when nothing
  // may be read (after a failure, inside an empty chunk, or with no key open,
  // which is reported as misuse).
  static constexpr int kNoValueRead = -1;
  int BeginValueRead();
  // Ends a read of a value of type expected that did not find one at item: a
  // value of another type is reported and skipped, no value is reported as
  // missing; nothing happens for kNoValueRead.
  void RejectValue(int expected, int item);
  // Closes the open key and skips every key left in the current chunk (or the
  // root) with its values, stopping before the close or the end.
  void SkipKeys();
};
