// Shared-storage text value.
#include "util/str/util_str_str.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
qvl_CUtilStrEntry* MakeEntry(const char* chars, std::size_t len) {
  if (len == 0) return nullptr;
  void* mem = ::operator new(offsetof(qvl_CUtilStrEntry, chars) + len + 1);
  auto* entry = static_cast<qvl_CUtilStrEntry*>(mem);
  entry->refCnt = 1;
  entry->len = len;
  std::memcpy(entry->chars, chars, len);
  entry->chars[len] = '\0';
  return entry;
}
}  // namespace

qvl_CUtilStr::qvl_CUtilStr(const char* chars)
    : m_entry(chars ? MakeEntry(chars, std::strlen(chars)) : nullptr) {}

qvl_CUtilStr::qvl_CUtilStr(const char* chars, std::size_t len) : m_entry(MakeEntry(chars, len)) {}

void qvl_CUtilStr::Free(qvl_CUtilStrEntry* entry) {
  ::operator delete(entry);
}

qvl_CUtilStr& qvl_CUtilStr::operator=(const qvl_CUtilStr& other) {
  // Taken before Drop, which clears other.m_entry too when other is this.
  qvl_CUtilStrEntry* entry = other.m_entry;
  if (entry) ++entry->refCnt;
  Drop();
  m_entry = entry;
  return *this;
}

qvl_CUtilStr& qvl_CUtilStr::operator=(qvl_CUtilStr&& other) noexcept {
  if (this != &other) {
    Drop();
    m_entry = other.m_entry;
    other.m_entry = nullptr;
  }
  return *this;
}

qvl_CUtilStr& qvl_CUtilStr::operator=(const char* chars) {
  qvl_CUtilStr tmp(chars);
  return *this = std::move(tmp);
}

void qvl_CUtilStr::Drop() {
  if (m_entry && --m_entry->refCnt == 0) ::operator delete(m_entry);
  m_entry = nullptr;
}

namespace {
int CompareBytes(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;  // memcmp compares unsigned bytes
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
}  // namespace

int qvl_CUtilStr::Compare(const qvl_CUtilStr& other) const {
  if (m_entry == other.m_entry) return 0;
  return CompareBytes(View(), other.View());
}

int qvl_CUtilStr::Compare(const char* chars) const {
  return CompareBytes(View(), chars ? std::string_view(chars) : std::string_view());
}
