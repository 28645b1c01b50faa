// The console: displays reported messages and counts the errors among them.
#pragma once

#include <cstddef>
#include <cstdio>

#include "util/msg/util_msg_handler.h"
#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// Display settings of the console.
struct qvl_CUtilStdIoParam {
  qvl_CUtilStr m_name;           // program name; shown as a line prefix when m_nameInLines
  bool m_infoDisplay = true;     // information messages (level 1) on standard output
  bool m_errorDisplay = true;    // errors after which work goes on (level 2) on standard error
  bool m_warningDisplay = true;  // warnings (level 5) on standard error; never counted
  bool m_raiseDisplay = true;    // errors where they are raised (level 3) on standard error
  bool m_caughtDisplay = true;   // exceptions caught by the run (level 4) on standard error
  bool m_nameInLines = false;    // prefix every message line with "NAME: "
  bool m_flushEachLine = true;   // flush after every line, so that standard output and
                                 // standard error keep their order on one terminal
  int m_maxShownErrors = 1000;   // errors of levels 2 and 3 displayed at most; the rest
                                 // are counted and summed up in one line (negative: no limit)
};

// A message evaluator for the console. Messages of level 1 are one line on
// standard output, those of levels 2 to 4 one line on standard error, each
// laid out by qvl_MsgConsoleLine, with the bytes below 0x20 and 0x7F of their
// infos written as \xHH: infos come from files (bone names, paths), which must
// not move the cursor or retitle a terminal. Every report of levels 2 to 4
// counts as an error, whether it is displayed or not; after m_maxShownErrors
// errors of levels 2 and 3 were displayed, the rest of them are only counted (a flood of errors from
// one file would otherwise take minutes and gigabytes of log). A warning
// (level 5) goes to standard error and is not counted.
class qvl_CUtilStdIo : public qvl_CUtilPtrBase, public qvl_CUtilMsgEval {
 public:
  qvl_CUtilStdIo() = default;

  // Console objects live on the runtime's heap.
  static void* operator new(std::size_t size);
  static void operator delete(void* p);

  void Eval(int level, const qvl_CUtilMsg& msg) override;

  // The settings from now on; the defaults display everything.
  void SetParam(const qvl_CUtilStdIoParam& param) { m_param = param; }
  const qvl_CUtilStdIoParam& GetParam() const { return m_param; }

  // The number of reports of level 2 or above received so far.
  int GetErrorCnt() const { return m_errorCnt; }
  // The number of those that the display limit kept off the console.
  int GetNotShownCnt() const { return m_notShownCnt; }
  // When the display limit kept messages off the console, writes one line on
  // standard error saying how many, once; nothing otherwise.
  void WriteNotShown();
  // Writes the error count as one line on standard output: "Errors: N",
  // after the WriteNotShown line. Written whatever the settings, as it is the
  // run's summary.
  void WriteErrorCnt();
  // Writes text as one line on standard output, whatever the settings.
  void WriteInfo(const char* text);

  // Test hook: the files written to instead of stdout and stderr.
  void SetFiles(std::FILE* out, std::FILE* err) {
    m_out = out;
    m_err = err;
  }

 private:
  void WriteLine(std::FILE* file, const char* prefix, const char* text, std::size_t len);

  qvl_CUtilStdIoParam m_param;
  int m_errorCnt = 0;
  int m_shownCnt = 0;     // messages of levels 2 to 4 displayed
  int m_notShownCnt = 0;  // and those kept off by the display limit
  bool m_notShownWritten = false;
  std::FILE* m_out = nullptr;  // null: stdout
  std::FILE* m_err = nullptr;  // null: stderr
};
