// Tests of the writers' output buffer: when bytes reach the stream, growth for
// a piece larger than the buffer, and what is dropped.
#include "util/kvt/util_kvt_writebuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/ptr/util_ptr_base.h"

namespace {

constexpr std::size_t kCap = qvl_CUtilKvtWriteBuf::kCap;

void Put(qvl_CUtilKvtWriteBuf& buf, char c, std::size_t n) {
  std::memset(buf.Room(n), c, n);
  buf.Advance(n);
}

TEST(KvtWriteBuf, FlushesOnlyWhenRoomRunsOutAndGrowsForLargePieces) {
  qvl_CUtilPtr<qvl_CUtilMemStream> stream(new qvl_CUtilMemStream());
  {
    qvl_CUtilKvtWriteBuf buf(stream.Get());
    Put(buf, 'a', kCap - 1);
    Put(buf, 'b', 1);  // fills the buffer exactly: nothing goes out yet
    EXPECT_EQ(stream->GetData().size(), 0u);
    EXPECT_EQ(buf.GetFree(), 0u);
    Put(buf, 'c', 1);
    EXPECT_EQ(stream->GetData(), std::string(kCap - 1, 'a') + "b");
    EXPECT_EQ(buf.GetLen(), 1u);
    // A piece larger than the buffer flushes what is there and gets a block of its own size.
    Put(buf, 'd', kCap + 5);
    EXPECT_EQ(stream->GetData().size(), kCap + 1);
    EXPECT_EQ(stream->GetData().back(), 'c');
    EXPECT_EQ(buf.GetFree(), 0u);
    *buf.At(0) = 'e';  // patching a byte written earlier
    buf.Flush();
    EXPECT_EQ(buf.GetLen(), 0u);
    EXPECT_EQ(stream->GetData().size(), 2 * kCap + 6);
    EXPECT_EQ(stream->GetData().substr(kCap + 1, 2), "ed");
    Put(buf, 'f', 3);  // released without a flush: dropped
  }
  EXPECT_EQ(stream->GetData().size(), 2 * kCap + 6);
  EXPECT_EQ(stream->GetRefCnt(), 1);
}

TEST(KvtWriteBuf, NullStreamSwallowsTheOutputButKeepsTheBufferWorking) {
  qvl_CUtilKvtWriteBuf buf(nullptr);
  Put(buf, 'a', kCap);
  Put(buf, 'b', 2);  // flushes into nothing, then continues in the buffer
  EXPECT_EQ(buf.GetLen(), 2u);
  EXPECT_EQ(*buf.At(1), 'b');
  Put(buf, 'c', kCap + 1);  // a piece larger than the buffer still gets room
  EXPECT_EQ(buf.GetLen(), kCap + 1);
  EXPECT_EQ(*buf.At(kCap), 'c');
}

}  // namespace
