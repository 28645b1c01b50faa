// Shared helpers of the importer's tests: channels from literals, rotations
// computed by matrices, and path animation files read back into plain frames.
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

inline Channel MakeChannel(std::vector<double> times, std::vector<double> values,
                           Interp interp = Interp::kLinear) {
  return Channel{std::make_shared<const std::vector<double>>(std::move(times)), std::move(values), interp};
}

// v rotated by the product of axis rotations (axis 0 x, 1 y, 2 z; degrees) in
// the order given, the first outermost, by 3x3 matrices.
inline void EulerRotate(const std::vector<std::pair<int, double>>& rots, const double* v, double* out) {
  double a[3] = {v[0], v[1], v[2]};
  for (auto it = rots.rbegin(); it != rots.rend(); ++it) {
    const double r = it->second * M_PI / 180, c = std::cos(r), s = std::sin(r);
    const int p = (it->first + 1) % 3, q = (it->first + 2) % 3;
    const double ap = c * a[p] - s * a[q], aq = s * a[p] + c * a[q];
    a[p] = ap, a[q] = aq;
  }
  std::copy(a, a + 3, out);
}

// v rotated by the quaternion q (x y z w): v + 2w (u x v) + 2 u x (u x v).
inline void QuatRotate(const double* q, const double* v, double* out) {
  const double c[3] = {q[1] * v[2] - q[2] * v[1], q[2] * v[0] - q[0] * v[2], q[0] * v[1] - q[1] * v[0]};
  const double cc[3] = {q[1] * c[2] - q[2] * c[1], q[2] * c[0] - q[0] * c[2], q[0] * c[1] - q[1] * c[0]};
  for (int i = 0; i < 3; ++i) out[i] = v[i] + 2 * q[3] * c[i] + 2 * cc[i];
}

// The largest component difference of two quaternions, the sign of either
// ignored. Not an angle: acos near 1 would magnify float rounding.
inline double QuatDist(const double* a, const double* b) {
  double plus = 0, minus = 0;
  for (int i = 0; i < 4; ++i) {
    plus = std::max(plus, std::fabs(a[i] - b[i]));
    minus = std::max(minus, std::fabs(a[i] + b[i]));
  }
  return std::min(plus, minus);
}

struct ReadFrame {
  double key, t[3], q[4];
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

// Reads a path animation file (either encoding) back; unreadable parts read as empty.
inline ReadFile ReadPathFile(const std::string& path) {
  ReadFile out;
  qvl_CUtilPtr<qvl_CUtilCachedFile> file(new qvl_CUtilCachedFile(nullptr, "", "", path.c_str(), 10, -1));
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root(qvl_CUtilKvtWork::ReadStreamSimple(nullptr, "", file.Get(), false));
  qvl_CUtilPtrBase::RefReleaseOf(root.Get());
  out.format = root->GetValueStr(root->FindKey("format"), 0).GetChars();
  const qvl_CUtilKvtChunk* data = root->PeekValueChunk(root->FindKey("data"), 0);
  const int pk = data ? data->FindKey("path_array") : -1;
  for (int v = 0; data && v < data->GetValueCnt(pk); ++v) {
    const qvl_CUtilKvtChunk* p = data->PeekValueChunk(pk, v);
    const std::string name = p->GetValueStr(p->FindKey("name"), 0).GetChars();
    ReadPath& rp = out.paths[name];
    out.order.push_back(name);
    const int rk = p->FindKey("range"), fk = p->FindKey("frame_array");
    rp.range[0] = p->GetValueFloat(rk, 0);
    rp.range[1] = p->GetValueFloat(rk, 1);
    for (int f = 0; f < p->GetValueCnt(fk); ++f) {
      const qvl_CUtilKvtChunk* fr = p->PeekValueChunk(fk, f);
      ReadFrame rf{fr->GetValueFloat(fr->FindKey("key"), 0), {}, {}};
      for (int i = 0; i < 4; ++i) {
        if (i < 3) rf.t[i] = fr->GetValueFloat(fr->FindKey("transl"), i);
        rf.q[i] = fr->GetValueFloat(fr->FindKey("quat"), i);
      }
      rp.frames.push_back(rf);
    }
  }
  return out;
}
