// Runs a built program as a user would, in a given directory, and collects
// its exit code and both output streams.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/util/file/util_file_testdir.h"

struct qvl_TestOutcome {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs exe with args in the directory cwd. Both streams go to files outside
// cwd, so that the directory holds only what the run made. addressLimit, when
// not 0, caps the program's address space (bytes), to make allocations fail;
// cpuSeconds, when not 0, its processor time (SIGXCPU, then SIGKILL, end it).
inline qvl_TestOutcome qvl_TestRunProgram(const char* exe, const std::string& cwd,
                                          const std::vector<std::string>& args,
                                          unsigned long long addressLimit = 0, unsigned cpuSeconds = 0) {
  qvl_TestDir capture;
  const std::string outPath = capture / "stdout", errPath = capture / "stderr";
  qvl_TestOutcome r;
  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(120);
    if (addressLimit != 0) {
      struct rlimit lim = {addressLimit, addressLimit};
      if (::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(122);
    }
    if (cpuSeconds != 0) {
      struct rlimit lim = {cpuSeconds, cpuSeconds + 1};
      if (::setrlimit(RLIMIT_CPU, &lim) != 0) ::_exit(123);
    }
    std::vector<char*> argv{const_cast<char*>(exe)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe, argv.data());
    ::_exit(121);
  }
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = qvl_TestDir::ReadFile(outPath);
  r.err = qvl_TestDir::ReadFile(errPath);
  return r;
}
