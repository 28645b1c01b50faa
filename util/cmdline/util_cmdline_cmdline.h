// The command line: options "-name value" and positional arguments.
#pragma once

#include <vector>

#include "util/msg/util_msg_handler.h"
#include "util/ptr/util_ptr_base.h"
#include "util/str/util_str_str.h"

// Holds the argument list; extracting an option takes it and its value out,
// so that what is left are the positional arguments (index 0 the program).
// Problems are reported to the handler at level 2 under ids
// "util/cmdline/util_cmdline_cmdline.KEY" and thrown when there is no handler.
class qvl_CUtilCmdLine {
 public:
  qvl_CUtilCmdLine() = default;

  // Takes the argc arguments of argv (null entries read as ""). handler
  // receives the parser's reports; context is their context ("" when none).
  void AssignArgVecSysChar(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& context, int argc,
                           const char* const* argv);

  // Takes every "name value" pair out of the list; the last one counts.
  // The value is 0, 1, true or false in any case. A value that is missing
  // (name is the last argument, or the next one begins with '-', see
  // SetNegativeNumberValues) or is none
  // of these is reported naming the option, and the option reads false.
  // An absent option reads false. given, when not null, tells whether the
  // option stood on the command line with a value, so that a program can
  // tell "-binary 0" from no -binary at all.
  bool ExtractOptBool(const char* name, bool* given = nullptr);

  // Takes every "name value" pair out of the list; the last one counts. A
  // missing value (as above) is reported and reads "". Absent reads "".
  // given, when not null, tells whether the option stood on the command line
  // with a value, so that an empty value ("") can be told from an absent option.
  qvl_CUtilStr ExtractOptStr(const char* name, bool* given = nullptr);

  // An option value as a number: true when all of text is one finite number
  // (decimal or exponent form, an optional '-'), written to out; false for
  // empty text, trailing characters, an out-of-range or non-finite value.
  // Reports nothing: each program words its own message.
  static bool ParseFiniteNumber(const qvl_CUtilStr& text, double* out);

  // Reports every argument left (after the program name) that matches
  // pattern ('*' any run of characters, '?' one character) as an unknown
  // option and takes it out of the list, so that the positional arguments
  // keep their indices. Returns how many were reported.
  int ErrorUnknownOpt(const char* pattern);

  // The argument at index of the list left (0 the program name). An index
  // that is not there is reported as a missing argument and gives "".
  qvl_CUtilStr GetCurArgStr(int index);

  int GetArgCnt() const { return static_cast<int>(m_args.size()); }

  // Off by default. When on, an argument that begins with '-' followed by a
  // digit or a point ("-0.5", "-.5", "-1e3") is a value, not an option: it is
  // taken as the value of the option before it, and ErrorUnknownOpt leaves
  // it in the list as a positional argument. Set before extracting.
  void SetNegativeNumberValues(bool on) { m_negativeNumberValues = on; }

 private:
  // Whether arg is a value by SetNegativeNumberValues (false while it is off).
  bool IsNegativeNumberValue(const qvl_CUtilStr& arg) const;
  void Report(const char* key, const char* text, const qvl_CUtilStr& info1, const qvl_CUtilStr& info2);
  // Takes out every occurrence of name with its value; the values in order.
  // A missing value is reported and stands as a null entry (hasValue false).
  struct Found {
    bool hasValue;
    qvl_CUtilStr value;
  };
  std::vector<Found> Extract(const char* name);

  qvl_CUtilPtr<qvl_CUtilMsgHandler> m_handler;
  qvl_CUtilStr m_context;
  std::vector<qvl_CUtilStr> m_args;
  bool m_negativeNumberValues = false;
};
