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

// Decodes the srcLen compressed bytes at src, as desc declares them, into
// out: viewLen bytes (the byte length of the buffer view as the file declares
// it), of which the first count * byteStride are the decoded elements and
// the rest zero. The stride must suit the mode and filter (ATTRIBUTES: a
// multiple of 4 up to 256, OCTAHEDRAL 4 or 8, QUATERNION 8; TRIANGLES and
// INDICES: 2 or 4, a TRIANGLES count a multiple of 3, and no filter), and
// count * byteStride must fit in viewLen, so that the output is never larger
// than the view. Returns false with one sentence in *error on a declaration
// that breaks these rules or on data that does not decode; out is then
// unspecified.
bool DecodeMeshoptView(const MeshoptView& desc, const unsigned char* src, std::size_t srcLen,
                       std::size_t viewLen, std::vector<unsigned char>* out, std::string* error);
