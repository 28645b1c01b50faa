// Tests of qvl_ProcRunChild: every way a child can end, each limit, and that
// the child leaves the parent's state (stdio buffers, signal handlers) alone.
#include "util/proc/util_proc_child.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {

using End = qvl_CUtilProcOutcome::End;

volatile unsigned long g_sink = 0;

// Recursion the compiler cannot turn into a loop: a frame of 4 KiB per level.
int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  return depth > 0 ? Recurse(depth - 1) + frame[0] : frame[0];
}

std::string DeepRecursion() {
  return std::to_string(Recurse(4096));
}
std::string Spin() {
  for (unsigned long i = 0;; ++i) g_sink = i;
}
std::string SleepLong() {
  std::this_thread::sleep_for(std::chrono::seconds(20));
  return "late";
}
std::string Segfault() {
  ::raise(SIGSEGV);
  return "";
}
std::string AllocateTooMuch() {
  try {
    std::vector<char> big(512u << 20);
    return "allocated";
  } catch (const std::bad_alloc&) {
    return "no memory";
  }
}

TEST(UtilProcChild, EveryWayOfEndingIsTold) {
  const bool asan = !qvl_ProcAddressLimitPossible();
  const std::string large(8 << 20, 'x');
  struct Case {
    const char* name;
    qvl_CUtilProcLimits limits;
    std::function<std::string()> work;
    End end;
    int code;            // exit code for kExited, signal for kSignal, else 0
    std::string result;  // handed back; none unless kExited
  };
  std::vector<Case> cases = {
      {"result", {}, [] { return std::string("model"); }, End::kExited, 0, "model"},
      // Larger than a pipe's buffer: the parent reads while the child writes.
      {"large result", {}, [&] { return large; }, End::kExited, 0, large},
      {"exception", {}, []() -> std::string { throw 1; }, End::kExited, 125, ""},
      {"abort", {}, []() -> std::string { std::abort(); }, End::kSignal, SIGABRT, ""},
      {"processor time", {0, 0, 1, 30, 0}, Spin, End::kSignal, SIGXCPU, ""},
      {"clock time", {0, 0, 0, 1, 0}, SleepLong, End::kWallTime, 0, ""},
      {"result too large", {0, 0, 0, 0, 1000}, [&] { return large; }, End::kTooLarge, 0, ""},
      // The sanitizer reports a fault itself and exits with status 1.
      {"segfault", {}, Segfault, asan ? End::kExited : End::kSignal, asan ? 1 : SIGSEGV, ""},
  };
  if (!asan) {
    // An allocation beyond the address space fails as bad_alloc in the child only.
    cases.push_back(
        {"address space", {256u << 20, 0, 0, 0, 0}, AllocateTooMuch, End::kExited, 0, "no memory"});
    cases.push_back({"stack", {0, 1u << 20, 0, 0, 0}, DeepRecursion, End::kSignal, SIGSEGV, ""});
  }
  for (const Case& c : cases) {
    const qvl_CUtilProcOutcome out = qvl_ProcRunChild(c.limits, c.work);
    const int code = out.end == End::kExited ? out.exitCode : out.end == End::kSignal ? out.signal : 0;
    EXPECT_TRUE(out.end == c.end && code == c.code && out.result == c.result)
        << c.name << ": end " << static_cast<int>(out.end) << ", code " << code << ", " << out.result.size()
        << " bytes of result";
    // The limit is counted in ticks, the time used more finely: it may read a little less.
    if (c.limits.cpuSeconds) {
      EXPECT_GE(out.cpuUsed, c.limits.cpuSeconds - 0.5) << c.name;
    }
  }
  // The same work without the limits goes through.
  EXPECT_EQ(qvl_ProcRunChild({}, [] { return std::to_string(Recurse(512)); }).end, End::kExited);
}

TEST(UtilProcChild, LimitsAreLoweredToTheParentsAndNeverRaised) {
  const qvl_CUtilProcOutcome out =
      qvl_ProcRunChild({std::uint64_t(1) << 62, 1u << 20, 7, 0, 0}, [] { return std::string(); });
  EXPECT_EQ(out.applied.stackBytes, 1u << 20);
  EXPECT_EQ(out.applied.cpuSeconds, 7u);
  EXPECT_EQ(out.applied.addressBytes > 0, qvl_ProcAddressLimitPossible());
}

int g_termSeen = 0;
void OnTerm(int) {
  g_termSeen = 1;
}

TEST(UtilProcChild, TheChildRunsNoneOfTheParentsHandlersOrBuffers) {
  // A buffered, unflushed line of the parent: the child must not flush it as well.
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("once\n", f);
  // The parent's handler of SIGTERM is not the child's.
  struct sigaction sa = {}, old = {};
  sa.sa_handler = OnTerm;
  ::sigaction(SIGTERM, &sa, &old);
  const qvl_CUtilProcOutcome out = qvl_ProcRunChild({}, []() -> std::string {
    ::raise(SIGTERM);
    return "survived";
  });
  ::sigaction(SIGTERM, &old, nullptr);
  EXPECT_TRUE(out.end == End::kSignal && out.signal == SIGTERM) << out.result;
  EXPECT_EQ(g_termSeen, 0);
  EXPECT_EQ(qvl_ProcRunChild({}, [] { return std::string("x"); }).result, "x");
  std::fflush(f);
  std::rewind(f);
  char buf[64] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 5u);
  std::fclose(f);
  EXPECT_EQ(qvl_ProcSignalText(SIGSEGV), "signal 11 (segmentation fault)");
  EXPECT_EQ(qvl_ProcSignalText(SIGXCPU), "signal 24 (CPU time limit exceeded)");
}

}  // namespace
