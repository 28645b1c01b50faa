// The data-tree model: a chunk is an ordered list of keys, a key a name and a
// sequence of values (int, float, string or nested chunk), each with its position.
#pragma once

#include <cstdint>
#include <vector>

#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// Where something stands in its file: line and column (1-based) in a text
// file, or a byte offset in a binary file (line 0).
struct qvl_CUtilKvtPos {
  std::uint32_t line = 0;  // 0: binary, offset is meaningful
  std::uint32_t col = 0;
  std::uint64_t offset = 0;

  static qvl_CUtilKvtPos OfText(std::uint32_t line, std::uint32_t col) { return {line, col, 0}; }
  static qvl_CUtilKvtPos OfBinary(std::uint64_t offset) { return {0, 0, offset}; }
  // "FILE:LINE:COL" for text, "FILE:@OFFSET" for binary; "" for a default
  // position without a file (a tree built in memory).
  qvl_CUtilStr ToText(const qvl_CUtilStr& file) const;
};

// Type of one value. The numbers are stable: the binary encoding does not use them.
enum qvl_KvtType : int {
  qvl_KvtTypeNone = 0,  // no such value
  qvl_KvtTypeInt = 1,
  qvl_KvtTypeFloat = 2,
  qvl_KvtTypeStr = 3,
  qvl_KvtTypeChunk = 4,
};

// Name of a value type for messages ("an int", "a float", "a string", "a chunk", "no value").
const char* qvl_KvtTypeDesc(int type);

// A chunk of a data tree, reference counted. Keys keep the order in which
// they were added; key and value indices are 0-based. Read accessors given an
// index out of range return the empty value of their type (0, "", null).
class qvl_CUtilKvtChunk : public qvl_CUtilPtrBase {
 public:
  // file names the source in context texts; pos is the chunk's opening brace
  // (or the start of the file for the root).
  explicit qvl_CUtilKvtChunk(const qvl_CUtilStr& file = qvl_CUtilStr(), qvl_CUtilKvtPos pos = {});
  ~qvl_CUtilKvtChunk() override;

  const qvl_CUtilStr& GetFile() const { return m_file; }
  qvl_CUtilKvtPos GetPos() const { return m_pos; }
  // The chunk's context text, "FILE:LINE:COL" or "FILE:@OFFSET".
  qvl_CUtilStr GetInfo() const { return m_pos.ToText(m_file); }

  // --- Reading ---
  int GetKeyCnt() const { return static_cast<int>(m_keys.size()); }
  qvl_CUtilStr GetKeyName(int k) const;
  qvl_CUtilKvtPos GetKeyPos(int k) const;
  qvl_CUtilStr GetKeyInfo(int k) const { return GetKeyPos(k).ToText(m_file); }
  // Index of the first (resp. last) key named name at or after index from; -1 when none.
  int FindKey(const char* name, int from = 0) const;
  int FindLastKey(const char* name) const;

  int GetValueCnt(int k) const;
  int GetValueType(int k, int v) const;  // qvl_KvtType
  std::int32_t GetValueInt(int k, int v) const;
  float GetValueFloat(int k, int v) const;
  qvl_CUtilStr GetValueStr(int k, int v) const;
  // The chunk value without a new reference (valid while this chunk holds it).
  qvl_CUtilKvtChunk* PeekValueChunk(int k, int v) const;
  // Position of a string or chunk value; the key's position for numbers.
  qvl_CUtilKvtPos GetValuePos(int k, int v) const;

  // --- Building ---
  // Appends a key without values; returns its index.
  int AddKey(const qvl_CUtilStr& name, qvl_CUtilKvtPos pos = {});
  // Append a value to key k (ignored when k is out of range).
  void AddInt(int k, std::int32_t value);
  void AddFloat(int k, float value);
  void AddStr(int k, const qvl_CUtilStr& value, qvl_CUtilKvtPos pos = {});
  // Appends chunk (a reference is taken; null is ignored).
  void AddChunk(int k, qvl_CUtilKvtChunk* chunk);
  // Removes every key.
  void Clear();

 private:
  // A value is a type byte and 32 bits: the number's pattern, or the index of
  // the string / chunk in the key's side arrays. This keeps a float at 5 bytes.
  struct StrVal {
    qvl_CUtilStr str;
    qvl_CUtilKvtPos pos;
  };
  struct Key {
    qvl_CUtilStr name;
    qvl_CUtilKvtPos pos;
    std::vector<std::uint8_t> types;
    std::vector<std::uint32_t> bits;
    std::vector<StrVal> strs;
    std::vector<qvl_CUtilKvtChunk*> chunks;
  };
  const Key* KeyAt(int k) const;
  bool ValueAt(int k, int v, const Key** key, std::uint32_t* bits) const;

  qvl_CUtilStr m_file;
  qvl_CUtilKvtPos m_pos;
  std::vector<Key> m_keys;
};
