// EXT_meshopt_compression views: the declaration checked before the library
// sees it (its decoders assert on strides they do not take), then decoded.
#include "tool/animimport/tool_animimport_meshopt.h"

#include <meshoptimizer.h>

bool DecodeMeshoptView(const MeshoptView& desc, const unsigned char* src, std::size_t srcLen,
                       std::size_t viewLen, std::size_t budget, std::vector<unsigned char>* out,
                       std::string* error) {
  const std::size_t stride = desc.byteStride;
  const std::string filter = desc.filter.empty() ? std::string("NONE") : desc.filter;
  const std::string strideText = "byte stride " + std::to_string(stride);
  const bool attributes = desc.mode == "ATTRIBUTES";
  if (!attributes && desc.mode != "TRIANGLES" && desc.mode != "INDICES") {
    *error = "has an unknown compression mode \"" + desc.mode + "\".";
    return false;
  }
  if (filter != "NONE" && filter != "OCTAHEDRAL" && filter != "QUATERNION" && filter != "EXPONENTIAL") {
    *error = "has an unknown compression filter \"" + filter + "\".";
    return false;
  }
  if (attributes ? (stride == 0 || stride % 4 != 0 || stride > 256) : (stride != 2 && stride != 4)) {
    *error = "has a " + strideText + " that mode " + desc.mode + " does not take.";
    return false;
  }
  if (!attributes && filter != "NONE") {
    *error = "has filter " + filter + " with mode " + desc.mode + "; filters apply to ATTRIBUTES only.";
    return false;
  }
  if ((filter == "OCTAHEDRAL" && stride != 4 && stride != 8) || (filter == "QUATERNION" && stride != 8)) {
    *error = "has a " + strideText + " that filter " + filter + " does not take.";
    return false;
  }
  if (desc.mode == "TRIANGLES" && desc.count % 3 != 0) {
    *error = "has " + std::to_string(desc.count) + " indices, not whole triangles.";
    return false;
  }
  if (desc.count > viewLen / stride) {
    *error = "declares " + std::to_string(desc.count) + " elements of " + std::to_string(stride) +
             " bytes, more than the view's " + std::to_string(viewLen) + " bytes.";
    return false;
  }
  const std::size_t bytes = desc.count * stride;  // at most viewLen: no overflow
  if (bytes / kMaxMeshoptRatio > srcLen + 4) {
    *error = "declares " + std::to_string(bytes) + " bytes decoded from " + std::to_string(srcLen) +
             " compressed ones, more than the codecs can give.";
    return false;
  }
  if (bytes > budget) {
    *error = "would decode to " + std::to_string(bytes) + " bytes, more than the " + std::to_string(budget) +
             " bytes left of the file's limit for decoded data.";
    return false;
  }
  out->assign(bytes, 0);
  int rc = 0;
  if (attributes) {
    rc = meshopt_decodeVertexBuffer(out->data(), desc.count, stride, src, srcLen);
  } else if (desc.mode == "TRIANGLES") {
    rc = meshopt_decodeIndexBuffer(out->data(), desc.count, stride, src, srcLen);
  } else {
    rc = meshopt_decodeIndexSequence(out->data(), desc.count, stride, src, srcLen);
  }
  if (rc != 0) {
    *error = "does not decode (" + desc.mode + " data, error " + std::to_string(rc) + ").";
    return false;
  }
  if (filter == "OCTAHEDRAL") meshopt_decodeFilterOct(out->data(), desc.count, stride);
  if (filter == "QUATERNION") meshopt_decodeFilterQuat(out->data(), desc.count, stride);
  if (filter == "EXPONENTIAL") meshopt_decodeFilterExp(out->data(), desc.count, stride);
  return true;
}
