// One import: a source file read into the model, checked, and written as a
// rest file, one path animation file and one job per clip.
#pragma once

#include <functional>
#include <string>

#include "tool/animimport/tool_animimport_isolate.h"
#include "tool/animimport/tool_animimport_limits.h"
#include "util/msg/util_msg_handler.h"

struct ImportOptions {
  std::string src;      // the source file, a complete path
  std::string destDir;  // the destination directory, a complete path
  std::string clip;     // only the clip of this (sanitised) name; "" for every clip
  double fps = 0.0;     // resampling rate in frames per second; 0 keeps the source's key times
  double scale = 1.0;   // factor on every translation (source units to output units)
  double unit = 0.0;    // size in metres of one source unit, replacing the file's; 0 keeps the file's
  bool binary = false;  // path files in the binary encoding
  bool list = false;    // list clips and joints, write nothing
  ReaderLimits reader;  // the child process of the glTF loader and the asset library
};

// Runs one import. Joint scales are baked into translations (BakeScale);
// rest.kvt gets the unit as meters_per_unit where the source or unit gives
// one: that unit times the scale above the top joints, over scale.
// Information goes to handler at level 1, warnings at level
// 5, problems at level 2 with the source file (and the clip) as context.
// listLine receives the lines of the -list output (always shown). The
// outputs are counted against kMaxClipFrames and kMaxImportFrames first,
// then written one at a time to temporary files, which become final together
// (qvl_CUtilDestFile::CloseAll) only when the run found no problem, so that a
// failed import leaves older files unchanged. Returns the number of problems.
int RunImport(qvl_CUtilMsgHandler* handler, const ImportOptions& options,
              const std::function<void(const std::string&)>& listLine);
