// Tests of the text encoding: tokens and values, the syntax-error table with
// exact positions, the canonical writer and context texts.
#include "util/kvt/util_kvt_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>

#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/kvt/util_kvt_reader.h"

namespace {

struct ReadResult {
  int code;
  qvl_CUtilKvtPos pos;
  int reports;
};

// Reads text with the look-ahead reader into a tree and returns the first
// parse error (code and position) and the number of reports.
ReadResult ReadText(const std::string& text) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(text, "t.kvt"));
  qvl_CUtilKvtReader* reader = qvl_CUtilKvtWork::CreateReader(h.Get(), "", stream.Get());
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root(new qvl_CUtilKvtChunk());
  qvl_CUtilKvtWork::ReadChunkKeys(reader, root.Get());
  reader->Finish();
  ReadResult r{reader->GetErrCode(), reader->GetErrPos(), h.Count()};
  qvl_CUtilPtrBase::RefReleaseOf(reader);
  return r;
}

struct SyntaxCase {
  const char* text;
  int code;
  std::uint32_t line;
  std::uint32_t col;
};

TEST(KvtText, SyntaxErrorsGiveCodeAndExactPosition) {
  std::string deep;
  for (int i = 0; i < 257; ++i) deep += "a {\n";
  std::string deepOk;
  for (int i = 0; i < 256; ++i) deepOk += "a {";
  for (int i = 0; i < 256; ++i) deepOk += "}";
  const SyntaxCase cases[] = {
      {"a = 1", qvl_KvtErrUnexpected, 1, 3},
      {"a 1\nb\n  = 2", qvl_KvtErrUnexpected, 3, 3},
      {"a 1 // note\n= 2", qvl_KvtErrUnexpected, 2, 1},
      {"a \x01", qvl_KvtErrUnexpected, 1, 3},
      {"\xEF\xBB\xBF"
       "a =",
       qvl_KvtErrUnexpected, 1, 3},
      {"5", qvl_KvtErrExpectedKey, 1, 1},
      {"}", qvl_KvtErrExpectedKey, 1, 1},
      {"a 1 }", qvl_KvtErrExpectedKey, 1, 5},
      {"a { 5 }", qvl_KvtErrExpectedKey, 1, 5},
      {"true 1", qvl_KvtErrExpectedKey, 1, 1},
      {"a {\n b 1\n", qvl_KvtErrUnclosedChunk, 3, 1},
      {"a { b { }", qvl_KvtErrUnclosedChunk, 1, 10},
      {"a 1.5x", qvl_KvtErrBadNumber, 1, 3},
      {"a 1e", qvl_KvtErrBadNumber, 1, 3},
      {"a 1e+", qvl_KvtErrBadNumber, 1, 3},
      {"a -", qvl_KvtErrBadNumber, 1, 3},
      {"a .", qvl_KvtErrBadNumber, 1, 3},
      {"a .e5", qvl_KvtErrBadNumber, 1, 3},
      {"a 1.2.3", qvl_KvtErrBadNumber, 1, 3},
      {"a +foo", qvl_KvtErrBadNumber, 1, 3},
      {"a +-1", qvl_KvtErrBadNumber, 1, 3},
      {"a --1", qvl_KvtErrBadNumber, 1, 3},
      {"a 0x1p3", qvl_KvtErrBadNumber, 1, 3},
      {"a 1e5.5", qvl_KvtErrBadNumber, 1, 3},
      {"a 1 -", qvl_KvtErrBadNumber, 1, 5},
      {"a 12ab", qvl_KvtErrBadNumber, 1, 3},
      {"a 2147483648", qvl_KvtErrIntRange, 1, 3},
      {"a -2147483649", qvl_KvtErrIntRange, 1, 3},
      {"a 99999999999999999999", qvl_KvtErrIntRange, 1, 3},
      {"a 3.4028236e38", qvl_KvtErrFloatRange, 1, 3},
      {"a 0 -1e39", qvl_KvtErrFloatRange, 1, 5},
      {"a 1e400", qvl_KvtErrFloatRange, 1, 3},
      {"a \"abc", qvl_KvtErrStrUnclosed, 1, 3},
      {"a \"ab\ncd\"", qvl_KvtErrStrLineBreak, 1, 6},
      {"a \"ab\rcd\"", qvl_KvtErrStrLineBreak, 1, 6},
      {"a \"x\\q\"", qvl_KvtErrStrEscape, 1, 5},
      {"a \"\\x4\"", qvl_KvtErrStrEscape, 1, 4},
      {"a \"\\", qvl_KvtErrStrEscape, 1, 4},
      {deep.c_str(), qvl_KvtErrNesting, 257, 3},
  };
  for (const SyntaxCase& c : cases) {
    SCOPED_TRACE(c.text);
    ReadResult r = ReadText(c.text);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.pos.line, c.line);
    EXPECT_EQ(r.pos.col, c.col);
    EXPECT_EQ(r.reports, 1);
  }
  ReadResult ok = ReadText(deepOk);
  EXPECT_EQ(ok.code, qvl_KvtErrNone);
  EXPECT_EQ(ok.reports, 0);
}

TEST(KvtText, SyntaxErrorIsOneReportAndAnEmptyRoot) {
  KvtTestHandler h;
  auto root = KvtReadTree(h.Get(), "ok 1\njob {\n  x 7 = 8\n}\nlater 2\n");
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.LineAt(0),
            "t.kvt:3:7: error: Expected a value or a key name, found '='. [util/kvt/util_kvt_text.syntax]");
  EXPECT_EQ(h.collector.GetEntries()[0].level, qvl_MsgLevelError);
  EXPECT_EQ(root->GetKeyCnt(), 0);
}

TEST(KvtText, LongTokensAreQuotedShortly) {
  KvtTestHandler h;
  KvtReadTree(h.Get(), "a " + std::string(100000, '7'));
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.LineAt(0), Cat({"t.kvt:1:3: error: Expected an integer within the 32-bit range, found '",
                              std::string(40, '7'), "...'. [util/kvt/util_kvt_text.syntax]"}));
}

TEST(KvtText, SyntaxErrorIsThrownWithoutHandler) {
  try {
    KvtReadTree(nullptr, "a = 1");
    FAIL() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), "util/kvt/util_kvt_text.syntax");
    EXPECT_STREQ(m.GetContext().GetChars(), "t.kvt:1:3");
  }
}

struct ValueCase {
  const char* text;  // one value
  int type;
  std::uint32_t bits;  // int value or float bit pattern
};

TEST(KvtText, ValuesReadExactly) {
  const ValueCase cases[] = {
      {"1", qvl_KvtTypeInt, 1},
      {"+7", qvl_KvtTypeInt, 7},
      {"-2147483648", qvl_KvtTypeInt, 0x80000000u},
      {"2147483647", qvl_KvtTypeInt, 0x7FFFFFFFu},
      {"007", qvl_KvtTypeInt, 7},
      {"true", qvl_KvtTypeInt, 1},
      {"false", qvl_KvtTypeInt, 0},
      {"1.0", qvl_KvtTypeFloat, 0x3F800000u},
      {"1.", qvl_KvtTypeFloat, 0x3F800000u},
      {".5", qvl_KvtTypeFloat, 0x3F000000u},
      {"-.5", qvl_KvtTypeFloat, 0xBF000000u},
      {"+0.5", qvl_KvtTypeFloat, 0x3F000000u},
      {"1e3", qvl_KvtTypeFloat, 0x447A0000u},
      {"1E+3", qvl_KvtTypeFloat, 0x447A0000u},
      {"-0.0", qvl_KvtTypeFloat, 0x80000000u},
      {"0.0", qvl_KvtTypeFloat, 0x00000000u},
      {"3.4028235e+38", qvl_KvtTypeFloat, 0x7F7FFFFFu},
      {"-3.4028235e38", qvl_KvtTypeFloat, 0xFF7FFFFFu},
      {"1.17549435e-38", qvl_KvtTypeFloat, 0x00800000u},
      {"1e-45", qvl_KvtTypeFloat, 0x00000001u},
      {"7e-46", qvl_KvtTypeFloat, 0x00000000u},
      {"-1e-50", qvl_KvtTypeFloat, 0x80000000u},
      {"1e-400", qvl_KvtTypeFloat, 0x00000000u},
      {"0.000000000000000000000000000000000000000000000000000000000001", qvl_KvtTypeFloat, 0},
      {"0.1", qvl_KvtTypeFloat, 0x3DCCCCCDu},
      {"inf", qvl_KvtTypeFloat, 0x7F800000u},
      {"+inf", qvl_KvtTypeFloat, 0x7F800000u},
      {"-inf", qvl_KvtTypeFloat, 0xFF800000u},
      {"nan", qvl_KvtTypeFloat, 0x7FC00000u},
      {"-nan", qvl_KvtTypeFloat, 0xFFC00000u},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.text);
    KvtTestHandler h;
    auto root = KvtReadTree(h.Get(), std::string("v ") + c.text + "\n");
    ASSERT_EQ(h.Count(), 0) << h.LineAt(0);
    ASSERT_EQ(root->GetValueCnt(0), 1);
    EXPECT_EQ(root->GetValueType(0, 0), c.type);
    std::uint32_t bits = c.type == qvl_KvtTypeInt ? static_cast<std::uint32_t>(root->GetValueInt(0, 0))
                                                  : std::bit_cast<std::uint32_t>(root->GetValueFloat(0, 0));
    EXPECT_EQ(bits, c.bits);
  }
}

TEST(KvtText, StringsNamesCommentsAndByteOrderMark) {
  KvtTestHandler h;
  std::string text =
      "\xEF\xBB\xBF// header\n"
      "s \"a\\\"b\\\\c\\n\\r\\t\\x41\\xfF\" \"\xC3\xA9\" \"\"  // after\n"
      "info inf_x nan_y\n"
      "_k9{k 1}e 2\n";
  auto root = KvtReadTree(h.Get(), text);
  ASSERT_EQ(h.Count(), 0) << h.LineAt(0);
  ASSERT_EQ(root->GetKeyCnt(), 6);
  EXPECT_EQ(root->GetValueStr(0, 0).View(), std::string_view("a\"b\\c\n\r\tA\xFF"));
  EXPECT_EQ(root->GetValueStr(0, 1).View(), "\xC3\xA9");
  EXPECT_EQ(root->GetValueStr(0, 2).View(), "");
  EXPECT_EQ(root->GetKeyName(1).View(), "info");
  EXPECT_EQ(root->GetValueCnt(1), 0);
  EXPECT_EQ(root->GetKeyName(2).View(), "inf_x");
  EXPECT_EQ(root->GetKeyName(3).View(), "nan_y");
  EXPECT_EQ(root->GetKeyName(4).View(), "_k9");
  EXPECT_EQ(root->GetKeyName(5).View(), "e");
  // Positions: lines and columns are 1-based, the mark does not count.
  EXPECT_EQ(root->GetKeyInfo(0).View(), "t.kvt:2:1");
  EXPECT_EQ(root->GetValuePos(0, 1).ToText(root->GetFile()).View(), "t.kvt:2:27");
  EXPECT_EQ(root->PeekValueChunk(4, 0)->GetInfo().View(), "t.kvt:4:4");
  EXPECT_EQ(root->GetInfo().View(), "t.kvt:1:1");
}

TEST(KvtText, RepeatedKeyNamesShareOneStorage) {
  KvtTestHandler h;
  auto root = KvtReadTree(h.Get(), "frame { key 1 } frame { key 2 }\n");
  qvl_CUtilKvtChunk* a = root->PeekValueChunk(0, 0);
  qvl_CUtilKvtChunk* b = root->PeekValueChunk(1, 0);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->GetKeyName(0).SharesStorageWith(b->GetKeyName(0)));
  EXPECT_TRUE(root->GetKeyName(0).SharesStorageWith(root->GetKeyName(1)));
}

TEST(KvtText, FloatsAreWrittenShortestAndReadBack) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {1.0f, "1.0"},
      {0.5f, "0.5"},
      {-2.5e-07f, "-2.5e-07"},
      {3.4028235e+38f, "3.4028235e+38"},
      {-0.0f, "-0.0"},
      {100.0f, "100.0"},
      {1e20f, "1e+20"},
      {0.1f, "0.1"},
      {std::numeric_limits<float>::denorm_min(), "1e-45"},
      {std::numeric_limits<float>::infinity(), "inf"},
      {-std::numeric_limits<float>::infinity(), "-inf"},
      {std::numeric_limits<float>::quiet_NaN(), "nan"},
      {-std::numeric_limits<float>::quiet_NaN(), "nan"},
      // Shortest digits, zero-filled, not the digits of the exact value.
      {123456792.0f, "123456790.0"},
      {-2147483648.0f, "-2147483600.0"},
      {16777216.0f, "16777216.0"},
      {1234567.9f, "1234567.9"},
      {0.000123f, "0.000123"},
      {1.234e-4f, "0.0001234"},  // as long as 1.234e-04: the plain form wins the tie
      {1e-5f, "1e-05"},
  };
  for (const Case& c : cases) {
    char buf[64];
    char* end = qvl_KvtFormatFloat(buf, c.value);
    EXPECT_EQ(std::string(buf, end), c.text);
  }
}

TEST(KvtText, WriterIsCanonical) {
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root(new qvl_CUtilKvtChunk());
  int k = root->AddKey("name");
  root->AddStr(k, qvl_CUtilStr("q\"\\\n\x01\x7F\xC3\xA9", 8));
  root->AddKey("empty");
  k = root->AddKey("list");
  for (int i = 0; i < 18; ++i) root->AddInt(k, i);
  k = root->AddKey("arr");
  qvl_CUtilPtr<qvl_CUtilKvtChunk> a(new qvl_CUtilKvtChunk());
  int ka = a->AddKey("x");
  a->AddFloat(ka, 1.0f);
  qvl_CUtilPtr<qvl_CUtilKvtChunk> inner(new qvl_CUtilKvtChunk());
  inner->AddFloat(inner->AddKey("y"), -0.5f);
  a->AddChunk(a->AddKey("in"), inner.Get());
  qvl_CUtilPtr<qvl_CUtilKvtChunk> b(new qvl_CUtilKvtChunk());
  root->AddChunk(k, a.Get());
  root->AddChunk(k, b.Get());
  root->AddInt(k, 5);
  std::string text = KvtWriteTree(root.Get(), 0);
  EXPECT_EQ(text,
            "name \"q\\\"\\\\\\n\\x01\\x7f\xC3\xA9\"\n"
            "empty\n"
            "list 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"
            "  16 17\n"
            "arr {\n"
            "  x 1.0\n"
            "  in {\n"
            "    y -0.5\n"
            "  }\n"
            "} {\n"
            "} 5\n");
  // What the writer writes reads back to the same text.
  KvtTestHandler h;
  EXPECT_EQ(KvtConvert(h.Get(), text, 0), text);
  EXPECT_EQ(h.Count(), 0);
}

TEST(KvtText, ExamplesReadAndTheCanonicalOneIsReproduced) {
  const std::string path =
      "format \"quorvel_path_5\"\n"
      "data {\n"
      "  path_array {\n"
      "    name \"Hips\"\n"
      "    range 0.0 1.0\n"
      "    frame_array {\n"
      "      key 0.0\n"
      "      transl 0.0 1.0 0.0\n"
      "      quat 0.0 0.0 0.0 1.0\n"
      "    } {\n"
      "      key 1.0\n"
      "      transl 0.0 1.1 0.0\n"
      "      quat 0.0 0.0 0.38268343 0.92387953\n"
      "    }\n"
      "  }\n"
      "}\n";
  KvtTestHandler h;
  // The example's last quaternion value has one digit more than the shortest
  // text of its float; everything else is already canonical.
  std::string canonical = path;
  canonical.replace(canonical.find("0.92387953"), 10, "0.9238795");
  EXPECT_EQ(KvtConvert(h.Get(), path, 0), canonical);
  EXPECT_EQ(KvtConvert(h.Get(), canonical, 0), canonical);
  const std::string job =
      "// walk cycle relative to the rest pose\n"
      "ref_path \"rest.kvt\"\n"
      "do_transl true\n"
      "mask_array {\n"
      "  bone_pat \"Spine*\"\n"
      "  wgh 0.5\n"
      "} {\n"
      "  bone_pat \"Head\"\n"
      "  wgh 1\n"
      "}\n";
  auto root = KvtReadTree(h.Get(), job);
  EXPECT_EQ(h.Count(), 0);
  ASSERT_EQ(root->GetKeyCnt(), 3);
  EXPECT_EQ(root->GetKeyInfo(2).View(), "t.kvt:4:1");
  EXPECT_EQ(root->PeekValueChunk(2, 0)->GetInfo().View(), "t.kvt:4:12");
  EXPECT_EQ(root->PeekValueChunk(2, 1)->GetInfo().View(), "t.kvt:7:3");
  EXPECT_EQ(root->PeekValueChunk(2, 1)->GetValueType(1, 0), qvl_KvtTypeInt);
  EXPECT_EQ(KvtConvert(h.Get(), job, 0),
            "ref_path \"rest.kvt\"\ndo_transl 1\nmask_array {\n  bone_pat \"Spine*\"\n  wgh 0.5\n} {\n"
            "  bone_pat \"Head\"\n  wgh 1\n}\n");
}

TEST(KvtText, EmptyInputsGiveEmptyRoots) {
  for (const char* text : {"", "   \n\t", "// only a comment", "\xEF\xBB\xBF"}) {
    KvtTestHandler h;
    auto root = KvtReadTree(h.Get(), text);
    EXPECT_EQ(root->GetKeyCnt(), 0);
    EXPECT_EQ(h.Count(), 0);
  }
  // A null stream gives an empty root, named by the caller.
  qvl_CUtilKvtChunk* root = qvl_CUtilKvtWork::ReadStreamSimple(nullptr, "x.kvt", nullptr, false);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetKeyCnt(), 0);
  EXPECT_EQ(root->GetRefCnt(), 1);
  qvl_CUtilPtrBase::RefReleaseOf(root);
}

TEST(KvtText, ContextNamesTheCallersNameOrTheStreamPath) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream("a = 1", "dir/cfg.kvt"));
  qvl_CUtilKvtChunk* root = qvl_CUtilKvtWork::ReadStreamSimple(h.Get(), "", stream.Get(), false);
  qvl_CUtilPtrBase::RefReleaseOf(root);
  root = qvl_CUtilKvtWork::ReadStreamSimple(h.Get(), "given.kvt", stream.Get(), false);
  qvl_CUtilPtrBase::RefReleaseOf(root);
  ASSERT_EQ(h.Count(), 2);
  EXPECT_EQ(h.collector.GetEntries()[0].msg.GetContext().View(), "dir/cfg.kvt:1:3");
  EXPECT_EQ(h.collector.GetEntries()[1].msg.GetContext().View(), "given.kvt:1:3");
}

}  // namespace

namespace {

// Cuts and byte changes of a valid text file give at most one report, an
// empty root when there is one, and never a crash.
TEST(KvtText, CutAndChangedTextNeverCrash) {
  const std::string text =
      "format \"quorvel_path_5\" // c\n"
      "data {\n  path_array {\n    name \"A\\x41\\n\"\n    range -0.0 1e-45 inf nan 7 true\n"
      "    frame_array {\n      key 0.5\n    } {\n    }\n  }\n}\n";
  const char subst[] = {'{', '}', '"', '\\', '\n', '/', '.', 'e', '-', '9', 'x', '\0', '\x9B'};
  int bad = 0;
  for (std::size_t len = 0; len <= text.size(); ++len) {
    KvtTestHandler h;
    auto root = KvtReadTree(h.Get(), text.substr(0, len));
    if (h.Count() > 1 || (h.Count() == 1 && root->GetKeyCnt() != 0)) ++bad;
  }
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    for (char c : subst) {
      std::string data = text;
      data[pos] = c;
      KvtTestHandler h;
      auto root = KvtReadTree(h.Get(), data);
      if (h.Count() > 1 || (h.Count() == 1 && root->GetKeyCnt() != 0)) ++bad;
    }
  }
  EXPECT_EQ(bad, 0);
}

}  // namespace

namespace {

// Positions asked for out of order (the sequential reader's GetInfo after a
// later position was computed) are still exact.
TEST(KvtText, PositionsInAnyOrder) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream("a 1\n  b 2\nccc \"x\"\n\n  d 3", "p.kvt"));
  qvl_CUtilKvtReader* r = qvl_CUtilKvtWork::CreateReader(h.Get(), "", stream.Get());
  std::vector<std::string> seen;
  while (r->IsKey() > 0) {
    std::string at(r->GetNextPos().ToText("p.kvt").View());
    r->ReadKey();
    seen.push_back(at + "=" + std::string(r->GetInfo().View()));
    r->EndKey();
  }
  qvl_CUtilKvtPos back = r->PosOf(stream->GetReadData().data() + 6);  // "b"
  qvl_CUtilKvtPos start = r->PosOf(stream->GetReadData().data());
  qvl_CUtilPtrBase::RefReleaseOf(r);
  EXPECT_EQ(seen, (std::vector<std::string>{"p.kvt:1:1=p.kvt:1:1", "p.kvt:2:3=p.kvt:2:3",
                                            "p.kvt:3:1=p.kvt:3:1", "p.kvt:5:3=p.kvt:5:3"}));
  EXPECT_EQ(back.line, 2u);
  EXPECT_EQ(back.col, 3u);
  EXPECT_EQ(start.line, 1u);
  EXPECT_EQ(start.col, 1u);
}

}  // namespace
