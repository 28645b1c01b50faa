// Tree helpers of the data-tree fuzz targets: every accessor walked, and the
// round trips through both encodings that must give the same canonical text.
#pragma once

#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/kvt/util_kvt_extract.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/ptr/util_ptr_array.h"

// Calls every read accessor of chunk and its nested chunks, and the typed
// extraction of each key name in every form; returns the number of values.
// Extraction reports (type errors, unknown keys) go to a handler of its own.
inline long QvlFuzzWalkTree(const qvl_CUtilKvtChunk* chunk, int depth = 0) {
  QVL_FUZZ_CHECK(depth <= qvl_KvtMaxDepth);
  long values = 0;
  const int keys = chunk->GetKeyCnt();
  chunk->GetInfo();
  for (int k = 0; k < keys; ++k) {
    const qvl_CUtilStr name = chunk->GetKeyName(k);
    QVL_FUZZ_CHECK(!name.IsEmpty());
    chunk->GetKeyInfo(k);
    const int found = chunk->FindKey(name.GetChars());
    QVL_FUZZ_CHECK(found >= 0 && found <= k && chunk->FindLastKey(name.GetChars()) >= k);
    const int n = chunk->GetValueCnt(k);
    for (int v = 0; v < n; ++v, ++values) {
      chunk->GetValuePos(k, v);
      switch (chunk->GetValueType(k, v)) {
        case qvl_KvtTypeInt:
          chunk->GetValueInt(k, v);
          break;
        case qvl_KvtTypeFloat:
          chunk->GetValueFloat(k, v);
          break;
        case qvl_KvtTypeStr:
          // A string holds no zero byte: the readers refuse one.
          QVL_FUZZ_CHECK(chunk->GetValueStr(k, v).View().find('\0') == std::string_view::npos);
          break;
        case qvl_KvtTypeChunk: {
          const qvl_CUtilKvtChunk* child = chunk->PeekValueChunk(k, v);
          QVL_FUZZ_CHECK(child != nullptr);
          values += QvlFuzzWalkTree(child, depth + 1);
          break;
        }
        default:
          QVL_FUZZ_CHECK(!"a value of no known type");
      }
    }
    // Out-of-range indices read as defaults, never crash.
    chunk->GetValueType(k, n);
    chunk->GetValueStr(k, -1);
  }
  chunk->GetKeyName(keys);
  chunk->GetValueCnt(-1);
  // The typed extraction of every key name.
  KvtTestHandler h;
  qvl_CUtilKvtExtract ex;
  ex.Assign(h.Get(), chunk);
  for (int k = 0; k < keys; ++k) {
    const qvl_CUtilStr name = chunk->GetKeyName(k);
    switch (k % 4) {
      case 0:
        ex.ExtractStr(name.GetChars(), true, "");
        break;
      case 1:
        ex.ExtractFloat(name.GetChars(), true, 0.0f);
        break;
      case 2:
        ex.ExtractBool(name.GetChars(), true, false);
        break;
      default: {
        qvl_CUtilPtrArray<qvl_CUtilKvtChunk> array;
        ex.ExtractChunkArray(array, name.GetChars(), true);
        break;
      }
    }
  }
  ex.CheckForUnknown();
  return values;
}

// The canonical text of a tree read without errors, and the promises of the
// round trips: that text reads back without errors to the same text, and
// its binary encoding reads back without errors to the same text too.
inline std::string QvlFuzzCheckRoundTrips(const qvl_CUtilKvtChunk* root) {
  const std::string text = KvtWriteTree(root, 0);
  KvtTestHandler h;
  QVL_FUZZ_CHECK(KvtConvert(h.Get(), text, 0) == text);
  const std::string bin = KvtWriteTree(root, qvl_KvtFlagBinary);
  QVL_FUZZ_CHECK(KvtConvert(h.Get(), bin, 0) == text);
  QVL_FUZZ_CHECK(KvtConvert(h.Get(), KvtConvert(h.Get(), text, qvl_KvtFlagBinary), 0) == text);
  QVL_FUZZ_CHECK(h.Count() == 0);
  return text;
}
