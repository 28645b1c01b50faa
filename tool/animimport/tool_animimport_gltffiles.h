// What the glTF reader lets the glTF loader read: the source file checked
// (a GLB container against the file's size), and external buffers only
// through its own file callbacks, inside the source's folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/msg/util_msg_handler.h"

namespace tinygltf {
class TinyGLTF;
struct Model;
}  // namespace tinygltf

// One entry of a glTF file's "buffers" as a plain scan of its JSON finds it.
struct GltfBufferRef {
  std::string uri;  // JSON escapes resolved; "" when absent
  bool hasByteLength = false;
  double byteLength = 0.0;
};

// Reads path, which must name a regular file (links followed) of at most
// maxBytes bytes, into out without blocking (a FIFO is refused, not waited
// for). Returns "" on success, else the reason as a phrase ("No such file or
// directory", "it is not a regular file", "it is N bytes, more than the
// limit of M bytes").
std::string ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::vector<unsigned char>* out);

// Checks a GLB container of size bytes: the 12-byte header (magic "glTF",
// version 2, a length equal to size) and every chunk's 8-byte header and
// length against the bytes left, the first chunk JSON. Returns "" when it
// adds up, with the JSON chunk's offset and length; else the problem, with
// *offset the byte offset it concerns.
std::string CheckGlb(const unsigned char* data, std::size_t size, std::size_t* offset,
                     std::size_t* jsonOffset, std::size_t* jsonLength);

// The entries of the top-level "buffers" array of the glTF JSON text, in
// order, by a scan that builds no tree and needs no recursion (linear in
// the text). False when the text is no JSON object the scan can follow;
// buffers then holds what was found before.
bool ScanGltfBuffers(std::string_view json, std::vector<GltfBufferRef>* buffers);

// True for a URI that the glTF loader decodes in memory (a base64 data URI
// of one of the media types it knows), so that no file is read for it.
bool IsEmbeddedUri(const std::string& uri);

// Loads the glTF file path (complete; binary when binary) with loader into
// model, the loader's warnings into *warn. Before the loader sees the bytes:
// the file is read here (a regular file within kMaxGltfFileBytes), a GLB's
// container is checked, and a buffer declaring a byteLength below 1 is
// refused. While it loads, the loader's file callbacks are this reader's: a
// buffer's URI must be a relative path that stays inside the source's
// folder once ".." and links are resolved, naming a regular file within the
// size limits (kMaxGltfFileBytes each, kMaxGltfTotalBytes in all); there is
// no fallback to the current directory; images are never read (they are not
// decoded). Returns 1 when the model loaded, 0 when the loader failed (its
// reason in *err; an exception it threw is caught and described there), -1
// when these checks refused the file (reported to handler at level 2 naming
// the file and the offset, or the buffer's index and URI).
int LoadGltfSource(qvl_CUtilMsgHandler* handler, const std::string& path, bool binary,
                   tinygltf::TinyGLTF* loader, tinygltf::Model* model, std::string* err, std::string* warn);
