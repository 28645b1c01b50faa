// The start and end that the companion programs share: usage on no argument
// or a request for help, the console and the handler, the guarded run, the
// error count, "Done." or "Aborted." and the exit code.
#pragma once

#include <functional>

#include "util/cmdline/util_cmdline_cmdline.h"
#include "util/msg/util_msg_handler.h"
#include "util/stdio/util_stdio_stdio.h"

// Exit codes of the companion programs.
inline constexpr int qvl_ExitOk = 0;       // usage printed, or a run without errors
inline constexpr int qvl_ExitErrors = 1;   // the run went through, with errors counted
inline constexpr int qvl_ExitAborted = 2;  // the run was ended by an exception

// What a program's run is given: the handler that forwards to the console,
// the console that counts the errors, and the command line, its argument
// vector assigned.
struct qvl_CUtilProgramRun {
  qvl_CUtilMsgHandler* handler;
  qvl_CUtilStdIo* stdIo;
  qvl_CUtilCmdLine* cmdLine;

  // Sets the console's name (the prefix of its lines) and whether it shows
  // information (not with -quiet); errors are always shown. Reports made
  // before the call used the defaults.
  void SetConsole(const char* name, bool quiet) const;
};

class qvl_CUtilProgram {
 public:
  // True for a command line that is exactly one of "-h", "-help", "--help".
  static bool IsHelpRequest(int argc, const char* const* argv);

  // The whole program: without arguments or on a request for help, writes
  // usage to standard output and returns qvl_ExitOk. Otherwise creates the
  // console and the handler, assigns the arguments to a command line and
  // calls run; a message, standard or other exception leaving run is
  // reported at level 4. Then writes the error count and "Done." (run
  // returned) or "Aborted." (it threw), and returns qvl_ExitOk,
  // qvl_ExitErrors (errors counted) or qvl_ExitAborted. When the console
  // itself cannot be set up, writes a line to standard error and returns
  // qvl_ExitAborted.
  static int Main(int argc, char** argv, const char* usage,
                  const std::function<void(const qvl_CUtilProgramRun&)>& run);
};
