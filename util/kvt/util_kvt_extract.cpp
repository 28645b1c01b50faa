// Typed access to the keys of one chunk, with defaults and error reports.
#include "util/kvt/util_kvt_extract.h"

#include <string>
#include <vector>

struct qvl_CUtilKvtExtract::Impl {
  qvl_CUtilMsgHandler* handler = nullptr;
  const qvl_CUtilKvtChunk* chunk = nullptr;
  std::vector<char> used;  // per key: asked for by an extraction or reported

  void Report(qvl_CUtilMsg& msg) {
    qvl_CUtilMsgHandler::ReportError(handler, msg);
  }

  // Index of the key that counts (the last of its name), -1 when missing.
  // Every key of the name is marked used; a repetition is reported once.
  int Find(const char* key) {
    if (!chunk) return -1;
    int last = -1;
    int count = 0;
    for (int k = chunk->FindKey(key); k >= 0; k = chunk->FindKey(key, k + 1)) {
      used[static_cast<std::size_t>(k)] = 1;
      last = k;
      ++count;
    }
    if (count > 1) {
      qvl_CUtilMsg msg("util/kvt/util_kvt_extract.twice",
                       "Key '[1]' is given [2] times; the last one counts.");
      msg.AddInfo(chunk->GetKeyInfo(last));
      msg.AddInfo(key);
      msg.AddInfo(qvl_CUtilStr(std::string_view(std::to_string(count))));
      Report(msg);
    }
    return last;
  }

  void Missing(const char* key, bool optional, const char* expected) {
    if (optional) return;
    qvl_CUtilMsg msg("util/kvt/util_kvt_extract.missing", "Key '[1]' with [2] is missing.");
    msg.AddInfo(chunk ? chunk->GetInfo() : qvl_CUtilStr());
    msg.AddInfo(key);
    msg.AddInfo(expected);
    Report(msg);
  }

  // What key k holds, for messages: "2 values", "a string", "no value".
  std::string Found(int k) const {
    int n = chunk->GetValueCnt(k);
    if (n == 1) return qvl_KvtTypeDesc(chunk->GetValueType(k, 0));
    if (n == 0) return "no value";
    return std::to_string(n) + " values";
  }

  void Mismatch(int k, const char* key, const char* expected) {
    qvl_CUtilMsg msg("util/kvt/util_kvt_extract.mismatch", "Key '[1]' expects [2], found [3].");
    msg.AddInfo(chunk->GetKeyInfo(k));
    msg.AddInfo(key);
    msg.AddInfo(expected);
    msg.AddInfo(qvl_CUtilStr(std::string_view(Found(k))));
    Report(msg);
  }

  // Index of key when it holds exactly one value of one of the types asked
  // for (bit mask of 1 << qvl_KvtType); -1 otherwise (reported unless missing and optional).
  int FindSingle(const char* key, bool optional, unsigned types, const char* expected) {
    int k = Find(key);
    if (k < 0) {
      Missing(key, optional, expected);
      return -1;
    }
    if (chunk->GetValueCnt(k) != 1 || !((1u << chunk->GetValueType(k, 0)) & types)) {
      Mismatch(k, key, expected);
      return -1;
    }
    return k;
  }
};

qvl_CUtilKvtExtract::qvl_CUtilKvtExtract() : m_impl(new Impl) {}

qvl_CUtilKvtExtract::~qvl_CUtilKvtExtract() {
  qvl_CUtilPtrBase::RefReleaseOf(m_impl->chunk);
  qvl_CUtilPtrBase::RefReleaseOf(m_impl->handler);
  delete m_impl;
}

void qvl_CUtilKvtExtract::Assign(qvl_CUtilMsgHandler* handler, const qvl_CUtilKvtChunk* chunk) {
  qvl_CUtilPtrBase::RefAddReleaseOf(handler, m_impl->handler);
  m_impl->handler = handler;
  qvl_CUtilPtrBase::RefAddReleaseOf(chunk, m_impl->chunk);
  m_impl->chunk = chunk;
  m_impl->used.assign(chunk ? static_cast<std::size_t>(chunk->GetKeyCnt()) : 0, 0);
}

qvl_CUtilStr qvl_CUtilKvtExtract::GetInfo() const {
  return m_impl->chunk ? m_impl->chunk->GetInfo() : qvl_CUtilStr();
}

qvl_CUtilStr qvl_CUtilKvtExtract::ExtractStr(const char* key, bool optional, const char* def) {
  qvl_CUtilStr value;
  qvl_CUtilStr info;
  ExtractStr(value, info, key, optional, def);
  return value;
}

void qvl_CUtilKvtExtract::ExtractStr(qvl_CUtilStr& value, qvl_CUtilStr& info, const char* key, bool optional,
                                     const char* def) {
  int k = m_impl->FindSingle(key, optional, 1u << qvl_KvtTypeStr, "one string");
  if (k < 0) {
    value = def;
    info = GetInfo();
    return;
  }
  value = m_impl->chunk->GetValueStr(k, 0);
  info = m_impl->chunk->GetValuePos(k, 0).ToText(m_impl->chunk->GetFile());
}

bool qvl_CUtilKvtExtract::ExtractBool(const char* key, bool optional, bool def) {
  int k = m_impl->FindSingle(key, optional, 1u << qvl_KvtTypeInt, "one int (0 false, other true)");
  return k < 0 ? def : m_impl->chunk->GetValueInt(k, 0) != 0;
}

float qvl_CUtilKvtExtract::ExtractFloat(const char* key, bool optional, float def) {
  int k = m_impl->FindSingle(key, optional, (1u << qvl_KvtTypeFloat) | (1u << qvl_KvtTypeInt),
                             "one float or int");
  if (k < 0) return def;
  if (m_impl->chunk->GetValueType(k, 0) == qvl_KvtTypeInt) {
    return static_cast<float>(m_impl->chunk->GetValueInt(k, 0));
  }
  return m_impl->chunk->GetValueFloat(k, 0);
}

void qvl_CUtilKvtExtract::ExtractChunkArray(qvl_CUtilPtrArray<qvl_CUtilKvtChunk>& array, const char* key,
                                            bool optional) {
  int k = m_impl->Find(key);
  if (k < 0) {
    m_impl->Missing(key, optional, "chunks");
    return;
  }
  const qvl_CUtilKvtChunk* chunk = m_impl->chunk;
  int n = chunk->GetValueCnt(k);
  for (int v = 0; v < n; ++v) {
    if (chunk->GetValueType(k, v) != qvl_KvtTypeChunk) {
      m_impl->Mismatch(k, key, "only chunks");
      return;
    }
  }
  for (int v = 0; v < n; ++v) array.Append(chunk->PeekValueChunk(k, v));
}

void qvl_CUtilKvtExtract::CheckForUnknown() {
  const qvl_CUtilKvtChunk* chunk = m_impl->chunk;
  if (!chunk) return;
  for (int k = 0; k < chunk->GetKeyCnt(); ++k) {
    if (m_impl->used[static_cast<std::size_t>(k)]) continue;
    m_impl->used[static_cast<std::size_t>(k)] = 1;
    qvl_CUtilMsg msg("util/kvt/util_kvt_extract.unknown", "Unknown key '[1]'.");
    msg.AddInfo(chunk->GetKeyInfo(k));
    msg.AddInfo(chunk->GetKeyName(k));
    m_impl->Report(msg);
  }
}
