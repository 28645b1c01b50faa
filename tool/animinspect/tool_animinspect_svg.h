// The error chart as plain SVG: no script, no external fonts or files.
#pragma once

#include <string>

#include "tool/animinspect/tool_animinspect_report.h"

// Above, the rotation error over time of the five worst kept bones (one
// polyline of class "series" each, named in a legend, axes with times and
// degrees); below, one bar per kept bone of its largest rotation error
// (class "bar"), ascending by name. A report without kept bones gives the
// axes and a note instead. With a skeleton, a third panel at the bottom: the
// object-space error over time of the five worst bones by it (class
// "obj-series"), on its own axis in the file's units.
std::string SvgChart(const ErrorReport& report);
