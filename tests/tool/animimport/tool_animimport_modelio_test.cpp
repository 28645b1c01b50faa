// Tests of the model's binary encoding between a reader's child and the
// importer: a round trip keeps every field and shared key times, and every
// cut or inconsistent encoding is refused with its reason.
#include "tool/animimport/tool_animimport_modelio.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/tool/animimport/tool_animimport_testenv.h"

namespace {

SourceModel SampleModel() {
  SourceModel m;
  m.nodes.resize(3);
  m.nodes[0] = {"Root", -1, {1, 2, 3}, {0, 0, 0.6, 0.8}, {1, 1, 1}, false};
  m.nodes[1] = {std::string("Hi\0ps", 5), 0, {0, -0.5, 1e-300}, {0, 0, 0, 1}, {2, 1, 1}, true};
  m.nodes[2] = {"", 1, {0, 0, 0}, {1, 0, 0, 0}, {1, 0.5, 1}, true};
  Clip clip{"Walk", {}};
  NodeTrack t;
  t.node = 2;
  t.transl = MakeChannel({0, 0.5, 1}, {0, 0, 0, 1, 1, 1, 2, 2, 2});
  t.rot = Channel{t.transl.times, {0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0}, Interp::kStep};
  t.scale = MakeChannel({0.25}, std::vector<double>(9, 1.0), Interp::kCubicSpline);
  clip.tracks.push_back(t);
  clip.tracks.push_back(NodeTrack{0, {}, {}, {}});
  m.clips = {clip, Clip{"", {}}};
  m.metersPerUnit = 0.01;
  return m;
}

std::string Encode(const SourceModel& m) {
  ModelOut out;
  EncodeModel(m, &out);
  return out.Bytes();
}

// bytes are refused with a reason that holds want.
void ExpectRefused(std::string_view bytes, const std::string& want) {
  ModelIn in(bytes);
  SourceModel back;
  EXPECT_FALSE(DecodeModel(&in, &back)) << want;
  EXPECT_TRUE(!in.Problem().empty() && in.Problem().find(want) != std::string::npos)
      << want << ": " << in.Problem();
}

TEST(AnimImportModelIo, RoundTripKeepsEveryFieldAndSharedTimes) {
  const SourceModel m = SampleModel();
  const std::string bytes = Encode(m);
  ModelIn in(bytes);
  SourceModel back;
  ASSERT_TRUE(DecodeModel(&in, &back)) << in.Problem();
  EXPECT_EQ(Encode(back), bytes);
  ASSERT_EQ(back.nodes.size(), 3u);
  EXPECT_EQ(back.nodes[1].name, std::string("Hi\0ps", 5));
  EXPECT_EQ(back.nodes[1].transl.z, 1e-300);
  EXPECT_EQ(back.nodes[0].rot.z, 0.6);
  EXPECT_EQ(back.nodes[2].scale.y, 0.5);
  EXPECT_EQ(back.nodes[2].parent, 1);
  EXPECT_EQ(back.metersPerUnit, 0.01);
  EXPECT_TRUE(back.nodes[1].skinBone && !back.nodes[0].skinBone);
  ASSERT_EQ(back.clips.size(), 2u);
  const NodeTrack& t = back.clips[0].tracks[0];
  EXPECT_EQ(t.transl.times, t.rot.times);  // one list, as the reader shared it
  EXPECT_EQ(t.rot.interp, Interp::kStep);
  EXPECT_EQ(t.scale.interp, Interp::kCubicSpline);
  EXPECT_EQ(*t.transl.times, (std::vector<double>{0, 0.5, 1}));
  EXPECT_TRUE(back.clips[0].tracks[1].transl.IsEmpty() && back.clips[1].tracks.empty());
  // Every cut of the encoding is refused, none read past its end.
  for (std::size_t n = 0; n < bytes.size(); ++n) ExpectRefused(std::string_view(bytes).substr(0, n), "");
}

TEST(AnimImportModelIo, InconsistentModelsAndBytesAreRefused) {
  const std::vector<std::pair<std::function<void(SourceModel&)>, std::string>> models = {
      {[](SourceModel& m) { m.nodes[1].parent = 1; }, "node 1 names a parent 1"},
      {[](SourceModel& m) { m.metersPerUnit = -1.0; }, "the unit is not a finite number"},
      {[](SourceModel& m) { m.nodes[2].parent = -2; }, "node 2 names a parent -2"},
      {[](SourceModel& m) { m.clips[0].tracks[1].node = 3; }, "a track of clip 0 names a node 3"},
      {[](SourceModel& m) { m.clips[0].tracks[0].transl.values.pop_back(); },
       "translation has 8 values for 3 keys"},
      {[](SourceModel& m) { m.clips[0].tracks[0].scale.interp = Interp::kLinear; },
       "scale has 9 values for 1 keys"},
      {[](SourceModel& m) {
         m.clips[0].tracks[1].rot.values = {0, 0, 0, 1};
       },
       "rotation has 4 values for 0 keys"},
      {[](SourceModel& m) {
         m.clips[0].tracks[0].transl.times = std::make_shared<std::vector<double>>(3, 0.0);
       },
       "translation has key times that do not ascend at key 1"},
  };
  for (const auto& [change, want] : models) {
    SourceModel m = SampleModel();
    change(m);
    ExpectRefused(Encode(m), want);
  }
  // Streams written field by field: a count beyond the bytes, a bad flag,
  // interpolation and times reference, and bytes after the model.
  auto node = [](ModelOut& o, std::uint32_t skin) {
    o(std::string("a")), o(std::int32_t{-1}), o(Vector3d{0, 0, 0}), o(Quatd{0, 0, 0, 1}),
        o(Vector3d{1, 1, 1});
    o(skin);
  };
  auto clip = [](ModelOut& o, std::uint32_t timesTag, std::uint32_t interp) {
    o(std::uint64_t{1}), o(std::string("c")), o(std::uint64_t{1}), o(std::int32_t{0});
    o(timesTag), o(std::vector<double>{}), o(interp);                    // translation
    o(std::uint32_t{0}), o(std::vector<double>{}), o(std::uint32_t{0});  // rotation
    o(std::uint32_t{0}), o(std::vector<double>{}), o(std::uint32_t{0});  // scale
  };
  const std::vector<std::pair<std::function<void(ModelOut&)>, std::string>> streams = {
      {[](ModelOut& o) { o(std::uint64_t{1} << 60); }, "a count of 1152921504606846976 does not fit"},
      {[&](ModelOut& o) { o(std::uint64_t{1}), node(o, 2); }, "a truth value of 2"},
      {[&](ModelOut& o) { o(std::uint64_t{1}), node(o, 1), clip(o, 0, 3); }, "an interpolation 3"},
      {[&](ModelOut& o) { o(std::uint64_t{1}), node(o, 1), clip(o, 2, 0); },
       "a reference to key times 0 of 0"},
      {[&](ModelOut& o) { o(std::uint64_t{1}), node(o, 1), clip(o, 0, 0), o(1.0), o(std::uint32_t{0}); },
       "bytes follow the model"},
  };
  for (const auto& [write, want] : streams) {
    ModelOut o;
    write(o);
    ExpectRefused(o.Bytes(), want);
  }
}

}  // namespace
