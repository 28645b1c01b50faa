// Tests of scale baking: hand-made chains whose joint origins, after baking,
// are checked by forward kinematics against positions worked out by hand.
#include "tool/animimport/tool_animimport_bake.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tool/animimport/tool_animimport_testenv.h"

namespace {

const Quatd kTurnZ90{0.0, 0.0, std::sqrt(0.5), std::sqrt(0.5)};

// One joint of a chain case: its rest values and, in the one clip, its keys
// (an empty vector for none). Joint j's parent is parents[j].
struct JointDef {
  Vector3d t, s;
  Quatd q;
  std::vector<double> tTimes, tValues, sTimes, sValues;
};

struct Expect {
  double time;  // -1: the rest pose
  int joint;
  Vector3d pos;
};

// Origins after baking: the path format's rebuild, position = parent position
// + R(parent) * translation, from the baked translations and the rotations.
Vector3d Origin(const SourceModel& m, const JointSet& js, int joint, double t) {
  std::vector<Vector3d> pos(js.nodes.size());
  std::vector<Quatd> rot(js.nodes.size());
  for (int j = 0; j <= joint; ++j) {
    const Node& nd = m.nodes[js.nodes[j]];
    Vector3d tr = nd.transl;
    Quatd q = nd.rot;
    for (const NodeTrack& track : m.clips[0].tracks) {
      if (t >= 0 && track.node == js.nodes[j])
        tr = EvalVec(track.transl, t, nd.transl), q = EvalQuat(track.rot, t, nd.rot);
    }
    const int p = js.parents[j];
    const Vector3d r = p < 0 ? tr : Rotate(rot[p], tr);
    pos[j] = p < 0 ? r : Vector3d{pos[p].x + r.x, pos[p].y + r.y, pos[p].z + r.z};
    rot[j] = p < 0 ? q : Mul(rot[p], q);
  }
  return pos[joint];
}

TEST(AnimImportBake, ScalesMoveTheJointsBelowThemAsTheSourceDoes) {
  const Vector3d one{1, 1, 1};
  const Quatd id{0, 0, 0, 1};
  struct Case {
    const char* what;
    std::vector<int> parents;
    std::vector<JointDef> joints;
    std::vector<Expect> expect;
    const char* warnJoint;  // the joint warned as inexact (by 1 unit), nullptr for none
  } cases[] = {
      // A turned top joint whose uniform scale is keyed 1 -> 2: B gets keys at
      // the scale's times, C keeps its own key and gains those.
      {"keyed uniform scale",
       {-1, 0, 1},
       {{{5, 0, 0}, one, kTurnZ90, {}, {}, {0, 1}, {1, 1, 1, 2, 2, 2}},
        {{0, 1, 0}, one, id, {}, {}, {}, {}},
        {{0, 1, 0}, one, id, {0.5}, {0, 3, 0}, {}, {}}},
       {{-1, 1, {4, 0, 0}},
        {0, 2, {1, 0, 0}},
        {0.5, 1, {3.5, 0, 0}},
        {0.5, 2, {-1, 0, 0}},    // 5 - 1.5 * (1 + 3)
        {1, 2, {-3, 0, 0}},      // 5 - 2 * (1 + 3)
        {0.75, 2, {-2, 0, 0}}},  // between the baked keys 0.5 and 1: linear
       nullptr},
      // An armature node scaled 100 that moves in the file's unit: the bones
      // below it, in metres of its frame, come out in that unit too.
      {"animated, scaled armature",
       {-1, 0, 1},
       {{{0, 0, 0}, {100, 100, 100}, id, {0, 1}, {0, 0, 0, 0, -125, 0}, {}, {}},
        {{0, 0, 1}, one, id, {0, 1}, {0, 0, 1, 0, 0, 1.1}, {}, {}},
        {{0, 0.5, 0}, one, id, {}, {}, {}, {}}},
       {{-1, 1, {0, 0, 100}}, {-1, 2, {0, 50, 100}}, {1, 1, {0, -125, 110}}, {1, 2, {0, -75, 110}}},
       nullptr},
      // Non-uniform scale with no turned joint below it: exact.
      {"non-uniform, not turned",
       {-1, 0, 1},
       {{{0, 0, 0}, {2, 1, 1}, id, {}, {}, {}, {}},
        {{0, 1, 0}, one, id, {}, {}, {}, {}},
        {{1, 0, 0}, one, id, {}, {}, {}, {}}},
       {{-1, 2, {2, 1, 0}}},
       nullptr},
      // Non-uniform scale (2 along x) above a joint turned 90 degrees about z:
      // the source puts C at (0, 2, 0) (the turned x axis is not stretched),
      // baking at (0, 3, 0); C is warned with the distance 1.
      {"non-uniform above a turn",
       {-1, 0, 1},
       {{{0, 0, 0}, {2, 1, 1}, id, {}, {}, {}, {}},
        {{0, 1, 0}, one, kTurnZ90, {}, {}, {}, {}},
        {{1, 0, 0}, one, id, {}, {}, {}, {}}},
       {{-1, 2, {0, 3, 0}}},
       "C"},
  };
  const char* const names[] = {"A", "B", "C"};
  for (const Case& c : cases) {
    SourceModel m;
    m.clips.resize(1);
    for (std::size_t j = 0; j < c.joints.size(); ++j) {
      const JointDef& d = c.joints[j];
      m.nodes.push_back(Node{names[j], c.parents[j], d.t, d.q, d.s, true});
      NodeTrack track{static_cast<int>(j), {}, {}, {}};
      if (!d.tTimes.empty()) track.transl = MakeChannel(d.tTimes, d.tValues);
      if (!d.sTimes.empty()) track.scale = MakeChannel(d.sTimes, d.sValues);
      track.rot = MakeChannel({0}, {d.q.x, d.q.y, d.q.z, d.q.w});
      m.clips[0].tracks.push_back(track);
    }
    const JointSet js = SelectJoints(m);
    ASSERT_EQ(js.nodes.size(), c.joints.size()) << c.what;
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    qvl_CUtilMsgCollector got;
    handler->RegisterBack(&got);
    const std::vector<InexactJoint> inexact = BakeScale(handler.Get(), "t.glb", &m, js, {0}, {"clip"});
    for (const Expect& e : c.expect) {
      const Vector3d p = Origin(m, js, e.joint, e.time);
      EXPECT_NEAR(Dist({p.x, p.y, p.z}, {e.pos.x, e.pos.y, e.pos.z}), 0, 1e-9)
          << c.what << " joint " << e.joint << " at " << e.time;
    }
    ASSERT_EQ(inexact.size(), c.warnJoint ? 1u : 0u) << c.what;
    ASSERT_EQ(got.GetEntries().size(), inexact.size()) << c.what;
    if (!c.warnJoint) continue;
    EXPECT_EQ(m.nodes[js.nodes[inexact[0].joint]].name, c.warnJoint);
    EXPECT_NEAR(inexact[0].dev, 1, 1e-9);
    EXPECT_EQ(got.GetEntries()[0].level, qvl_MsgLevelWarning);
    EXPECT_EQ(
        got.GetEntries()[0].msg.GetFilledText(),
        "Joint \"C\" lands up to 1 units (in the rest pose) from where the source puts it: a non-uniform "
        "scale above it, with a rotated joint in between, cannot be carried by translations alone.");
  }
}

}  // namespace
