// The report as JSON, with its keys in a fixed order so that files of two runs
// compare line by line.
#pragma once

#include <string>

#include "tool/animinspect/tool_animinspect_report.h"
#include "util/anim/util_anim_runtime.h"

// {"file", "summary": {...}} and, with a report, "bones" and "overall"; the
// schema is in docs/inspect.md. Numbers are written in their shortest exact
// form, non-finite numbers and the fields that do not apply as null. Strings
// are escaped (quote, backslash and control characters); other bytes pass
// through unchanged.
std::string JsonReport(const RuntimeAnim& anim, const ErrorReport* report);
