// Reader of BVH motion capture files (plain text: a joint hierarchy, then one
// line of channel values per frame) into the importer's model.
#pragma once

#include <string>
#include <string_view>

#include "tool/animimport/tool_animimport_model.h"

// Limits on what a BVH file may declare; larger files are refused, not trusted.
constexpr int kBvhMaxJoints = 10000;
constexpr int kBvhMaxDepth = 512;
constexpr double kBvhMaxFrames = 50'000'000;
constexpr std::size_t kBvhMaxNameLen = 1024;

// Reads text, the whole content of the BVH file named file, into model: one
// node per ROOT and JOINT (an End Site is not a node) with its OFFSET as rest
// translation and no rest rotation, and one unnamed clip whose frame i lies
// at i x Frame Time seconds. A joint's translation key is its OFFSET with each
// component that has a position channel replaced by that channel's value (for
// every joint, the root included); its rotation key is the product of its
// rotation channels in their declared order (degrees, the first channel
// outermost). A joint without channels gets no track. The file gives no unit
// (model->metersPerUnit stays 0).
// Every problem is reported to handler at level 2 with the context
// "FILE:LINE:COL" (1-based) and stops the reading; false then, and model is
// left in an unspecified state. A frame count in the header that differs
// from the frame lines the file holds is a warning (level 5): the frames
// there are are read.
bool ReadBvh(qvl_CUtilMsgHandler* handler, const std::string& file, std::string_view text,
             SourceModel* model);
