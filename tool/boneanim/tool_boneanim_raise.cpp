// Raising and reporting helpers.
#include "tool/boneanim/tool_boneanim_raise.h"

void RaiseMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (handler) handler->Report(qvl_MsgLevelRaise, msg);
  throw qvl_CUtilMsg(msg);
}

void RaiseStdMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (handler) handler->Report(qvl_MsgLevelRaise, msg);
  throw qvl_CUtilExceptionStd(msg);
}

void RaiseUnknownMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (handler) handler->Report(qvl_MsgLevelRaise, msg);
  throw qvl_CUtilExceptionUnknown(msg);
}

void ReportCaught(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (!handler) RaiseMsg(nullptr, msg);
  handler->Report(qvl_MsgLevelCaught, msg);
}

void ReportCaughtStd(qvl_CUtilMsgHandler* handler, const qvl_CUtilExceptionStd& msg) {
  if (!handler) RaiseStdMsg(nullptr, msg);
  handler->Report(qvl_MsgLevelCaught, msg);
}

void ReportCaughtUnknown(qvl_CUtilMsgHandler* handler, const qvl_CUtilExceptionUnknown& msg) {
  if (!handler) RaiseUnknownMsg(nullptr, msg);
  handler->Report(qvl_MsgLevelCaught, msg);
}

void ReportOrRaise(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg) {
  if (!handler) RaiseMsg(nullptr, msg);
  handler->Report(qvl_MsgLevelError, msg);
}
