// The skeleton of a reference file, forward kinematics and the object-space
// error of a bone.
#include "util/anim/util_anim_skeleton.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "util/msg/util_msg_msg.h"

namespace {

constexpr const char* kMsgPrefix = "util/anim/util_anim_skeleton.";

// A report waiting to be sent, filed under the index of its key in the file.
struct PendingMsg {
  int key;
  qvl_CUtilMsg msg;
};

qvl_CUtilMsg MakeMsg(const char* key, const char* text, const std::string& info,
                     const std::vector<std::string>& args) {
  qvl_CUtilMsg msg(qvl_CUtilStr((std::string(kMsgPrefix) + key).c_str()), text);
  msg.AddInfo(qvl_CUtilStr(info.c_str()));
  for (const std::string& a : args) msg.AddInfo(qvl_CUtilStr(a.c_str()));
  return msg;
}

// Unit-length copy of q; the identity for a zero or non-finite q.
Quatd Normalised(double x, double y, double z, double w) {
  const double len = std::sqrt(x * x + y * y + z * z + w * w);
  if (!(len > 0.0) || !std::isfinite(len)) return Quatd{0.0, 0.0, 0.0, 1.0};
  return Quatd{x / len, y / len, z / len, w / len};
}

}  // namespace

int Skeleton::FindBone(std::string_view name) const {
  const auto it = std::lower_bound(byName.begin(), byName.end(), name,
                                   [&](int b, std::string_view n) { return std::string_view(names[b]) < n; });
  return it != byName.end() && names[*it] == name ? *it : -1;
}

void BuildSkeleton(qvl_CUtilMsgHandler* handler, const LoadedAnim& ref, const SkeletonKeysRead& keys,
                   Skeleton* out) {
  // The bones in name order first (the map's order), then re-ordered below.
  std::vector<std::string> names;
  std::unordered_map<const AnimPath*, int> byPath;
  for (const PathNode* n = ref.GetFirstNode(); n; n = n->GetNext()) {
    byPath.emplace(n->path, static_cast<int>(names.size()));
    names.emplace_back(n->key ? n->key : "");
  }
  const int n = static_cast<int>(names.size());
  const auto findName = [&](const std::string& name) {
    const auto it = std::lower_bound(
        names.begin(), names.end(), name,
        [](const std::string& a, const std::string& b) { return CompareNames(a.c_str(), b.c_str()) < 0; });
    return it != names.end() && *it == name ? static_cast<int>(it - names.begin()) : -1;
  };

  std::vector<PendingMsg> msgs;
  int parentKeyCnt = 0;
  // The key that counts per bone: the last of its path (−1 for none).
  std::vector<int> lastKey(static_cast<std::size_t>(n), -1);
  for (int k = 0; k < static_cast<int>(keys.parents.size()); ++k) {
    const auto found = byPath.find(keys.parents[k].path);
    if (found == byPath.end()) continue;  // a path replaced by a later one of the same name
    ++parentKeyCnt;
    const int b = found->second;
    if (lastKey[b] >= 0) {
      msgs.push_back({k, MakeMsg("dup_parent",
                                 "Bone \"[1]\" is given a second parent \"[2]\" after \"[3]\"; the later one "
                                 "counts.",
                                 keys.parents[k].info,
                                 {names[b], keys.parents[k].parent, keys.parents[lastKey[b]].parent})});
    }
    lastKey[b] = k;
  }

  std::vector<int> parent(static_cast<std::size_t>(n), -1);
  for (int b = 0; b < n; ++b) {
    if (lastKey[b] < 0) continue;
    const ParentKeyRead& key = keys.parents[lastKey[b]];
    const int p = findName(key.parent);
    if (p < 0) {
      msgs.push_back(
          {lastKey[b], MakeMsg("unknown_parent",
                               "Bone \"[1]\" names the parent \"[2]\", which is no bone of the file; "
                               "\"[1]\" is taken as a top bone.",
                               key.info, {names[b], key.parent})});
    } else if (p == b) {
      msgs.push_back(
          {lastKey[b], MakeMsg("self_parent",
                               "Bone \"[1]\" names the parent \"[2]\", itself; \"[1]\" is taken as "
                               "a top bone.",
                               key.info, {names[b], key.parent})});
    } else {
      parent[b] = p;
    }
  }

  // Every bone has at most one parent, so the cycles are disjoint rings. The
  // keys taken in file order close each ring with its last key: that one is
  // dropped. Each bone is walked once (state 0 new, 1 on the walk, 2 done).
  std::vector<char> state(static_cast<std::size_t>(n), 0);
  std::vector<int> walk;
  for (int start = 0; start < n; ++start) {
    walk.clear();
    int b = start;
    while (b >= 0 && state[b] == 0) {
      state[b] = 1;
      walk.push_back(b);
      b = parent[b];
    }
    if (b >= 0 && state[b] == 1) {
      // The ring is the part of the walk from b on.
      const auto ringStart = std::find(walk.begin(), walk.end(), b);
      int closer = b;
      for (auto it = ringStart; it != walk.end(); ++it) {
        if (lastKey[*it] > lastKey[closer]) closer = *it;
      }
      const ParentKeyRead& key = keys.parents[lastKey[closer]];
      msgs.push_back(
          {lastKey[closer], MakeMsg("cycle",
                                    "Bone \"[1]\" names the parent \"[2]\", which closes a cycle "
                                    "(\"[2]\" descends from \"[1]\"); \"[1]\" is taken as a top bone.",
                                    key.info, {names[closer], key.parent})});
      parent[closer] = -1;
    }
    for (const int w : walk) state[w] = 2;
  }

  // Depth-first order, children ascending by name: the children of each bone
  // as one run of a shared array (counted first), then an explicit stack, so
  // that a deep chain costs no recursion.
  std::vector<int> childStart(static_cast<std::size_t>(n) + 2, 0);
  for (int b = 0; b < n; ++b) ++childStart[parent[b] + 2];
  for (int i = 1; i < n + 2; ++i) childStart[i] += childStart[i - 1];
  std::vector<int> children(static_cast<std::size_t>(n));
  std::vector<int> fill(childStart.begin(), childStart.end() - 1);  // fill[p + 1]: next slot of parent p
  for (int b = 0; b < n; ++b) children[fill[parent[b] + 1]++] = b;
  std::vector<int> newIndex(static_cast<std::size_t>(n), -1);
  std::vector<int> order;
  order.reserve(static_cast<std::size_t>(n));
  std::vector<int> stack;
  for (int i = childStart[1] - 1; i >= childStart[0]; --i) stack.push_back(children[i]);
  while (!stack.empty()) {
    const int b = stack.back();
    stack.pop_back();
    newIndex[b] = static_cast<int>(order.size());
    order.push_back(b);
    for (int i = childStart[b + 2] - 1; i >= childStart[b + 1]; --i) stack.push_back(children[i]);
  }

  Skeleton s;
  s.parentKeyCnt = parentKeyCnt;
  s.names.reserve(static_cast<std::size_t>(n));
  for (const int b : order) {
    s.names.push_back(std::move(names[b]));
    s.parents.push_back(parent[b] < 0 ? -1 : newIndex[parent[b]]);
  }
  s.byName = std::move(newIndex);  // name order to new index: ascending by name
  *out = std::move(s);

  std::stable_sort(msgs.begin(), msgs.end(),
                   [](const PendingMsg& a, const PendingMsg& b) { return a.key < b.key; });
  for (const PendingMsg& m : msgs) qvl_CUtilMsgHandler::ReportError(handler, m.msg);
}

double CheckMetersPerUnit(qvl_CUtilMsgHandler* handler, const SkeletonKeysRead& keys) {
  if (!keys.hasUnit) return 0.0;
  const double v = keys.metersPerUnit;
  if (std::isfinite(v) && v > 0.0) return v;
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  qvl_CUtilMsgHandler::ReportError(
      handler, MakeMsg("bad_unit",
                       "Key \"meters_per_unit\" holds [1], which is no size in metres (a number greater than "
                       "0); the unit is taken as unknown.",
                       keys.unitInfo, {text}));
  return 0.0;
}

PoseD RestPoseOf(const AnimPath* path) {
  PoseD p = kIdentityPoseD;
  if (!path) return p;
  if (path->translTrack.count > 0) {
    const Vector3& t = path->translTrack[0].value;
    p.transl = Vector3d{t.x, t.y, t.z};
  }
  if (path->quatTrack.count > 0) {
    const Quat& q = path->quatTrack[0].value;
    p.quat = Normalised(q.x, q.y, q.z, q.w);
  }
  return p;
}

void ComputeModelPoses(std::span<const int> parents, std::span<const PoseD> local, std::span<PoseD> model) {
  for (std::size_t i = 0; i < local.size(); ++i) {
    const int p = parents[i];
    if (p < 0) {
      model[i] = local[i];
      continue;
    }
    const PoseD& m = model[static_cast<std::size_t>(p)];
    const Vector3d t = Rotate(m.quat, local[i].transl);
    model[i] =
        PoseD{Vector3d{m.transl.x + t.x, m.transl.y + t.y, m.transl.z + t.z}, Mul(m.quat, local[i].quat)};
  }
}

double ObjectSpaceError(const PoseD& a, const PoseD& b, double shell) {
  const Vector3d d{a.transl.x - b.transl.x, a.transl.y - b.transl.y, a.transl.z - b.transl.z};
  double worst = d.x * d.x + d.y * d.y + d.z * d.z;  // squared distances until the end
  const Vector3d axes[3] = {{shell, 0.0, 0.0}, {0.0, shell, 0.0}, {0.0, 0.0, shell}};
  for (const Vector3d& axis : axes) {
    const Vector3d pa = Rotate(a.quat, axis);
    const Vector3d pb = Rotate(b.quat, axis);
    const double x = d.x + (pa.x - pb.x);
    const double y = d.y + (pa.y - pb.y);
    const double z = d.z + (pa.z - pb.z);
    worst = std::max(worst, x * x + y * y + z * z);
  }
  return std::sqrt(worst);
}

ShellDistance DefaultShellDistance(double metersPerUnit, std::span<const PoseD> restModel) {
  ShellDistance s;
  if (metersPerUnit > 0.0 && std::isfinite(metersPerUnit)) {
    s.source = ShellSource::kUnit;
    s.distance = kShellMeters / metersPerUnit;
    return s;
  }
  s.source = ShellSource::kBox;
  if (!restModel.empty()) {
    Vector3d lo = restModel[0].transl;
    Vector3d hi = lo;
    for (const PoseD& p : restModel) {
      lo = Vector3d{std::min(lo.x, p.transl.x), std::min(lo.y, p.transl.y), std::min(lo.z, p.transl.z)};
      hi = Vector3d{std::max(hi.x, p.transl.x), std::max(hi.y, p.transl.y), std::max(hi.z, p.transl.z)};
    }
    s.boxDiagonal = TranslDistance(lo, hi);
  }
  s.distance = s.boxDiagonal > 0.0 && std::isfinite(s.boxDiagonal) ? kShellBoxFraction * s.boxDiagonal : 1.0;
  return s;
}
