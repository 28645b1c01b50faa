// Shared by the fuzz targets: the check that stops a target on a broken
// promise, and the small input splitting the targets use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// What a failed check does: print and abort (libFuzzer records the input as a
// crash). The regression tests replace it with one that throws, so that a
// finding fails its test instead of ending the test program.
using qvl_FuzzFailFunc = void (*)(const char* what, const char* file, int line);
inline qvl_FuzzFailFunc& qvl_FuzzFailHook() {
  static qvl_FuzzFailFunc hook = nullptr;
  return hook;
}
[[noreturn]] inline void qvl_FuzzFail(const char* what, const char* file, int line) {
  if (qvl_FuzzFailHook()) qvl_FuzzFailHook()(what, file, line);
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::abort();
}
#define QVL_FUZZ_CHECK(cond) ((cond) ? static_cast<void>(0) : qvl_FuzzFail(#cond, __FILE__, __LINE__))

// Takes the bytes of an input in order; reads past the end give zeros and empty texts.
class qvl_FuzzInput {
 public:
  qvl_FuzzInput(const std::uint8_t* data, std::size_t size)
      : m_p(reinterpret_cast<const char*>(data)), m_left(size) {}
  std::uint8_t Byte() {
    if (m_left == 0) return 0;
    --m_left;
    return static_cast<std::uint8_t>(*m_p++);
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  // The next n bytes (fewer at the end).
  std::string_view Bytes(std::size_t n) {
    if (n > m_left) n = m_left;
    std::string_view s(m_p, n);
    m_p += n;
    m_left -= n;
    return s;
  }
  std::string_view Rest() { return Bytes(m_left); }
  std::size_t Left() const { return m_left; }

 private:
  const char* m_p;
  std::size_t m_left;
};
