// Fork, limits and pipe of qvl_ProcRunChild.
#include "util/proc/util_proc_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define QVL_PROC_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVL_PROC_ASAN 1
#endif
#endif

namespace {

// value lowered to the hard limit of resource the process has.
std::uint64_t Capped(int resource, std::uint64_t value) {
  struct rlimit cur;
  if (::getrlimit(resource, &cur) != 0 || cur.rlim_max == RLIM_INFINITY) return value;
  return value && value < cur.rlim_max ? value : cur.rlim_max;
}

// Sets the soft and hard limit of resource, each lowered to the hard limit
// the process has (a process may not raise it).
void Lower(int resource, std::uint64_t soft, std::uint64_t hard) {
  struct rlimit lim = {Capped(resource, soft), Capped(resource, hard)};
  ::setrlimit(resource, &lim);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

[[noreturn]] void RunInChild(const qvl_CUtilProcLimits& limits, const std::function<std::string()>& work,
                             int fd, pid_t parent) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
  // The child must not outlive a parent that was killed while it waited.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(126);
  Lower(RLIMIT_CORE, 0, 0);
  if (limits.stackBytes) Lower(RLIMIT_STACK, limits.stackBytes, limits.stackBytes);
  if (limits.addressBytes && qvl_ProcAddressLimitPossible())
    Lower(RLIMIT_AS, limits.addressBytes, limits.addressBytes);
  if (limits.cpuSeconds) Lower(RLIMIT_CPU, limits.cpuSeconds, limits.cpuSeconds + 1);
  int status = 0;
  try {
    const std::string result = work();
    status = WriteAll(fd, result.data(), result.size()) ? 0 : 124;
  } catch (...) {
    status = 125;
  }
  ::_exit(status);
}

}  // namespace

bool qvl_ProcAddressLimitPossible() {
#ifdef QVL_PROC_ASAN
  return false;
#else
  return true;
#endif
}

std::string qvl_ProcSignalText(int sig) {
  const char* name = ::strsignal(sig);
  std::string text = name ? name : "unknown signal";
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
      (text.size() < 2 || !(text[1] >= 'A' && text[1] <= 'Z')))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return "signal " + std::to_string(sig) + " (" + text + ")";
}

qvl_CUtilProcOutcome qvl_ProcRunChild(const qvl_CUtilProcLimits& limits,
                                      const std::function<std::string()>& work) {
  qvl_CUtilProcOutcome out;
  out.applied = limits;
  out.applied.stackBytes = Capped(RLIMIT_STACK, limits.stackBytes);
  out.applied.addressBytes = qvl_ProcAddressLimitPossible() ? Capped(RLIMIT_AS, limits.addressBytes) : 0;
  out.applied.cpuSeconds = static_cast<unsigned>(Capped(RLIMIT_CPU, limits.cpuSeconds));
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    out.problem = std::string("no pipe: ") + std::strerror(errno);
    return out;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    out.problem = std::string("no process: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return out;
  }
  if (pid == 0) {
    ::close(fds[0]);
    RunInChild(limits, work, fds[1], parent);
  }
  ::close(fds[1]);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limits.wallSeconds);
  bool killed = false;
  char buf[1 << 16];
  for (;;) {
    int timeout = -1;
    if (limits.wallSeconds) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        out.end = qvl_CUtilProcOutcome::End::kWallTime;
        killed = true;
        break;
      }
      timeout = left > 1000000 ? 1000000 : static_cast<int>(left);
    }
    struct pollfd p = {fds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (limits.resultBytes && out.result.size() + static_cast<std::size_t>(n) > limits.resultBytes) {
      out.end = qvl_CUtilProcOutcome::End::kTooLarge;
      killed = true;
      break;
    }
    out.result.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (killed) ::kill(pid, SIGKILL);
  int status = 0;
  struct rusage usage = {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  out.cpuUsed = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  if (killed) {
    out.result.clear();
    return out;
  }
  if (WIFEXITED(status)) {
    out.end = qvl_CUtilProcOutcome::End::kExited;
    out.exitCode = WEXITSTATUS(status);
  } else {
    out.end = qvl_CUtilProcOutcome::End::kSignal;
    out.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return out;
}
