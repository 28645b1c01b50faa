// Path animation files and job configurations of the importer.
#include "tool/animimport/tool_animimport_write.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tool/animimport/tool_animimport_sample.h"

namespace {

void WriteFrame(qvl_CUtilKvtSeqWrite* w, double time, const Vector3d& t, const Quatd& q) {
  w->BeginChunk();
  w->BeginKey("key");
  w->WriteFloat(static_cast<float>(time));
  w->EndKey();
  w->BeginKey("transl");
  w->WriteFloat(static_cast<float>(t.x));
  w->WriteFloat(static_cast<float>(t.y));
  w->WriteFloat(static_cast<float>(t.z));
  w->EndKey();
  w->BeginKey("quat");
  w->WriteFloat(static_cast<float>(q.x));
  w->WriteFloat(static_cast<float>(q.y));
  w->WriteFloat(static_cast<float>(q.z));
  w->WriteFloat(static_cast<float>(q.w));
  w->EndKey();
  w->EndChunk();
}

// parent: written as the key parent after name, unless null.
void BeginPath(qvl_CUtilKvtSeqWrite* w, const std::string& name, double start, double end,
               const std::string* parent = nullptr) {
  w->BeginChunk();
  w->WriteKeyStr("name", name.c_str());
  if (parent) w->WriteKeyStr("parent", parent->c_str());
  w->BeginKey("range");
  w->WriteFloat(static_cast<float>(start));
  w->WriteFloat(static_cast<float>(end));
  w->EndKey();
  w->BeginKey("frame_array");
}

void EndPath(qvl_CUtilKvtSeqWrite* w) {
  w->EndKey();
  w->EndChunk();
}

Vector3d Scaled(const Vector3d& v, double s) {
  return Vector3d{v.x * s, v.y * s, v.z * s};
}

// metersPerUnit: written as meters_per_unit where positive.
void BeginFile(qvl_CUtilKvtSeqWrite* w, double metersPerUnit = 0.0) {
  w->WriteKeyStr("format", kPathFormatName);
  w->BeginKey("data");
  w->BeginChunk();
  if (metersPerUnit > 0) {
    w->BeginKey("meters_per_unit");
    w->WriteFloat(static_cast<float>(metersPerUnit));
    w->EndKey();
  }
  w->BeginKey("path_array");
}

void EndFile(qvl_CUtilKvtSeqWrite* w) {
  w->EndKey();
  w->EndChunk();
  w->EndKey();
  w->Finish();
}

}  // namespace

void WriteRestFile(qvl_CUtilKvtSeqWrite* writer, const SourceModel& model, const JointSet& joints,
                   double scale, double metersPerUnit) {
  BeginFile(writer, metersPerUnit);
  for (std::size_t j = 0; j < joints.nodes.size(); ++j) {
    const Node& nd = model.nodes[joints.nodes[j]];
    const int p = joints.parents[j];
    BeginPath(writer, nd.name, 0.0, 0.0, p >= 0 ? &model.nodes[joints.nodes[p]].name : nullptr);
    WriteFrame(writer, 0.0, Scaled(nd.transl, scale), QuatNormalize(nd.rot));
    EndPath(writer);
  }
  EndFile(writer);
}

std::size_t WriteClipFile(qvl_CUtilKvtSeqWrite* writer, const SourceModel& model, const JointSet& joints,
                          const Clip& clip, double start, double end, double fps, double scale,
                          std::string* problem) {
  // Tracks in joint order.
  std::vector<const NodeTrack*> tracks;
  for (const NodeTrack& t : clip.tracks) {
    if (joints.jointOfNode[t.node] >= 0) tracks.push_back(&t);
  }
  std::sort(tracks.begin(), tracks.end(), [&](const NodeTrack* a, const NodeTrack* b) {
    return joints.jointOfNode[a->node] < joints.jointOfNode[b->node];
  });
  std::vector<double> resampled;
  if (fps > 0) resampled = ResampleTimes(start, end, fps);
  std::size_t frames = 0;
  BeginFile(writer);
  for (const NodeTrack* track : tracks) {
    const Node& nd = model.nodes[track->node];
    BeginPath(writer, nd.name, start, end);
    const std::vector<double> own = fps > 0 ? std::vector<double>() : TrackTimes(*track);
    const std::vector<double>& times = fps > 0 ? resampled : own;
    for (std::size_t k = 0; k < times.size(); ++k) {
      const double t = times[k];
      const Vector3d v = Scaled(EvalVec(track->transl, t, nd.transl), scale);
      WriteFrame(writer, t, v, EvalQuat(track->rot, t, nd.rot));
      if (!problem->empty()) continue;
      // What the frame holds as floats: the keys checked by the model may
      // still give, between them, a value or two times a float cannot tell apart.
      char buf[160];
      if (!std::isfinite(static_cast<float>(v.x)) || !std::isfinite(static_cast<float>(v.y)) ||
          !std::isfinite(static_cast<float>(v.z))) {
        std::snprintf(buf, sizeof buf,
                      " at %.9g s has a translation (%.9g, %.9g, %.9g) beyond the range of a float.", t, v.x,
                      v.y, v.z);
        *problem = "Joint \"" + nd.name + "\"" + buf;
      } else if (k > 0 && !(static_cast<float>(t) > static_cast<float>(times[k - 1]))) {
        std::snprintf(buf, sizeof buf,
                      " has frames at %.9g s and %.9g s, the same time once written as floats.", times[k - 1],
                      t);
        *problem = "Joint \"" + nd.name + "\"" + buf;
      }
    }
    frames += times.size();
    EndPath(writer);
  }
  EndFile(writer);
  return frames;
}

std::string JobFileText(const std::string& clipName) {
  // Written as text by hand rather than through the data-tree writer, so that
  // the switches read "true"/"false" and carry comments for whoever edits them.
  return "// Converts clip \"" + clipName +
         "\" against the rest pose; paths are resolved against -refdir.\n"
         "ref_path \"rest.kvt\"\n"
         "anim_path \"" +
         clipName +
         ".kvt\"\n"
         "do_transl true\n"
         "do_quat true\n"
         "compress false\n"
         "// Distances to the identity below which a key counts as unmoved:\n"
         "// source units for translations, quaternion units (not an angle) for rotations.\n"
         "identity_eps_transl 0.0001\n"
         "identity_eps_quat 0.0001\n"
         "mask_array\n";
}
