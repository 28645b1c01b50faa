// Typed access to the keys of one chunk, with defaults and error reports.
#pragma once

#include "util/kvt/util_kvt_chunk.h"
#include "util/msg/util_msg_handler.h"
#include "util/ptr/util_ptr_array.h"
#include "util/str/util_str_str.h"

// With the flag optional true a missing key gives the default silently. A
// value of another type, or another number of values than asked for, is a
// level-2 error naming the key, what was expected and what was found, with
// the key's "FILE:LINE:COL" as context; the default is used then. A key given
// twice in one chunk is a level-2 error; the last one counts. Without a
// handler the errors are thrown. CheckForUnknown, after the last extraction,
// reports every key that no extraction asked for, once each.
class qvl_CUtilKvtExtract {
public:
  qvl_CUtilKvtExtract();
  ~qvl_CUtilKvtExtract();
  qvl_CUtilKvtExtract(const qvl_CUtilKvtExtract&) = delete;
  qvl_CUtilKvtExtract& operator=(const qvl_CUtilKvtExtract&) = delete;

  // Works on chunk from now on (a reference is held; null acts as an empty chunk).
  void Assign(qvl_CUtilMsgHandler* handler, const qvl_CUtilKvtChunk* chunk);
  // The chunk's context text ("FILE:LINE:COL" of its brace, "FILE:1:1" for the root).
  qvl_CUtilStr GetInfo() const;

  // One string value.
  qvl_CUtilStr ExtractStr(const char* key, bool optional, const char* def);
  // One string value into value, and the value's context text ("FILE:LINE:COL",
  // or the chunk's when the key is missing) into info.
  void ExtractStr(qvl_CUtilStr& value, qvl_CUtilStr& info, const char* key, bool optional, const char* def);
  // One int value: 0 false, anything else true.
  bool ExtractBool(const char* key, bool optional, bool def);
  // One float or int value.
  float ExtractFloat(const char* key, bool optional, float def);
  // Every value of the key, each a chunk, appended to array (references taken).
  void ExtractChunkArray(qvl_CUtilPtrArray<qvl_CUtilKvtChunk>& array, const char* key, bool optional);
  // Reports each key of the chunk that no extraction asked for.
  void CheckForUnknown();

private:
  struct Impl;
  Impl* m_impl;
};
