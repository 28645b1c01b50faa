// Tests of the sequential reader in both encodings: lenient reads, skipping of
// unread values and keys, balanced loops after errors, and the end of reading
// after a syntax error.
#include "util/kvt/util_kvt_seqread.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>

#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/file/util_file_cachedfile.h"

namespace {

// The same tree as text or, re-encoded, as binary.
class KvtSeqRead : public ::testing::TestWithParam<bool> {
 protected:
  struct Reader {
    KvtTestHandler h;
    qvl_CUtilPtr<qvl_CUtilStream> stream;
    qvl_CUtilKvtSeqRead* r = nullptr;
    ~Reader() { qvl_CUtilPtrBase::RefReleaseOf(r); }
    qvl_CUtilKvtSeqRead* operator->() { return r; }
  };
  // A reader on text, or on its binary encoding when the parameter is true.
  void Open(Reader& rd, const std::string& text) {
    std::string data = text;
    if (GetParam()) {
      KvtTestHandler conv;
      data = KvtConvert(conv.Get(), text, qvl_KvtFlagBinary);
      ASSERT_EQ(conv.Count(), 0) << conv.LineAt(0);
    }
    rd.stream.Set(new qvl_CUtilMemStream(data, "s.kvt"));
    rd.r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(rd.h.Get(), "", rd.stream.Get(), true);
    ASSERT_NE(rd.r, nullptr);
  }
};

TEST_P(KvtSeqRead, WalksAPathAnimationLikeALoader) {
  Reader rd;
  Open(rd,
       "format \"quorvel_path_5\"\nunknown { deep { x 1 } 2 3 } 4 \"s\"\n"
       "data { path_array { name \"Hips\" extra 9 range 0 1.5 frame_array { key 0.5 transl 1 2 3 4 quat 0 0 "
       "0 1 }"
       " { key 1 } } }\n");
  std::vector<std::string> seen;
  while (rd->IsKey() > 0) {
    qvl_CUtilStr key = rd->ReadKey();
    if (key == "format") {
      seen.push_back(Cat({"format=", rd->ReadStr().View()}));
    } else if (key == "data") {
      rd->BeginChunk();
      while (rd->IsKey() > 0) {
        qvl_CUtilStr dk = rd->ReadKey();
        while (dk == "path_array" && rd->IsValue() > 0) {
          rd->BeginChunk();
          while (rd->IsKey() > 0) {
            qvl_CUtilStr pk = rd->ReadKey();
            if (pk == "name") seen.push_back(Cat({"name=", rd->ReadStr().View()}));
            if (pk == "range") {
              float a = rd->ReadFloat();
              float b = rd->ReadFloat();
              seen.push_back(Cat({"range=", std::to_string(a), ",", std::to_string(b)}));
            }
            while (pk == "frame_array" && rd->IsValue() > 0) {
              rd->BeginChunk();
              std::string frame = "frame";
              while (rd->IsKey() > 0) {
                qvl_CUtilStr fk = rd->ReadKey();
                if (fk == "key") frame += Cat({" key=", std::to_string(rd->ReadFloat())});
                if (fk == "transl") {
                  for (int i = 0; i < 3; ++i)
                    frame += Cat({" ", std::to_string(static_cast<int>(rd->ReadFloat()))});
                }
                rd->EndKey();  // skips the fourth value of transl and all of quat
              }
              rd->EndChunk();
              seen.push_back(frame);
            }
            rd->EndKey();
          }
          rd->EndChunk();
        }
        rd->EndKey();
      }
      rd->EndChunk();
    }
    rd->EndKey();  // skips the unread "unknown" with its nested chunks
  }
  rd->Finish();
  EXPECT_EQ(rd.h.Count(), 0) << rd.h.LineAt(0);
  EXPECT_EQ(seen, (std::vector<std::string>{"format=quorvel_path_5", "name=Hips", "range=0.000000,1.500000",
                                            "frame key=0.500000 1 2 3", "frame key=1.000000"}));
}

TEST_P(KvtSeqRead, WrongTypesAndMissingValuesReadAsDefaults) {
  Reader rd;
  Open(rd, "a \"s\" 2 { x 1 } 3\nb 7\nc 1.5\n");
  ASSERT_EQ(rd->IsKey(), 1);
  EXPECT_EQ(rd->ReadKey().View(), "a");
  EXPECT_EQ(rd->ReadFloat(), 0.0f);     // a string: type error, consumed
  EXPECT_EQ(rd->ReadFloat(), 2.0f);     // an int converts
  EXPECT_EQ(rd->ReadStr().View(), "");  // a chunk: type error, skipped whole
  EXPECT_EQ(rd->ReadFloat(), 3.0f);
  EXPECT_EQ(rd->IsValue(), 0);
  EXPECT_EQ(rd->ReadFloat(), 0.0f);  // no further value
  rd->EndKey();
  EXPECT_EQ(rd->ReadKey().View(), "b");
  rd->BeginChunk();  // an int: error, an empty chunk is entered
  EXPECT_EQ(rd->IsKey(), 0);
  EXPECT_EQ(rd->ReadKey().View(), "");
  rd->EndChunk();
  EXPECT_EQ(rd->IsValue(), 0);
  rd->EndKey();
  EXPECT_EQ(rd->ReadKey().View(), "c");
  EXPECT_EQ(rd->ReadStr().View(), "");
  rd->EndKey();
  EXPECT_EQ(rd->IsKey(), 0);
  rd->Finish();
  const bool bin = GetParam();
  std::vector<std::string> ids = rd.h.Ids();
  EXPECT_EQ(
      ids,
      (std::vector<std::string>{
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@19" : "util/kvt/util_kvt_reader.type@s.kvt:1:3",
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@33" : "util/kvt/util_kvt_reader.type@s.kvt:1:9",
          bin ? "util/kvt/util_kvt_reader.missing@s.kvt:@59" : "util/kvt/util_kvt_reader.missing@s.kvt:2:1",
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@70" : "util/kvt/util_kvt_reader.type@s.kvt:2:3",
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@85" : "util/kvt/util_kvt_reader.type@s.kvt:3:3",
      }));
  EXPECT_EQ(rd.h.LineAt(0).substr(rd.h.LineAt(0).find("error:")),
            "error: Key 'a' expects a float, found a string. [util/kvt/util_kvt_reader.type]");
}

TEST_P(KvtSeqRead, EndChunkSkipsUnreadKeysAndGetInfoNamesTheKey) {
  Reader rd;
  Open(rd, "outer {\n  a 1\n  b { c { d 2 } }\n}\nnext 3\n");
  EXPECT_EQ(rd->GetInfo().View(), GetParam() ? "s.kvt:@0" : "s.kvt:1:1");
  rd->ReadKey();
  rd->BeginChunk();
  EXPECT_EQ(rd->ReadKey().View(), "a");
  EXPECT_EQ(rd->GetInfo().View(), GetParam() ? "s.kvt:@19" : "s.kvt:2:3");
  rd->EndChunk();  // closes "a", skips "b" with its nested chunks
  EXPECT_EQ(rd->GetInfo().View(), GetParam() ? "s.kvt:@8" : "s.kvt:1:1") << "the chunk's key again";
  rd->EndKey();
  EXPECT_EQ(rd->ReadKey().View(), "next");
  EXPECT_EQ(rd->ReadFloat(), 3.0f);
  EXPECT_EQ(rd->IsKey(), 0);
  rd->Finish();
  EXPECT_EQ(rd.h.Count(), 0) << rd.h.LineAt(0);
}

TEST_P(KvtSeqRead, FinishSkipsWhatWasNotRead) {
  Reader rd;
  Open(rd, "a 1\nb { c 2 }\n");
  rd->Finish();
  EXPECT_EQ(rd.h.Count(), 0);
}

// Floats come in runs (binary) that IsValue and ReadFloat serve without the
// general look-ahead; each read of another kind, and each run boundary, must
// see exactly the value the general reading would.
TEST_P(KvtSeqRead, FloatRunsMeetStringsIntsChunksAndTheNextKey) {
  Reader rd;
  Open(rd, "k 1.5 2.5 \"s\" 3.5 4 { a 0.25 b 0.5 0.75 } 5.5\nnext 6.5 7.5\n");
  const bool bin = GetParam();
  ASSERT_EQ(rd->IsKey(), 1);
  EXPECT_EQ(rd->ReadKey().View(), "k");
  EXPECT_EQ(rd->ReadStr().View(), "");  // 1.5: type error, consumed
  EXPECT_EQ(rd->ReadFloat(), 2.5f);
  EXPECT_EQ(rd->IsValue(), 1);       // the string after the run
  EXPECT_EQ(rd->ReadFloat(), 0.0f);  // "s": type error, consumed
  EXPECT_EQ(rd->ReadFloat(), 3.5f);  // a run of one
  EXPECT_EQ(rd->ReadFloat(), 4.0f);  // an int converts
  EXPECT_EQ(rd->IsValue(), 1);       // the chunk
  rd->BeginChunk();
  EXPECT_EQ(rd->ReadKey().View(), "a");
  EXPECT_EQ(rd->GetInfo().View(), bin ? "s.kvt:@56" : "s.kvt:1:23");
  EXPECT_EQ(rd->ReadFloat(), 0.25f);
  EXPECT_EQ(rd->ReadKey().View(), "b");
  EXPECT_EQ(rd->ReadFloat(), 0.5f);
  rd->EndChunk();  // 0.75 unread
  EXPECT_EQ(rd->IsValue(), 1);
  EXPECT_EQ(rd->ReadFloat(), 5.5f);
  EXPECT_EQ(rd->IsValue(), 0);
  EXPECT_EQ(rd->ReadFloat(), 0.0f);  // no further value
  rd->EndKey();
  ASSERT_EQ(rd->IsKey(), 1);
  EXPECT_EQ(rd->ReadKey().View(), "next");
  EXPECT_EQ(rd->ReadFloat(), 6.5f);
  EXPECT_EQ(rd->GetInfo().View(), bin ? "s.kvt:@100" : "s.kvt:2:1");
  rd->EndKey();  // 7.5 unread
  EXPECT_EQ(rd->IsKey(), 0);
  rd->Finish();
  std::vector<std::string> ids = rd.h.Ids();
  EXPECT_EQ(
      ids,
      (std::vector<std::string>{
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@19" : "util/kvt/util_kvt_reader.type@s.kvt:1:3",
          bin ? "util/kvt/util_kvt_reader.type@s.kvt:@32" : "util/kvt/util_kvt_reader.type@s.kvt:1:11",
          bin ? "util/kvt/util_kvt_reader.missing@s.kvt:@100" : "util/kvt/util_kvt_reader.missing@s.kvt:2:1",
      }));
}

TEST_P(KvtSeqRead, ReadsOfAnotherKindInsideAFloatRunTakeTheRightValue) {
  Reader rd;
  Open(rd, "k 1.5 2.5 3.5 4.5\nm -0.0\n");
  const bool bin = GetParam();
  EXPECT_EQ(rd->ReadKey().View(), "k");
  EXPECT_EQ(rd->ReadFloat(), 1.5f);
  rd->BeginChunk();  // 2.5: type error, skipped, an empty chunk is entered
  EXPECT_EQ(rd->IsKey(), 0);
  EXPECT_EQ(rd->IsValue(), 0);
  EXPECT_EQ(rd->ReadFloat(), 0.0f);
  rd->EndChunk();
  EXPECT_EQ(rd->IsValue(), 1);
  EXPECT_EQ(rd->ReadFloat(), 3.5f);
  EXPECT_EQ(rd->ReadStr().View(), "");  // 4.5: type error, consumed
  EXPECT_EQ(rd->IsValue(), 0);
  EXPECT_EQ(rd->ReadKey().View(), "m");  // closes k on the way
  EXPECT_EQ(std::bit_cast<std::uint32_t>(rd->ReadFloat()), 0x80000000u);
  EXPECT_EQ(rd->IsValue(), 0);
  EXPECT_EQ(rd->IsKey(), 0);
  rd->Finish();
  std::vector<std::string> ids = rd.h.Ids();
  EXPECT_EQ(ids,
            (std::vector<std::string>{
                bin ? "util/kvt/util_kvt_reader.type@s.kvt:@23" : "util/kvt/util_kvt_reader.type@s.kvt:1:7",
                bin ? "util/kvt/util_kvt_reader.type@s.kvt:@31" : "util/kvt/util_kvt_reader.type@s.kvt:1:15",
            }));
  EXPECT_EQ(rd.h.LineAt(0).substr(rd.h.LineAt(0).find("error:")),
            "error: Key 'k' expects a chunk, found a float. [util/kvt/util_kvt_reader.type]");
}

INSTANTIATE_TEST_SUITE_P(Encodings, KvtSeqRead, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Binary" : "Text"; });

// After a syntax error no level sees a further key, and the error is reported once.
TEST(KvtSeqReadText, SyntaxErrorEndsEveryLoop) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream("a { b { c { } = } d 2 } e 3\n", "s.kvt"));
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(h.Get(), "", stream.Get(), true);
  int keys = 0;
  int loops = 0;
  // A generic walker that enters every chunk and reads every value as a float.
  std::function<void()> walk = [&]() {
    while (r->IsKey() > 0 && ++loops < 100) {
      r->ReadKey();
      ++keys;
      while (r->IsValue() > 0 && ++loops < 100) {
        r->BeginChunk();
        walk();
        r->EndChunk();
      }
      r->ReadFloat();
      r->EndKey();
    }
  };
  walk();
  r->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  EXPECT_EQ(keys, 3);  // a, b, c
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.IdAt(0), "util/kvt/util_kvt_text.syntax@s.kvt:1:15");
}

TEST(KvtSeqReadText, NullStreamGivesNoReaderAndNamesComeFromThePath) {
  EXPECT_EQ(qvl_CUtilKvtWork::CreateSeqReadStreamSimple(nullptr, "x", nullptr, true), nullptr);
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream("a \"x\"", "anim.kvt"));
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(h.Get(), "", stream.Get(), true);
  EXPECT_EQ(r->GetRefCnt(), 1);
  EXPECT_EQ(r->GetMsgHandler(), h.Get());
  r->ReadKey();
  r->ReadFloat();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.IdAt(0), "util/kvt/util_kvt_reader.type@anim.kvt:1:3");
}

TEST(KvtSeqReadText, UnreadableFileGivesNoReaderAndNoSecondReport) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> missing(
      new qvl_CUtilCachedFile(h.Get(), "", "", "/nonexistent-dir/anim.kvt", 10, -1));
  ASSERT_EQ(h.Count(), 1);  // the file's own report
  EXPECT_EQ(qvl_CUtilKvtWork::CreateSeqReadStreamSimple(h.Get(), "", missing.Get(), true), nullptr);
  qvl_CUtilKvtChunk* root = qvl_CUtilKvtWork::ReadStreamSimple(h.Get(), "", missing.Get(), false);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetKeyCnt(), 0);
  qvl_CUtilPtrBase::RefReleaseOf(root);
  EXPECT_EQ(h.Count(), 1);
}

TEST(KvtSeqReadText, ErrorsAreThrownWithoutHandler) {
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream("a \"x\"", "anim.kvt"));
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(nullptr, "", stream.Get(), true);
  EXPECT_EQ(r->GetMsgHandler(), nullptr);
  r->ReadKey();
  EXPECT_THROW(r->ReadFloat(), qvl_CUtilMsg);
  qvl_CUtilPtrBase::RefReleaseOf(r);
}

}  // namespace

namespace {

// Reads data (either encoding) twice, as a tree and through the sequential
// reader's ReadStr / ReadFloat straight after ReadKey (the fast float path,
// nothing peeked); gives each one's report lines and first value.
struct BothReads {
  std::vector<std::string> treeLines, seqLines;
  float treeFloat = 0.0f, seqFloat = 0.0f;
  bool treeHasNumber = false;
  BothReads(const std::string& data, bool asFloat) {
    KvtTestHandler ht;
    auto root = KvtReadTree(ht.Get(), data);
    for (int i = 0; i < ht.Count(); ++i) treeLines.push_back(ht.LineAt(i));
    if (ht.Count() == 0 && root->GetKeyCnt() > 0 && root->GetValueCnt(0) > 0) {
      const int type = root->GetValueType(0, 0);
      treeHasNumber = type == qvl_KvtTypeFloat || type == qvl_KvtTypeInt;
      treeFloat = type == qvl_KvtTypeFloat ? root->GetValueFloat(0, 0) : 0.0f;
    }
    KvtTestHandler hs;
    qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(data, "t.kvt"));
    qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(hs.Get(), "", stream.Get(), true);
    while (r->IsKey() > 0) {
      r->ReadKey();
      if (asFloat) {
        seqFloat = r->ReadFloat();
      } else {
        r->ReadStr();
      }
      r->EndKey();
    }
    r->Finish();
    qvl_CUtilPtrBase::RefReleaseOf(r);
    for (int i = 0; i < hs.Count(); ++i) seqLines.push_back(hs.LineAt(i));
  }
};

TEST(KvtReaders, FastFloatPathAndTreeReaderAcceptTheSameTextsWithTheSameBits) {
  struct Case {
    const char* value;
    bool ok;
  };
  const Case cases[] = {
      {"-nan(e)", false}, {"-nan(1e5)", false}, {"nan(e)", false},  {"-infinity", false},
      {"-nan", true},     {"-inf", true},       {"-.5e1", true},    {"-1.5e3", true},
      {"1.5", true},      {"-0.0", true},       {"-1e-50", true},   {"3.4028235e38", true},
      {"1.5}", false},    {"1.5e", false},      {"-3.5e38", false}, {"0x1p3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const BothReads r(std::string("k ") + c.value + "\n", true);
    EXPECT_EQ(r.treeLines.empty() && r.treeHasNumber, c.ok);
    EXPECT_EQ(r.seqLines.empty(), c.ok);
    // Both name the same syntax error, or read the same bits.
    EXPECT_EQ(r.seqLines, r.treeLines);
    if (c.ok) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(r.seqFloat), std::bit_cast<std::uint32_t>(r.treeFloat));
    }
  }
}

TEST(KvtReaders, AZeroByteInAStringIsAReadErrorWhereItStandsInBothEncodings) {
  static const char kBin[] =
      "\x9BKVT\x01\x00\x00\x00"  // header
      "\x01\x01\x00\x00\x00n"    // key "n" (offset 8)
      "\x12\x02\x00\x00\x00"     // a run of two strings (offset 14)
      "\x04\x00\x00\x00Hips"     // "Hips" (offset 19)
      "\x06\x00\x00\x00Hips\x00"
      "A"  // "Hips<NUL>A": the zero at offset 35
      "\x04";
  const std::string bin(kBin, sizeof kBin - 1);
  const struct {
    std::string data;
    const char* line;
  } cases[] = {
      {std::string("name \"Hips\0A\"\n", 14),
       "t.kvt:1:11: error: Expected a string without a zero byte, found byte 0x00. "
       "[util/kvt/util_kvt_text.syntax]"},
      {"name \"ok\"\nref_path \"rest.kvt\\x00garbage\"\n",
       "t.kvt:2:19: error: Expected a string without a zero byte, found '\\x00'. "
       "[util/kvt/util_kvt_text.syntax]"},
      {std::string(bin.data(), bin.size()),
       "t.kvt:@35: error: Expected a string without a zero byte, found byte 0x00. "
       "[util/kvt/util_kvt_binary.corrupt]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const BothReads r(c.data, false);
    EXPECT_EQ(r.treeLines, std::vector<std::string>{c.line});
    EXPECT_EQ(r.seqLines, std::vector<std::string>{c.line});
  }
  // \x01 and the like stay ordinary bytes of a string.
  EXPECT_TRUE(BothReads("n \"a\\x01b\\x7f\"\n", false).treeLines.empty());
}

}  // namespace
