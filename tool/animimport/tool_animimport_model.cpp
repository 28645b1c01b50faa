// Joint selection and the checks every imported model goes through.
#include "tool/animimport/tool_animimport_model.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <unordered_map>

#include "tool/animimport/tool_animimport_limits.h"
#include "util/msg/util_msg_msg.h"

JointSet SelectJoints(const SourceModel& model) {
  // Linear in the number of nodes whatever the depth: parents come before
  // their children, so one pass down gives depths and roots, one pass up the
  // count of marked nodes in each subtree.
  const int n = static_cast<int>(model.nodes.size());
  std::vector<int> marked(n, 0);  // then: marked nodes in the subtree
  for (int i = 0; i < n; ++i) marked[i] = model.nodes[i].skinBone ? 1 : 0;
  for (const Clip& clip : model.clips) {
    for (const NodeTrack& t : clip.tracks) {
      if (t.node >= 0 && t.node < n) marked[t.node] = 1;
    }
  }
  std::vector<int> depth(n, 0), root(n, 0);
  for (int i = 0; i < n; ++i) {
    const int p = model.nodes[i].parent;
    depth[i] = p >= 0 ? depth[p] + 1 : 0;
    root[i] = p >= 0 ? root[p] : i;
  }
  for (int i = n - 1; i >= 0; --i) {
    if (model.nodes[i].parent >= 0) marked[model.nodes[i].parent] += marked[i];
  }
  // The lowest common ancestor of a tree's marked nodes is its deepest node
  // whose subtree holds all of them (those nodes form a chain from the root).
  std::vector<int> top(n, -1);  // per root
  for (int i = 0; i < n; ++i) {
    const int r = root[i];
    if (marked[i] > 0 && marked[i] == marked[r] && (top[r] < 0 || depth[i] > depth[top[r]])) top[r] = i;
  }
  // The joints: every node with a marked node below it (or itself marked),
  // from its tree's top down.
  JointSet set;
  set.jointOfNode.assign(n, -1);
  for (int i = 0; i < n; ++i) {
    const int t = top[root[i]];
    if (marked[i] == 0 || t < 0 || depth[i] < depth[t]) continue;
    set.jointOfNode[i] = static_cast<int>(set.nodes.size());
    set.nodes.push_back(i);
    const int p = model.nodes[i].parent;
    set.parents.push_back(p >= 0 ? set.jointOfNode[p] : -1);
  }
  return set;
}

std::string NodePath(const SourceModel& model, int node) {
  std::string path = model.nodes[node].name;
  int parts = 1;
  for (int p = model.nodes[node].parent; p >= 0; p = model.nodes[p].parent, ++parts) {
    if (parts == kMaxNodePathParts) return ".../" + path;
    path = model.nodes[p].name + "/" + path;
  }
  return path;
}

namespace {

bool AllFinite(const double* v, std::size_t cnt) {
  for (std::size_t i = 0; i < cnt; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

void Report(qvl_CUtilMsgHandler* handler, const std::string& context, const char* key, const char* text,
            std::initializer_list<std::string> infos) {
  qvl_CUtilMsg msg(std::string("tool/animimport/tool_animimport_model.").append(key).c_str(), text);
  msg.AddInfo(context.c_str());
  for (const std::string& info : infos) msg.AddInfo(info.c_str());
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

// True when v, finite as a double, is beyond what a float holds.
bool BeyondFloat(double v) {
  return std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max());
}

// Reports the first problem of channel; true when there is one: a
// non-finite time or value; a time, or a translation times scale (scale 0
// for values that are not written as they are), beyond the float range; or a
// time not after the one before once both are floats, as the outputs store them.
bool CheckChannel(qvl_CUtilMsgHandler* handler, const std::string& context, const Channel& ch,
                  const char* what, const std::string& joint, const std::string& clip, double scale) {
  const std::size_t keys = ch.KeyCnt();
  if (keys == 0) return false;
  const std::size_t width = ch.values.size() / keys;
  for (std::size_t k = 0; k < keys; ++k) {
    const double t = (*ch.times)[k];
    const double* v = ch.values.data() + k * width;
    if (!std::isfinite(t) || !AllFinite(v, width)) {
      Report(handler, context, "non_finite",
             "Joint \"[1]\" of clip \"[2]\" has a non-finite [3] at key [4] (time [5]).",
             {joint, clip, what, std::to_string(k), std::to_string(t)});
      return true;
    }
    for (std::size_t i = 0; i < width && scale != 0.0; ++i) {
      if (!BeyondFloat(v[i] * scale)) continue;
      Report(handler, context, "float_range",
             "Joint \"[1]\" of clip \"[2]\" has a [3] of [4] at key [5] (time [6] s), beyond the range of "
             "a float (3.40282347e+38), in which it is written.",
             {joint, clip, what, Num(v[i] * scale), std::to_string(k), Num(t)});
      return true;
    }
    if (BeyondFloat(t)) {
      Report(handler, context, "float_range",
             "Joint \"[1]\" of clip \"[2]\" has a [3] key [4] at time [5] s, beyond the range of a float "
             "(3.40282347e+38), in which it is written.",
             {joint, clip, what, std::to_string(k), Num(t)});
      return true;
    }
    if (k > 0 && !(static_cast<float>(t) > static_cast<float>((*ch.times)[k - 1]))) {
      Report(handler, context, "float_times",
             "Joint \"[1]\" of clip \"[2]\": [3] key [4] at [5] s is not after key [6] at [7] s once both "
             "are written as floats.",
             {joint, clip, what, std::to_string(k), Num(t), std::to_string(k - 1), Num((*ch.times)[k - 1])});
      return true;
    }
  }
  return false;
}

// name with each zero byte written as \x00, for a message.
std::string ShowZeros(const std::string& name) {
  std::string out;
  for (char c : name) out += c == '\0' ? std::string("\\x00") : std::string(1, c);
  return out;
}

}  // namespace

int CheckModel(qvl_CUtilMsgHandler* handler, const std::string& context, const SourceModel& model,
               const JointSet& joints, const std::vector<std::string>& clipNames, double scale) {
  int problems = 0;
  std::unordered_map<std::string, int> byName;
  for (std::size_t j = 0; j < joints.nodes.size(); ++j) {
    const int node = joints.nodes[j];
    const Node& nd = model.nodes[node];
    if (nd.name.find('\0') != std::string::npos) {
      // Names are zero-terminated texts in the outputs: "Hi\0ps" and "Hi\0xx" would both be "Hi".
      Report(handler, context, "zero_in_name",
             "Joint [1] (node \"[2]\") has a name with a zero byte; names are written as zero-terminated "
             "texts, which it would cut.",
             {std::to_string(j), ShowZeros(NodePath(model, node))});
      ++problems;
      continue;
    }
    auto [it, inserted] = byName.try_emplace(nd.name, node);
    if (!inserted) {
      Report(handler, context, "duplicate_joint",
             "Joint name \"[1]\" is taken by two nodes: \"[2]\" and \"[3]\".",
             {nd.name, NodePath(model, it->second), NodePath(model, node)});
      ++problems;
    }
    const double rest[10] = {nd.transl.x, nd.transl.y, nd.transl.z, nd.rot.x,   nd.rot.y,
                             nd.rot.z,    nd.rot.w,    nd.scale.x,  nd.scale.y, nd.scale.z};
    if (!AllFinite(rest, 10)) {
      Report(handler, context, "non_finite_rest", "Joint \"[1]\" has a non-finite rest transform.",
             {nd.name});
      ++problems;
    } else if (BeyondFloat(nd.transl.x * scale) || BeyondFloat(nd.transl.y * scale) ||
               BeyondFloat(nd.transl.z * scale)) {
      Report(handler, context, "float_range_rest",
             "Joint \"[1]\" has a rest translation ([2], [3], [4]) beyond the range of a float "
             "(3.40282347e+38), in which it is written.",
             {nd.name, Num(nd.transl.x * scale), Num(nd.transl.y * scale), Num(nd.transl.z * scale)});
      ++problems;
    }
  }
  for (std::size_t c = 0; c < model.clips.size(); ++c) {
    for (const NodeTrack& t : model.clips[c].tracks) {
      const std::string& joint = model.nodes[t.node].name;
      const std::string& clip = c < clipNames.size() ? clipNames[c] : model.clips[c].name;
      problems += CheckChannel(handler, context, t.transl, "translation", joint, clip, scale);
      problems += CheckChannel(handler, context, t.rot, "rotation", joint, clip, 0.0);
      problems += CheckChannel(handler, context, t.scale, "scale", joint, clip, 0.0);
    }
  }
  return problems;
}

void ReportImportText(qvl_CUtilMsgHandler* handler, int level, const char* idPrefix,
                      const std::string& context, const char* key, const std::string& text) {
  qvl_CUtilMsg msg(std::string(idPrefix).append(key).c_str(), "[1]");
  msg.AddInfo(context.c_str());
  msg.AddInfo(text.c_str());
  if (level == qvl_MsgLevelError) {
    qvl_CUtilMsgHandler::ReportError(handler, msg);
  } else if (handler) {
    handler->Report(level, msg);
  }
}
