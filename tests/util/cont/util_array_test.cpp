// Tests of the owned array and the pool array: growth, clearing and the index errors.
#include "util/cont/util_array.h"

#include <gtest/gtest.h>

#include "util/mempool/util_mempool_array.h"

namespace {

struct Caught {
  std::string id;
  std::vector<std::string> infos;
};

template <class F>
Caught CatchMsg(F&& f) {
  try {
    f();
  } catch (const qvl_CUtilMsg& m) {
    Caught c{m.GetId().GetChars(), {}};
    for (int i = 0; i < m.GetInfoCnt(); ++i) c.infos.push_back(m.GetInfo(i).GetChars());
    return c;
  }
  ADD_FAILURE() << "no message thrown";
  return {};
}

TEST(MemPoolArray, GrowthDoublesOrTakesTheNeededCount) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  qvl_CUtilMemPoolArray<int> a{};
  std::vector<int> caps;
  for (int i = 0; i < 5; ++i) {
    a.Append(pool.Get(), i * 10);
    caps.push_back(a.capacity);
  }
  EXPECT_EQ(caps, (std::vector<int>{1, 2, 4, 4, 8}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.GetAt(i), i * 10);

  qvl_CUtilMemPoolArray<int> b{};
  b.Reserve(pool.Get(), 10);
  EXPECT_EQ(b.capacity, 10);
  a.Reserve(pool.Get(), 10);  // capacity 8 doubles to 16
  EXPECT_EQ(a.capacity, 16);
  EXPECT_EQ(a.count, 5);
  EXPECT_EQ(a.RefBack(), 40);
}

TEST(MemPoolArray, AppendOfOwnItemSurvivesGrowth) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  qvl_CUtilMemPoolArray<double> a{};
  a.Append(pool.Get(), 1.5);
  a.Append(pool.Get(), a.RefAt(0));  // reference into the block being replaced
  a.Append(pool.Get(), a.RefAt(1));
  EXPECT_EQ(a.GetAt(2), 1.5);
}

TEST(MemPoolArray, IndexErrorsNameFunctionCountAndIndex) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  qvl_CUtilMemPoolArray<float> a{};
  for (int i = 0; i < 3; ++i) a.Append(pool.Get(), 1.0f);
  Caught c = CatchMsg([&] { a.RefAt(3); });
  EXPECT_EQ(c.id, "util/mempool/util_mempool_array.idx_out_of_range");
  EXPECT_EQ(c.infos, (std::vector<std::string>{"", "?", "RefAt", "3", "3"}));
  EXPECT_EQ(CatchMsg([&] { a.GetAt(-1); }).infos, (std::vector<std::string>{"", "?", "GetAt", "3", "-1"}));
  EXPECT_EQ(CatchMsg([&] { a[7]; }).infos[2], "operator[]");
  qvl_CUtilMemPoolArray<float> empty{};
  EXPECT_EQ(CatchMsg([&] { empty.RefBack(); }).infos,
            (std::vector<std::string>{"", "?", "RefBack", "0", "-1"}));
  EXPECT_THROW(a.RefAt(3), qvl_CUtilMemPoolArrayOutOfRange);
}

TEST(MemPoolArray, CapacityBeyondTheByteLimitIsRefused) {
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  qvl_CUtilMemPoolArray<double> a{};
  Caught c = CatchMsg([&] { a.Reserve(pool.Get(), INT32_MAX / 4); });
  EXPECT_EQ(c.id, "util/mempool/util_mempool_array.too_large");
  EXPECT_EQ(a.capacity, 0);
  EXPECT_EQ(a.items, nullptr);
}

TEST(OwnArray, SetCountClearsFloatsBetweenOldAndNewCount) {
  qvl_CUtilArray<float> a;
  a.SetCount(-4);
  EXPECT_EQ(a.GetCount(), 0);
  a.SetCount(3);
  EXPECT_EQ(a.GetCap(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a[i], 0.0f);
  for (int i = 0; i < 3; ++i) a[i] = 7.0f;
  a.SetCount(5);  // grows to max(2 * 3, 5)
  EXPECT_EQ(a.GetCap(), 6);
  EXPECT_EQ(a[2], 7.0f);
  EXPECT_EQ(a[3], 0.0f);
  EXPECT_EQ(a[4], 0.0f);
  a[3] = 9.0f;
  a[4] = 9.0f;
  a.SetCount(1);
  EXPECT_EQ(a.GetCount(), 1);
  a.SetCount(5);  // the dropped elements were cleared when shrinking
  EXPECT_EQ(a[1], 0.0f);
  EXPECT_EQ(a[3], 0.0f);
  EXPECT_EQ(a[4], 0.0f);
}

TEST(OwnArray, SetCapKeepsElementsAndNeverDropsBelowCount) {
  qvl_CUtilArray<int> a;
  a.SetCap(8);
  a.SetCount(4);
  for (int i = 0; i < 4; ++i) a.SetAt(i, i + 1);
  a.SetCap(2);
  EXPECT_EQ(a.GetCap(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], i + 1);
  a.SetCap(4);
  EXPECT_EQ(a.GetCap(), 4);
}

TEST(OwnArray, IndexErrors) {
  qvl_CUtilArray<float> a;
  Caught c = CatchMsg([&] { a.SetAt(0, 1.0f); });
  EXPECT_EQ(c.id, "util/cont/util_array.idx_out_of_range");
  EXPECT_EQ(c.infos, (std::vector<std::string>{"", "?", "SetAt", "0", "0"}));
  a.SetCount(2);
  EXPECT_EQ(CatchMsg([&] { a[2]; }).infos, (std::vector<std::string>{"", "?", "operator[]", "2", "2"}));
}

}  // namespace
