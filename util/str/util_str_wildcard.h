// Wildcard matching of names against patterns with '*' and '?' (bone masks).
#pragma once

#include <string_view>

#include "util/msg/util_msg_handler.h"

class qvl_CUtilWildcard {
 public:
  // True when name matches pattern: '*' stands for any run of bytes (also
  // none), '?' for exactly one byte, every other byte for itself, compared
  // case-sensitively. A null pattern or name counts as "". handler and info
  // (the pattern's context text) are accepted for the callers' sake: a pattern
  // is never malformed, so nothing is reported. Time is at most proportional
  // to pattern length times name length; nothing is allocated.
  static bool IsMatching(qvl_CUtilMsgHandler* handler, const char* info, const char* pattern,
                         const char* name);
  // The same on byte ranges (zero bytes are ordinary bytes here).
  static bool IsMatching(std::string_view pattern, std::string_view name);
};
