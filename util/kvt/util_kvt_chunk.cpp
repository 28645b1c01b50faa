// The data-tree model: chunks, keys and values.
#include "util/kvt/util_kvt_chunk.h"

#include <cstring>
#include <string>

qvl_CUtilStr qvl_CUtilKvtPos::ToText(const qvl_CUtilStr& file) const {
  // A chunk built in memory has neither a file nor a position.
  if (file.IsEmpty() && line == 0 && offset == 0) return {};
  std::string text(file.View());
  if (line > 0) {
    text += ':' + std::to_string(line) + ':' + std::to_string(col);
  } else {
    text += ":@" + std::to_string(offset);
  }
  return qvl_CUtilStr(std::string_view(text));
}

const char* qvl_KvtTypeDesc(int type) {
  switch (type) {
    case qvl_KvtTypeInt:
      return "an int";
    case qvl_KvtTypeFloat:
      return "a float";
    case qvl_KvtTypeStr:
      return "a string";
    case qvl_KvtTypeChunk:
      return "a chunk";
    default:
      return "no value";
  }
}

qvl_CUtilKvtChunk::qvl_CUtilKvtChunk(const qvl_CUtilStr& file, qvl_CUtilKvtPos pos)
    : m_file(file), m_pos(pos) {}

qvl_CUtilKvtChunk::~qvl_CUtilKvtChunk() {
  Clear();
}

void qvl_CUtilKvtChunk::Clear() {
  for (Key& key : m_keys) {
    for (qvl_CUtilKvtChunk* c : key.chunks) RefReleaseOf(c);
  }
  m_keys.clear();
}

const qvl_CUtilKvtChunk::Key* qvl_CUtilKvtChunk::KeyAt(int k) const {
  if (k < 0 || k >= GetKeyCnt()) return nullptr;
  return &m_keys[static_cast<std::size_t>(k)];
}

bool qvl_CUtilKvtChunk::ValueAt(int k, int v, const Key** key, std::uint32_t* bits) const {
  const Key* p = KeyAt(k);
  if (!p || v < 0 || static_cast<std::size_t>(v) >= p->types.size()) return false;
  *key = p;
  *bits = p->bits[static_cast<std::size_t>(v)];
  return true;
}

qvl_CUtilStr qvl_CUtilKvtChunk::GetKeyName(int k) const {
  const Key* p = KeyAt(k);
  return p ? p->name : qvl_CUtilStr();
}

qvl_CUtilKvtPos qvl_CUtilKvtChunk::GetKeyPos(int k) const {
  const Key* p = KeyAt(k);
  return p ? p->pos : qvl_CUtilKvtPos();
}

int qvl_CUtilKvtChunk::FindKey(const char* name, int from) const {
  for (int k = from < 0 ? 0 : from; k < GetKeyCnt(); ++k) {
    if (m_keys[static_cast<std::size_t>(k)].name.Compare(name) == 0) return k;
  }
  return -1;
}

int qvl_CUtilKvtChunk::FindLastKey(const char* name) const {
  for (int k = GetKeyCnt() - 1; k >= 0; --k) {
    if (m_keys[static_cast<std::size_t>(k)].name.Compare(name) == 0) return k;
  }
  return -1;
}

int qvl_CUtilKvtChunk::GetValueCnt(int k) const {
  const Key* p = KeyAt(k);
  return p ? static_cast<int>(p->types.size()) : 0;
}

int qvl_CUtilKvtChunk::GetValueType(int k, int v) const {
  const Key* p = KeyAt(k);
  if (!p || v < 0 || static_cast<std::size_t>(v) >= p->types.size()) return qvl_KvtTypeNone;
  return p->types[static_cast<std::size_t>(v)];
}

std::int32_t qvl_CUtilKvtChunk::GetValueInt(int k, int v) const {
  const Key* p;
  std::uint32_t bits;
  if (!ValueAt(k, v, &p, &bits) || p->types[static_cast<std::size_t>(v)] != qvl_KvtTypeInt) return 0;
  return static_cast<std::int32_t>(bits);
}

float qvl_CUtilKvtChunk::GetValueFloat(int k, int v) const {
  const Key* p;
  std::uint32_t bits;
  if (!ValueAt(k, v, &p, &bits) || p->types[static_cast<std::size_t>(v)] != qvl_KvtTypeFloat) return 0.0f;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

qvl_CUtilStr qvl_CUtilKvtChunk::GetValueStr(int k, int v) const {
  const Key* p;
  std::uint32_t bits;
  if (!ValueAt(k, v, &p, &bits) || p->types[static_cast<std::size_t>(v)] != qvl_KvtTypeStr) return {};
  return p->strs[bits].str;
}

qvl_CUtilKvtChunk* qvl_CUtilKvtChunk::PeekValueChunk(int k, int v) const {
  const Key* p;
  std::uint32_t bits;
  if (!ValueAt(k, v, &p, &bits) || p->types[static_cast<std::size_t>(v)] != qvl_KvtTypeChunk) return nullptr;
  return p->chunks[bits];
}

qvl_CUtilKvtPos qvl_CUtilKvtChunk::GetValuePos(int k, int v) const {
  const Key* p;
  std::uint32_t bits;
  if (!ValueAt(k, v, &p, &bits)) return GetKeyPos(k);
  switch (p->types[static_cast<std::size_t>(v)]) {
    case qvl_KvtTypeStr:
      return p->strs[bits].pos;
    case qvl_KvtTypeChunk:
      return p->chunks[bits]->GetPos();
    default:
      return p->pos;
  }
}

int qvl_CUtilKvtChunk::AddKey(const qvl_CUtilStr& name, qvl_CUtilKvtPos pos) {
  m_keys.push_back(Key{name, pos, {}, {}, {}, {}});
  return GetKeyCnt() - 1;
}

void qvl_CUtilKvtChunk::AddInt(int k, std::int32_t value) {
  if (k < 0 || k >= GetKeyCnt()) return;
  Key& key = m_keys[static_cast<std::size_t>(k)];
  key.types.push_back(qvl_KvtTypeInt);
  key.bits.push_back(static_cast<std::uint32_t>(value));
}

void qvl_CUtilKvtChunk::AddFloat(int k, float value) {
  if (k < 0 || k >= GetKeyCnt()) return;
  Key& key = m_keys[static_cast<std::size_t>(k)];
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  key.types.push_back(qvl_KvtTypeFloat);
  key.bits.push_back(bits);
}

void qvl_CUtilKvtChunk::AddStr(int k, const qvl_CUtilStr& value, qvl_CUtilKvtPos pos) {
  if (k < 0 || k >= GetKeyCnt()) return;
  Key& key = m_keys[static_cast<std::size_t>(k)];
  key.types.push_back(qvl_KvtTypeStr);
  key.bits.push_back(static_cast<std::uint32_t>(key.strs.size()));
  key.strs.push_back(StrVal{value, pos});
}

void qvl_CUtilKvtChunk::AddChunk(int k, qvl_CUtilKvtChunk* chunk) {
  if (k < 0 || k >= GetKeyCnt() || !chunk) return;
  Key& key = m_keys[static_cast<std::size_t>(k)];
  key.chunks.reserve(key.chunks.size() + 1);  // no leak of the reference when growth throws
  key.types.push_back(qvl_KvtTypeChunk);
  key.bits.push_back(static_cast<std::uint32_t>(key.chunks.size()));
  key.chunks.push_back(RefAddOf(chunk));
}
