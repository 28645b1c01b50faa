// Joint selection and the checks every imported model goes through.
#include "tool/animimport/tool_animimport_model.h"

#include <cmath>
#include <initializer_list>
#include <map>

#include "util/msg/util_msg_msg.h"

JointSet SelectJoints(const SourceModel& model) {
  const int n = static_cast<int>(model.nodes.size());
  std::vector<char> marked(n, 0);
  for (int i = 0; i < n; ++i) marked[i] = model.nodes[i].skinBone;
  for (const Clip& clip : model.clips) {
    for (const NodeTrack& t : clip.tracks) {
      if (t.node >= 0 && t.node < n) marked[t.node] = 1;
    }
  }
  // Depth of each node; parents come before children.
  std::vector<int> depth(n, 0);
  for (int i = 0; i < n; ++i) depth[i] = model.nodes[i].parent >= 0 ? depth[model.nodes[i].parent] + 1 : 0;
  auto treeRoot = [&](int i) {
    while (model.nodes[i].parent >= 0) i = model.nodes[i].parent;
    return i;
  };
  // The lowest common ancestor of the marked nodes of each tree.
  std::map<int, int> topOfTree;
  for (int i = 0; i < n; ++i) {
    if (!marked[i]) continue;
    auto [it, inserted] = topOfTree.try_emplace(treeRoot(i), i);
    if (inserted) continue;
    int a = it->second;
    int b = i;
    while (depth[a] > depth[b]) a = model.nodes[a].parent;
    while (depth[b] > depth[a]) b = model.nodes[b].parent;
    while (a != b) {
      a = model.nodes[a].parent;
      b = model.nodes[b].parent;
    }
    it->second = a;
  }
  // Every node on the way from a marked node up to its tree's top.
  std::vector<char> chosen(n, 0);
  for (int i = 0; i < n; ++i) {
    if (!marked[i]) continue;
    const int top = topOfTree[treeRoot(i)];
    for (int j = i; !chosen[j]; j = model.nodes[j].parent) {
      chosen[j] = 1;
      if (j == top) break;
    }
  }
  JointSet set;
  set.jointOfNode.assign(n, -1);
  for (int i = 0; i < n; ++i) {
    if (!chosen[i]) continue;
    set.jointOfNode[i] = static_cast<int>(set.nodes.size());
    set.nodes.push_back(i);
    const int p = model.nodes[i].parent;
    set.parents.push_back(p >= 0 ? set.jointOfNode[p] : -1);
  }
  return set;
}

std::string NodePath(const SourceModel& model, int node) {
  std::string path = model.nodes[node].name;
  for (int p = model.nodes[node].parent; p >= 0; p = model.nodes[p].parent)
    path = model.nodes[p].name + "/" + path;
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

// Reports the first non-finite time or value of channel; true when there is one.
bool CheckChannel(qvl_CUtilMsgHandler* handler, const std::string& context, const Channel& ch,
                  const char* what, const std::string& joint, const std::string& clip) {
  const std::size_t keys = ch.KeyCnt();
  if (keys == 0) return false;
  const std::size_t width = ch.values.size() / keys;
  for (std::size_t k = 0; k < keys; ++k) {
    const double t = (*ch.times)[k];
    if (std::isfinite(t) && AllFinite(ch.values.data() + k * width, width)) continue;
    Report(handler, context, "non_finite",
           "Joint \"[1]\" of clip \"[2]\" has a non-finite [3] at key [4] (time [5]).",
           {joint, clip, what, std::to_string(k), std::to_string(t)});
    return true;
  }
  return false;
}

}  // namespace

int CheckModel(qvl_CUtilMsgHandler* handler, const std::string& context, const SourceModel& model,
               const JointSet& joints, const std::vector<std::string>& clipNames) {
  int problems = 0;
  std::map<std::string, int> byName;
  for (int node : joints.nodes) {
    const Node& nd = model.nodes[node];
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
    }
  }
  for (std::size_t c = 0; c < model.clips.size(); ++c) {
    for (const NodeTrack& t : model.clips[c].tracks) {
      const std::string& joint = model.nodes[t.node].name;
      const std::string& clip = c < clipNames.size() ? clipNames[c] : model.clips[c].name;
      problems += CheckChannel(handler, context, t.transl, "translation", joint, clip);
      problems += CheckChannel(handler, context, t.rot, "rotation", joint, clip);
      problems += CheckChannel(handler, context, t.scale, "scale", joint, clip);
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
