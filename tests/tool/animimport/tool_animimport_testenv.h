// Shared helpers of the importer's tests: channels built from literals, and
// path animation files read back into plain frames.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"
#include "util/file/util_file_cachedfile.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

// A channel of the given times and flat values.
inline Channel MakeChannel(std::vector<double> times, std::vector<double> values,
                           Interp interp = Interp::kLinear) {
  Channel ch;
  ch.times = std::make_shared<const std::vector<double>>(std::move(times));
  ch.values = std::move(values);
  ch.interp = interp;
  return ch;
}

struct ReadFrame {
  double key;
  double t[3];
  double q[4];
};
struct ReadPath {
  double range[2];
  std::vector<ReadFrame> frames;
};
struct ReadFile {
  std::string format;
  std::vector<std::string> order;  // path names in file order
  std::map<std::string, ReadPath> paths;
};

// Reads a path animation file (either encoding) written by the importer; a
// failure to read it fails the test.
inline ReadFile ReadPathFile(const std::string& path) {
  ReadFile out;
  qvl_CUtilPtr<qvl_CUtilCachedFile> file(new qvl_CUtilCachedFile(nullptr, "", "", path.c_str(), 10, -1));
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root(qvl_CUtilKvtWork::ReadStreamSimple(nullptr, "", file.Get(), false));
  qvl_CUtilPtrBase::RefReleaseOf(root.Get());
  out.format = root->GetValueStr(root->FindKey("format"), 0).GetChars();
  const qvl_CUtilKvtChunk* data = root->PeekValueChunk(root->FindKey("data"), 0);
  EXPECT_NE(data, nullptr) << path;
  if (!data) return out;
  const int pk = data->FindKey("path_array");
  for (int v = 0; v < data->GetValueCnt(pk); ++v) {
    const qvl_CUtilKvtChunk* p = data->PeekValueChunk(pk, v);
    const std::string name = p->GetValueStr(p->FindKey("name"), 0).GetChars();
    ReadPath& rp = out.paths[name];
    out.order.push_back(name);
    const int rk = p->FindKey("range");
    rp.range[0] = p->GetValueFloat(rk, 0);
    rp.range[1] = p->GetValueFloat(rk, 1);
    const int fk = p->FindKey("frame_array");
    for (int f = 0; f < p->GetValueCnt(fk); ++f) {
      const qvl_CUtilKvtChunk* fr = p->PeekValueChunk(fk, f);
      ReadFrame rf{};
      rf.key = fr->GetValueFloat(fr->FindKey("key"), 0);
      for (int i = 0; i < 3; ++i) rf.t[i] = fr->GetValueFloat(fr->FindKey("transl"), i);
      for (int i = 0; i < 4; ++i) rf.q[i] = fr->GetValueFloat(fr->FindKey("quat"), i);
      rp.frames.push_back(rf);
    }
  }
  return out;
}

// The largest component difference of two quaternions, the sign of either
// ignored (q and -q are one rotation). Not an angle: near the identity an
// angle from acos would magnify float rounding a thousandfold.
inline double QuatDist(const double* a, const double* b) {
  double plus = 0, minus = 0;
  for (int i = 0; i < 4; ++i) {
    plus = std::max(plus, std::fabs(a[i] - b[i]));
    minus = std::max(minus, std::fabs(a[i] + b[i]));
  }
  return std::min(plus, minus);
}
