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

// The pieces of the JSON text, shared with the page's data. A number in its
// shortest exact form, "null" where not finite (JsonNumF: a float of the file
// in its own shortest form, 0.033333335 rather than 0.0333333350718).
std::string JsonNum(double v);
std::string JsonNumF(float v);
// A JSON string: quote, backslash and control characters escaped; with
// escapeMarkup also '<', '>' and '&', so that no HTML parser reads markup in
// it ("</script>" in a name cannot end a script element).
std::string JsonStr(const std::string& s, bool escapeMarkup = false);
const char* JsonBool(bool b);
