// Unformatted writing to standard output.
#include "util/sys/util_sys_stdout.h"

#include <cstdio>

void qvl_SysStdOutWrite(const char* text) {
  if (!text) return;
  std::fputs(text, stdout);
  std::fflush(stdout);
}
