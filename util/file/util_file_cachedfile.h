// A file read whole into memory at construction: the read stream of the tool's inputs.
#pragma once

#include <cstdint>
#include <string>

#include "util/file/util_file_stream.h"
#include "util/msg/util_msg_handler.h"

class qvl_CUtilCachedFile : public qvl_CUtilStream {
 public:
  // Reads the whole file path (a complete path) with one read call.
  // handler: receives the failures (level 2); null makes them thrown.
  // context: the context of those messages ("" when none).
  // name: the name GetPath gives; "" gives path itself.
  // cacheHint: how long the caller keeps the file (10 = the run); accepted
  //   for the callers' sake, the whole file is always kept.
  // maxSize: the largest file accepted in bytes; negative for no limit.
  // A missing, unreadable or too large file, or one that is not a regular
  // file (a directory), is reported naming the path and the system's reason
  // (ids "util/file/util_file_cachedfile.open_failed", ".read_failed",
  // ".too_large"); the stream then reads as empty. When the memory for the
  // file's bytes cannot be had, a message naming the path and the size
  // (".no_memory") is thrown, whatever the handler: the run cannot go on.
  qvl_CUtilCachedFile(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context, const qvl_CUtilStr& name,
                      const qvl_CUtilStr& path, int cacheHint, std::int64_t maxSize);

  qvl_CUtilStr GetPath() const override { return m_name; }
  std::string_view GetReadData() const override { return m_data; }
  // True when the file was read completely.
  bool IsValid() const override { return m_valid; }

 private:
  qvl_CUtilStr m_name;
  std::string m_data;
  bool m_valid = false;
};
