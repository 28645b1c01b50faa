// Work run in a child process under limits of address space, stack and
// processor time, its result handed back over a pipe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The limits of a child; 0 leaves that limit as the parent has it. A limit
// is only ever lowered below the parent's own hard limit, never raised.
struct qvl_CUtilProcLimits {
  std::uint64_t addressBytes = 0;  // address space (RLIMIT_AS), bytes
  std::uint64_t stackBytes = 0;    // stack of the main thread (RLIMIT_STACK), bytes
  unsigned cpuSeconds = 0;         // processor time (RLIMIT_CPU): SIGXCPU, then SIGKILL a second later
  unsigned wallSeconds = 0;        // time on the clock; the parent kills the child with SIGKILL after it
  std::uint64_t resultBytes = 0;   // the most the parent accepts from the child, bytes
};

// How a child ended.
struct qvl_CUtilProcOutcome {
  enum class End {
    kExited,      // it exited; exitCode holds the status, result what it handed back
    kSignal,      // a signal ended it (signal); SIGXCPU or SIGKILL after cpuSeconds of processor time
    kWallTime,    // the parent killed it after wallSeconds
    kTooLarge,    // its result grew beyond resultBytes; the parent killed it
    kNotStarted,  // no pipe or no process could be made (problem holds the system's reason)
  };
  End end = End::kNotStarted;
  int exitCode = -1;
  int signal = 0;
  std::string result;
  std::string problem;
  double cpuUsed = 0.0;  // the processor time the child used (user and system), seconds
  // The limits the child ran under: those asked for, lowered to the hard
  // limits the parent has; addressBytes 0 in a build with the address
  // sanitizer (see below) or where neither sets one.
  qvl_CUtilProcLimits applied;
};

// True when this build runs under the address sanitizer, whose shadow memory
// needs far more address space than any useful limit: RLIMIT_AS is not set then.
bool qvl_ProcAddressLimitPossible();

// Runs work in a forked child under limits and returns how it ended. The
// child sets its limits (and no core file), restores the default action of
// SIGINT, SIGTERM and SIGHUP (the parent's cleanup handlers are not its to
// run), dies with its parent, runs work, writes the string work returns to
// the pipe and leaves with _exit(0) (no atexit handler, no stdio flush, no
// static destructors of the parent's state). An exception out of work ends
// the child with status 125. The parent reads the result as it comes, so
// that a large one cannot block the child, then reaps the child. Never
// throws for a failure of the child; std::bad_alloc only when the parent
// itself runs out of memory.
qvl_CUtilProcOutcome qvl_ProcRunChild(const qvl_CUtilProcLimits& limits,
                                      const std::function<std::string()>& work);

// "signal 11 (segmentation fault)": the number and the system's name for it, in lower case.
std::string qvl_ProcSignalText(int sig);
