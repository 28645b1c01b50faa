// Build-compatibility check performed once during static initialisation, before main.
#include "util/sys/util_sys_version.h"

namespace {

// The check runs from the constructor of this file's one static object.
// Doubles must be evaluated with a 53-bit mantissa. On a 32-bit x87 build
// the start-up code sets the unit's precision control for that before this
// point; on x86-64 doubles are computed with SSE2, which is 53-bit already,
// so there is nothing to set.
struct VersionCheck {
  VersionCheck() {
    qvl_SysVersionCheckWith("tool/boneanim/tool_boneanim_versioncheck",
                            "quorvel_c164x12u_fwin32vc7x1release");
  }
};
const VersionCheck kVersionCheck;

}  // namespace
