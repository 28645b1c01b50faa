// Sequential writing of a data tree in the text or the binary encoding.
#pragma once

#include <cstdint>

#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// Used strictly nested: BeginKey, values (chunk values with BeginChunk /
// EndChunk), EndKey; Finish once after the root. Output is collected in large
// buffers and handed to the stream in big pieces; the writer reports nothing
// itself (the stream reports its own failures).
class qvl_CUtilKvtSeqWrite : public qvl_CUtilPtrBase {
public:
  virtual void BeginKey(const qvl_CUtilStr& name) = 0;
  virtual void EndKey() = 0;
  virtual void WriteInt(std::int32_t value) = 0;
  virtual void WriteFloat(float value) = 0;
  virtual void WriteStr(const qvl_CUtilStr& text) = 0;
  // Appends a chunk value to the open key and enters it.
  virtual void BeginChunk() = 0;
  virtual void EndChunk() = 0;
  // A whole key with one string value.
  virtual void WriteKeyStr(const qvl_CUtilStr& name, const qvl_CUtilStr& text) = 0;
  // Once, after the root: writes what is buffered to the stream.
  virtual void Finish() = 0;
};
