// Fuzz target of animimport's BVH reader: whatever the text, the reading ends
// with a report or with a model whose indices and key counts hold together.
#include <cmath>

#include "tests/fuzz/fuzz_check.h"
#include "tests/util/kvt/util_kvt_test_util.h"
#include "tool/animimport/tool_animimport_bvh.h"

int QvlFuzzAnimImportBvh(const std::uint8_t* data, std::size_t size) {
  KvtTestHandler h;
  SourceModel model;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool ok = ReadBvh(h.Get(), "f.bvh", text, &model);
  QVL_FUZZ_CHECK(ok || h.Count() > 0);
  if (!ok) return 0;
  const int nodes = static_cast<int>(model.nodes.size());
  for (int i = 0; i < nodes; ++i) {
    // Parents come first; every rest rotation is a unit quaternion.
    const Node& n = model.nodes[static_cast<std::size_t>(i)];
    QVL_FUZZ_CHECK(n.parent >= -1 && n.parent < i);
    const double len2 = n.rot.x * n.rot.x + n.rot.y * n.rot.y + n.rot.z * n.rot.z + n.rot.w * n.rot.w;
    QVL_FUZZ_CHECK(std::fabs(len2 - 1.0) < 1e-9);
  }
  for (const Clip& clip : model.clips) {
    for (const NodeTrack& track : clip.tracks) {
      QVL_FUZZ_CHECK(track.node >= 0 && track.node < nodes);
      for (const Channel* c : {&track.transl, &track.rot, &track.scale}) {
        const std::size_t width = c == &track.rot ? 4 : 3;
        QVL_FUZZ_CHECK(c->values.size() == c->KeyCnt() * width);
        if (c->times) {
          for (std::size_t k = 1; k < c->times->size(); ++k)
            QVL_FUZZ_CHECK((*c->times)[k - 1] < (*c->times)[k]);
        }
      }
    }
  }
  // Joint selection takes any model the reader gives.
  const JointSet joints = SelectJoints(model);
  QVL_FUZZ_CHECK(joints.nodes.size() == joints.parents.size());
  return 0;
}
