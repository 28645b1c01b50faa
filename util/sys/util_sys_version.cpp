// Build-compatibility check between a program and the runtime it is linked with.
#include "util/sys/util_sys_version.h"

#include <cstdio>
#include <cstring>
#include <limits>

// What the tag promises about the float layout holds for this build.
static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4, "32-bit IEEE floats required");
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8, "64-bit IEEE doubles required");

bool qvl_SysVersionCheckWith(const char* sourcePath, const char* buildTag) {
  if (buildTag && std::strcmp(buildTag, qvl_kSysBuildTag) == 0) return true;
  std::fflush(stdout);
  std::fprintf(stderr, "%s: warning: built for runtime \"%s\", but the runtime is \"%s\"\n",
               sourcePath ? sourcePath : "", buildTag ? buildTag : "", qvl_kSysBuildTag);
  std::fflush(stderr);
  return false;
}
