// Shared helpers of the importer's tests: channels from literals, rotations
// computed by matrices, path animation files read back into plain frames,
// world poses by forward kinematics and a similarity fit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tool/animimport/tool_animimport_model.h"
#include "tool/animimport/tool_animimport_sample.h"
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

// v as 4 bytes, least significant first.
inline std::string U32(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

// The names of the entries of the directory dir, sorted.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct ReadFrame {
  double key, t[3], q[4];
};
struct ReadPath {
  double range[2];
  std::vector<ReadFrame> frames;
  std::vector<std::string> parents;  // the values of every parent key
};
struct ReadFile {
  std::string format;
  std::vector<std::string> order;  // path names in file order
  std::map<std::string, ReadPath> paths;
  std::vector<double> metersPerUnit;  // the values of every meters_per_unit key of data
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
  for (int k = data ? data->FindKey("meters_per_unit") : -1; k >= 0;
       k = data->FindKey("meters_per_unit", k + 1))
    out.metersPerUnit.push_back(data->GetValueFloat(k, 0));
  for (int v = 0; data && v < data->GetValueCnt(pk); ++v) {
    const qvl_CUtilKvtChunk* p = data->PeekValueChunk(pk, v);
    const std::string name = p->GetValueStr(p->FindKey("name"), 0).GetChars();
    ReadPath& rp = out.paths[name];
    out.order.push_back(name);
    for (int k = p->FindKey("parent"); k >= 0; k = p->FindKey("parent", k + 1))
      rp.parents.push_back(p->GetValueStr(k, 0).GetChars());
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

// --- Forward kinematics and a similarity fit, for checks in world space ---
using V3 = std::array<double, 3>;

// The local pose of path at time t: the frames' translations blended
// linearly, their rotations spherically (the importer's own slerp), held
// before the first frame and after the last.
inline void SamplePath(const ReadPath& p, double t, V3* tr, Quatd* q) {
  std::size_t k = 0;
  while (k + 1 < p.frames.size() && p.frames[k + 1].key <= t) ++k;
  const ReadFrame& a = p.frames[k];
  const ReadFrame& b = p.frames[std::min(k + 1, p.frames.size() - 1)];
  const double u = b.key > a.key ? std::clamp((t - a.key) / (b.key - a.key), 0.0, 1.0) : 0.0;
  for (int i = 0; i < 3; ++i) (*tr)[i] = a.t[i] + (b.t[i] - a.t[i]) * u;
  *q = QuatSlerp(Quatd{a.q[0], a.q[1], a.q[2], a.q[3]}, Quatd{b.q[0], b.q[1], b.q[2], b.q[3]}, u);
}

// World origin and rotation of every path of rest (parents first, as the
// importer writes them) at time t: the local pose from clip where it has the
// path, else the rest frame; origin = parent origin + R(parent) t, R = R(parent) q.
inline std::map<std::string, std::pair<V3, Quatd>> WorldPoses(const ReadFile& rest, const ReadFile* clip,
                                                              double t) {
  std::map<std::string, std::pair<V3, Quatd>> world;
  for (const std::string& name : rest.order) {
    const ReadPath& rp = rest.paths.at(name);
    V3 tr;
    Quatd q;
    const auto anim = clip ? clip->paths.find(name) : std::map<std::string, ReadPath>::const_iterator();
    SamplePath(clip && anim != clip->paths.end() ? anim->second : rp, t, &tr, &q);
    auto parent = rp.parents.empty() ? world.end() : world.find(rp.parents.back());
    if (parent == world.end()) {
      world[name] = {tr, q};
      continue;
    }
    const Quatd& pq = parent->second.second;
    const double pqa[4] = {pq.x, pq.y, pq.z, pq.w};
    V3 r;
    QuatRotate(pqa, tr.data(), r.data());
    for (int i = 0; i < 3; ++i) r[i] += parent->second.first[i];
    world[name] = {r, QuatMul(pq, q)};
  }
  return world;
}

inline double Dist(const V3& a, const V3& b) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// The diagonal of the box around points.
inline double Extent(const std::vector<V3>& points) {
  V3 lo = points.at(0), hi = points.at(0);
  for (const V3& p : points) {
    for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], p[i]), hi[i] = std::max(hi[i], p[i]);
  }
  return Dist(lo, hi);
}

struct SimilarityFit {
  double scale;    // s of y = s R x + c
  double maxDist;  // the largest |s R x + c - y| over the pairs, in y's units
};

// The similarity (rotation, uniform scale, translation) that takes points x
// closest to points y in the least-squares sense (Horn's quaternion method:
// the rotation is the eigenvector of the largest eigenvalue of a symmetric
// 4x4 matrix, found by Jacobi rotations), and how far it leaves them apart.
inline SimilarityFit FitSimilarity(const std::vector<V3>& x, const std::vector<V3>& y) {
  V3 cx{}, cy{};
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (int a = 0; a < 3; ++a) cx[a] += x[i][a] / x.size(), cy[a] += y[i][a] / y.size();
  }
  double s[3][3] = {};
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) s[a][b] += (x[i][a] - cx[a]) * (y[i][b] - cy[b]);
    }
  }
  double n[4][4] = {{s[0][0] + s[1][1] + s[2][2], s[1][2] - s[2][1], s[2][0] - s[0][2], s[0][1] - s[1][0]},
                    {s[1][2] - s[2][1], s[0][0] - s[1][1] - s[2][2], s[0][1] + s[1][0], s[2][0] + s[0][2]},
                    {s[2][0] - s[0][2], s[0][1] + s[1][0], -s[0][0] + s[1][1] - s[2][2], s[1][2] + s[2][1]},
                    {s[0][1] - s[1][0], s[2][0] + s[0][2], s[1][2] + s[2][1], -s[0][0] - s[1][1] + s[2][2]}};
  double v[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    for (int p = 0; p < 4; ++p) {
      for (int q = p + 1; q < 4; ++q) {
        if (std::fabs(n[p][q]) < 1e-300) continue;
        const double th = (n[q][q] - n[p][p]) / (2 * n[p][q]);
        const double t = (th >= 0 ? 1 : -1) / (std::fabs(th) + std::sqrt(th * th + 1));
        const double c = 1 / std::sqrt(t * t + 1), sn = t * c;
        for (int k = 0; k < 4; ++k) {  // N <- J^T N J, V <- V J
          const double a = n[k][p], b = n[k][q];
          n[k][p] = c * a - sn * b, n[k][q] = sn * a + c * b;
        }
        for (int k = 0; k < 4; ++k) {
          const double a = n[p][k], b = n[q][k];
          n[p][k] = c * a - sn * b, n[q][k] = sn * a + c * b;
          const double va = v[k][p], vb = v[k][q];
          v[k][p] = c * va - sn * vb, v[k][q] = sn * va + c * vb;
        }
      }
    }
  }
  int best = 0;
  for (int k = 1; k < 4; ++k) best = n[k][k] > n[best][best] ? k : best;
  const double rot[4] = {v[1][best], v[2][best], v[3][best], v[0][best]};  // x y z w
  std::vector<V3> rx(x.size());
  double num = 0, den = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const V3 d{x[i][0] - cx[0], x[i][1] - cx[1], x[i][2] - cx[2]};
    QuatRotate(rot, d.data(), rx[i].data());
    for (int a = 0; a < 3; ++a) num += rx[i][a] * (y[i][a] - cy[a]), den += d[a] * d[a];
  }
  SimilarityFit fit{num / den, 0.0};
  for (std::size_t i = 0; i < x.size(); ++i) {
    const V3 m{fit.scale * rx[i][0] + cy[0], fit.scale * rx[i][1] + cy[1], fit.scale * rx[i][2] + cy[2]};
    fit.maxDist = std::max(fit.maxDist, Dist(m, y[i]));
  }
  return fit;
}
