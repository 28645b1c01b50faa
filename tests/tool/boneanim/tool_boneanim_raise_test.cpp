// Tests of the raising and reporting helpers: levels, thrown kinds, behaviour without a handler.
#include "tool/boneanim/tool_boneanim_raise.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <typeinfo>

namespace {

struct Handler {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler{new qvl_CUtilMsgHandler()};
  qvl_CUtilMsgCollector collector;
  Handler() { handler->RegisterBack(&collector); }
};

qvl_CUtilMsg Sample() {
  qvl_CUtilMsg msg("tool/boneanim/tool_boneanim_calc.no_bones", "No bones in [1].");
  msg.AddInfo("ctx");
  msg.AddInfo("walk");
  return msg;
}

// Calls f, which must throw, and gives the dynamic type and id of what came out.
template <class F>
std::string Thrown(F&& f) {
  try {
    f();
  } catch (const qvl_CUtilMsg& m) {
    return std::string(typeid(m).name()) + " " + m.GetId().GetChars() + " " + m.GetFilledText();
  } catch (...) {
    return "other";
  }
  return "nothing";
}

TEST(Raise, RaisingReportsAtLevelThreeThenThrowsTheKind) {
  Handler h;
  const std::string suffix = " tool/boneanim/tool_boneanim_calc.no_bones No bones in walk.";
  EXPECT_EQ(Thrown([&] { RaiseMsg(h.handler.Get(), Sample()); }), typeid(qvl_CUtilMsg).name() + suffix);
  EXPECT_EQ(Thrown([&] { RaiseStdMsg(h.handler.Get(), Sample()); }),
            typeid(qvl_CUtilExceptionStd).name() + suffix);
  EXPECT_EQ(Thrown([&] { RaiseUnknownMsg(nullptr, Sample()); }),
            typeid(qvl_CUtilExceptionUnknown).name() + suffix);
  ASSERT_EQ(h.collector.GetEntries().size(), 2u);
  for (const auto& e : h.collector.GetEntries()) EXPECT_EQ(e.level, qvl_MsgLevelRaise);
}

TEST(Raise, ReportingCaughtMessagesIsLevelFourOrAThrowWithoutHandler) {
  Handler h;
  ReportCaught(h.handler.Get(), Sample());
  ReportCaughtStd(h.handler.Get(), qvl_CUtilExceptionStd(std::runtime_error("disk on fire")));
  ReportCaughtUnknown(h.handler.Get(), qvl_CUtilExceptionUnknown());
  ReportOrRaise(h.handler.Get(), Sample());
  const auto& entries = h.collector.GetEntries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].level, qvl_MsgLevelCaught);
  EXPECT_EQ(entries[1].level, qvl_MsgLevelCaught);
  EXPECT_NE(entries[1].msg.GetFilledText().find("disk on fire"), std::string::npos);
  EXPECT_EQ(entries[2].level, qvl_MsgLevelCaught);
  EXPECT_EQ(entries[3].level, qvl_MsgLevelError);
  EXPECT_EQ(Thrown([] { ReportCaught(nullptr, Sample()); }).rfind(typeid(qvl_CUtilMsg).name(), 0), 0u);
  EXPECT_EQ(Thrown([] {
              ReportCaughtStd(nullptr, qvl_CUtilExceptionStd(Sample()));
            }).rfind(typeid(qvl_CUtilExceptionStd).name(), 0),
            0u);
  EXPECT_EQ(Thrown([] { ReportOrRaise(nullptr, Sample()); }).rfind(typeid(qvl_CUtilMsg).name(), 0), 0u);
}

}  // namespace
