// Identified messages: what every problem and every progress report travels as.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "util/str/util_str_str.h"

// A message: an id ("tool/boneanim/tool_boneanim_calc.no_bones"), a text with
// placeholders "[1]", "[2]", ... and an ordered list of infos. The first info
// is the context (where in the data the problem lies, "" when none); the next
// fills "[1]", the one after "[2]", and so on. Messages are thrown by value.
class qvl_CUtilMsg {
public:
  qvl_CUtilMsg() = default;
  qvl_CUtilMsg(const qvl_CUtilStr& id, const qvl_CUtilStr& text) : m_id(id), m_text(text) {}
  virtual ~qvl_CUtilMsg() = default;
  qvl_CUtilMsg(const qvl_CUtilMsg&) = default;
  qvl_CUtilMsg& operator=(const qvl_CUtilMsg&) = default;

  void SetId(const qvl_CUtilStr& id) { m_id = id; }
  void SetText(const qvl_CUtilStr& text) { m_text = text; }
  // Appends one info; the first one added is the context.
  void AddInfo(const qvl_CUtilStr& info) { m_infos.push_back(info); }
  // Clears id, text and infos, so that one object serves several reports.
  void Reset();

  const qvl_CUtilStr& GetId() const { return m_id; }
  const qvl_CUtilStr& GetText() const { return m_text; }
  int GetInfoCnt() const { return static_cast<int>(m_infos.size()); }
  // Info i (0 is the context); "" when there is no such info.
  qvl_CUtilStr GetInfo(int i) const;
  // The context, "" when no info was added.
  qvl_CUtilStr GetContext() const { return GetInfo(0); }
  // The text with "[n]" replaced by info n for every n that has an info; a
  // placeholder without an info stays as it is.
  std::string GetFilledText() const;

private:
  qvl_CUtilStr m_id;
  qvl_CUtilStr m_text;
  std::vector<qvl_CUtilStr> m_infos;
};

// One console line for msg, without the line feed: the filled text for an
// information (level 1); "CONTEXT: error: TEXT [ID]", or "error: TEXT [ID]"
// when the context is empty, for levels 2 to 4; "warning:" instead of
// "error:" for a warning (level 5).
std::string qvl_MsgConsoleLine(int level, const qvl_CUtilMsg& msg);

// A message made from a standard exception; its text carries what() of it.
class qvl_CUtilExceptionStd : public qvl_CUtilMsg {
public:
  qvl_CUtilExceptionStd() = default;
  explicit qvl_CUtilExceptionStd(const std::exception& e);
  explicit qvl_CUtilExceptionStd(const qvl_CUtilMsg& msg) : qvl_CUtilMsg(msg) {}
};

// A message that stands for an exception of unknown type.
class qvl_CUtilExceptionUnknown : public qvl_CUtilMsg {
public:
  qvl_CUtilExceptionUnknown();
  explicit qvl_CUtilExceptionUnknown(const qvl_CUtilMsg& msg) : qvl_CUtilMsg(msg) {}
};
