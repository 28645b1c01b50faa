// One reduction run of animreduce: its command line, the input and the
// job's source read, the keys reduced and the destination written.
#pragma once

#include "util/cmdline/util_cmdline_program.h"

// Runs animreduce for the command line of run (options first, then the
// runtime file and the destination). Problems are reported to run.handler at
// level 2 under "tool/animreduce/tool_animreduce_run.KEY" (the runtime
// reader's, the job's and the source reader's under their own ids); the
// destination is written through a temporary file and becomes final only
// when no error was counted. Progress and results are information lines.
void RunReduce(const qvl_CUtilProgramRun& run);

// The default bound in the file's units: 0.1 cm (0.001 / metersPerUnit)
// where the unit is known (> 0), else 0.05% of boxDiagonal, the diagonal of
// the box around the rest pose's joints, or 0.0005 units when that is 0 or
// not finite.
double DefaultReduceBound(double metersPerUnit, double boxDiagonal);
