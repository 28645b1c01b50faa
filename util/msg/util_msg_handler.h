// Message handler: hands every report to the evaluators registered with it.
#pragma once

#include <vector>

#include "util/msg/util_msg_msg.h"
#include "util/ptr/util_ptr_base.h"

// Report levels.
enum : int {
  qvl_MsgLevelInfo = 1,     // progress and result information
  qvl_MsgLevelError = 2,    // an error after which work goes on
  qvl_MsgLevelRaise = 3,    // an error reported where it is raised as an exception
  qvl_MsgLevelCaught = 4,   // an exception caught by the run's top level
  qvl_MsgLevelWarning = 5,  // a problem that is worth saying but is no error (not counted)
};

// True for the levels that count as errors (2 to 4).
inline bool qvl_MsgLevelIsError(int level) {
  return level >= qvl_MsgLevelError && level <= qvl_MsgLevelCaught;
}

// Receives reports (the console is one).
class qvl_CUtilMsgEval {
 public:
  virtual ~qvl_CUtilMsgEval() = default;
  virtual void Eval(int level, const qvl_CUtilMsg& msg) = 0;
};

class qvl_CUtilMsgHandler : public qvl_CUtilPtrBase {
 public:
  // Adds an evaluator at the end of the list; it must outlive its registration.
  void RegisterBack(qvl_CUtilMsgEval* eval) { m_evals.push_back(eval); }
  void Unregister(qvl_CUtilMsgEval* eval);
  // Hands msg at level (1 to 4) to every registered evaluator, in order.
  void Report(int level, const qvl_CUtilMsg& msg);
  // An error after which work goes on: reported at level 2 to handler, or
  // thrown (as qvl_CUtilMsg) when there is no handler.
  static void ReportError(qvl_CUtilMsgHandler* handler, const qvl_CUtilMsg& msg);

 private:
  std::vector<qvl_CUtilMsgEval*> m_evals;
};

// Keeps every report in memory; for callers that want to look at messages
// afterwards (tests, and tools that decide on counts).
class qvl_CUtilMsgCollector : public qvl_CUtilMsgEval {
 public:
  struct Entry {
    int level;
    qvl_CUtilMsg msg;
  };
  void Eval(int level, const qvl_CUtilMsg& msg) override { m_entries.push_back({level, msg}); }
  const std::vector<Entry>& GetEntries() const { return m_entries; }
  int GetErrorCnt() const;
  void Clear() { m_entries.clear(); }

 private:
  std::vector<Entry> m_entries;
};
