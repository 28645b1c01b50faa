// A destination file that becomes final only when it is closed: bytes go to a
// temporary file beside it, which Close renames over the destination.
#pragma once

#include <cstdint>
#include <string>

#include "util/file/util_file_stream.h"
#include "util/msg/util_msg_handler.h"

// One entry of the temporary files a signal removes (util_file_destfile.cpp).
struct qvl_UtilFileTempSlot;

class qvl_CUtilDestFile : public qvl_CUtilStream {
 public:
  // Opens a write stream for path (a complete path). The temporary file
  // (".NAME.tmpXXXXXX" in the destination's directory) is created at once,
  // with the mode (and, where the process may set it, the owner) of the file
  // it replaces. What path names decides how it is written:
  // - a symbolic link: its final target is written as a plain path would be
  //   (temporary file beside the target) and the link stays as it is;
  // - a character or block device, a FIFO or a socket: no temporary file;
  //   the bytes are kept in memory and written to it on Close, so nothing
  //   reaches it from a run with errors;
  // - a directory: a failure.
  // While a temporary file exists, SIGINT, SIGTERM and SIGHUP remove it before
  // the process ends as the signal demands; SIGXFSZ is ignored, so that
  // passing the file-size limit is a write failure (EFBIG) like a full disk.
  // handler: receives the failures (level 2); null makes them thrown.
  // context: the context of those messages ("" when none).
  // name: the name GetPath gives; "" gives path itself.
  // replace: true lets Close replace an existing destination; false makes
  //   Close fail (reported) when the destination exists.
  // maxSize: the largest number of bytes accepted; negative for no limit.
  // Every failure to create, write, flush, close or rename is reported naming
  // the destination and the system's reason (ids under
  // "util/file/util_file_destfile."); after a failure the stream takes no
  // more bytes and Close does nothing but return false.
  qvl_CUtilDestFile(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context, const qvl_CUtilStr& name,
                    const qvl_CUtilStr& path, bool replace, std::int64_t maxSize);
  // Without a successful Close the temporary file is removed and the
  // destination is left exactly as it was (absent stays absent).
  ~qvl_CUtilDestFile() override;

  qvl_CUtilStr GetPath() const override { return m_name; }
  // Appends size bytes; they are collected and written in large pieces.
  bool Write(const void* data, std::size_t size) override;
  // Writes what is buffered, flushes it to the disk, closes the temporary
  // file and renames it over the destination. True on success; a second
  // call returns the first call's result.
  bool Close() override;

  // Writes what is buffered, flushes it to the disk and closes the temporary
  // file, keeping it (and its entry among the files a signal removes) for
  // Close, which then only renames it; the buffer's memory is given back, so
  // that many sealed files hold no descriptor and little memory. True on
  // success (a device or FIFO keeps its bytes in memory); after it Write
  // takes no more bytes. A second call returns the first call's result.
  bool Seal();

  // Makes the cnt files final together: each is sealed, then every
  // destination is checked (it is no directory, it may be replaced, its name
  // fits its directory's limit), and only then are the temporary files
  // renamed over their destinations, devices and FIFOs written last. When a
  // rename still fails, the destinations renamed before it go back to what
  // they were: an older file from a hard link taken before the first rename,
  // a new one removed. True when every file became final; otherwise every
  // temporary file is removed and the failure reported by the file it
  // concerns ("util/file/util_file_destfile.not_restored" as well when an
  // older file could not be kept, on a file system without hard links).
  // A signal during the renames themselves can leave some replaced.
  static bool CloseAll(qvl_CUtilDestFile* const* files, std::size_t cnt);

  // The temporary file's path ("" when none was created); for tests.
  const std::string& GetTempPath() const { return m_tempPath; }

 private:
  static constexpr std::size_t kBufferSize = std::size_t(1) << 20;

  bool FlushBuffer();
  // After the rename: the temporary file is the destination now.
  void Renamed();
  // 0 when the destination can take the rename, else the reason (errno).
  int CheckFinalName() const;
  bool CloseDirect();
  void Fail(const char* key, const char* text, int err);
  void Discard();

  qvl_CUtilPtr<qvl_CUtilMsgHandler> m_handler;
  qvl_CUtilStr m_context;
  qvl_CUtilStr m_name;
  qvl_CUtilStr m_path;
  std::string m_target;  // the file renamed over: path, or the final target of a link
  std::string m_tempPath;
  qvl_UtilFileTempSlot* m_tempSlot = nullptr;  // the temporary path's entry among those a signal removes
  std::string m_buffer;
  std::int64_t m_maxSize;
  std::int64_t m_written = 0;
  int m_fd = -1;
  bool m_replace;
  bool m_direct = false;  // a device, FIFO or socket: written in place on Close
  bool m_failed = false;
  bool m_sealed = false;
  bool m_sealResult = false;
  bool m_closed = false;
  bool m_closeResult = false;
};
