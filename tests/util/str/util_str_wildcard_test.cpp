// Tests of the wildcard matcher: a table of cases, a comparison with a plain
// dynamic-programming matcher on random inputs, and a pathological pattern.
#include "util/str/util_str_wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Reference matcher: dp[i][j] = pattern[0..i) matches name[0..j).
bool DpMatch(const std::string& pat, const std::string& name) {
  std::vector<std::vector<bool>> dp(pat.size() + 1, std::vector<bool>(name.size() + 1, false));
  dp[0][0] = true;
  for (std::size_t i = 1; i <= pat.size(); ++i) {
    for (std::size_t j = 0; j <= name.size(); ++j) {
      char c = pat[i - 1];
      if (c == '*') {
        dp[i][j] = dp[i - 1][j] || (j > 0 && dp[i][j - 1]);
      } else if (j > 0) {
        dp[i][j] = dp[i - 1][j - 1] && (c == '?' || c == name[j - 1]);
      }
    }
  }
  return dp[pat.size()][name.size()];
}

TEST(Wildcard, Table) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"", "", true},
      {"", "a", false},
      {"*", "", true},
      {"*", "Spine1", true},
      {"**", "", true},
      {"?", "", false},
      {"?", "a", true},
      {"?", "ab", false},
      {"Spine*", "Spine", true},
      {"Spine*", "Spine2", true},
      {"Spine*", "spine2", false},  // case-sensitive
      {"Spine*", "XSpine", false},
      {"*Hand", "LeftHand", true},
      {"*Hand", "LeftHandIndex", false},
      {"*Hand*", "LeftHandIndex", true},
      {"Head", "Head", true},
      {"Head", "Head1", false},
      {"Head", "Hea", false},
      {"L?g", "Leg", true},
      {"L?g", "Lg", false},
      {"a*b*c", "abc", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
      {"a*b", "abab", true},
      {"a*ab", "aab", true},
      {"*a*a*b", "aaaaaaaaaaab", true},
      {"*a*a*b", "aaaaaaaaaaa", false},
      {"*?", "", false},
      {"*?", "x", true},
      {"?*?", "x", false},
      {"\xC4*", "\xC4rm", true},  // bytes above 0x7F are plain bytes
      {"\xC4", "\xE4", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qvl_CUtilWildcard::IsMatching(nullptr, "", c.pattern, c.name), c.match)
        << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
  }
}

TEST(Wildcard, NullTextsCountAsEmpty) {
  EXPECT_TRUE(qvl_CUtilWildcard::IsMatching(nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(qvl_CUtilWildcard::IsMatching(nullptr, nullptr, "*", nullptr));
  EXPECT_FALSE(qvl_CUtilWildcard::IsMatching(nullptr, nullptr, "?", nullptr));
  EXPECT_FALSE(qvl_CUtilWildcard::IsMatching(nullptr, nullptr, nullptr, "a"));
}

TEST(Wildcard, AgreesWithDynamicProgrammingOnRandomInputs) {
  std::mt19937 rng(12345);
  const char alphabet[] = {'a', 'b', '*', '?'};
  int mismatches = 0;
  for (int iter = 0; iter < 20000; ++iter) {
    std::string pat;
    std::string name;
    int pl = static_cast<int>(rng() % 8);
    int nl = static_cast<int>(rng() % 10);
    for (int i = 0; i < pl; ++i) pat += alphabet[rng() % 4];
    for (int i = 0; i < nl; ++i) name += alphabet[rng() % 2];
    if (qvl_CUtilWildcard::IsMatching(pat, name) != DpMatch(pat, name)) {
      if (++mismatches < 5) ADD_FAILURE() << "pattern \"" << pat << "\" name \"" << name << "\"";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Wildcard, ManyStarsOnLongNameEndsWithTheRightAnswer) {
  // With naive recursive backtracking this takes astronomically long.
  std::string name(20000, 'a');
  EXPECT_FALSE(qvl_CUtilWildcard::IsMatching("*a*a*a*a*a*a*a*a*a*a*b", name));
  name += 'b';
  EXPECT_TRUE(qvl_CUtilWildcard::IsMatching("*a*a*a*a*a*a*a*a*a*a*b", name));
}

}  // namespace
