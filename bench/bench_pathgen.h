// The generated animation of the calculation and report benchmarks: kBenchBones
// bones, each with its own rotation about a tilted axis and a small drift, so
// that no bone is identity relative to the one-frame rest pose.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

constexpr int kBenchBones = 200;
constexpr int kBenchFrames = 5000;

// The parent of bone b in the generated hierarchy: bone 0 is the top bone,
// bones 1 to 19 hang from it, and every later bone from the bone 20 before
// it, so that 19 chains of up to 10 bones hang from the top: depth 10.
inline int BenchParent(int b) {
  return b == 0 ? -1 : (b < 20 ? 0 : b - 20);
}

// A path animation file (text) of kBenchBones bones with frames keys each,
// at times 0, 1, ... frames − 1; frames = 1 gives the rest pose. With
// hierarchy, each path names its parent (BenchParent).
inline std::string MakeBenchPathFile(int frames, bool hierarchy = false) {
  std::string s = "format \"quorvel_path_5\"\ndata {\n  path_array";
  char buf[256];
  for (int b = 0; b < kBenchBones; ++b) {
    std::snprintf(buf, sizeof buf, " {\n    name \"bone%03d\"\n    range 0.0 %d.0\n    frame_array", b,
                  frames);
    if (hierarchy && BenchParent(b) >= 0) {
      std::snprintf(buf, sizeof buf,
                    " {\n    name \"bone%03d\"\n    parent \"bone%03d\"\n    range 0.0 %d.0\n    frame_array",
                    b, BenchParent(b), frames);
    }
    s += buf;
    for (int f = 0; f < frames; ++f) {
      const double a = 0.001 * f * (1 + b % 7);
      const double c = std::cos(a);
      const double sn = std::sin(a);
      std::snprintf(buf, sizeof buf, " { key %d.0 transl %.6g %.6g 0.0 quat %.7g 0.0 %.7g %.7g }", f,
                    0.01 * f, 0.5 * b, 0.6 * sn, 0.8 * sn, c);
      s += buf;
    }
    s += "\n  }";
  }
  return s + "\n}\n";
}
