// A file read whole into memory at construction.
#include "util/file/util_file_cachedfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "util/str/util_str_strutil.h"

namespace {

void ReportFailure(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context, const char* key,
                   const char* text, const qvl_CUtilStr& path, const char* reason) {
  std::string id = "util/file/util_file_cachedfile.";
  id += key;
  qvl_CUtilMsg msg(qvl_CUtilStr(id.c_str()), text);
  msg.AddInfo(context);
  msg.AddInfo(path);
  msg.AddInfo(reason);
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

// Closes the descriptor on every path out of the constructor.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

qvl_CUtilCachedFile::qvl_CUtilCachedFile(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context,
                                         const qvl_CUtilStr& name, const qvl_CUtilStr& path, int cacheHint,
                                         std::int64_t maxSize)
    : m_name(name.IsEmpty() ? path : name) {
  (void)cacheHint;
  const char* kOpenText = "Cannot open \"[1]\" for reading: [2].";
  // Non-blocking, so that a named pipe without a writer cannot hang the open;
  // it is then refused as not a regular file. Reads of a regular file ignore the flag.
  FdCloser file{::open(path.GetChars(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) {
    ReportFailure(handler, context, "open_failed", kOpenText, path, std::strerror(errno));
    return;
  }
  struct stat st;
  if (::fstat(file.fd, &st) != 0) {
    ReportFailure(handler, context, "open_failed", kOpenText, path, std::strerror(errno));
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    ReportFailure(handler, context, "open_failed", kOpenText, path, std::strerror(EISDIR));
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    ReportFailure(handler, context, "open_failed", kOpenText, path, "not a regular file");
    return;
  }
  const std::int64_t size = static_cast<std::int64_t>(st.st_size);
  if ((maxSize >= 0 && size > maxSize) || static_cast<std::uint64_t>(size) >= m_data.max_size()) {
    std::string reason = "the file has ";
    reason += qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(size), 0, 0).View();
    reason += " bytes, more than allowed";
    ReportFailure(handler, context, "too_large", "Cannot read \"[1]\": [2].", path, reason.c_str());
    return;
  }
  // One read for the whole file; the loop only continues where the system
  // hands out less than asked (signals, very large files).
  // Without the memory for it the run cannot go on, as with any failed
  // allocation; but the message names the file and its size, so that the
  // cause is plain (a bare "bad_alloc" names nothing).
  try {
    m_data.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    qvl_CUtilMsg msg("util/file/util_file_cachedfile.no_memory",
                     "Cannot read \"[1]\": not enough memory for its [2] bytes.");
    msg.AddInfo(context);
    msg.AddInfo(path);
    msg.AddInfo(qvl_CUtilStrUtil::StrOfIntps(static_cast<std::intptr_t>(size), 0, 0));
    throw msg;
  }
  std::size_t done = 0;
  while (done < m_data.size()) {
    ssize_t n = ::read(file.fd, m_data.data() + done, m_data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      m_data.clear();
      m_data.shrink_to_fit();
      ReportFailure(handler, context, "read_failed", "Cannot read \"[1]\": [2].", path, std::strerror(err));
      return;
    }
    if (n == 0) break;  // the file shrank since fstat: keep what is there
    done += static_cast<std::size_t>(n);
  }
  m_data.resize(done);
  m_valid = true;
}
