// The glTF source read and checked here, and the loader's file callbacks
// that keep it inside the source's folder.
#include "tool/animimport/tool_animimport_gltffiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>

#include "tool/animimport/tool_animimport_limits.h"
#include "tool/animimport/tool_animimport_model.h"
#include "util/msg/util_msg_msg.h"

namespace {

std::uint32_t ReadU32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// A forward-only scan of JSON text: strings with their escapes, numbers, and
// values skipped by counting brackets, so that no nesting costs stack.
class JsonScan {
 public:
  explicit JsonScan(std::string_view text) : m_t(text) {}

  bool Peek(char c) {
    while (m_p < m_t.size() && (m_t[m_p] == ' ' || m_t[m_p] == '\t' || m_t[m_p] == '\n' || m_t[m_p] == '\r'))
      ++m_p;
    return m_p < m_t.size() && m_t[m_p] == c;
  }
  bool Eat(char c) {
    if (!Peek(c)) return false;
    ++m_p;
    return true;
  }
  // A string at the current place into out (null: skipped).
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (m_p < m_t.size()) {
      const char c = m_t[m_p++];
      if (c == '"') return true;
      if (c != '\\') {
        if (out) out->push_back(c);
        continue;
      }
      if (m_p >= m_t.size()) return false;
      const char e = m_t[m_p++];
      if (e != 'u') {
        static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
        const std::size_t at = kFrom.find(e);
        if (at == std::string_view::npos) return false;
        if (out) out->push_back(kTo[at]);
        continue;
      }
      unsigned cp = 0;
      if (!Hex4(&cp)) return false;
      if (cp >= 0xD800 && cp < 0xDC00 && m_t.substr(m_p, 2) == "\\u") {
        m_p += 2;
        unsigned low = 0;
        if (!Hex4(&low)) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      if (out) AppendUtf8(cp, out);
    }
    return false;
  }
  bool Number(double* out) {
    Peek(' ');
    const char* b = m_t.data() + m_p;
    const auto [ptr, ec] = std::from_chars(b, m_t.data() + m_t.size(), *out);
    if (ec != std::errc()) return false;
    m_p += static_cast<std::size_t>(ptr - b);
    return true;
  }
  // Any value, nested ones by counting brackets.
  bool Skip() {
    if (Peek('"')) return String(nullptr);
    if (Peek('{') || Peek('[')) {
      std::size_t depth = 0;
      while (m_p < m_t.size()) {
        const char c = m_t[m_p];
        if (c == '"') {
          if (!String(nullptr)) return false;
          continue;
        }
        ++m_p;
        if (c == '{' || c == '[') ++depth;
        if ((c == '}' || c == ']') && --depth == 0) return true;
      }
      return false;
    }
    const std::size_t start = m_p;
    while (m_p < m_t.size() && std::string_view(",}] \t\r\n").find(m_t[m_p]) == std::string_view::npos) ++m_p;
    return m_p > start;
  }

 private:
  bool Hex4(unsigned* out) {
    if (m_t.size() - m_p < 4) return false;
    const auto [ptr, ec] = std::from_chars(m_t.data() + m_p, m_t.data() + m_p + 4, *out, 16);
    if (ec != std::errc() || ptr != m_t.data() + m_p + 4) return false;
    m_p += 4;
    return true;
  }
  static void AppendUtf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | cp >> 6));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | cp >> 12));
      out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | cp >> 18));
      out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  std::string_view m_t;
  std::size_t m_p = 0;
};

// The state of one load, handed to the loader's file callbacks. The loader
// reads every external buffer (in buffer order) before any image, one
// FileExists under the base folder per file, so the calls are told apart by
// counting: after the last external buffer, a call is for an image.
struct FileAccess {
  std::string prefix;    // the folder as the loader joins it, with a final '/'
  std::string realBase;  // the folder with links resolved, with a final '/'
  const std::vector<GltfBufferRef>* buffers = nullptr;
  std::vector<int> external;  // indices of the buffers the loader reads from files
  bool scanned = false;       // false: every call is taken as a buffer's
  std::size_t next = 0;
  int current = -1;  // the buffer being read, -1 unknown, -2 an image
  std::uint64_t used = 0;
  std::string problem;  // the first URI refused

  void Refuse(const std::string& uri, const std::string& why) {
    if (!problem.empty()) return;
    problem = current >= 0
                  ? "Buffer " + std::to_string(current) + " has the URI \"" + (*buffers)[current].uri + "\""
                  : "A buffer has the URI \"" + uri + "\"";
    problem += ": " + why + ".";
  }

  // The file uri names, links resolved, into real; "" or why it is refused.
  std::string Resolve(const std::string& uri, std::string* real) const {
    if (uri.empty()) return "it names no file";
    if (uri[0] == '/' || uri[0] == '\\')
      return "it is an absolute path; only paths relative to the glTF file are read";
    const std::size_t colon = uri.find(':');
    if (colon != std::string::npos && uri.find_first_of("/\\") > colon)
      return "it names a scheme (\"" + uri.substr(0, colon + 1) +
             "\"); only paths relative to the glTF file are read";
    if (uri.find('\0') != std::string::npos) return "it holds a zero byte";
    char buf[PATH_MAX];
    if (!::realpath((prefix + uri).c_str(), buf)) return std::strerror(errno);
    *real = buf;
    // The folder itself counts as inside: it is refused as no regular file.
    if ((*real + "/").compare(0, realBase.size(), realBase) != 0)
      return "it leads outside the folder of the glTF file";
    struct stat st;
    if (::stat(buf, &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    return "";
  }

  static bool Exists(const std::string& abs, void* user) {
    FileAccess& a = *static_cast<FileAccess*>(user);
    // The loader's second try, against the current directory, is never taken.
    if (abs.compare(0, a.prefix.size(), a.prefix) != 0) return false;
    if (a.scanned && a.next >= a.external.size()) {
      a.current = -2;
      return true;  // an image: nothing is looked at
    }
    a.current = a.scanned ? a.external[a.next++] : -1;
    const std::string uri = abs.substr(a.prefix.size());
    std::string real;
    const std::string why = a.Resolve(uri, &real);
    if (why.empty()) return true;
    a.Refuse(uri, why);
    return false;
  }
  static std::string Expand(const std::string& path, void*) { return path; }
  static bool Read(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* user) {
    FileAccess& a = *static_cast<FileAccess*>(user);
    if (a.current == -2) {
      out->assign(1, 0);  // images are never decoded, so never read
      return true;
    }
    const std::string uri =
        path.compare(0, a.prefix.size(), a.prefix) == 0 ? path.substr(a.prefix.size()) : path;
    std::string real;
    std::string why = a.Resolve(uri, &real);
    const std::uint64_t limit = std::min(kMaxGltfFileBytes, kMaxGltfTotalBytes - a.used);
    if (why.empty()) why = ReadRegularFile(real, limit, out);
    if (!why.empty()) {
      a.Refuse(uri, why);
      if (err) *err = why;
      return false;
    }
    a.used += out->size();
    return true;
  }
  static bool Write(std::string* err, const std::string&, const std::vector<unsigned char>&, void*) {
    if (err) *err = "files are never written";
    return false;
  }
};

void Report(qvl_CUtilMsgHandler* handler, const std::string& context, const char* key,
            const std::string& text) {
  ReportImportText(handler, qvl_MsgLevelError, "tool/animimport/tool_animimport_gltffiles.", context, key,
                   text);
}

}  // namespace

std::string ReadRegularFile(const std::string& path, std::uint64_t maxBytes,
                            std::vector<unsigned char>* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (size > maxBytes)
    return "it is " + std::to_string(size) + " bytes, more than the limit of " + std::to_string(maxBytes) +
           " bytes";
  try {
    out->resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return "not enough memory for its " + std::to_string(size) + " bytes";
  }
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = ::read(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return "it became shorter while it was read";
    done += static_cast<std::size_t>(n);
  }
  return "";
}

std::string CheckGlb(const unsigned char* data, std::size_t size, std::size_t* offset,
                     std::size_t* jsonOffset, std::size_t* jsonLength) {
  *offset = 0;
  if (size < 12)
    return "The file is " + std::to_string(size) + " bytes, shorter than the 12-byte GLB header.";
  if (std::memcmp(data, "glTF", 4) != 0) return "The file does not start with the GLB magic \"glTF\".";
  *offset = 4;
  if (ReadU32(data + 4) != 2) return "The GLB version is " + std::to_string(ReadU32(data + 4)) + ", not 2.";
  *offset = 8;
  if (ReadU32(data + 8) != size)
    return "The GLB header declares " + std::to_string(ReadU32(data + 8)) + " bytes; the file has " +
           std::to_string(size) + ".";
  std::size_t pos = 12;
  for (int chunk = 0; pos < size || chunk == 0; ++chunk) {
    *offset = pos;
    if (size - pos < 8)
      return "Chunk " + std::to_string(chunk) + " needs an 8-byte header; " + std::to_string(size - pos) +
             " bytes are left.";
    const std::uint32_t len = ReadU32(data + pos);
    if (len > size - pos - 8)
      return "Chunk " + std::to_string(chunk) + " declares " + std::to_string(len) + " bytes; " +
             std::to_string(size - pos - 8) + " are left after its header.";
    if (chunk == 0) {
      *offset = pos + 4;
      if (ReadU32(data + pos + 4) != 0x4E4F534Au) return "The first chunk is not the JSON chunk.";
      *jsonOffset = pos + 8;
      *jsonLength = len;
    }
    pos += 8 + std::size_t(len);
  }
  return "";
}

bool ScanGltfBuffers(std::string_view json, std::vector<GltfBufferRef>* buffers) {
  JsonScan s(json);
  if (!s.Eat('{')) return false;
  if (s.Eat('}')) return true;
  for (;;) {
    std::string key;
    if (!s.String(&key) || !s.Eat(':')) return false;
    if (key == "buffers" && s.Eat('[')) {
      buffers->clear();  // the last of a repeated member counts, as for the loader
      while (!s.Eat(']')) {
        GltfBufferRef ref;
        if (s.Eat('{') && !s.Eat('}')) {
          for (;;) {
            std::string member;
            if (!s.String(&member) || !s.Eat(':')) return false;
            if (member == "uri" && s.Peek('"')) {
              ref.uri.clear();
              if (!s.String(&ref.uri)) return false;
            } else if (member == "byteLength" && s.Number(&ref.byteLength)) {
              ref.hasByteLength = true;
            } else if (!s.Skip()) {
              return false;
            }
            if (s.Eat('}')) break;
            if (!s.Eat(',')) return false;
          }
        } else if (!s.Peek(',') && !s.Peek(']') && !s.Skip()) {
          return false;
        }
        buffers->push_back(ref);
        if (!s.Eat(',') && !s.Peek(']')) return false;
      }
    } else if (!s.Skip()) {
      return false;
    }
    if (s.Eat('}')) return true;
    if (!s.Eat(',')) return false;
  }
}

bool IsEmbeddedUri(const std::string& uri) {
  static constexpr const char* kHeaders[] = {"data:application/octet-stream;base64,",
                                             "data:image/jpeg;base64,",
                                             "data:image/png;base64,",
                                             "data:image/bmp;base64,",
                                             "data:image/gif;base64,",
                                             "data:text/plain;base64,",
                                             "data:application/gltf-buffer;base64,"};
  for (const char* h : kHeaders) {
    if (uri.compare(0, std::strlen(h), h) == 0) return true;
  }
  return false;
}

int LoadGltfSource(qvl_CUtilMsgHandler* handler, const std::string& path, bool binary,
                   tinygltf::TinyGLTF* loader, tinygltf::Model* model, std::string* err, std::string* warn) {
  std::vector<unsigned char> bytes;
  const std::string why = ReadRegularFile(path, kMaxGltfFileBytes, &bytes);
  if (!why.empty()) {
    Report(handler, path, "read_failed", "Cannot read the file: " + why + ".");
    return -1;
  }
  std::string_view json(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (binary) {
    std::size_t offset = 0, jsonOffset = 0, jsonLength = 0;
    const std::string problem = CheckGlb(bytes.data(), bytes.size(), &offset, &jsonOffset, &jsonLength);
    if (!problem.empty()) {
      Report(handler, path + ":@" + std::to_string(offset), "bad_glb", problem);
      return -1;
    }
    json = json.substr(jsonOffset, jsonLength);
  }
  std::vector<GltfBufferRef> buffers;
  FileAccess access;
  access.buffers = &buffers;
  access.scanned = ScanGltfBuffers(json, &buffers);
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    if (buffers[i].hasByteLength && !(buffers[i].byteLength >= 1)) {
      char num[32];
      std::snprintf(num, sizeof num, "%.9g", buffers[i].byteLength);
      Report(handler, path, "bad_buffer",
             "Buffer " + std::to_string(i) + " declares a byteLength of " + num +
                 "; a buffer holds at least 1 byte.");
      return -1;
    }
    // A .gltf buffer without a URI is looked for as a file too (and refused).
    const bool fromBin = binary && buffers[i].uri.empty();
    if (!fromBin && !IsEmbeddedUri(buffers[i].uri)) access.external.push_back(static_cast<int>(i));
  }
  const std::size_t slash = path.rfind('/');
  const std::string baseDir =
      slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
  access.prefix = baseDir.back() == '/' ? baseDir : baseDir + "/";
  char real[PATH_MAX];
  if (!::realpath(baseDir.c_str(), real)) {
    Report(handler, path, "read_failed",
           std::string("Cannot resolve the file's folder: ") + std::strerror(errno) + ".");
    return -1;
  }
  access.realBase = real;
  if (access.realBase.back() != '/') access.realBase += '/';
  loader->SetFsCallbacks(tinygltf::FsCallbacks{&FileAccess::Exists, &FileAccess::Expand, &FileAccess::Read,
                                               &FileAccess::Write, &access});
  bool ok = false;
  try {
    ok = binary ? loader->LoadBinaryFromMemory(model, err, warn, bytes.data(),
                                               static_cast<unsigned>(bytes.size()), baseDir)
                : loader->LoadASCIIFromString(model, err, warn, json.data(),
                                              static_cast<unsigned>(json.size()), baseDir);
  } catch (const std::exception& e) {
    *err = std::string("the glTF loader stopped on an internal error (") + e.what() + ")";
    ok = false;
  }
  if (!access.problem.empty()) {
    Report(handler, path, "bad_uri", access.problem);
    return -1;
  }
  return ok ? 1 : 0;
}
