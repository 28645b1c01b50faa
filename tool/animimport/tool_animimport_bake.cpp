// Scale baking: the factor each joint's translation takes from the scales
// above it, keys added where a keyed scale needs them, and the check of what
// a non-uniform scale makes inexact.
#include "tool/animimport/tool_animimport_bake.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tool/animimport/tool_animimport_sample.h"

namespace {

// Distance tolerance of the exactness check, relative to the rest skeleton's size.
constexpr double kInexactTolerance = 1e-4;

// The most joint origins the exactness check computes per clip (one joint at
// one time), about a second of processor time.
constexpr std::size_t kInexactBudget = 20'000'000;

double Snap(double s) {
  return std::fabs(s - 1.0) <= kScaleNoise ? 1.0 : s;
}

Vector3d Snap(const Vector3d& s) {
  return Vector3d{Snap(s.x), Snap(s.y), Snap(s.z)};
}

Vector3d Mul(const Vector3d& a, const Vector3d& b) {
  return Vector3d{a.x * b.x, a.y * b.y, a.z * b.z};
}

bool Same(double a, double b) {
  return std::fabs(a - b) <= kScaleNoise * std::max(std::fabs(a), std::fabs(b));
}

bool Same(const Vector3d& a, const Vector3d& b) {
  return Same(a.x, b.x) && Same(a.y, b.y) && Same(a.z, b.z);
}

bool IsOne(const Vector3d& s) {
  return s.x == 1.0 && s.y == 1.0 && s.z == 1.0;
}

bool IsUniform(const Vector3d& s) {
  return Same(s.x, s.y) && Same(s.x, s.z);
}

// The value of key k of a 3-wide channel (the middle of a spline's triple).
Vector3d KeyValue(const Channel& ch, std::size_t k) {
  const double* v = ch.values.data() + (ch.interp == Interp::kCubicSpline ? 9 * k + 3 : 3 * k);
  return Vector3d{v[0], v[1], v[2]};
}

// How one joint's scale behaves in one clip.
enum class ScaleKind : std::uint8_t {
  kRest,     // no keys, or every key equals the rest scale
  kConst,    // every key equals one other value (and a spline's tangents are 0)
  kVarying,  // keyed values that change
};

struct ScaleState {
  ScaleKind kind = ScaleKind::kRest;
  Vector3d value{1.0, 1.0, 1.0};  // kRest, kConst: the scale, snapped
  const Channel* ch = nullptr;    // kVarying: the channel
  Vector3d rest{1.0, 1.0, 1.0};   // the rest scale, unsnapped, for evaluation

  Vector3d At(double t) const { return kind == ScaleKind::kVarying ? Snap(EvalVec(*ch, t, rest)) : value; }
};

ScaleState ClassifyScale(const Channel* ch, const Vector3d& rest) {
  ScaleState st;
  st.rest = rest;
  st.value = Snap(rest);
  if (!ch || ch->IsEmpty()) return st;
  const Vector3d first = KeyValue(*ch, 0);
  bool allRest = true;
  bool allFirst = true;
  for (std::size_t k = 0; k < ch->KeyCnt(); ++k) {
    const Vector3d v = KeyValue(*ch, k);
    allRest = allRest && Same(Snap(v), st.value);
    allFirst = allFirst && Same(v, first);
  }
  if (ch->interp == Interp::kCubicSpline) {
    for (std::size_t k = 0; k < ch->KeyCnt(); ++k) {
      for (int i : {0, 1, 2, 6, 7, 8}) {
        if (ch->values[9 * k + i] != 0.0) allRest = allFirst = false;
      }
    }
  }
  if (allRest) return st;
  st.ch = ch;
  if (allFirst) {
    st.kind = ScaleKind::kConst;
    st.value = Snap(first);
    return st;
  }
  st.kind = ScaleKind::kVarying;
  return st;
}

void ScaleChannel(Channel* ch, const Vector3d& f) {
  for (std::size_t i = 0; i + 2 < ch->values.size(); i += 3) {
    ch->values[i] *= f.x;
    ch->values[i + 1] *= f.y;
    ch->values[i + 2] *= f.z;
  }
}

// Column-major 3x3 matrix: m[3 * c + r] is row r of column c.
struct Mat3 {
  double m[9];
};

Mat3 Identity() {
  return Mat3{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
}

Mat3 RotScale(const Quatd& q0, const Vector3d& s) {
  const Quatd q = QuatNormalize(q0);
  const double x = q.x, y = q.y, z = q.z, w = q.w;
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + w * z),     2 * (x * z - w * y),
                       2 * (x * y - w * z),     1 - 2 * (x * x + z * z), 2 * (y * z + w * x),
                       2 * (x * z + w * y),     2 * (y * z - w * x),     1 - 2 * (x * x + y * y)};
  const double sc[3] = {s.x, s.y, s.z};
  Mat3 out;
  for (int i = 0; i < 9; ++i) out.m[i] = r[i] * sc[i / 3];
  return out;
}

Mat3 Mul(const Mat3& a, const Mat3& b) {
  Mat3 out;
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) {
      out.m[3 * c + r] = a.m[r] * b.m[3 * c] + a.m[3 + r] * b.m[3 * c + 1] + a.m[6 + r] * b.m[3 * c + 2];
    }
  }
  return out;
}

Vector3d Apply(const Mat3& a, const Vector3d& v) {
  return Vector3d{a.m[0] * v.x + a.m[3] * v.y + a.m[6] * v.z, a.m[1] * v.x + a.m[4] * v.y + a.m[7] * v.z,
                  a.m[2] * v.x + a.m[5] * v.y + a.m[8] * v.z};
}

Vector3d Add(const Vector3d& a, const Vector3d& b) {
  return Vector3d{a.x + b.x, a.y + b.y, a.z + b.z};
}

double Dist(const Vector3d& a, const Vector3d& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// One joint's local values at one time, as the source defines them.
struct Local {
  Vector3d t;
  Quatd q;
  Vector3d s;
};

// The exact origins (full affine transforms) and the baked ones (rotations
// and baked translations only) of every joint for local values loc; the
// distance per joint goes into dev.
void CompareOrigins(const JointSet& joints, const std::vector<Local>& loc, std::vector<double>* dev,
                    std::vector<Vector3d>* exactOut) {
  const std::size_t n = joints.nodes.size();
  std::vector<Mat3> linear(n), rot(n);
  std::vector<Vector3d> exact(n), baked(n), acc(n);
  for (std::size_t j = 0; j < n; ++j) {
    const int p = joints.parents[j];
    const Mat3 pl = p >= 0 ? linear[p] : Identity();
    const Mat3 pr = p >= 0 ? rot[p] : Identity();
    const Vector3d pacc = p >= 0 ? acc[p] : Vector3d{1.0, 1.0, 1.0};
    const Vector3d pe = p >= 0 ? exact[p] : Vector3d{0.0, 0.0, 0.0};
    const Vector3d pb = p >= 0 ? baked[p] : Vector3d{0.0, 0.0, 0.0};
    exact[j] = Add(pe, Apply(pl, loc[j].t));
    baked[j] = Add(pb, Apply(pr, Mul(pacc, loc[j].t)));
    linear[j] = Mul(pl, RotScale(loc[j].q, loc[j].s));
    rot[j] = Mul(pr, RotScale(loc[j].q, Vector3d{1.0, 1.0, 1.0}));
    acc[j] = Mul(pacc, loc[j].s);
    (*dev)[j] = Dist(exact[j], baked[j]);
  }
  if (exactOut) *exactOut = exact;
}

std::string Fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// Finds the joints that baking places inexactly, from the unbaked model.
std::vector<InexactJoint> FindInexact(const SourceModel& model, const JointSet& joints,
                                      const std::vector<int>& clips) {
  const std::size_t n = joints.nodes.size();
  // Only a non-uniform scale can make baking inexact; most files have none.
  bool nonUniform = false;
  for (int node : joints.nodes) nonUniform = nonUniform || !IsUniform(Snap(model.nodes[node].scale));
  for (int c : clips) {
    for (const NodeTrack& t : model.clips[c].tracks) {
      for (std::size_t k = 0; k < t.scale.KeyCnt(); ++k)
        nonUniform = nonUniform || !IsUniform(Snap(KeyValue(t.scale, k)));
    }
  }
  std::vector<InexactJoint> found;
  if (!nonUniform) return found;

  std::vector<Local> loc(n);
  for (std::size_t j = 0; j < n; ++j) {
    const Node& nd = model.nodes[joints.nodes[j]];
    loc[j] = Local{nd.transl, nd.rot, Snap(nd.scale)};
  }
  std::vector<double> dev(n, 0.0);
  std::vector<Vector3d> rest;
  CompareOrigins(joints, loc, &dev, &rest);
  // The rest skeleton's size: the diagonal of the box around its origins.
  Vector3d lo = rest[0], hi = rest[0];
  for (const Vector3d& p : rest) {
    lo = Vector3d{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = Vector3d{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  const double tolerance = kInexactTolerance * Dist(lo, hi);
  std::vector<InexactJoint> worst(n);
  for (std::size_t j = 0; j < n; ++j) worst[j] = InexactJoint{static_cast<int>(j), dev[j], -1, 0.0};

  for (int c : clips) {
    const Clip& clip = model.clips[c];
    std::vector<const NodeTrack*> trackOf(n, nullptr);
    std::vector<double> times;
    for (const NodeTrack& t : clip.tracks) {
      const int j = joints.jointOfNode[t.node];
      if (j < 0) continue;
      trackOf[j] = &t;
      for (const Channel* ch : {&t.transl, &t.rot, &t.scale}) {
        if (!ch->IsEmpty()) times.insert(times.end(), ch->times->begin(), ch->times->end());
      }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    // Every key time where the whole skeleton fits the budget; else evenly
    // spread ones, the first and last included.
    const std::size_t stride =
        times.size() * n > kInexactBudget ? (times.size() * n + kInexactBudget - 1) / kInexactBudget : 1;
    std::vector<double> checked;
    for (std::size_t i = 0; i < times.size(); i += stride) checked.push_back(times[i]);
    if (!times.empty() && checked.back() != times.back()) checked.push_back(times.back());
    for (double t : checked) {
      for (std::size_t j = 0; j < n; ++j) {
        const Node& nd = model.nodes[joints.nodes[j]];
        const NodeTrack* tr = trackOf[j];
        loc[j] = tr ? Local{EvalVec(tr->transl, t, nd.transl), EvalQuat(tr->rot, t, nd.rot),
                            Snap(EvalVec(tr->scale, t, nd.scale))}
                    : Local{nd.transl, nd.rot, Snap(nd.scale)};
      }
      CompareOrigins(joints, loc, &dev, nullptr);
      for (std::size_t j = 0; j < n; ++j) {
        if (dev[j] > worst[j].dev) worst[j] = InexactJoint{static_cast<int>(j), dev[j], c, t};
      }
    }
  }
  for (const InexactJoint& w : worst) {
    if (w.dev > tolerance) found.push_back(w);
  }
  return found;
}

}  // namespace

std::vector<InexactJoint> BakeScale(qvl_CUtilMsgHandler* handler, const std::string& context,
                                    SourceModel* model, const JointSet& joints, const std::vector<int>& clips,
                                    const std::vector<std::string>& clipNames) {
  const std::vector<InexactJoint> inexact = FindInexact(*model, joints, clips);
  for (const InexactJoint& w : inexact) {
    const std::string where = w.clip < 0 ? std::string("in the rest pose")
                                         : "in clip \"" + clipNames[w.clip] + "\" at " + Fmt(w.time) + " s";
    ReportImportText(handler, qvl_MsgLevelWarning, "tool/animimport/tool_animimport_bake.", context,
                     "inexact",
                     "Joint \"" + model->nodes[joints.nodes[w.joint]].name + "\" lands up to " + Fmt(w.dev) +
                         " units (" + where +
                         ") from where the source puts it: a non-uniform scale above it, with a rotated "
                         "joint in between, cannot be carried by translations alone.");
  }

  const std::size_t n = joints.nodes.size();
  // The rest factor of each joint: the product of its ancestors' rest scales.
  std::vector<Vector3d> restFactor(n, Vector3d{1.0, 1.0, 1.0});
  for (std::size_t j = 0; j < n; ++j) {
    const int p = joints.parents[j];
    if (p >= 0) restFactor[j] = Mul(restFactor[p], Snap(model->nodes[joints.nodes[p]].scale));
  }

  for (int c : clips) {
    Clip& clip = model->clips[c];
    std::vector<int> trackOf(n, -1);
    for (std::size_t i = 0; i < clip.tracks.size(); ++i) {
      const int j = joints.jointOfNode[clip.tracks[i].node];
      if (j >= 0) trackOf[j] = static_cast<int>(i);
    }
    std::vector<ScaleState> state(n);
    for (std::size_t j = 0; j < n; ++j) {
      const Node& nd = model->nodes[joints.nodes[j]];
      state[j] = ClassifyScale(trackOf[j] >= 0 ? &clip.tracks[trackOf[j]].scale : nullptr, nd.scale);
    }
    // Per joint: whether every ancestor keeps its rest scale, whether one is
    // keyed, and the constant factor where none is.
    std::vector<char> allRest(n, 1), varying(n, 0);
    std::vector<Vector3d> factor(n, Vector3d{1.0, 1.0, 1.0});
    // Where an ancestor's scale is keyed: the nearest such ancestor (each
    // links to the next one up), and the product of the constant scales
    // between, so that a joint walks only its keyed ancestors, whose keys
    // BakedKeyBound has counted, not its whole chain.
    std::vector<int> keyedAbove(n, -1);
    std::vector<Vector3d> constAbove(n, Vector3d{1.0, 1.0, 1.0});
    std::vector<NodeTrack> added;
    for (std::size_t j = 0; j < n; ++j) {
      const int p = joints.parents[j];
      if (p < 0) continue;
      const bool pKeyed = state[p].kind == ScaleKind::kVarying;
      keyedAbove[j] = pKeyed ? p : keyedAbove[p];
      constAbove[j] = pKeyed ? constAbove[p] : Mul(constAbove[p], state[p].value);
      allRest[j] = allRest[p] && state[p].kind == ScaleKind::kRest;
      varying[j] = varying[p] || state[p].kind == ScaleKind::kVarying;
      factor[j] = Mul(factor[p], state[p].value);
      const Node& nd = model->nodes[joints.nodes[j]];
      NodeTrack* track = trackOf[j] >= 0 ? &clip.tracks[trackOf[j]] : nullptr;
      Channel* transl = track ? &track->transl : nullptr;
      const bool keyed = transl && !transl->IsEmpty();
      if (allRest[j]) {
        // The rest factor holds all through the clip; the rest translation
        // is baked below, and keys take the same factor.
        if (keyed && !IsOne(restFactor[j])) ScaleChannel(transl, restFactor[j]);
        continue;
      }
      Channel baked;
      if (!varying[j]) {
        if (keyed) {
          ScaleChannel(transl, factor[j]);
          continue;
        }
        // The factor differs from the rest pose's: one key holds the baked rest translation.
        double start = 0.0, end = 0.0;
        ClipRange(clip, &start, &end);
        baked.times = std::make_shared<const std::vector<double>>(1, start);
        const Vector3d v = Mul(factor[j], nd.transl);
        baked.values = {v.x, v.y, v.z};
      } else {
        // Sampled at the joint's own keys and every keyed ancestor's scale keys.
        std::vector<double> times;
        if (keyed) times = *transl->times;
        bool step = !keyed || transl->interp == Interp::kStep;
        for (int a = keyedAbove[j]; a >= 0; a = keyedAbove[a]) {
          times.insert(times.end(), state[a].ch->times->begin(), state[a].ch->times->end());
          step = step && state[a].ch->interp == Interp::kStep;
        }
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        // Held values stay held; anything else is linear between the samples.
        baked.interp = step ? Interp::kStep : Interp::kLinear;
        baked.values.reserve(3 * times.size());
        for (double t : times) {
          Vector3d f = constAbove[j];
          for (int a = keyedAbove[j]; a >= 0; a = keyedAbove[a]) f = Mul(f, state[a].At(t));
          const Vector3d v = Mul(f, keyed ? EvalVec(*transl, t, nd.transl) : nd.transl);
          baked.values.insert(baked.values.end(), {v.x, v.y, v.z});
        }
        baked.times = std::make_shared<const std::vector<double>>(std::move(times));
      }
      if (transl) {
        *transl = std::move(baked);
      } else {
        added.push_back(NodeTrack{joints.nodes[j], std::move(baked), {}, {}});
      }
    }
    // Appended only now: the scale states point into the clip's tracks.
    for (NodeTrack& t : added) clip.tracks.push_back(std::move(t));
  }

  for (std::size_t j = 0; j < n; ++j) {
    Node& nd = model->nodes[joints.nodes[j]];
    if (!IsOne(restFactor[j])) nd.transl = Mul(restFactor[j], nd.transl);
  }
  return inexact;
}

std::uint64_t BakedKeyBound(const SourceModel& model, const JointSet& joints, const std::vector<int>& clips) {
  const std::size_t n = joints.nodes.size();
  std::uint64_t total = 0;
  std::vector<std::uint64_t> own(n), scaleKeys(n), above(n);
  for (int c : clips) {
    std::fill(own.begin(), own.end(), 0);
    std::fill(scaleKeys.begin(), scaleKeys.end(), 0);
    for (const NodeTrack& t : model.clips[c].tracks) {
      const int j = joints.jointOfNode[t.node];
      if (j < 0) continue;
      own[j] = t.transl.KeyCnt();
      scaleKeys[j] = t.scale.KeyCnt();
    }
    for (std::size_t j = 0; j < n; ++j) {
      const int p = joints.parents[j];
      // Sums of key counts, each below 2^32 joints times 2^32 keys: no overflow.
      above[j] = p >= 0 ? above[p] + scaleKeys[p] : 0;
      total += own[j] + above[j];
    }
  }
  return total;
}

double ScaleAboveJoints(const SourceModel& model, const JointSet& joints, Vector3d* above) {
  bool first = true;
  bool alike = true;
  Vector3d s0{1.0, 1.0, 1.0};
  for (std::size_t j = 0; j < joints.nodes.size(); ++j) {
    if (joints.parents[j] >= 0) continue;
    Vector3d s{1.0, 1.0, 1.0};
    for (int a = model.nodes[joints.nodes[j]].parent; a >= 0; a = model.nodes[a].parent)
      s = Mul(s, Snap(model.nodes[a].scale));
    if (first) {
      s0 = s;
      first = false;
    } else {
      alike = alike && Same(s, s0);
    }
  }
  *above = s0;
  return alike && IsUniform(s0) && s0.x > 0 ? s0.x : 0.0;
}
