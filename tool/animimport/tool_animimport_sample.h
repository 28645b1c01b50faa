// Sampling of a model's channels at chosen times, the frame times of a clip,
// and the names its clips are written under.
#pragma once

#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"

// Quaternion product a ⊗ b (b applied first to a vector), x y z w.
Quatd QuatMul(const Quatd& a, const Quatd& b);
// q scaled to unit length; the identity when q has no length.
Quatd QuatNormalize(const Quatd& q);
// Spherical linear interpolation from a to b on the shorter arc (b's sign is
// flipped when a · b < 0), u in [0, 1]; the result is unit length.
Quatd QuatSlerp(const Quatd& a, Quatd b, double u);

// The value of a 3-wide channel at time t in seconds: before the first key
// the first value, after the last key the last one, in between as ch.interp
// says. rest when the channel has no keys.
Vector3d EvalVec(const Channel& ch, double t, const Vector3d& rest);
// The same for a rotation channel; the result is normalised (a cubic spline
// does not keep unit length) and keeps the sign the keys give.
Quatd EvalQuat(const Channel& ch, double t, const Quatd& rest);

// The smallest and the largest key time over every channel of clip; false
// when the clip has no key at all.
bool ClipRange(const Clip& clip, double* start, double* end);

// The frame times of one track: the union of its translation and rotation key
// times, ascending without repeats; the scale key times when both are empty.
std::vector<double> TrackTimes(const NodeTrack& track);

// start + i / rate (in double) for every i with that time below end - 1e-6,
// then end itself; rate in frames per second, positive. start == end gives
// one time.
std::vector<double> ResampleTimes(double start, double end, double rate);

// name with every byte other than A-Z a-z 0-9 _ - . replaced by '_'.
std::string SanitizeName(const std::string& name);

// name itself when it has at most kMaxClipNameBytes bytes; otherwise its
// first kMaxClipNameBytes - 9 bytes, '~' and 8 hexadecimal digits of a hash
// of the whole name, so that the same name is always cut the same way.
std::string ShortenName(const std::string& name);

// The output name of every clip of model: the sanitised name, shortened
// (ShortenName); an unnamed clip takes stem when it is the file's only clip,
// else anim0, anim1, ... (counting unnamed clips only). A name whose files
// (<name>.kvt, <name>.job.kvt) would be those of an earlier clip or rest.kvt
// gets _2, _3, ... (the first that is free). Linear in the number of clips.
std::vector<std::string> NameClips(const SourceModel& model, const std::string& stem);

// The number of frames WriteClipFile writes for track without resampling
// (the size of TrackTimes(track)), counted without allocating.
std::size_t TrackFrameCnt(const NodeTrack& track);

// The size of ResampleTimes(start, end, rate), computed without building it;
// the arguments as there, with (end - start) * rate at most kMaxResampledFrames.
std::size_t ResampleCnt(double start, double end, double rate);
