// The command line: options "-name value" and positional arguments.
#include "util/cmdline/util_cmdline_cmdline.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "util/str/util_str_strutil.h"

namespace {

// Whether text matches pattern ('*' any run, '?' one character). Iterative,
// with one backtrack point, so that no pattern costs more than |text|*|pattern|.
bool MatchPattern(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && pattern[p] == text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

void qvl_CUtilCmdLine::AssignArgVecSysChar(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context,
                                           int argc, const char* const* argv) {
  m_handler.Set(handler);
  m_context = context;
  m_args.clear();
  for (int i = 0; i < argc && argv; ++i) m_args.emplace_back(argv[i]);
}

void qvl_CUtilCmdLine::Report(const char* key, const char* text, const qvl_CUtilStr& info1,
                              const qvl_CUtilStr& info2) {
  std::string id = "util/cmdline/util_cmdline_cmdline.";
  id += key;
  qvl_CUtilMsg msg(qvl_CUtilStr(id.c_str()), text);
  msg.AddInfo(m_context);
  msg.AddInfo(info1);
  msg.AddInfo(info2);
  qvl_CUtilMsgHandler::ReportError(m_handler.Get(), msg);
}

bool qvl_CUtilCmdLine::IsNegativeNumberValue(const qvl_CUtilStr& arg) const {
  const char* c = arg.GetChars();
  return m_negativeNumberValues && c[0] == '-' && ((c[1] >= '0' && c[1] <= '9') || c[1] == '.');
}

std::vector<qvl_CUtilCmdLine::Found> qvl_CUtilCmdLine::Extract(const char* name) {
  std::vector<Found> found;
  std::vector<qvl_CUtilStr> left;
  left.reserve(m_args.size());
  for (std::size_t i = 0; i < m_args.size(); ++i) {
    if (i == 0 || m_args[i].Compare(name) != 0) {
      left.push_back(m_args[i]);
      continue;
    }
    // A following argument that begins with '-' is the next option, not a value.
    if (i + 1 < m_args.size() &&
        (m_args[i + 1].GetChars()[0] != '-' || IsNegativeNumberValue(m_args[i + 1]))) {
      found.push_back({true, m_args[i + 1]});
      ++i;
    } else {
      Report("missing_value", "The option [1] needs a value.", name, "");
      found.push_back({false, qvl_CUtilStr()});
    }
  }
  m_args.swap(left);
  return found;
}

bool qvl_CUtilCmdLine::ExtractOptBool(const char* name, bool* given) {
  bool value = false;
  if (given) *given = false;
  for (const Found& f : Extract(name)) {
    value = false;
    if (!f.hasValue) continue;
    if (given) *given = true;
    std::string_view v = f.value.View();
    if (v == "1" || EqualNoCase(v, "true")) {
      value = true;
    } else if (!(v == "0" || EqualNoCase(v, "false"))) {
      Report("bad_bool", "The value \"[2]\" of the option [1] is not 0, 1, true or false.", name, f.value);
    }
  }
  return value;
}

qvl_CUtilStr qvl_CUtilCmdLine::ExtractOptStr(const char* name, bool* given) {
  qvl_CUtilStr value;
  bool hasValue = false;
  for (const Found& f : Extract(name)) {
    value = f.value;
    hasValue = f.hasValue;
  }
  if (given) *given = hasValue;
  return value;
}

int qvl_CUtilCmdLine::ErrorUnknownOpt(const char* pattern) {
  int cnt = 0;
  std::vector<qvl_CUtilStr> left;
  left.reserve(m_args.size());
  for (std::size_t i = 0; i < m_args.size(); ++i) {
    if (i > 0 && !IsNegativeNumberValue(m_args[i]) &&
        MatchPattern(pattern ? pattern : "", m_args[i].View())) {
      Report("unknown_opt", "Unknown option [1].", m_args[i], "");
      ++cnt;
    } else {
      left.push_back(m_args[i]);
    }
  }
  m_args.swap(left);
  return cnt;
}

qvl_CUtilStr qvl_CUtilCmdLine::GetCurArgStr(int index) {
  if (index >= 0 && index < GetArgCnt()) return m_args[static_cast<std::size_t>(index)];
  Report("missing_arg", "Positional argument [1] is missing.", qvl_CUtilStrUtil::StrOfInt(index, 0, 0), "");
  return qvl_CUtilStr();
}

bool qvl_CUtilCmdLine::ParseFiniteNumber(const qvl_CUtilStr& text, double* out) {
  const char* b = text.GetChars();
  const char* e = b + text.GetLen();
  const auto r = std::from_chars(b, e, *out);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(*out);
}
