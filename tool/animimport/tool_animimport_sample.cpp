// Sampling of channels, frame times and clip names.
#include "tool/animimport/tool_animimport_sample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "tool/animimport/tool_animimport_limits.h"

Quatd QuatMul(const Quatd& a, const Quatd& b) {
  return Quatd{a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
               a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quatd QuatNormalize(const Quatd& q) {
  const double len = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(len > 0.0)) return Quatd{0.0, 0.0, 0.0, 1.0};
  return Quatd{q.x / len, q.y / len, q.z / len, q.w / len};
}

Quatd QuatSlerp(const Quatd& a, Quatd b, double u) {
  double d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  if (d < 0.0) {
    b = Quatd{-b.x, -b.y, -b.z, -b.w};
    d = -d;
  }
  double wa = 1.0 - u;
  double wb = u;
  // Nearly equal rotations: the linear blend is exact to rounding and avoids
  // dividing by a vanishing sine.
  if (d < 0.9999) {
    const double angle = std::acos(d);
    const double s = std::sin(angle);
    wa = std::sin((1.0 - u) * angle) / s;
    wb = std::sin(u * angle) / s;
  }
  return QuatNormalize(
      Quatd{wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w});
}

namespace {

// The key k with times[k] <= t < times[k + 1] and the fraction u of t in that
// interval; k is the last key (u 0) at or after it, and 0 (u 0) before the first.
void FindKey(const std::vector<double>& times, double t, std::size_t* k, double* u) {
  const std::size_t n = times.size();
  if (t <= times[0]) {
    *k = 0;
    *u = 0.0;
    return;
  }
  if (t >= times[n - 1]) {
    *k = n - 1;
    *u = 0.0;
    return;
  }
  const std::size_t hi =
      static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
  *k = hi - 1;
  *u = (t - times[*k]) / (times[hi] - times[*k]);
}

// Hermite spline of one component: values p0, p1, tangents m0 (out of key k)
// and m1 (into key k + 1) in units per second, interval length dt.
double Hermite(double p0, double m0, double p1, double m1, double dt, double u) {
  const double u2 = u * u;
  const double u3 = u2 * u;
  return (2 * u3 - 3 * u2 + 1) * p0 + (u3 - 2 * u2 + u) * dt * m0 + (-2 * u3 + 3 * u2) * p1 +
         (u3 - u2) * dt * m1;
}

// Component i of width-wide values at time t; out receives width doubles.
void EvalRaw(const Channel& ch, std::size_t width, double t, double* out, bool* blended, double* u,
             std::size_t* k) {
  const std::vector<double>& times = *ch.times;
  FindKey(times, t, k, u);
  const bool cubic = ch.interp == Interp::kCubicSpline;
  const std::size_t stride = cubic ? 3 * width : width;
  const std::size_t valueAt = cubic ? width : 0;  // the value sits between the tangents
  const double* a = ch.values.data() + *k * stride + valueAt;
  *blended = *u > 0.0 && ch.interp != Interp::kStep;
  if (!*blended) {
    std::copy(a, a + width, out);
    return;
  }
  const double* b = ch.values.data() + (*k + 1) * stride + valueAt;
  if (cubic) {
    const double dt = times[*k + 1] - times[*k];
    const double* outTan = a + width;  // out-tangent of key k
    const double* inTan = b - width;   // in-tangent of key k + 1
    for (std::size_t i = 0; i < width; ++i) out[i] = Hermite(a[i], outTan[i], b[i], inTan[i], dt, *u);
    return;
  }
  for (std::size_t i = 0; i < width; ++i) out[i] = a[i] + (b[i] - a[i]) * *u;
}

}  // namespace

Vector3d EvalVec(const Channel& ch, double t, const Vector3d& rest) {
  if (ch.IsEmpty()) return rest;
  double v[3];
  bool blended = false;
  double u = 0.0;
  std::size_t k = 0;
  EvalRaw(ch, 3, t, v, &blended, &u, &k);
  return Vector3d{v[0], v[1], v[2]};
}

Quatd EvalQuat(const Channel& ch, double t, const Quatd& rest) {
  if (ch.IsEmpty()) return rest;
  if (ch.interp != Interp::kLinear) {
    double v[4];
    bool blended = false;
    double u = 0.0;
    std::size_t k = 0;
    EvalRaw(ch, 4, t, v, &blended, &u, &k);
    return QuatNormalize(Quatd{v[0], v[1], v[2], v[3]});
  }
  std::size_t k = 0;
  double u = 0.0;
  FindKey(*ch.times, t, &k, &u);
  const double* a = ch.values.data() + k * 4;
  const Quatd qa{a[0], a[1], a[2], a[3]};
  if (u == 0.0) return QuatNormalize(qa);
  const double* b = a + 4;
  return QuatSlerp(QuatNormalize(qa), QuatNormalize(Quatd{b[0], b[1], b[2], b[3]}), u);
}

bool ClipRange(const Clip& clip, double* start, double* end) {
  bool any = false;
  for (const NodeTrack& t : clip.tracks) {
    for (const Channel* ch : {&t.transl, &t.rot, &t.scale}) {
      if (ch->IsEmpty()) continue;
      const double first = ch->times->front();
      const double last = ch->times->back();
      *start = any ? std::min(*start, first) : first;
      *end = any ? std::max(*end, last) : last;
      any = true;
    }
  }
  return any;
}

std::vector<double> TrackTimes(const NodeTrack& track) {
  std::vector<double> out;
  const std::vector<double>* a = track.transl.IsEmpty() ? nullptr : track.transl.times.get();
  const std::vector<double>* b = track.rot.IsEmpty() ? nullptr : track.rot.times.get();
  if (!a && !b) {
    if (!track.scale.IsEmpty()) out = *track.scale.times;
    return out;
  }
  if (!a || !b || a == b) {
    out = a ? *a : *b;
    return out;
  }
  out.reserve(a->size() + b->size());
  std::set_union(a->begin(), a->end(), b->begin(), b->end(), std::back_inserter(out));
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<double> ResampleTimes(double start, double end, double rate) {
  std::vector<double> out;
  for (std::size_t i = 0;; ++i) {
    const double t = start + static_cast<double>(i) / rate;
    if (!(t < end - 1e-6)) break;
    out.push_back(t);
  }
  out.push_back(end);
  return out;
}

std::size_t ResampleCnt(double start, double end, double rate) {
  const double limit = end - 1e-6;
  auto below = [&](std::size_t i) { return start + static_cast<double>(i) / rate < limit; };
  // The first i whose time is not below the limit, from an estimate put
  // right by the same comparison ResampleTimes makes.
  const double estimate = std::ceil((limit - start) * rate);
  std::size_t i = estimate > 0 ? static_cast<std::size_t>(estimate) : 0;
  while (i > 0 && !below(i - 1)) --i;
  while (below(i)) ++i;
  return i + 1;
}

std::size_t TrackFrameCnt(const NodeTrack& track) {
  const std::vector<double>* a = track.transl.IsEmpty() ? nullptr : track.transl.times.get();
  const std::vector<double>* b = track.rot.IsEmpty() ? nullptr : track.rot.times.get();
  if (!a && !b) return track.scale.KeyCnt();
  if (!a || !b || a == b) return (a ? a : b)->size();
  // The size of the union of two ascending lists, repeats counted once.
  std::size_t i = 0, j = 0, cnt = 0;
  double last = 0.0;
  while (i < a->size() || j < b->size()) {
    const bool fromA = j == b->size() || (i < a->size() && (*a)[i] <= (*b)[j]);
    const double t = fromA ? (*a)[i++] : (*b)[j++];
    if (cnt == 0 || t != last) ++cnt;
    last = t;
  }
  return cnt;
}

std::string SanitizeName(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    if (!keep) c = '_';
  }
  return out;
}

namespace {

// FNV-1a, 32 bits: a hash that stays the same from run to run and build to build.
std::uint32_t StableHash(const std::string& s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

}  // namespace

std::string ShortenName(const std::string& name) {
  if (name.size() <= kMaxClipNameBytes) return name;
  char tail[16];
  std::snprintf(tail, sizeof tail, "~%08x", static_cast<unsigned>(StableHash(name)));
  return name.substr(0, kMaxClipNameBytes - 9) + tail;
}

std::vector<std::string> NameClips(const SourceModel& model, const std::string& stem) {
  std::vector<std::string> names;
  // Output file names taken so far, and per base name the next suffix to try:
  // every name below it is taken, so each clip's search starts there and the
  // whole naming stays linear in the number of clips.
  std::unordered_set<std::string> files{"rest.kvt"};
  std::unordered_map<std::string, int> nextSuffix;
  auto take = [&](const std::string& name) {
    const std::string clipFile = name + ".kvt", jobFile = name + ".job.kvt";
    if (files.count(clipFile) || files.count(jobFile)) return false;
    files.insert(clipFile);
    files.insert(jobFile);
    return true;
  };
  int unnamed = 0;
  const bool single = model.clips.size() == 1;
  for (const Clip& clip : model.clips) {
    std::string base;
    if (!clip.name.empty()) {
      base = ShortenName(SanitizeName(clip.name));
    } else if (single) {
      base = ShortenName(SanitizeName(stem));
    } else {
      base = "anim" + std::to_string(unnamed++);
    }
    auto [next, first] = nextSuffix.try_emplace(base, 2);
    std::string name = base;
    if (!first || !take(name)) {
      do {
        name = base + "_" + std::to_string(next->second++);
      } while (!take(name));
    }
    names.push_back(name);
  }
  return names;
}
