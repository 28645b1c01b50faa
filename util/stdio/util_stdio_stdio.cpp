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
  std::string prefix;
  if (m_param.m_nameInLines && !m_param.m_name.IsEmpty()) {
    prefix = m_param.m_name.GetChars();
    prefix += ": ";
  }
  // One message is one line, whatever its infos hold.
  std::string line = qvl_MsgConsoleLine(level, msg);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  WriteLine(level <= qvl_MsgLevelInfo ? (m_out ? m_out : stdout) : (m_err ? m_err : stderr), prefix.c_str(),
            line.data(), line.size());
}

void qvl_CUtilStdIo::WriteErrorCnt() {
  const std::string line = "Errors: " + std::to_string(m_errorCnt);
  WriteLine(m_out ? m_out : stdout, nullptr, line.data(), line.size());
}

void qvl_CUtilStdIo::WriteInfo(const char* text) {
  if (!text) text = "";
  WriteLine(m_out ? m_out : stdout, nullptr, text, std::strlen(text));
}
