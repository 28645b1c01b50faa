// Byte streams: the base that readers and writers of data trees work on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// A stream is read whole (readers parse straight from its bytes) or written
// in appended pieces. Failures are reported by the stream itself through its
// own message handler; callers need not test the results.
class qvl_CUtilStream : public qvl_CUtilPtrBase {
public:
  // The path of the file behind the stream, "" when there is none; readers
  // use it in context texts when their caller gives no name.
  virtual qvl_CUtilStr GetPath() const = 0;
  // The whole readable content; empty for a write stream or an unreadable file.
  // The bytes stay valid as long as the stream lives.
  virtual std::string_view GetReadData() const { return {}; }
  // False when the stream could not be opened or read (already reported by
  // the stream); readers then read nothing and report nothing more.
  virtual bool IsValid() const { return true; }
  // Appends size bytes. False when the stream cannot take them (reported by the stream).
  virtual bool Write(const void* data, std::size_t size) {
    (void)data;
    (void)size;
    return false;
  }
  // Makes what was written final. False on failure (reported by the stream).
  virtual bool Close() { return true; }
};

// A stream over memory: reads the text it was given, collects what is written.
class qvl_CUtilMemStream : public qvl_CUtilStream {
public:
  qvl_CUtilMemStream() = default;
  explicit qvl_CUtilMemStream(std::string data, const qvl_CUtilStr& path = qvl_CUtilStr())
      : m_data(std::move(data)), m_path(path) {}
  qvl_CUtilStr GetPath() const override { return m_path; }
  std::string_view GetReadData() const override { return m_data; }
  bool Write(const void* data, std::size_t size) override {
    m_data.append(static_cast<const char*>(data), size);
    return true;
  }
  const std::string& GetData() const { return m_data; }

private:
  std::string m_data;
  qvl_CUtilStr m_path;
};
