// Tests of the typed extraction: optional keys, type and count mismatches,
// repeated keys, chunk arrays and the unknown-key check.
#include "util/kvt/util_kvt_extract.h"

#include <gtest/gtest.h>

#include "tests/util/kvt/util_kvt_test_util.h"

namespace {

constexpr const char* kJob =
    "ref_path \"rest.kvt\"\n"   // 1
    "do_transl true\n"          // 2
    "eps 1\n"                   // 3
    "eps2 0.25\n"               // 4
    "bad_bool 1.5\n"            // 5
    "two 1 2\n"                 // 6
    "none\n"                    // 7
    "mask_array {\n"            // 8
    "  bone_pat \"Spine*\"\n"   // 9
    "} {\n"                     // 10
    "  wgh 2\n"                 // 11
    "}\n"                       // 12
    "ref_path \"again.kvt\"\n"  // 13
    "typo 3\n";                 // 14

TEST(KvtExtract, ValuesDefaultsAndReports) {
  KvtTestHandler h;
  auto root = KvtReadTree(h.Get(), kJob);
  ASSERT_EQ(h.Count(), 0);
  qvl_CUtilKvtExtract ex;
  ex.Assign(h.Get(), root.Get());
  EXPECT_EQ(ex.GetInfo().View(), "t.kvt:1:1");

  // A key given twice: the last counts, reported once at the later one.
  EXPECT_EQ(ex.ExtractStr("ref_path", true, "").View(), "again.kvt");
  EXPECT_EQ(h.Ids(), (std::vector<std::string>{"util/kvt/util_kvt_extract.twice@t.kvt:13:1"}));
  h.collector.Clear();

  EXPECT_TRUE(ex.ExtractBool("do_transl", true, false));
  EXPECT_EQ(ex.ExtractFloat("eps", true, 9.0f), 1.0f);  // an int is taken
  EXPECT_EQ(ex.ExtractFloat("eps2", true, 9.0f), 0.25f);
  EXPECT_EQ(ex.ExtractFloat("missing", true, 9.0f), 9.0f);  // optional: silent
  EXPECT_EQ(ex.ExtractStr("missing2", true, "dflt").View(), "dflt");
  EXPECT_EQ(h.Count(), 0);

  // Type and count mismatches give the default and a report at the key.
  EXPECT_TRUE(ex.ExtractBool("bad_bool", true, true));
  EXPECT_EQ(ex.ExtractFloat("two", true, 7.0f), 7.0f);
  EXPECT_EQ(ex.ExtractStr("none", true, "d").View(), "d");
  EXPECT_EQ(h.Ids(), (std::vector<std::string>{"util/kvt/util_kvt_extract.mismatch@t.kvt:5:1",
                                               "util/kvt/util_kvt_extract.mismatch@t.kvt:6:1",
                                               "util/kvt/util_kvt_extract.mismatch@t.kvt:7:1"}));
  EXPECT_EQ(h.LineAt(0),
            "t.kvt:5:1: error: Key 'bad_bool' expects one int (0 false, other true), found a float. "
            "[util/kvt/util_kvt_extract.mismatch]");
  EXPECT_EQ(h.LineAt(1),
            "t.kvt:6:1: error: Key 'two' expects one float or int, found 2 values. "
            "[util/kvt/util_kvt_extract.mismatch]");
  for (const auto& e : h.collector.GetEntries()) EXPECT_EQ(e.level, qvl_MsgLevelError);
  h.collector.Clear();

  qvl_CUtilPtrArray<qvl_CUtilKvtChunk> masks;
  ex.ExtractChunkArray(masks, "mask_array", true);
  ASSERT_EQ(masks.GetCount(), 2);
  qvl_CUtilKvtChunk* m1 = masks.FetchAt(1);
  EXPECT_EQ(m1->GetRefCnt(), 3);  // the tree, the array and the fetch
  EXPECT_EQ(m1->GetInfo().View(), "t.kvt:10:3");

  // Only "typo" was asked for by nobody; reported once.
  ex.CheckForUnknown();
  ex.CheckForUnknown();
  EXPECT_EQ(h.Ids(), (std::vector<std::string>{"util/kvt/util_kvt_extract.unknown@t.kvt:14:1"}));
  h.collector.Clear();

  qvl_CUtilKvtExtract mask;
  mask.Assign(h.Get(), m1);
  qvl_CUtilStr pat;
  qvl_CUtilStr info;
  mask.ExtractStr(pat, info, "bone_pat", true, "");
  EXPECT_EQ(pat.View(), "");
  EXPECT_EQ(info.View(), "t.kvt:10:3");  // missing: the chunk's position
  EXPECT_EQ(mask.ExtractFloat("wgh", true, 0.0f), 2.0f);
  mask.CheckForUnknown();
  EXPECT_EQ(h.Count(), 0);
  qvl_CUtilPtrBase::RefReleaseOf(m1);

  qvl_CUtilKvtChunk* m0 = masks.PeekAt(0);
  mask.Assign(h.Get(), m0);
  mask.ExtractStr(pat, info, "bone_pat", true, "");
  EXPECT_EQ(pat.View(), "Spine*");
  EXPECT_EQ(info.View(), "t.kvt:9:12");  // the value's own position
}

TEST(KvtExtract, ChunkArrayMismatchAndRequiredKeys) {
  KvtTestHandler h;
  auto root = KvtReadTree(h.Get(), "arr { a 1 } 5\n");
  qvl_CUtilKvtExtract ex;
  ex.Assign(h.Get(), root.Get());
  qvl_CUtilPtrArray<qvl_CUtilKvtChunk> arr;
  ex.ExtractChunkArray(arr, "arr", true);
  EXPECT_EQ(arr.GetCount(), 0);
  ex.ExtractChunkArray(arr, "nothing", true);
  EXPECT_EQ(arr.GetCount(), 0);
  EXPECT_EQ(ex.ExtractFloat("req", false, 3.0f), 3.0f);
  EXPECT_EQ(h.Ids(), (std::vector<std::string>{"util/kvt/util_kvt_extract.mismatch@t.kvt:1:1",
                                               "util/kvt/util_kvt_extract.missing@t.kvt:1:1"}));
}

TEST(KvtExtract, WithoutHandlerErrorsAreThrownAndNullChunkIsEmpty) {
  KvtTestHandler h;
  auto root = KvtReadTree(h.Get(), "a \"x\"\n");
  qvl_CUtilKvtExtract ex;
  ex.Assign(nullptr, root.Get());
  EXPECT_THROW(ex.ExtractBool("a", true, false), qvl_CUtilMsg);
  ex.Assign(h.Get(), nullptr);
  EXPECT_EQ(ex.ExtractStr("a", true, "d").View(), "d");
  EXPECT_EQ(ex.GetInfo().View(), "");
  ex.CheckForUnknown();
  EXPECT_EQ(h.Count(), 0);
}

}  // namespace
