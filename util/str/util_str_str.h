// Text value whose copies share one immutable, reference-counted storage.
#pragma once

#include <cstddef>
#include <string_view>

// Shared storage of a qvl_CUtilStr: a count, a length and the zero-terminated bytes.
struct qvl_CUtilStrEntry {
  int refCnt;
  std::size_t len;
  char chars[1];  // len bytes and a terminating zero follow
};

class qvl_CUtilStr {
public:
  qvl_CUtilStr() = default;
  // From a zero-terminated text; a null pointer gives "".
  qvl_CUtilStr(const char* chars);  // NOLINT: implicit on purpose, like a string literal
  // From len bytes (may hold zero bytes).
  qvl_CUtilStr(const char* chars, std::size_t len);
  explicit qvl_CUtilStr(std::string_view text) : qvl_CUtilStr(text.data(), text.size()) {}
  // Copying and releasing are inline: keys and values are copied on hot reading paths.
  qvl_CUtilStr(const qvl_CUtilStr& other) : m_entry(other.m_entry) {
    if (m_entry) ++m_entry->refCnt;
  }
  qvl_CUtilStr(qvl_CUtilStr&& other) noexcept : m_entry(other.m_entry) { other.m_entry = nullptr; }
  ~qvl_CUtilStr() {
    if (m_entry && --m_entry->refCnt == 0) Free(m_entry);
  }
  qvl_CUtilStr& operator=(const qvl_CUtilStr& other);
  qvl_CUtilStr& operator=(qvl_CUtilStr&& other) noexcept;
  qvl_CUtilStr& operator=(const char* chars);

  // Zero-terminated characters; never null ("" for an empty text).
  const char* GetChars() const { return m_entry ? m_entry->chars : ""; }
  std::size_t GetLen() const { return m_entry ? m_entry->len : 0; }
  bool IsEmpty() const { return GetLen() == 0; }
  std::string_view View() const { return {GetChars(), GetLen()}; }

  // Byte-wise comparison as unsigned bytes: 0 when equal, negative when this
  // text sorts first, positive otherwise.
  int Compare(const qvl_CUtilStr& other) const;
  int Compare(const char* chars) const;
  bool operator==(const qvl_CUtilStr& other) const { return Compare(other) == 0; }
  bool operator==(const char* chars) const { return Compare(chars) == 0; }

  // True when both values share one storage (copies do).
  bool SharesStorageWith(const qvl_CUtilStr& other) const { return m_entry == other.m_entry; }

private:
  void Drop();
  static void Free(qvl_CUtilStrEntry* entry);
  qvl_CUtilStrEntry* m_entry = nullptr;  // null for ""
};
