// A destination file that becomes final only when it is closed.
#include "util/file/util_file_destfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

struct qvl_UtilFileTempSlot {
  std::atomic<char*> path{nullptr};
  qvl_UtilFileTempSlot* next = nullptr;      // the list the handler walks; set before it is published
  qvl_UtilFileTempSlot* nextFree = nullptr;  // the free slots; only under g_tempMutex
  char* reserved = nullptr;                  // the buffer taken for the next path
};

namespace {

// The mode a newly created file gets from the process's umask (mkstemp makes 0600).
mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The temporary files that exist, for the signal handler: a list of nodes,
// each holding a copy of one path or null. Nodes are never freed, so that a
// handler walking the list never meets freed memory; a node whose path went
// is reused. The list grows with the most temporary files that existed at
// once, so that a signal removes every one of them.
std::atomic<qvl_UtilFileTempSlot*> g_tempHead{nullptr};
std::mutex g_tempMutex;
qvl_UtilFileTempSlot* g_freeNodes = nullptr;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes every registered temporary file, then ends the process with the
// signal's default action, so that the parent still sees the signal as the
// cause. Only async-signal-safe calls.
extern "C" void RemoveTempFilesAndReraise(int sig) {
  for (qvl_UtilFileTempSlot* node = g_tempHead.load(); node; node = node->next) {
    const char* path = node->path.load();
    if (path) ::unlink(path);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // blocked while the handler runs: delivered when it returns
}

// Installs the handler for the signals that end a run from outside, unless
// the program or its parent chose another disposition (nohup ignores SIGHUP),
// and makes SIGXFSZ a plain write error instead of the end of the process.
void InstallSignalHandlers() {
  struct sigaction old;
  for (int sig : kCleanupSignals) {
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction sa = {};
    sa.sa_handler = RemoveTempFilesAndReraise;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    ::sigaction(sig, &sa, nullptr);
  }
  if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) ::signal(SIGXFSZ, SIG_IGN);
}

// A node with a path buffer of len + 1 bytes, taken before the file it is
// for exists, so that nothing is allocated between the file's creation and
// its registration (an allocation failure there would leave the file behind).
qvl_UtilFileTempSlot* ReserveTempSlot(std::size_t len) {
  char* copy = new char[len + 1];
  std::lock_guard<std::mutex> lock(g_tempMutex);
  qvl_UtilFileTempSlot* node = g_freeNodes;
  if (node) {
    g_freeNodes = node->nextFree;
  } else {
    try {
      node = new qvl_UtilFileTempSlot;
    } catch (...) {
      delete[] copy;
      throw;
    }
    node->next = g_tempHead.load();
    g_tempHead.store(node);
  }
  node->reserved = copy;
  return node;
}

// Enters path (at most the reserved length) into the slot; no allocation.
void PublishTempSlot(qvl_UtilFileTempSlot* slot, const char* path) {
  std::strcpy(slot->reserved, path);
  slot->path.store(slot->reserved);
  slot->reserved = nullptr;
}

// Takes the path out before its copy goes, so that a handler never sees freed
// memory, and gives the slot back (null does nothing). No allocation, no exception.
void ReleaseTempSlot(qvl_UtilFileTempSlot* slot) {
  if (!slot) return;
  delete[] slot->path.exchange(nullptr);
  delete[] slot->reserved;
  slot->reserved = nullptr;
  std::lock_guard<std::mutex> lock(g_tempMutex);
  slot->nextFree = g_freeNodes;
  g_freeNodes = slot;
}

// The file that path finally names after following symbolic links (path
// itself when it is none), into target; false with err set after 40 links
// (a loop) or on a link that cannot be read.
bool ResolveLinks(std::string path, std::string* target, int* err) {
  for (int i = 0; i < 40; ++i) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = path;
      return true;
    }
    char text[4096];
    const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
    if (n < 0 || n == static_cast<ssize_t>(sizeof text)) {
      *err = n < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    // A relative link text is taken against the link's own directory.
    const std::size_t slash = path.rfind('/');
    if (text[0] == '/' || slash == std::string::npos) {
      path.assign(text, static_cast<std::size_t>(n));
    } else {
      path.resize(slash + 1);
      path.append(text, static_cast<std::size_t>(n));
    }
  }
  *err = ELOOP;
  return false;
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
  if (p.empty() || p.back() == '/') {
    Fail("create_failed", "Cannot create \"[1]\": [2].", EISDIR);
    return;
  }
  // What the path finally names, links followed.
  struct stat st;
  const bool exists = ::stat(path.GetChars(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    Fail("create_failed", "Cannot create \"[1]\": [2].", EISDIR);
    return;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A rename would put a plain file in the place of the device or FIFO.
    m_direct = true;
    return;
  }
  int err = 0;
  if (!ResolveLinks(std::string(p), &m_target, &err)) {
    Fail("create_failed", "Cannot create \"[1]\": [2].", err);
    return;
  }
  const std::size_t slash = m_target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
  // The temporary name adds 11 bytes to the destination's; a long name is
  // cut so that the temporary one still fits the file system's limit.
  if (base.size() > 240) base.resize(240);
  std::string templ = dir + "." + base + ".tmpXXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  // Everything the registration needs is taken first, and no signal comes
  // between the creation and the registration, or the file would stay.
  qvl_UtilFileTempSlot* slot = ReserveTempSlot(templ.size());
  m_tempPath.reserve(templ.size());
  InstallSignalHandlers();
  sigset_t block, saved;
  sigemptyset(&block);
  for (int sig : kCleanupSignals) sigaddset(&block, sig);
  ::sigprocmask(SIG_BLOCK, &block, &saved);
  int fd = ::mkstemp(buf.data());
  const int mkstempErr = errno;
  if (fd >= 0) {
    m_tempPath.assign(buf.data());
    PublishTempSlot(slot, buf.data());
    m_tempSlot = slot;
  }
  ::sigprocmask(SIG_SETMASK, &saved, nullptr);
  if (fd < 0) {
    ReleaseTempSlot(slot);
    Fail("create_failed", "Cannot create a temporary file for \"[1]\" in its directory: [2].", mkstempErr);
    return;
  }
  m_fd = fd;
  if (exists) {
    // The replacement keeps the file's owner where the process may set it
    // (the group alone when only that is allowed), then its mode; the order
    // matters, as a change of owner clears set-id bits.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(m_fd, st.st_uid, st.st_gid) != 0) {
      [[maybe_unused]] int ignored = ::fchown(m_fd, static_cast<uid_t>(-1), st.st_gid);
    }
    ::fchmod(m_fd, st.st_mode & 07777);
  } else {
    ::fchmod(m_fd, NewFileMode());
  }
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
  ReleaseTempSlot(m_tempSlot);
  m_tempSlot = nullptr;
  m_buffer.clear();
  m_buffer.shrink_to_fit();
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
  if (m_failed || m_closed || m_sealed || (m_fd < 0 && !m_direct)) return false;
  if (m_maxSize >= 0 &&
      static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(m_maxSize - m_written)) {
    Discard();
    Fail("too_large", "Cannot write \"[1]\": [2].", 0);
    return false;
  }
  m_written += static_cast<std::int64_t>(size);
  const char* bytes = static_cast<const char*>(data);
  if (m_direct) {
    // Everything stays in memory until Close decides that it is written.
    m_buffer.append(bytes, size);
    return true;
  }
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

bool qvl_CUtilDestFile::Seal() {
  if (m_sealed) return m_sealResult;
  m_sealed = true;
  m_sealResult = false;
  if (m_failed) return false;
  if (m_direct) return m_sealResult = true;
  if (m_fd < 0) return false;
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
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  return m_sealResult = true;
}

bool qvl_CUtilDestFile::Close() {
  if (m_closed) return m_closeResult;
  m_closed = true;
  m_closeResult = false;
  if (m_failed) return false;
  if (m_direct) return m_closeResult = CloseDirect();
  if (!Seal()) return false;
  if (!m_replace && ::access(m_path.GetChars(), F_OK) == 0) {
    Discard();
    Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", EEXIST);
    return false;
  }
  if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
    const int err = errno;
    Discard();
    Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", err);
    return false;
  }
  Renamed();
  return true;
}

void qvl_CUtilDestFile::Renamed() {
  // Taken out of the signal's list only now: a signal after the rename finds
  // no file of that name, one before it removes the temporary file.
  m_tempPath.clear();
  ReleaseTempSlot(m_tempSlot);
  m_tempSlot = nullptr;
  m_closed = true;
  m_closeResult = true;
}

int qvl_CUtilDestFile::CheckFinalName() const {
  struct stat st;
  const bool exists = ::lstat(m_target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return EISDIR;
  if (exists && !m_replace) return EEXIST;
  const std::size_t slash = m_target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : m_target.substr(0, slash + 1);
  const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  const std::size_t nameLen = slash == std::string::npos ? m_target.size() : m_target.size() - slash - 1;
  if (nameMax > 0 && nameLen > static_cast<std::size_t>(nameMax)) return ENAMETOOLONG;
  return 0;
}

bool qvl_CUtilDestFile::CloseAll(qvl_CUtilDestFile* const* files, std::size_t cnt) {
  auto discardAll = [&] {
    for (std::size_t i = 0; i < cnt; ++i) {
      files[i]->Discard();
      files[i]->m_closed = true;
      files[i]->m_closeResult = false;
    }
    return false;
  };
  for (std::size_t i = 0; i < cnt; ++i) {
    if (files[i]->m_closed || !files[i]->Seal()) return discardAll();
  }
  // Every name is checked before the first rename.
  for (std::size_t i = 0; i < cnt; ++i) {
    qvl_CUtilDestFile* f = files[i];
    const int err = f->m_direct ? (f->m_replace ? 0 : EEXIST) : f->CheckFinalName();
    if (err == 0) continue;
    discardAll();
    f->Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", err);
    return false;
  }
  // A hard link to each older file keeps it until every rename went through.
  std::vector<std::string> backups(cnt);
  std::vector<qvl_UtilFileTempSlot*> backupSlots(cnt, nullptr);
  std::vector<char> existed(cnt, 0);
  auto dropBackups = [&] {
    for (std::size_t i = 0; i < cnt; ++i) {
      if (!backupSlots[i]) continue;
      ::unlink(backups[i].c_str());
      ReleaseTempSlot(backupSlots[i]);
      backupSlots[i] = nullptr;
    }
  };
  for (std::size_t i = 0; i < cnt; ++i) {
    const qvl_CUtilDestFile* f = files[i];
    if (f->m_direct) continue;
    existed[i] = ::access(f->m_target.c_str(), F_OK) == 0;
    if (!existed[i]) continue;
    backups[i] = f->m_tempPath + ".old";
    qvl_UtilFileTempSlot* slot = ReserveTempSlot(backups[i].size());
    if (::link(f->m_target.c_str(), backups[i].c_str()) != 0) {
      ReleaseTempSlot(slot);  // no hard links here: that file cannot be restored
      continue;
    }
    PublishTempSlot(slot, backups[i].c_str());
    backupSlots[i] = slot;
  }
  for (std::size_t i = 0; i < cnt; ++i) {
    qvl_CUtilDestFile* f = files[i];
    if (f->m_direct || ::rename(f->m_tempPath.c_str(), f->m_target.c_str()) == 0) continue;
    const int err = errno;
    // The destinations renamed so far go back to what they were.
    bool restored = true;
    for (std::size_t j = 0; j < i; ++j) {
      const qvl_CUtilDestFile* g = files[j];
      if (g->m_direct) continue;
      if (backupSlots[j]) {
        restored = ::rename(backups[j].c_str(), g->m_target.c_str()) == 0 && restored;
      } else if (!existed[j]) {
        ::unlink(g->m_target.c_str());
      } else {
        restored = false;
      }
    }
    dropBackups();
    discardAll();
    f->Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", err);
    if (!restored) {
      f->Fail("not_restored", "Cannot restore the files replaced before \"[1]\" failed: [2].", ENOTSUP);
    }
    return false;
  }
  dropBackups();
  bool ok = true;
  for (std::size_t i = 0; i < cnt; ++i) {
    if (!files[i]->m_direct) files[i]->Renamed();
  }
  // Devices and FIFOs last: their bytes cannot be taken back.
  for (std::size_t i = 0; i < cnt; ++i) {
    if (files[i]->m_direct) ok = files[i]->Close() && ok;
  }
  return ok;
}

bool qvl_CUtilDestFile::CloseDirect() {
  if (!m_replace) {
    Discard();
    Fail("rename_failed", "Cannot replace \"[1]\" with the written file: [2].", EEXIST);
    return false;
  }
  // A FIFO blocks here until a reader opens it, as any writer to one would.
  const int fd = ::open(m_path.GetChars(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    Discard();
    Fail("open_failed", "Cannot open \"[1]\" for writing: [2].", err);
    return false;
  }
  m_fd = fd;
  if (!FlushBuffer()) return false;
  m_fd = -1;
  if (::close(fd) != 0) {
    const int err = errno;
    Discard();
    Fail("close_failed", "Cannot close \"[1]\": [2].", err);
    return false;
  }
  return true;
}
