// Tests of message texts: placeholder filling and the console line.
#include <gtest/gtest.h>

#include "util/msg/util_msg_msg.h"

namespace {

TEST(Msg, PlaceholdersAreFilledFromTheInfosAfterTheContext) {
  qvl_CUtilMsg m("a/b.c", "Bone \"[1]\" of [2], [3] and [x] [12");
  m.AddInfo("ctx");
  m.AddInfo("Hips");
  m.AddInfo("walk");
  EXPECT_EQ(m.GetFilledText(), "Bone \"Hips\" of walk, [3] and [x] [12");
  EXPECT_EQ(qvl_MsgConsoleLine(1, m), "Bone \"Hips\" of walk, [3] and [x] [12");
  EXPECT_EQ(qvl_MsgConsoleLine(2, m), "ctx: error: Bone \"Hips\" of walk, [3] and [x] [12 [a/b.c]");
  m.Reset();
  EXPECT_EQ(m.GetInfoCnt(), 0);
  EXPECT_TRUE(m.GetId().IsEmpty());
  m.SetId("x.y");
  m.SetText("T [1]");
  m.AddInfo("");
  EXPECT_EQ(qvl_MsgConsoleLine(4, m), "error: T [1] [x.y]");
}

}  // namespace
