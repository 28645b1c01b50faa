// The report as one self-contained HTML page that plays the source and the
// runtime file side by side: script, style and data inline, no request.
#pragma once

#include <string>

#include "tool/animinspect/tool_animinspect_report.h"
#include "util/anim/util_anim_runtime.h"

// The error bound the page colours the file's bones against, in file units.
struct PageBound {
  double distance = 0.0;
  std::string source;  // how it was chosen, for the page's legend
};

// maxError (file units) where -max-error was given (maxError ≥ 0); else
// 0.1 cm where metersPerUnit > 0 is known, else 0.05% of the rest pose's
// diagonal (of 1 unit where all joints coincide).
PageBound ChoosePageBound(double maxError, double metersPerUnit, double restDiagonal);

// The page of anim's report with the clip's poses (BuildErrorReport with
// poses) and bound. The data is one JSON object in a script element of type
// application/json: strings with '<', '>' and '&' escaped as \u003c, \u003e
// and \u0026, so that no text of the inputs can close the element; positions,
// errors and times as base64 of little-endian float32. The page's script
// (tool_animinspect_html_page.js, embedded at build time) sets every name as
// text, never as markup.
std::string HtmlPage(const RuntimeAnim& anim, const ErrorReport& report, const ClipPoses& poses,
                     const PageBound& bound);
