// Raising and reporting helpers: how every part of the tool turns a message
// into an exception or reports a caught one.
#pragma once

#include "util/msg/util_msg_handler.h"
#include "util/msg/util_msg_msg.h"

// With a handler: report msg at level 3, then throw a copy of it as
// qvl_CUtilMsg. Without one: only throw. Never returns.
[[noreturn]] void RaiseMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);
// The same, throwing the copy as qvl_CUtilExceptionStd.
[[noreturn]] void RaiseStdMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);
// The same, throwing the copy as qvl_CUtilExceptionUnknown.
[[noreturn]] void RaiseUnknownMsg(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);

// With a handler: report msg at level 4 and return. Without one: throw it
// like RaiseMsg (resp. RaiseStdMsg, RaiseUnknownMsg) without a handler.
void ReportCaught(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);
void ReportCaughtStd(qvl_CUtilMsgHandler* handler, const qvl_CUtilExceptionStd& msg);
void ReportCaughtUnknown(qvl_CUtilMsgHandler* handler, const qvl_CUtilExceptionUnknown& msg);

// Reports msg at level 2 when there is a handler and raises it (without a
// handler) otherwise: the pattern of every error after which work goes on.
void ReportOrRaise(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);
