// Path helpers: complete and aligned paths, creation of a file's directories.
#pragma once

#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"

// Paths are texts; '/' and '\' both separate parts (configurations are often
// written on Windows). Results always use '/'.
class qvl_CUtilFilesystem {
 public:
  // The absolute, normalised form of path: a relative path is taken against
  // the current directory; "." parts and empty parts go, ".." removes the part
  // before it (at the root it is dropped). Symbolic links are not resolved.
  // "" gives the current directory. No trailing '/' except for the root "/".
  static qvl_CUtilStr GetCompletePath(const qvl_CUtilStr& path);

  // path aligned to base: "" when path is empty; path normalised when it is
  // absolute; base joined with path and normalised otherwise (a relative base
  // gives a relative result, whose leading ".." parts are kept).
  static qvl_CUtilStr GetAlignedPath(const qvl_CUtilStr& base, const qvl_CUtilStr& path);

  // The normalised form of path without reference to the current directory
  // (see GetAlignedPath); "" stays "", a relative path that cancels out gives ".".
  static qvl_CUtilStr GetNormalPath(const qvl_CUtilStr& path);

  // Creates every missing directory on the way to the file filePath (not the
  // file itself). True when they all exist afterwards. A failure (a part that
  // is a file, no permission, ...) is reported to handler at level 2 with
  // context as the message's context, naming the directory and the system's
  // reason (id "util/file/util_file_filesystem.create_dir_failed"); without a
  // handler the message is thrown.
  static bool CreateFileDirRec(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context,
                               const qvl_CUtilStr& filePath);

  // The index of the first of the cnt paths that names the same file as path
  // (same device and inode, links followed), or -1 when none does, when path
  // names no existing file, or for empty paths and paths that do not exist.
  // Used so that a program never writes its output over one of its inputs.
  static int FindSameFile(const qvl_CUtilStr& path, const qvl_CUtilStr* paths, int cnt);
};
