// Wildcard matching with one backtrack point: linear in the name for each
// star segment, so patterns like "*a*a*a*b" cannot blow up.
#include "util/str/util_str_wildcard.h"

#include <cstddef>

bool qvl_CUtilWildcard::IsMatching(qvl_CUtilMsgHandler* handler, const char* info, const char* pattern,
                                   const char* name) {
  (void)handler;
  (void)info;
  return IsMatching(std::string_view(pattern ? pattern : ""), std::string_view(name ? name : ""));
}

bool qvl_CUtilWildcard::IsMatching(std::string_view pattern, std::string_view name) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t p = 0;
  std::size_t n = 0;
  // Position after the last '*' seen, and the name position that star is
  // currently taken to cover up to. Backtracking only ever moves to the most
  // recent star: an earlier star could only absorb what the later one can.
  std::size_t starP = kNone;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starP != kNone) {
      p = starP;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
