// Sequential reading of a data tree, key by key and value by value.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "util/msg/util_msg_handler.h"
#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// Used strictly nested: while IsKey() > 0: ReadKey(), read values (entering
// chunk values with BeginChunk / EndChunk), EndKey(); Finish() once after the
// root. The reader is lenient: a value that is missing or of another type is
// a level-2 error with its position and reads as 0 resp. ""; after a syntax
// error or a corrupt file (reported once) no further keys are seen at any
// level, so every caller's loop ends normally.
class qvl_CUtilKvtSeqRead : public qvl_CUtilPtrBase {
public:
  // The handler given at creation; may be null.
  virtual qvl_CUtilMsgHandler* GetMsgHandler() = 0;
  // Context text of the read position, that is of the key read last (the
  // file's start before the first key): "FILE:LINE:COL" (text) or
  // "FILE:@OFFSET" (binary).
  virtual qvl_CUtilStr GetInfo() = 0;
  // Greater than 0 while another key follows in the current chunk.
  virtual int IsKey() = 0;
  // Name of the next key, which is opened.
  virtual qvl_CUtilStr ReadKey() = 0;
  // Closes the open key, skipping its unread values (nested chunks included).
  virtual void EndKey() = 0;
  // Greater than 0 while the open key has another value.
  int IsValue() { return m_fastCur != m_fastEnd ? 1 : IsValueSlow(); }
  // Next value as a float; an int is converted.
  float ReadFloat() {
    if (m_fastCur != m_fastEnd) {
      std::uint32_t bits;
      std::memcpy(&bits, m_fastCur, 4);
      m_fastCur += 4;
      return std::bit_cast<float>(bits);
    }
    return ReadFloatSlow();
  }
  // Next value as a string.
  virtual qvl_CUtilStr ReadStr() = 0;
  // Enters the next value, a chunk; on another value a level-2 error, and an
  // empty chunk is entered so that the caller's loops stay balanced.
  virtual void BeginChunk() = 0;
  // Leaves the chunk, skipping its unread keys.
  virtual void EndChunk() = 0;
  // Once, after the root: checks that the whole input was consumed.
  virtual void Finish() = 0;

protected:
  // IsValue and ReadFloat where the fast path below does not serve them.
  virtual int IsValueSlow() = 0;
  virtual float ReadFloatSlow() = 0;

  // The unread rest of a run of floats of the open key, as native 32-bit
  // patterns, which IsValue and ReadFloat serve inline: most values of an
  // animation come in short float runs, where a virtual call per value would
  // cost more than the value. A reader sets the range only while nothing but
  // plain reading of these values can happen (key open, nothing peeked, no
  // error), and takes the rest back into its own state at the start of every
  // other call. Empty (equal pointers) when unused.
  const char* m_fastCur = nullptr;
  const char* m_fastEnd = nullptr;
};
