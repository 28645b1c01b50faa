// Writing of the importer's outputs: the rest pose and the clips as path
// animation files, and one job configuration per clip.
#pragma once

#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"
#include "util/kvt/util_kvt_seqwrite.h"

// The path animation format the files carry.
constexpr const char* kPathFormatName = "quorvel_path_5";

// Writes the rest pose: in the data chunk, before the paths, the key
// meters_per_unit (one float) where metersPerUnit (the size in metres of one
// written unit) is positive; one path per joint (joint order), named after
// it, with the key parent (one string, the parent joint's name) right after
// the name for every joint but the top ones, range 0 0, and one frame at time
// 0 with the rest translation (times scale, a unitless factor) and rotation.
// Calls writer->Finish.
void WriteRestFile(qvl_CUtilKvtSeqWrite* writer, const SourceModel& model, const JointSet& joints,
                   double scale, double metersPerUnit);

// Writes clip: one path per animated joint (joint order), range = the clip's
// first and last key time in seconds (start, end), frames at the track's
// own key times (TrackTimes), or at ResampleTimes(start, end, fps) when fps
// is positive; each frame holds the joint's local translation times scale and
// its rotation. Calls writer->Finish. Returns the number of frames written.
// When a frame holds a translation beyond the float range, or a frame time
// that as a float is not after the one before (resampling at a rate finer
// than a float resolves), the first such frame is described in *problem
// (left as it was otherwise: pass it empty); the file is then not to be used.
std::size_t WriteClipFile(qvl_CUtilKvtSeqWrite* writer, const SourceModel& model, const JointSet& joints,
                          const Clip& clip, double start, double end, double fps, double scale,
                          std::string* problem);

// The job configuration (data-tree text) that converts clip clipName (a
// sanitised name: no byte needs escaping) against the rest file.
std::string JobFileText(const std::string& clipName);
