// Tests of the path animation reader and the name map: format messages and
// their order, name ordering and replacement, lenient frames.
#include "util/anim/util_anim_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "util/file/util_file_stream.h"

namespace {

using boneanim_test::Env;

const char* kFormatId = "tool/pvsgen/pvsgen_load.format";
const char* kNoFormatId = "tool/pvsgen/pvsgen_load.no_format";

void Load(Env& env, const std::string& text, LoadedAnim* map, qvl_CUtilMsgHandler* handler) {
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(text, "anim.kvt"));
  LoadPathAnim(handler, "anim.kvt", env.pool.Get(), s.Get(), map);
}
void Load(Env& env, const std::string& text, LoadedAnim* map) {
  Load(env, text, map, env.handler.Get());
}

std::vector<std::string> Names(const LoadedAnim& map) {
  std::vector<std::string> out;
  for (const PathNode* n = map.GetFirstNode(); n; n = n->GetNext())
    out.push_back(n->key ? std::string(n->key) : std::string("<null>"));
  return out;
}

const char* kOnePath = "path_array { name \"Hips\" range 0.0 1.0 frame_array { key 0.0 } }";

TEST(LoadPathAnim, FormatMessagesAndTheirOrder) {
  struct Case {
    std::string text;
    std::vector<std::string> msgs;
    int pathCnt;
  };
  const std::string fmt = std::string("2 ") + kFormatId + " | quorvel_path_5 | ";
  const std::string noFmt = std::string("2 ") + kNoFormatId + " | quorvel_path_5";
  const Case cases[] = {
      {std::string("format \"quorvel_path_5\" data { ") + kOnePath + " }", {}, 1},
      // "data" without any format: the wrong-format message when it is met, then no-format at the end.
      {std::string("data { ") + kOnePath + " }", {fmt, noFmt}, 0},
      // format after data: only the wrong-format message, with no format read yet.
      {std::string("data { ") + kOnePath + " } format \"quorvel_path_5\"", {fmt}, 0},
      {std::string("format \"quorvel_boneanim_runtime_164x12\" data { ") + kOnePath + " }",
       {fmt + "quorvel_boneanim_runtime_164x12"},
       0},
      {std::string("format \"quorvel_path_5 \" data { ") + kOnePath + " }", {fmt + "quorvel_path_5 "}, 0},
      {"", {noFmt}, 0},
      {"other 1 2 3", {noFmt}, 0},
      // format without data: nothing loaded, nothing reported.
      {"format \"quorvel_path_5\"", {}, 0},
      // A second data chunk adds to the same map; a later format governs later data.
      {std::string("format \"quorvel_path_5\" data { ") + kOnePath +
           " } format \"x\" data { path_array { name \"Spine\" } } format \"quorvel_path_5\" data { "
           "path_array { "
           "name \"Neck\" } }",
       {fmt + "x"},
       2},
  };
  for (const Case& c : cases) {
    Env env;
    LoadedAnim map;
    Load(env, c.text, &map);
    EXPECT_EQ(env.Lines(1), c.msgs) << c.text;  // the context, a reader position, is checked below
    EXPECT_EQ(map.GetCount(), c.pathCnt) << c.text;
    for (const auto& e : env.collector.GetEntries())
      EXPECT_EQ(std::string(e.msg.GetContext().GetChars()).rfind("anim.kvt:", 0), 0u) << c.text;
  }
}

// After a nested chunk, a message names the key that holds it and the place
// of the value at hand, not the last key read inside the chunk.
TEST(LoadPathAnim, MessagesAfterANestedChunkNameItsKey) {
  const std::string cases[][2] = {
      {"format \"quorvel_path_5\" data { path_array { name \"A\"\n  frame_array { key 0.0 quat 0 0 0 1 } 7 } "
       "}",
       "2 util/kvt/util_kvt_reader.type | anim.kvt:2:40 | frame_array | a chunk | an int"},
      {"data {\n  path_array { name \"A\" frame_array { key 0.0 } }\n}\n",
       std::string("2 ") + kNoFormatId + " | anim.kvt:1:1 | quorvel_path_5"}};
  for (const auto& [text, msg] : cases) {
    Env env;
    LoadedAnim map;
    Load(env, text, &map);
    EXPECT_EQ(env.Lines().back(), msg);
  }
}

TEST(LoadPathAnim, FormatTextsAreFilledAsGiven) {
  Env env;
  LoadedAnim map;
  Load(env, "format \"abc\" data { }", &map);
  ASSERT_EQ(env.collector.GetEntries().size(), 1u);
  EXPECT_EQ(env.collector.GetEntries()[0].msg.GetFilledText(),
            "Found format \"abc\" instead of 'quorvel_path_5'.");
  env.collector.Clear();
  Load(env, "", &map);
  ASSERT_EQ(env.collector.GetEntries().size(), 1u);
  EXPECT_EQ(env.collector.GetEntries()[0].msg.GetFilledText(), "No format \"quorvel_path_5\" found.");
}

TEST(LoadPathAnim, WithoutHandlerTheFormatMessageIsThrown) {
  Env env;
  LoadedAnim map;
  try {
    Load(env, "format \"abc\" data { path_array { name \"A\" } }", &map, nullptr);
    ADD_FAILURE() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), kFormatId);
    EXPECT_STREQ(m.GetInfo(2).GetChars(), "abc");
  }
  EXPECT_EQ(map.GetCount(), 0);
  try {
    Load(env, "", &map, nullptr);
    ADD_FAILURE() << "nothing thrown";
  } catch (const qvl_CUtilMsg& m) {
    EXPECT_STREQ(m.GetId().GetChars(), kNoFormatId);
  }
}

TEST(LoadPathAnim, NullStreamLoadsNothingAndReportsNothing) {
  Env env;
  LoadedAnim map;
  LoadPathAnim(env.handler.Get(), "none.kvt", env.pool.Get(), nullptr, &map);
  EXPECT_EQ(map.GetCount(), 0);
  EXPECT_TRUE(env.collector.GetEntries().empty());
}

TEST(LoadPathAnim, DuplicateAndNamelessPathsAndByteOrder) {
  Env env;
  LoadedAnim map;
  Load(env,
       "format \"quorvel_path_5\" data { path_array"
       " { name \"a\" range 1.0 2.0 }"
       " { name \"\\xC4x\" }"
       " { name \"ab\" }"
       " { range 5.0 6.0 }"  // nameless
       " { name \"B\" }"
       " { name \"a\" range 3.0 4.0 }"  // replaces the first "a"
       " { range 7.0 8.0 }"             // replaces the first nameless path
       " { name \"Z\" name \"Y\" }"     // the later name counts
       " }",
       &map);
  EXPECT_TRUE(env.collector.GetEntries().empty());
  EXPECT_EQ(Names(map), (std::vector<std::string>{"<null>", "B", "Y", "a", "ab", "\xC4x"}));
  PathNode* a = FindPathNode(map, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->path->rangeStart, 3.0f);
  EXPECT_EQ(a->path->rangeEnd, 4.0f);
  // The node keeps the first path's name pointer as its key.
  EXPECT_NE(a->key, a->path->name);
  EXPECT_STREQ(a->key, a->path->name);
  PathNode* nameless = map.GetFirstNode();
  EXPECT_EQ(nameless->path->name, nullptr);
  EXPECT_EQ(nameless->path->rangeStart, 7.0f);
}

TEST(LoadPathAnim, LenientFrames) {
  Env env;
  LoadedAnim map;
  Load(env,
       "format \"quorvel_path_5\" unknown { deep { x 1 } } data { other 1 2 path_array {"
       "  name \"P\" colour \"red\" frame_array"
       "   { key 1.0 }"  // only a time
       "   { key 2.0 transl 1.0 2.0 3.0 4.0 quat 0.0 0.0 0.0 1.0 9.0 extra { key 99.0 } }"
       "   { transl 5.0 5.0 5.0 quat 0.0 0.0 0.0 1.0 }"          // no time: 0, raised to 2
       "   { key 3.0 transl nan 0.0 0.0 quat 0.0 0.0 0.0 1.0 }"  // translation dropped, rotation kept
       "  frame_array { key 4.0 quat 0.0 0.0 inf 1.0 }"          // a second list adds; rotation dropped
       " } { name \"Empty\" range -1.0 1.5 } }",
       &map);
  EXPECT_TRUE(env.collector.GetEntries().empty());
  ASSERT_EQ(map.GetCount(), 2);
  const AnimPath* p = FindPathNode(map, "P")->path;
  ASSERT_EQ(p->translTrack.count, 4);
  ASSERT_EQ(p->quatTrack.count, 4);
  const float tt[] = {1.0f, 2.0f, 2.0f, 4.0f};
  const float qt[] = {1.0f, 2.0f, 2.0f, 3.0f};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p->translTrack.RefAt(i).time, tt[i]) << i;
    EXPECT_EQ(p->quatTrack.RefAt(i).time, qt[i]) << i;
  }
  const Vector3 v0 = p->translTrack.RefAt(0).value;
  EXPECT_EQ(std::bit_cast<std::uint32_t>(v0.x) | std::bit_cast<std::uint32_t>(v0.y) |
                std::bit_cast<std::uint32_t>(v0.z),
            0u);
  const Quat q0 = p->quatTrack.RefAt(0).value;  // no "quat": the zero rotation, not the identity
  EXPECT_EQ(q0.x, 0.0f);
  EXPECT_EQ(q0.w, 0.0f);
  const Vector3 v1 = p->translTrack.RefAt(1).value;  // the fourth value is skipped
  EXPECT_EQ(v1.x, 1.0f);
  EXPECT_EQ(v1.y, 2.0f);
  EXPECT_EQ(v1.z, 3.0f);
  EXPECT_EQ(p->quatTrack.RefAt(1).value.w, 1.0f);
  EXPECT_EQ(p->translTrack.RefAt(2).value.x, 5.0f);
  EXPECT_EQ(p->translTrack.RefAt(3).value.x, 0.0f);  // the frame at 4.0 has no transl
  const AnimPath* e = FindPathNode(map, "Empty")->path;
  EXPECT_EQ(e->translTrack.count, 0);
  EXPECT_EQ(e->quatTrack.count, 0);
  EXPECT_EQ(e->rangeStart, -1.0f);
  EXPECT_EQ(e->rangeEnd, 1.5f);
}

TEST(LoadPathAnim, ManyFramesKeepFileOrderClampingAndDrops) {
  // Enough frames to grow the frame buffer several times; every 5th frame
  // goes back in time (raised to the previous time), every 7th has a
  // non-finite rotation (only its rotation key is dropped).
  std::string text = "format \"quorvel_path_5\" data { path_array { name \"P\" frame_array";
  std::vector<float> wantTransl;
  std::vector<float> wantQuat;
  float lastT = -FLT_MAX;
  float lastQ = -FLT_MAX;
  for (int i = 0; i < 100; ++i) {
    const float t = static_cast<float>(i % 5 == 4 ? i - 3 : i);
    const bool badQuat = i % 7 == 6;
    text.append(" { key ").append(std::to_string(t)).append(" transl ").append(std::to_string(i));
    text.append(" 0.0 0.0 quat 0.0 0.0 0.0 ").append(badQuat ? "nan" : "1.0").append(" }");
    lastT = std::max(lastT, t);
    wantTransl.push_back(lastT);
    if (!badQuat) {
      lastQ = std::max(lastQ, t);
      wantQuat.push_back(lastQ);
    }
  }
  text += " } }";
  Env env;
  LoadedAnim map;
  Load(env, text, &map);
  EXPECT_TRUE(env.collector.GetEntries().empty());
  const AnimPath* p = FindPathNode(map, "P")->path;
  ASSERT_EQ(p->translTrack.count, static_cast<int>(wantTransl.size()));
  ASSERT_EQ(p->quatTrack.count, static_cast<int>(wantQuat.size()));
  for (int i = 0; i < p->translTrack.count; ++i) {
    EXPECT_EQ(p->translTrack.RefAt(i).time, wantTransl[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(p->translTrack.RefAt(i).value.x, static_cast<float>(i)) << i;
  }
  for (int i = 0; i < p->quatTrack.count; ++i)
    EXPECT_EQ(p->quatTrack.RefAt(i).time, wantQuat[static_cast<std::size_t>(i)]) << i;
}

TEST(LoadPathAnim, PathChunkWithoutKeysIsAPath) {
  Env env;
  LoadedAnim map;
  Load(env, "format \"quorvel_path_5\" data { path_array { } }", &map);
  ASSERT_EQ(map.GetCount(), 1);
  EXPECT_EQ(map.GetFirstNode()->key, nullptr);
}

TEST(NameMap, CompareNamesTable) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0}, {nullptr, "", 0}, {"", nullptr, 0},     {nullptr, "a", -1},    {"a", nullptr, 1},
      {"B", "a", -1},        {"a", "B", 1},    {"a", "ab", -1},      {"ab", "a", 1},        {"abc", "abc", 0},
      {"z", "\xC4", -1},     {"\xC4", "z", 1}, {"\x7F", "\x80", -1}, {"a\xFF", "a\x01", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareNames(c.a, c.b), c.result) << (c.a ? c.a : "<null>") << " vs " << (c.b ? c.b : "<null>");
  }
}

TEST(NameMap, InsertReplacesOnEqualNameAndFindIsALowerBound) {
  Env env;
  LoadedAnim map;
  AnimPath p[6]{};
  const char* names[] = {"m", "c", "x", "a", nullptr, "q"};
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(InsertPath(&map, env.pool.Get(), names[i], &p[i]));
  char other[] = "c";  // an equal name at another address
  AnimPath replacement{};
  EXPECT_TRUE(InsertPath(&map, env.pool.Get(), other, &replacement));
  EXPECT_EQ(map.GetCount(), 6);
  EXPECT_EQ(Names(map), (std::vector<std::string>{"<null>", "a", "c", "m", "q", "x"}));
  PathNode* c = FindPathNode(map, "c");
  EXPECT_EQ(c->path, &replacement);
  EXPECT_EQ(c->key, names[1]);  // the node keeps its first key pointer
  EXPECT_STREQ(FindPathNode(map, "b")->key, "c");
  EXPECT_STREQ(FindPathNode(map, "n")->key, "q");
  EXPECT_EQ(FindPathNode(map, "y"), nullptr);
  EXPECT_EQ(FindPathNode(map, "")->key, nullptr);  // "" finds the null name
  EXPECT_EQ(FindPathNode(map, nullptr)->key, nullptr);
  LoadedAnim empty;
  EXPECT_EQ(FindPathNode(empty, "a"), nullptr);
}

TEST(NameMap, ManyNamesInAnyOrderIterateAscending) {
  Env env;
  LoadedAnim map;
  std::vector<std::string> names;
  for (int i = 0; i < 500; ++i) names.push_back("bone" + std::to_string((i * 7919) % 500));
  std::vector<AnimPath> paths(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    InsertPath(&map, env.pool.Get(), names[i].c_str(), &paths[i]);
  std::vector<std::string> got = Names(map);
  std::vector<std::string> want = names;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
  for (const std::string& n : names) {
    PathNode* f = FindPathNode(map, n.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(CompareNames(f->key, n.c_str()), 0);
  }
}

}  // namespace
