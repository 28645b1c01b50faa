// Identified messages.
#include "util/msg/util_msg_msg.h"

void qvl_CUtilMsg::Reset() {
  m_id = qvl_CUtilStr();
  m_text = qvl_CUtilStr();
  m_infos.clear();
}

qvl_CUtilStr qvl_CUtilMsg::GetInfo(int i) const {
  if (i < 0 || i >= GetInfoCnt()) return qvl_CUtilStr();
  return m_infos[static_cast<std::size_t>(i)];
}

std::string qvl_CUtilMsg::GetFilledText() const {
  std::string_view text = m_text.View();
  std::string out;
  out.reserve(text.size() + 32);
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '[') {
      // A placeholder is '[', one or more digits, ']'.
      std::size_t j = i + 1;
      long n = 0;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9' && n < 100000) {
        n = n * 10 + (text[j] - '0');
        ++j;
      }
      if (j > i + 1 && j < text.size() && text[j] == ']' && n >= 1 && n < GetInfoCnt()) {
        out += m_infos[static_cast<std::size_t>(n)].View();
        i = j + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string qvl_MsgConsoleLine(int level, const qvl_CUtilMsg& msg) {
  if (level <= 1) return msg.GetFilledText();
  std::string line;
  qvl_CUtilStr context = msg.GetContext();
  if (!context.IsEmpty()) {
    line += context.View();
    line += ": ";
  }
  line += level == 5 ? "warning: " : "error: ";
  line += msg.GetFilledText();
  line += " [";
  line += msg.GetId().View();
  line += "]";
  return line;
}

qvl_CUtilExceptionStd::qvl_CUtilExceptionStd(const std::exception& e)
    : qvl_CUtilMsg("util/msg/util_msg_msg.std_exception", "Standard exception: [1]") {
  AddInfo("");
  AddInfo(qvl_CUtilStr(e.what()));
}

qvl_CUtilExceptionUnknown::qvl_CUtilExceptionUnknown()
    : qvl_CUtilMsg("util/msg/util_msg_msg.unknown_exception", "Exception of unknown type.") {
  AddInfo("");
}
