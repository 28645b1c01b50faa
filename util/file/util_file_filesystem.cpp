// Path helpers on POSIX systems.
#include "util/file/util_file_filesystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsSep(char c) {
  return c == '/' || c == '\\';
}

// Normalises path; absolute paths keep a leading '/', relative ones keep the
// ".." parts that go above their start.
std::string Normalise(std::string_view path) {
  const bool absolute = !path.empty() && IsSep(path[0]);
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && IsSep(path[i])) ++i;
    std::size_t start = i;
    while (i < path.size() && !IsSep(path[i])) ++i;
    std::string_view part = path.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }  // ".." at the root stays at the root
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  if (absolute) out += '/';
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '/';
    out += parts[k];
  }
  if (out.empty()) return std::string(1, '.');
  return out;
}

std::string CurrentDir() {
  std::vector<char> buf(4096);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return std::string(buf.data());
    if (errno != ERANGE || buf.size() > (std::size_t(1) << 20)) return "/";
    buf.resize(buf.size() * 2);
  }
}

void ReportDirFailed(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context, const std::string& dir,
                     const char* reason) {
  qvl_CUtilMsg msg("util/file/util_file_filesystem.create_dir_failed",
                   "Cannot create the directory \"[1]\": [2].");
  msg.AddInfo(context);
  msg.AddInfo(qvl_CUtilStr(dir.c_str()));
  msg.AddInfo(reason);
  qvl_CUtilMsgHandler::ReportError(handler, msg);
}

}  // namespace

qvl_CUtilStr qvl_CUtilFilesystem::GetNormalPath(const qvl_CUtilStr& path) {
  if (path.IsEmpty()) return qvl_CUtilStr();
  return qvl_CUtilStr(std::string_view(Normalise(path.View())));
}

qvl_CUtilStr qvl_CUtilFilesystem::GetCompletePath(const qvl_CUtilStr& path) {
  std::string_view p = path.View();
  if (!p.empty() && IsSep(p[0])) return qvl_CUtilStr(std::string_view(Normalise(p)));
  std::string joined = CurrentDir();
  joined += '/';
  joined += p;
  return qvl_CUtilStr(std::string_view(Normalise(joined)));
}

qvl_CUtilStr qvl_CUtilFilesystem::GetAlignedPath(const qvl_CUtilStr& base, const qvl_CUtilStr& path) {
  std::string_view p = path.View();
  if (p.empty()) return qvl_CUtilStr();
  if (IsSep(p[0]) || base.IsEmpty()) return qvl_CUtilStr(std::string_view(Normalise(p)));
  std::string joined(base.View());
  joined += '/';
  joined += p;
  return qvl_CUtilStr(std::string_view(Normalise(joined)));
}

bool qvl_CUtilFilesystem::CreateFileDirRec(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context,
                                           const qvl_CUtilStr& filePath) {
  std::string path(GetCompletePath(filePath).View());
  std::size_t last = path.rfind('/');
  if (last == std::string::npos || last == 0) return true;  // the file sits in the root
  const std::string dir = path.substr(0, last);
  // Walk down from the root, creating what is missing; an existing part
  // must be a directory (or a link to one).
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string part = dir.substr(0, pos);
    struct stat st;
    if (::stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        ReportDirFailed(handler, context, part, std::strerror(ENOTDIR));
        return false;
      }
      continue;
    }
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      ReportDirFailed(handler, context, part, std::strerror(errno));
      return false;
    }
  }
  return true;
}

int qvl_CUtilFilesystem::FindSameFile(const qvl_CUtilStr& path, const qvl_CUtilStr* paths, int cnt) {
  struct stat dest;
  if (path.IsEmpty() || ::stat(path.GetChars(), &dest) != 0) return -1;
  for (int i = 0; i < cnt; ++i) {
    struct stat st;
    if (paths[i].IsEmpty() || ::stat(paths[i].GetChars(), &st) != 0) continue;
    if (st.st_dev == dest.st_dev && st.st_ino == dest.st_ino) return i;
  }
  return -1;
}
