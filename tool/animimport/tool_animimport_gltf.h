// Reader of glTF 2.0 files (.gltf with its buffers, or .glb) into the
// importer's model; samplers keep their interpolation (STEP, CUBICSPLINE).
#pragma once

#include <string>

#include "tool/animimport/tool_animimport_model.h"

namespace tinygltf {
struct Model;
}  // namespace tinygltf

// Reads the glTF file at path (a complete path; the extension .glb selects
// the binary container) into model: every node of the file (parents before
// children; an unnamed node is called "node<INDEX>"), its rest transform
// from its matrix or its translation, rotation and scale, skin joints marked
// as skin bones, and one clip per animation with its translation, rotation
// and scale channels read from the accessors (times in seconds; morph
// weights are skipped), and metersPerUnit 1. Images are not decoded. Buffer
// views compressed with EXT_meshopt_compression are decoded where an
// animation reads them.
// A file that requires an extension not supported here (see
// IsSupportedExtension in the source) is refused before any of its data is
// read, naming the extension. A file that cannot be read, or whose accessors
// are out of bounds, of a wrong type, not ascending in time or sparse, or
// whose compressed views do not decode, is reported to handler at level 2
// with the context path, naming the animation, channel, accessor or view;
// false then. The loader's warnings become warnings (level 5).
bool ReadGltf(qvl_CUtilMsgHandler* handler, const std::string& path, SourceModel* model);

// The part of ReadGltf after the loader: gltf, a parsed file, into model
// with the same checks and reports (path names the file in them).
bool ReadGltfModel(qvl_CUtilMsgHandler* handler, const std::string& path, tinygltf::Model gltf,
                   SourceModel* model);
