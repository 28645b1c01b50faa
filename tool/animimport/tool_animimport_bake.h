// Baking of joint scales into translations: the path format has no scale, so
// the scale of every joint is carried into the translations of the joints below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"

// A scale component within this of 1 counts as exactly 1, and two scales
// within this of each other (relative) as the same: exporters that split
// float matrices write unscaled joints as 1 +- a few 1e-6 (CesiumMan up to
// 1.3e-6), and multiplying by that noise would only move written values by
// float steps. 1e-5 of a 2 m character is 0.02 mm.
constexpr double kScaleNoise = 1e-5;

// A joint whose origin baking cannot put where the source does: a
// non-uniform scale above it with a rotated joint in between.
struct InexactJoint {
  int joint = -1;     // index into JointSet::nodes
  double dev = 0.0;   // the largest distance, source units (the top joints' parent frame)
  int clip = -1;      // where it was found: index into SourceModel::clips, -1 for the rest pose
  double time = 0.0;  // seconds; 0 for the rest pose
};

// Bakes the scales of model's joints into the translations of their
// descendants, in the rest pose and in the clips listed in clips (indices
// into model->clips): a joint's translation is multiplied, component by
// component, by the product of the scales of its ancestor joints (the top
// joint's first), so that child position = parent position + R(parent) *
// (S(parent) (.) child translation) down every chain. Scales of nodes above
// the top joints are left out (they are a unit; see ScaleAboveJoints).
// Where an ancestor's scale is keyed, the baked translation is sampled in
// double at the union of the joint's own translation key times and the
// scale key times of every keyed ancestor (held between them where all of
// those channels hold, else linear), and a joint without translation keys
// gets them; a constant factor scales the keys (and
// spline tangents) as they are. Scales and rotations stay in the model as
// they were; only translations change.
// Exact for uniform scales and for non-uniform scales with no rotated joint
// between them and the joint they move; every other joint that lands more
// than 1e-4 of the rest skeleton's size (the diagonal of its box) from where
// the source puts it, at the rest pose or any key time of the listed clips
// (evenly spread key times where a clip has more than 20 million joint
// origins to compute),
// is returned with its largest distance and reported once as a warning
// (level 5) to handler with context as the message context, the clip named
// by clipNames. No failure.
std::vector<InexactJoint> BakeScale(qvl_CUtilMsgHandler* handler, const std::string& context,
                                    SourceModel* model, const JointSet& joints, const std::vector<int>& clips,
                                    const std::vector<std::string>& clipNames);

// An upper bound of the translation keys that BakeScale leaves in the clips
// listed in clips: per joint with an animated ancestor scale, its own
// translation keys plus the scale keys of every ancestor joint. Checked
// before baking, so that a hostile file of long chains of keyed scales cannot
// make it allocate without bound. No failure.
std::uint64_t BakedKeyBound(const SourceModel& model, const JointSet& joints, const std::vector<int>& clips);

// The scale that the nodes above the top joints give the whole skeleton: the
// product of their rest scales (components within kScaleNoise of 1 taken as
// 1), which *above receives (of the first top joint). Returns it as one
// number when it is uniform, positive and the same above every top joint
// (within a relative kScaleNoise); 0 otherwise.
double ScaleAboveJoints(const SourceModel& model, const JointSet& joints, Vector3d* above);
