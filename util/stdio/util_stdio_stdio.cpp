// The console: displays reported messages and counts the errors among them.
#include "util/stdio/util_stdio_stdio.h"

#include <cstring>
#include <string>

#include "util/sys/util_sys_heap.h"

void* qvl_CUtilStdIo::operator new(std::size_t size) {
  return qvl_SysNewFunc(size);
}

void qvl_CUtilStdIo::operator delete(void* p) {
  qvl_SysDeleteFunc(p);
}

void qvl_CUtilStdIo::WriteLine(std::FILE* file, const char* prefix, const char* text, std::size_t len) {
  // Anything pending on the other stream goes first, so that lines of both
  // streams appear in the order they were written.
  std::FILE* out = m_out ? m_out : stdout;
  std::FILE* err = m_err ? m_err : stderr;
  std::FILE* other = file == out ? err : out;
  if (m_param.m_flushEachLine) std::fflush(other);
  std::string line;
  line.reserve(len + 64);
  if (prefix) line += prefix;
  line.append(text, len);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), file);
  if (m_param.m_flushEachLine) std::fflush(file);
}

namespace {

// msg with the control bytes of its infos (below 0x20, and 0x7F) as \xHH;
// msg itself when it has none, which is nearly always.
qvl_CUtilMsg EscapedInfos(const qvl_CUtilMsg& msg) {
  auto isControl = [](char ch) {
    const unsigned char c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
  };
  bool any = false;
  for (int i = 0; i < msg.GetInfoCnt() && !any; ++i) {
    for (char ch : msg.GetInfo(i).View()) any = any || isControl(ch);
  }
  if (!any) return msg;
  static const char kHex[] = "0123456789abcdef";
  qvl_CUtilMsg out(msg.GetId(), msg.GetText());
  for (int i = 0; i < msg.GetInfoCnt(); ++i) {
    std::string text;
    for (char ch : msg.GetInfo(i).View()) {
      if (!isControl(ch)) {
        text += ch;
        continue;
      }
      const unsigned char c = static_cast<unsigned char>(ch);
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
    out.AddInfo(qvl_CUtilStr(std::string_view(text)));
  }
  return out;
}

}  // namespace

void qvl_CUtilStdIo::Eval(int level, const qvl_CUtilMsg& msg) {
  bool show = false;
  if (level <= qvl_MsgLevelInfo) {
    show = m_param.m_infoDisplay;
  } else if (level == qvl_MsgLevelWarning) {
    show = m_param.m_warningDisplay;  // shown, but not counted
  } else {
    ++m_errorCnt;
    show = level == qvl_MsgLevelError   ? m_param.m_errorDisplay
           : level == qvl_MsgLevelRaise ? m_param.m_raiseDisplay
                                        : m_param.m_caughtDisplay;
  }
  if (!show) return;
  // The reason of an abort (level 4) is shown whatever came before it, or a
  // run that ends after a flood of errors would not say why it ended.
  if (level == qvl_MsgLevelError || level == qvl_MsgLevelRaise) {
    if (m_param.m_maxShownErrors >= 0 && m_shownCnt >= m_param.m_maxShownErrors) {
      ++m_notShownCnt;
      return;
    }
    ++m_shownCnt;
  }
  std::string prefix;
  if (m_param.m_nameInLines && !m_param.m_name.IsEmpty()) {
    prefix = m_param.m_name.GetChars();
    prefix += ": ";
  }
  // One message is one line, whatever its infos hold.
  std::string line = qvl_MsgConsoleLine(level, EscapedInfos(msg));
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  WriteLine(level <= qvl_MsgLevelInfo ? (m_out ? m_out : stdout) : (m_err ? m_err : stderr), prefix.c_str(),
            line.data(), line.size());
}

void qvl_CUtilStdIo::WriteNotShown() {
  if (m_notShownCnt == 0 || m_notShownWritten) return;
  m_notShownWritten = true;
  qvl_CUtilMsg msg("util/stdio/util_stdio_stdio.not_shown",
                   "[1] more errors were counted and not shown (at most [2] are shown per run).");
  msg.AddInfo("");
  msg.AddInfo(qvl_CUtilStr(std::string_view(std::to_string(m_notShownCnt))));
  msg.AddInfo(qvl_CUtilStr(std::string_view(std::to_string(m_param.m_maxShownErrors))));
  const std::string line = qvl_MsgConsoleLine(qvl_MsgLevelError, msg);
  WriteLine(m_err ? m_err : stderr, nullptr, line.data(), line.size());
}

void qvl_CUtilStdIo::WriteErrorCnt() {
  WriteNotShown();
  const std::string line = "Errors: " + std::to_string(m_errorCnt);
  WriteLine(m_out ? m_out : stdout, nullptr, line.data(), line.size());
}

void qvl_CUtilStdIo::WriteInfo(const char* text) {
  if (!text) text = "";
  WriteLine(m_out ? m_out : stdout, nullptr, text, std::strlen(text));
}
