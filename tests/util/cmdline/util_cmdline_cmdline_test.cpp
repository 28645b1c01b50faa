// Tests of the command-line parser: options, their values, unknown options, positional arguments.
#include "util/cmdline/util_cmdline_cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the extraction sequence of the tool on args (program name added) and
// describes the outcome in one text, so that every case is one table row.
std::string ParseLikeTheTool(const std::vector<const char*>& args) {
  std::vector<const char*> argv{"boneanim"};
  argv.insert(argv.end(), args.begin(), args.end());
  qvl_CUtilMsgCollector collector;
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());  // the parser keeps a reference
  handler->RegisterBack(&collector);
  qvl_CUtilCmdLine cmd;
  cmd.AssignArgVecSysChar(handler.Get(), "", static_cast<int>(argv.size()), argv.data());
  const bool binary = cmd.ExtractOptBool("-binary");
  const qvl_CUtilStr refdir = cmd.ExtractOptStr("-refdir");
  const bool quiet = cmd.ExtractOptBool("-quiet");
  cmd.ErrorUnknownOpt("-*");
  const qvl_CUtilStr cfg = cmd.GetCurArgStr(1);
  const qvl_CUtilStr dest = cmd.GetCurArgStr(2);
  std::string out = std::string("b=") + (binary ? "1" : "0") + " r=" + refdir.GetChars() +
                    " q=" + (quiet ? "1" : "0") + " cfg=" + cfg.GetChars() + " dest=" + dest.GetChars();
  for (const auto& e : collector.GetEntries()) {
    EXPECT_EQ(e.level, qvl_MsgLevelError);
    std::string id = e.msg.GetId().GetChars();
    out += " | " + id.substr(id.find('.') + 1) + ":" + e.msg.GetFilledText();
  }
  return out;
}

TEST(CmdLine, ToolSequence) {
  struct Case {
    std::vector<const char*> args;
    const char* expected;
  };
  const Case cases[] = {
      {{"a.kvt", "b.kvt"}, "b=0 r= q=0 cfg=a.kvt dest=b.kvt"},
      {{"-binary", "1", "a", "b", "-quiet", "true", "-refdir", "/r"}, "b=1 r=/r q=1 cfg=a dest=b"},
      {{"a", "-binary", "TRUE", "b", "-quiet", "False"}, "b=1 r= q=0 cfg=a dest=b"},
      {{"a", "b", "-binary", "tRuE"}, "b=1 r= q=0 cfg=a dest=b"},
      {{"a", "b", "-binary", "0"}, "b=0 r= q=0 cfg=a dest=b"},
      // The last of a repeated option counts.
      {{"-refdir", "x", "a", "-refdir", "y", "b"}, "b=0 r=y q=0 cfg=a dest=b"},
      {{"-binary", "1", "-binary", "false", "a", "b"}, "b=0 r= q=0 cfg=a dest=b"},
      {{"-binary", "0", "-binary", "1", "a", "b"}, "b=1 r= q=0 cfg=a dest=b"},
      // Unreadable and missing values: reported naming the option, read as false.
      {{"a", "b", "-binary", "yes"},
       "b=0 r= q=0 cfg=a dest=b | bad_bool:The value \"yes\" of the option -binary is not 0, 1, true or "
       "false."},
      {{"a", "b", "-binary", "2"},
       "b=0 r= q=0 cfg=a dest=b | bad_bool:The value \"2\" of the option -binary is not 0, 1, true or "
       "false."},
      {{"a", "b", "-binary", ""},
       "b=0 r= q=0 cfg=a dest=b | bad_bool:The value \"\" of the option -binary is not 0, 1, true or false."},
      {{"a", "b", "-quiet"}, "b=0 r= q=0 cfg=a dest=b | missing_value:The option -quiet needs a value."},
      {{"-binary", "1", "-binary", "oops", "a", "b"},
       "b=0 r= q=0 cfg=a dest=b | bad_bool:The value \"oops\" of the option -binary is not 0, 1, true or "
       "false."},
      // A following option is not taken as the value.
      {{"a", "b", "-refdir", "-quiet", "1"},
       "b=0 r= q=1 cfg=a dest=b | missing_value:The option -refdir needs a value."},
      {{"-binary", "-quiet", "1", "a", "b"},
       "b=0 r= q=1 cfg=a dest=b | missing_value:The option -binary needs a value."},
      // Unknown options are reported and taken out; extracted ones are not reported.
      {{"-x", "a", "b", "--verbose"},
       "b=0 r= q=0 cfg=a dest=b | unknown_opt:Unknown option -x. | unknown_opt:Unknown option --verbose."},
      {{"a", "-", "b"}, "b=0 r= q=0 cfg=a dest=b | unknown_opt:Unknown option -."},
      {{"a", "-Binary", "1", "b"}, "b=0 r= q=0 cfg=a dest=1 | unknown_opt:Unknown option -Binary."},
      // Missing positional arguments.
      {{"a"}, "b=0 r= q=0 cfg=a dest= | missing_arg:Positional argument 2 is missing."},
      {{"-quiet", "1"},
       "b=0 r= q=1 cfg= dest= | missing_arg:Positional argument 1 is missing. | missing_arg:Positional "
       "argument 2 is missing."},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    EXPECT_EQ(ParseLikeTheTool(c.args), c.expected) << line;
  }
}

TEST(CmdLine, ArgumentsLeftAndPatterns) {
  const char* argv[] = {"prog", "-a", "1", "x", "-b", "y", "z"};
  qvl_CUtilMsgCollector collector;
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());  // the parser keeps a reference
  handler->RegisterBack(&collector);
  qvl_CUtilCmdLine cmd;
  cmd.AssignArgVecSysChar(handler.Get(), "ctx", 7, argv);
  EXPECT_EQ(cmd.ExtractOptStr("-a"), "1");
  EXPECT_EQ(cmd.ExtractOptStr("-missing"), "");
  EXPECT_EQ(cmd.GetArgCnt(), 5);
  // Only arguments that match the whole pattern are reported; the program name never.
  EXPECT_EQ(cmd.ErrorUnknownOpt("-?x"), 0);
  EXPECT_EQ(cmd.ErrorUnknownOpt("*y"), 1);
  EXPECT_EQ(cmd.ErrorUnknownOpt("-*"), 1);
  EXPECT_EQ(cmd.GetCurArgStr(0), "prog");
  EXPECT_EQ(cmd.GetCurArgStr(1), "x");
  EXPECT_EQ(cmd.GetCurArgStr(2), "z");
  EXPECT_EQ(cmd.GetCurArgStr(-1), "");
  ASSERT_EQ(collector.GetEntries().size(), 3u);
  EXPECT_EQ(qvl_MsgConsoleLine(2, collector.GetEntries()[0].msg),
            "ctx: error: Unknown option y. [util/cmdline/util_cmdline_cmdline.unknown_opt]");
  EXPECT_EQ(collector.GetEntries()[1].msg.GetInfo(1), "-b");
}

TEST(CmdLine, NegativeNumbersAreValuesOnlyWhenSwitchedOn) {
  struct Case {
    bool on;
    std::vector<const char*> args;
    const char* expected;  // "-at" value, positional arguments, then the reports' keys
  };
  const Case cases[] = {
      {false, {"f", "-at", "-0.5"}, "at= pos=f | missing_value unknown_opt"},
      {true, {"f", "-at", "-0.5"}, "at=-0.5 pos=f |"},
      {true, {"-at", "-.5", "f"}, "at=-.5 pos=f |"},
      {true, {"-at", "-5e3", "-at", "-7"}, "at=-7 pos= |"},
      {true, {"f", "-2"}, "at= pos=f,-2 |"},  // left as a positional argument, not an unknown option
      {true, {"-at", "-x", "f"}, "at= pos=f | missing_value unknown_opt"},
      {true, {"-at", "-"}, "at= pos= | missing_value unknown_opt"},
      {true, {"-at", "--5"}, "at= pos= | missing_value unknown_opt"},
      {true, {"-at", "-e5"}, "at= pos= | missing_value unknown_opt"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"prog"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    qvl_CUtilMsgCollector collector;
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    handler->RegisterBack(&collector);
    qvl_CUtilCmdLine cmd;
    cmd.AssignArgVecSysChar(handler.Get(), "", static_cast<int>(argv.size()), argv.data());
    cmd.SetNegativeNumberValues(c.on);
    std::string out = std::string("at=") + cmd.ExtractOptStr("-at").GetChars() + " pos=";
    cmd.ErrorUnknownOpt("-*");
    for (int i = 1; i < cmd.GetArgCnt(); ++i) {
      if (i > 1) out += ',';
      out += cmd.GetCurArgStr(i).GetChars();
    }
    out += " |";
    for (const auto& e : collector.GetEntries()) {
      const std::string id = e.msg.GetId().GetChars();
      out += ' ';
      out += id.substr(id.find('.') + 1);
    }
    EXPECT_EQ(out, c.expected) << c.args[1];
  }
}

// An empty value is told from an absent option; a missing value is not given.
TEST(CmdLine, AnEmptyValueIsGiven) {
  struct Case {
    std::vector<const char*> args;
    bool given;
  } cases[] = {{{"-at", ""}, true},
               {{"-at", "2"}, true},
               {{}, false},
               {{"-at"}, false},
               {{"-at", "-q"}, false},
               {{"-at", "", "-at"}, false},
               {{"-at", "-q", "-at", ""}, true}};
  for (const Case& c : cases) {
    std::vector<const char*> argv{"prog"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
    qvl_CUtilMsgCollector collector;
    handler->RegisterBack(&collector);
    qvl_CUtilCmdLine cmd;
    cmd.AssignArgVecSysChar(handler.Get(), "", static_cast<int>(argv.size()), argv.data());
    bool given = !c.given;
    cmd.ExtractOptStr("-at", &given);
    EXPECT_EQ(given, c.given) << c.args.size();
  }
}

TEST(CmdLine, WithoutAHandlerProblemsAreThrown) {
  const char* argv[] = {"prog", "-binary"};
  qvl_CUtilCmdLine cmd;
  cmd.AssignArgVecSysChar(nullptr, "", 2, argv);
  EXPECT_THROW(cmd.ExtractOptBool("-binary"), qvl_CUtilMsg);
  EXPECT_THROW(cmd.GetCurArgStr(5), qvl_CUtilMsg);
}

}  // namespace
