// Double-precision vector and quaternion for decoding and measuring: values
// read back from files are compared in double, so that the measure itself
// adds no float rounding to the error it reports.
#pragma once

// Three doubles, memory order x y z.
struct Vector3d {
  double x;
  double y;
  double z;
};

// Four doubles, memory order x y z w ((x, y, z) the vector part).
struct Quatd {
  double x;
  double y;
  double z;
  double w;
};
