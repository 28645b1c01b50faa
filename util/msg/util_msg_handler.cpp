// Message handler.
#include "util/msg/util_msg_handler.h"

#include <algorithm>

void qvl_CUtilMsgHandler::Unregister(qvl_CUtilMsgEval* eval) {
  m_evals.erase(std::remove(m_evals.begin(), m_evals.end(), eval), m_evals.end());
}

void qvl_CUtilMsgHandler::Report(int level, const qvl_CUtilMsg& msg) {
  for (qvl_CUtilMsgEval* eval : m_evals) eval->Eval(level, msg);
}

void qvl_CUtilMsgHandler::ReportError(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (!handler) throw msg;
  handler->Report(qvl_MsgLevelError, msg);
}

int qvl_CUtilMsgCollector::GetErrorCnt() const {
  int n = 0;
  for (const Entry& e : m_entries) n += qvl_MsgLevelIsError(e.level) ? 1 : 0;
  return n;
}
