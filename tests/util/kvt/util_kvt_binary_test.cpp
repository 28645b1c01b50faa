// Tests of the binary encoding: random-tree round trips through both
// encodings, exact float bit patterns, and corrupt or truncated data (cut at
// every length, flipped bytes, a table of hand-made cases).
#include "util/kvt/util_kvt_binary.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <random>

#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/kvt/util_kvt_reader.h"

namespace {

// Float patterns that must survive: zeros of both signs, subnormals, the
// extremes, infinities and NaNs with payloads.
const std::uint32_t kSpecialBits[] = {0x00000000u, 0x80000000u, 0x00000001u, 0x807FFFFFu, 0x00800000u,
                                      0x7F7FFFFFu, 0xFF7FFFFFu, 0x7F800000u, 0xFF800000u, 0x7FC00000u,
                                      0x7F800001u, 0xFFC12345u, 0x3F800000u, 0x3DCCCCCDu};

const char* const kNames[] = {"a", "key", "transl", "quat", "frame_array", "_x9", "name"};

// A random tree; text-safe when nanFree (text carries no NaN payload or sign).
void FillRandom(std::mt19937& rng, qvl_CUtilKvtChunk* chunk, int depth, bool nanFree) {
  int keys = static_cast<int>(rng() % 5);
  for (int i = 0; i < keys; ++i) {
    int k = chunk->AddKey(kNames[rng() % std::size(kNames)]);
    int values = static_cast<int>(rng() % 6);
    for (int v = 0; v < values; ++v) {
      switch (rng() % 6) {
        case 0:
          chunk->AddInt(k, static_cast<std::int32_t>(rng()));
          break;
        case 1: {
          std::uint32_t bits = rng() % 3 == 0 ? kSpecialBits[rng() % std::size(kSpecialBits)]
                                              : static_cast<std::uint32_t>(rng());
          float f = std::bit_cast<float>(bits);
          if (nanFree && f != f) f = std::bit_cast<float>(0x7FC00000u);
          chunk->AddFloat(k, f);
          break;
        }
        case 2: {
          std::string s;
          int len = static_cast<int>(rng() % 8);
          // Any byte but zero, which a string cannot hold.
          for (int c = 0; c < len; ++c) s += static_cast<char>(1 + rng() % 255);
          chunk->AddStr(k, qvl_CUtilStr(s.data(), s.size()));
          break;
        }
        case 3:
          if (depth < 4) {
            qvl_CUtilPtr<qvl_CUtilKvtChunk> child(new qvl_CUtilKvtChunk());
            FillRandom(rng, child.Get(), depth + 1, nanFree);
            chunk->AddChunk(k, child.Get());
          }
          break;
        default:
          for (int r = 0; r < 20; ++r) chunk->AddFloat(k, static_cast<float>(rng() % 1000) * 0.125f);
          break;
      }
    }
  }
}

// True when both trees hold the same keys and values, floats compared by bits.
bool SameTree(const qvl_CUtilKvtChunk* a, const qvl_CUtilKvtChunk* b) {
  if (a->GetKeyCnt() != b->GetKeyCnt()) return false;
  for (int k = 0; k < a->GetKeyCnt(); ++k) {
    if (a->GetKeyName(k) != b->GetKeyName(k) || a->GetValueCnt(k) != b->GetValueCnt(k)) return false;
    for (int v = 0; v < a->GetValueCnt(k); ++v) {
      int t = a->GetValueType(k, v);
      if (t != b->GetValueType(k, v)) return false;
      if (t == qvl_KvtTypeInt && a->GetValueInt(k, v) != b->GetValueInt(k, v)) return false;
      if (t == qvl_KvtTypeFloat && std::bit_cast<std::uint32_t>(a->GetValueFloat(k, v)) !=
                                       std::bit_cast<std::uint32_t>(b->GetValueFloat(k, v))) {
        return false;
      }
      if (t == qvl_KvtTypeStr && a->GetValueStr(k, v) != b->GetValueStr(k, v)) return false;
      if (t == qvl_KvtTypeChunk && !SameTree(a->PeekValueChunk(k, v), b->PeekValueChunk(k, v))) return false;
    }
  }
  return true;
}

TEST(KvtBinary, RandomTreesSurviveBothEncodings) {
  std::mt19937 rng(12345);
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    qvl_CUtilPtr<qvl_CUtilKvtChunk> tree(new qvl_CUtilKvtChunk());
    FillRandom(rng, tree.Get(), 0, round % 2 == 0);
    KvtTestHandler h;
    // Binary keeps every bit pattern, NaN payloads included.
    std::string bin = KvtWriteTree(tree.Get(), qvl_KvtFlagBinary);
    auto fromBin = KvtReadTree(h.Get(), bin);
    if (!SameTree(tree.Get(), fromBin.Get())) ++failures;
    if (round % 2 == 0) {
      // Text to binary to text gives the identical text, and the text keeps
      // every pattern except NaN payloads (which the tree here has none of).
      std::string text = KvtWriteTree(tree.Get(), 0);
      std::string bin2 = KvtConvert(h.Get(), text, qvl_KvtFlagBinary);
      if (KvtConvert(h.Get(), bin2, 0) != text) ++failures;
      if (!SameTree(tree.Get(), KvtReadTree(h.Get(), text).Get())) ++failures;
    }
    if (h.Count() != 0) ++failures;
  }
  EXPECT_EQ(failures, 0);
}

TEST(KvtBinary, LayoutOfASmallTree) {
  qvl_CUtilPtr<qvl_CUtilKvtChunk> tree(new qvl_CUtilKvtChunk());
  int k = tree->AddKey("ab");
  tree->AddInt(k, -2);
  tree->AddFloat(k, 1.0f);
  tree->AddFloat(k, -0.0f);
  qvl_CUtilPtr<qvl_CUtilKvtChunk> c(new qvl_CUtilKvtChunk());
  c->AddStr(c->AddKey("ab"), "hi");
  tree->AddChunk(k, c.Get());
  std::string bin = KvtWriteTree(tree.Get(), qvl_KvtFlagBinary);
  const unsigned char expect[] = {
      0x9B, 'K', 'V', 'T', 1, 0,    0,    0,                              // magic, version 1
      0x01, 2,   0,   0,   0, 'a',  'b',                                  // new name "ab" (index 0)
      0x10, 1,   0,   0,   0, 0xFE, 0xFF, 0xFF, 0xFF,                     // int run: -2
      0x11, 2,   0,   0,   0, 0,    0,    0x80, 0x3F, 0,   0,   0, 0x80,  // float run: 1.0, -0.0
      0x13,                                                               // chunk
      0x02, 0,   0,   0,   0,                                             // name index 0
      0x12, 1,   0,   0,   0, 2,    0,    0,    0,    'h', 'i',           // string run: "hi"
      0x03, 0x04};                                                        // chunk end, file end
  EXPECT_EQ(bin, std::string(reinterpret_cast<const char*>(expect), sizeof expect));
}

// A binary file made of bytes, after the header.
std::string Bin(std::initializer_list<int> body) {
  std::string s("\x9BKVT\x01\x00\x00\x00", 8);
  for (int b : body) s += static_cast<char>(b);
  return s;
}

struct CorruptCase {
  const char* what;
  std::string data;
  int code;
  std::uint64_t offset;
};

TEST(KvtBinary, CorruptDataGivesCodeAndOffset) {
  std::string deep = Bin({1, 1, 0, 0, 0, 'a'});
  for (int i = 0; i < 257; ++i) deep += std::string("\x13\x02\x00\x00\x00\x00", 6);
  const CorruptCase cases[] = {
      {"short header", std::string("\x9BKVT\x01", 5), qvl_KvtErrBinTruncated, 5},
      {"version", std::string("\x9BKVT\x02\x00\x00\x00\x04", 9), qvl_KvtErrBinVersion, 4},
      {"no end mark", Bin({}), qvl_KvtErrBinTruncated, 8},
      {"unknown tag", Bin({0x7F}), qvl_KvtErrBinTag, 8},
      {"name longer than the data", Bin({1, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 4}), qvl_KvtErrBinCount, 9},
      {"empty name", Bin({1, 0, 0, 0, 0, 4}), qvl_KvtErrBinName, 13},
      {"name with a space", Bin({1, 2, 0, 0, 0, 'a', ' ', 4}), qvl_KvtErrBinName, 13},
      {"reserved name", Bin({1, 3, 0, 0, 0, 'i', 'n', 'f', 4}), qvl_KvtErrBinName, 13},
      {"name index not defined", Bin({2, 0, 0, 0, 0, 4}), qvl_KvtErrBinNameIndex, 9},
      {"run count beyond the data", Bin({1, 1, 0, 0, 0, 'a', 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 4}),
       qvl_KvtErrBinCount, 15},
      {"string longer than the data", Bin({1, 1, 0, 0, 0, 'a', 0x12, 1, 0, 0, 0, 9, 0, 0, 0, 'x', 4}),
       qvl_KvtErrBinCount, 19},
      {"value where a key must stand", Bin({0x10, 1, 0, 0, 0, 1, 0, 0, 0, 4}), qvl_KvtErrBinStructure, 13},
      {"chunk end at the root", Bin({3, 4}), qvl_KvtErrBinStructure, 8},
      {"file end inside a chunk", Bin({1, 1, 0, 0, 0, 'a', 0x13, 4}), qvl_KvtErrBinStructure, 15},
      {"bytes after the end", Bin({4, 0}), qvl_KvtErrBinTrailing, 9},
      {"nesting", deep, qvl_KvtErrBinNesting, 0},
  };
  for (const CorruptCase& c : cases) {
    SCOPED_TRACE(c.what);
    KvtTestHandler h;
    qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(c.data, "b.kvt"));
    qvl_CUtilKvtReader* reader = qvl_CUtilKvtWork::CreateReader(h.Get(), "", stream.Get());
    qvl_CUtilPtr<qvl_CUtilKvtChunk> root(new qvl_CUtilKvtChunk());
    qvl_CUtilKvtWork::ReadChunkKeys(reader, root.Get());
    reader->Finish();
    EXPECT_EQ(reader->GetErrCode(), c.code);
    if (c.code != qvl_KvtErrBinNesting) {
      EXPECT_EQ(reader->GetErrPos().offset, c.offset);
    } else {
      EXPECT_EQ(reader->GetErrPos().offset, 14u + 256u * 6u);
    }
    EXPECT_EQ(reader->GetErrPos().line, 0u);
    EXPECT_EQ(h.Count(), 1);
    if (h.Count() > 0) {
      EXPECT_EQ(h.collector.GetEntries()[0].msg.GetId().View(), "util/kvt/util_kvt_binary.corrupt");
    }
    qvl_CUtilPtrBase::RefReleaseOf(reader);
  }
}

TEST(KvtBinary, AStringOfARunLongerThanTheDataEndsTheValuesWithOneReport) {
  // Key "a" with a run of two strings: "x", then one claiming 9 bytes with 1 left.
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(
      Bin({1, 1, 0, 0, 0, 'a', 0x12, 2, 0, 0, 0, 1, 0, 0, 0, 'x', 9, 0, 0, 0, 'y', 4}), "s.kvt"));
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(h.Get(), "", stream.Get(), true);
  ASSERT_GT(r->IsKey(), 0);
  EXPECT_EQ(r->ReadKey(), "a");
  ASSERT_GT(r->IsValue(), 0);
  EXPECT_EQ(r->ReadStr(), "x");
  EXPECT_EQ(r->IsValue(), 0);  // no value is claimed that is not there
  EXPECT_EQ(r->ReadStr(), "");
  r->EndKey();
  EXPECT_EQ(r->IsKey(), 0);
  r->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.IdAt(0), "util/kvt/util_kvt_binary.corrupt@s.kvt:@24");
}

TEST(KvtBinary, MessageNamesFileAndOffset) {
  KvtTestHandler h;
  KvtReadTree(h.Get(), Bin({1, 1, 0, 0, 0, 'a', 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 4}));
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(
      h.LineAt(0),
      "t.kvt:@15: error: Expected a count that fits the bytes left, found 17179869180 bytes needed with 1 "
      "left. [util/kvt/util_kvt_binary.corrupt]");
}

// Every cut of a valid file and many single-byte changes give at most one
// report and no crash; a cut file always gives exactly one.
TEST(KvtBinary, CutAndFlippedDataNeverCrash) {
  std::mt19937 rng(777);
  qvl_CUtilPtr<qvl_CUtilKvtChunk> tree(new qvl_CUtilKvtChunk());
  FillRandom(rng, tree.Get(), 0, false);
  FillRandom(rng, tree.Get(), 0, false);
  std::string bin = KvtWriteTree(tree.Get(), qvl_KvtFlagBinary);
  ASSERT_GT(bin.size(), 40u);
  int bad = 0;
  for (std::size_t len = 0; len < bin.size(); ++len) {
    KvtTestHandler h;
    auto root = KvtReadTree(h.Get(), bin.substr(0, len));
    if (len == 0) {
      if (h.Count() != 0) ++bad;  // an empty file is an empty text tree
    } else if (h.Count() != 1 || root->GetKeyCnt() != 0) {
      ++bad;
    }
  }
  EXPECT_EQ(bad, 0);
  for (std::size_t pos = 0; pos < bin.size(); ++pos) {
    for (int x : {0x01, 0x80, 0xFF, 0x10}) {
      std::string data = bin;
      data[pos] = static_cast<char>(data[pos] ^ x);
      KvtTestHandler h;
      auto root = KvtReadTree(h.Get(), data);
      if (h.Count() > 1 || (h.Count() == 1 && root->GetKeyCnt() != 0)) ++bad;
    }
  }
  EXPECT_EQ(bad, 0);
}

TEST(KvtBinary, DetectionAndLargeRunsAcrossBufferFlushes) {
  EXPECT_TRUE(qvl_CUtilKvtWork::IsBinary(std::string("\x9BKVT", 4)));
  EXPECT_FALSE(
      qvl_CUtilKvtWork::IsBinary("\xEF\xBB\xBF"
                                 "a 1"));
  EXPECT_FALSE(qvl_CUtilKvtWork::IsBinary("a 1"));
  // 600,000 floats and a 3 MB string pass the writer's 1 MB buffer.
  qvl_CUtilPtr<qvl_CUtilKvtChunk> tree(new qvl_CUtilKvtChunk());
  int k = tree->AddKey("f");
  for (int i = 0; i < 600000; ++i) tree->AddFloat(k, static_cast<float>(i) * 0.5f);
  tree->AddStr(tree->AddKey("s"), qvl_CUtilStr(std::string(3 << 20, 'x')));
  KvtTestHandler h;
  for (int flags : {0, qvl_KvtFlagBinary}) {
    auto back = KvtReadTree(h.Get(), KvtWriteTree(tree.Get(), flags));
    EXPECT_TRUE(SameTree(tree.Get(), back.Get()));
  }
  EXPECT_EQ(h.Count(), 0);
}

}  // namespace

namespace {

TEST(KvtWriters, FinishOnceAndNothingWithoutFinish) {
  for (int flags : {0, qvl_KvtFlagBinary}) {
    qvl_CUtilPtr<qvl_CUtilMemStream> stream(new qvl_CUtilMemStream());
    qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream.Get(), flags);
    EXPECT_EQ(w->GetRefCnt(), 1);
    w->BeginKey("a");
    w->WriteInt(1);
    w->BeginChunk();  // left open: Finish closes it
    w->WriteKeyStr("s", "x");
    w->Finish();
    w->Finish();
    qvl_CUtilPtrBase::RefReleaseOf(w);
    KvtTestHandler h;
    EXPECT_EQ(KvtConvert(h.Get(), stream->GetData(), 0), "a 1 {\n  s \"x\"\n}\n");
    EXPECT_EQ(h.Count(), 0);

    qvl_CUtilPtr<qvl_CUtilMemStream> dropped(new qvl_CUtilMemStream());
    w = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", dropped.Get(), flags);
    w->BeginKey("a");
    w->WriteFloat(1.0f);
    qvl_CUtilPtrBase::RefReleaseOf(w);
    EXPECT_EQ(dropped->GetData(), "");
  }
  // A tree built in memory has no context text.
  qvl_CUtilPtr<qvl_CUtilKvtChunk> built(new qvl_CUtilKvtChunk());
  EXPECT_EQ(built->GetInfo().View(), "");
}

}  // namespace

namespace {

std::string ReadSourceFile(const std::string& rel) {
  std::FILE* f = std::fopen((std::string(QVL_SOURCE_DIR) + "/" + rel).c_str(), "rb");
  std::string data;
  if (!f) return data;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  return data;
}

// The committed pair guards both encodings against silent change.
TEST(KvtBinary, CommittedReferenceFilesConvertIntoEachOther) {
  std::string text = ReadSourceFile("tests/util/kvt/data/reference.kvt");
  std::string bin = ReadSourceFile("tests/util/kvt/data/reference.bin");
  ASSERT_FALSE(text.empty());
  ASSERT_FALSE(bin.empty());
  KvtTestHandler h;
  EXPECT_EQ(KvtConvert(h.Get(), text, qvl_KvtFlagBinary), bin);
  EXPECT_EQ(KvtConvert(h.Get(), bin, 0), text);
  EXPECT_EQ(KvtConvert(h.Get(), text, 0), text);
  EXPECT_EQ(h.Count(), 0);
}

}  // namespace
