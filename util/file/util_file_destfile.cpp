// A destination file that becomes final only when it is closed.
#include "util/file/util_file_destfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The mode a newly created file gets from the process's umask (mkstemp makes 0600).
mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

qvl_CUtilDestFile::qvl_CUtilDestFile(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context,
                                     const qvl_CUtilStr& name, const qvl_CUtilStr& path, bool replace,
                                     std::int64_t maxSize)
    : m_handler(handler),
      m_context(context),
      m_name(name.IsEmpty() ? path : name),
      m_path(path),
      m_maxSize(maxSize),
      m_replace(replace) {
  std::string_view p = path.View();
  struct stat st;
  if (p.empty() || p.back() == '/') {
    Fail("create_failed", "Cannot create \"[1]\": [2].", EISDIR);
    return;
  }
  if (::stat(path.GetChars(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Fail("create_failed", "Cannot create \"[1]\": [2].", EISDIR);
    return;
  }
  std::size_t slash = p.rfind('/');
  std::string dir = slash == std::string_view::npos ? std::string() : std::string(p.substr(0, slash + 1));
  std::string base(slash == std::string_view::npos ? p : p.substr(slash + 1));
  // The temporary name adds 11 bytes to the destination's; a long name is
  // cut so that the temporary one still fits the file system's limit.
  if (base.size() > 240) base.resize(240);
  std::string templ = dir + "." + base + ".tmpXXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    Fail("create_failed", "Cannot create a temporary file for \"[1]\" in its directory: [2].", errno);
    return;
  }
  m_fd = fd;
  m_tempPath.assign(buf.data());
  ::fchmod(m_fd, NewFileMode());
}

qvl_CUtilDestFile::~qvl_CUtilDestFile() {
  Discard();
}

void qvl_CUtilDestFile::Fail(const char* key, const char* text, int err) {
  m_failed = true;
  std::string id = "util/file/util_file_destfile.";
  id += key;
  qvl_CUtilMsg msg(qvl_CUtilStr(id.c_str()), text);
  msg.AddInfo(m_context);
  msg.AddInfo(m_path);
  msg.AddInfo(err ? std::strerror(err) : "the size limit is passed");
  qvl_CUtilMsgHandler::ReportError(m_handler.Get(), msg);
}

void qvl_CUtilDestFile::Discard() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (!m_tempPath.empty()) {
    ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
  }
  m_buffer.clear();
}

bool qvl_CUtilDestFile::FlushBuffer() {
  std::size_t done = 0;
  while (done < m_buffer.size()) {
    ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      Discard();
      Fail("write_failed", "Cannot write \"[1]\": [2].", err);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  m_buffer.clear();
  return true;
}

bool qvl_CUtilDestFile::Write(const void* data, std::size_t size) {
  if (m_failed || m_closed || m_fd < 0) return false;
  if (m_maxSize >= 0 &&
      static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(m_maxSize - m_written)) {
    Discard();
    Fail("too_large", "Cannot write \"[1]\": [2].", 0);
    return false;
  }
  m_written += static_cast<std::int64_t>(size);
  const char* bytes = static_cast<const char*>(data);
  if (m_buffer.capacity() < kBufferSize) m_buffer.reserve(kBufferSize);
  while (size > 0) {
    std::size_t room = kBufferSize - m_buffer.size();
    std::size_t take = size < room ? size : room;
    m_buffer.append(bytes, take);
    bytes += take;
    size -= take;
    if (m_buffer.size() == kBufferSize && !FlushBuffer()) return false;
  }
  return true;
}

bool qvl_CUtilDestFile::Close() {
  if (m_closed) return m_closeResult;
  m_closed = true;
  m_closeResult = false;
  if (m_failed || m_fd < 0) return false;
  if (!FlushBuffer()) return false;
  if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) {
    const int err = errno;
    Discard();
    Fail("flush_failed", "Cannot flush \"[1]\" to the disk: [2].", err);
    return false;
  }
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    Discard();
    Fail("close_failed", "Cannot close \"[1]\": [2].", err);
    return false;
  }
  if (!m_replace && ::access(m_path.GetChars(), F_OK) == 0) {
    Discard();
    Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", EEXIST);
    return false;
  }
  if (::rename(m_tempPath.c_str(), m_path.GetChars()) != 0) {
    const int err = errno;
    Discard();
    Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", err);
    return false;
  }
  m_tempPath.clear();
  m_closeResult = true;
  return true;
}
