// Decoding of glTF buffer views that the extension EXT_meshopt_compression
// compresses, with the meshoptimizer library.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What the extension object of one compressed buffer view declares.
struct MeshoptView {
  std::size_t byteStride = 0;  // bytes per element once decoded
  std::size_t count = 0;       // elements
  std::string mode;            // "ATTRIBUTES", "TRIANGLES" or "INDICES"
  std::string filter;          // "NONE" (or empty), "OCTAHEDRAL", "QUATERNION" or "EXPONENTIAL"
};

// The most bytes one compressed byte may decode to: the codecs store at
// least 2 bits per 16 bytes of elements (the attribute codec's densest
// case, about 64 to 1), so a larger claim cannot be real data; checked
// before anything is allocated.
constexpr std::size_t kMaxMeshoptRatio = 1024;

// Decodes the srcLen compressed bytes at src, as desc declares them, into
// out: the count * byteStride bytes of the decoded elements. The stride must
// suit the mode and filter (ATTRIBUTES: a multiple of 4 up to 256,
// OCTAHEDRAL 4 or 8, QUATERNION 8; TRIANGLES and INDICES: 2 or 4, a
// TRIANGLES count a multiple of 3, and no filter), count * byteStride must
// fit in viewLen (the byte length the file declares for the view) and be at
// most kMaxMeshoptRatio * srcLen + 4096 and at most budget. Returns false with one sentence in
// *error on a declaration that breaks these rules or on data that does not
// decode; out is then unspecified.
bool DecodeMeshoptView(const MeshoptView& desc, const unsigned char* src, std::size_t srcLen,
                       std::size_t viewLen, std::size_t budget, std::vector<unsigned char>* out,
                       std::string* error);
