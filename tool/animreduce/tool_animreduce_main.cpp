// Program entry of animreduce: drops the key times of a runtime animation file
// that interpolation rebuilds within an object-space error bound.
#include "tool/animreduce/tool_animreduce_run.h"
#include "util/cmdline/util_cmdline_program.h"

namespace {

constexpr const char* kUsage =
    "animreduce: the fewest keys of a runtime animation file within an object-space error bound\n"
    "Parameters:\n"
    "    <runtime-file>                The runtime animation file (text or binary, plain or packed)\n"
    "    <dest-file>                   The reduced runtime animation file\n"
    "    -job <cfg-file>               The job that made the file (its source animation and reference)\n"
    "    [-refdir <refdir>]            Reference directory for the job's paths\n"
    "    [-max-error <distance>]       Largest object-space error (units; default 0.1 cm)\n"
    "    [-shell <distance>]           Distance from each joint of the object-space error (units)\n"
    "    [-binary <bool>]              Write binary (default: the input's encoding)\n"
    "    [-quiet <bool>]               Only display errors\n";

}  // namespace

int main(int argc, char** argv) {
  return qvl_CUtilProgram::Main(argc, argv, kUsage, [](const qvl_CUtilProgramRun& run) { RunReduce(run); });
}
