// The console texts of animinspect: summary, per-bone table, sampled pose and
// error report, each as lines without line feeds.
#pragma once

#include <string>
#include <vector>

#include "tool/animinspect/tool_animinspect_report.h"
#include "util/anim/util_anim_runtime.h"

// A number for people: up to six significant digits, "-" for NaN.
std::string FormatNum(double v);

// Encoding and size, range, keys and their smallest, largest and typical
// (median) spacing, bones, channels and whether packed, bytes per key and
// bone, masked bones with their weights.
std::vector<std::string> SummaryLines(const RuntimeAnim& anim);

// Per bone in file order: name, mask weight, the largest translation length
// and the largest rotation angle (degrees) over all keys.
std::vector<std::string> BoneLines(const RuntimeAnim& anim);

// The sampled relative pose of every bone at time t, ascending by name:
// translation, rotation x y z w with w ≥ 0, and angle (0 to 180 degrees)
// about a unit axis.
std::vector<std::string> PoseLines(const RuntimeAnim& anim, double t);

// The error report: one line per bone, the worst bones and the overall errors;
// then the object-space error (one line per bone, the worst bones, the
// overall errors, in centimetres too where the unit is known), or one line
// saying what it needs when the reference has no skeleton.
std::vector<std::string> ReportLines(const ErrorReport& report);

// How the shell distance was chosen, for people: "-shell 0.05", "the default
// 3 cm at 0.01 m per unit", or the default from the rest pose's size.
std::string ShellText(const ErrorReport& report);
