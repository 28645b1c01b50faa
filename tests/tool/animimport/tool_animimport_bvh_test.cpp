// Tests of the BVH reader: positions in errors, limits, values against Euler
// matrices, the frame count warning, and where the asset library reads differently.
#include "tool/animimport/tool_animimport_bvh.h"

#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testdir.h"

namespace {

struct Outcome {
  bool ok;
  SourceModel model;
  std::vector<qvl_CUtilMsgCollector::Entry> msgs;
};

Outcome Read(const std::string& text) {
  qvl_CUtilPtr<qvl_CUtilMsgHandler> handler(new qvl_CUtilMsgHandler());
  qvl_CUtilMsgCollector got;
  handler->RegisterBack(&got);
  Outcome o;
  o.ok = ReadBvh(handler.Get(), "t.bvh", text, &o.model);
  o.msgs = got.GetEntries();
  return o;
}

const char* const kHead =
    "HIERARCHY\nROOT Hips\n{\n  OFFSET 1 2 3\n  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation "
    "Yrotation\n";

TEST(AnimImportBvh, ErrorsNameLineAndColumn) {
  struct Case {
    std::string text;
    const char *where, *what;
  } cases[] = {
      // clang-format off
      {"", "t.bvh:1:1", "Expected 'HIERARCHY', found the end of the file."},
      {"HIERARCHY\nJOINT x", "t.bvh:2:1", "Expected 'ROOT', found 'JOINT'."},
      {"HIERARCHY\nROOT \n{", "t.bvh:2:6", "Expected a joint name."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 1 x 3", "t.bvh:4:11", "Expected a finite number, found 'x'."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 1 1e999 3", "t.bvh:4:11", "Expected a finite number, found '1e999'."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 0 0 0\n CHANNELS 7", "t.bvh:5:11", "A joint has 0 to 6 channels, not '7'."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 0 0 0\n CHANNELS 2 Xrotation Wrotation", "t.bvh:5:23", "Expected a channel name (Xposition ... Zrotation), found 'Wrotation'."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 0 0 0\n CHANNELS 2 Xrotation Xrotation", "t.bvh:5:23", "The channel 'Xrotation' is given twice."},
      {"HIERARCHY\nROOT a\n{\n OFFSET 0 0 0\n Site", "t.bvh:5:2", "Expected CHANNELS, JOINT, End Site or '}', found 'Site'."},
      {std::string(kHead) + "}\nMOTION\nFrames: 1.5", "t.bvh:8:9", "The frame count must be a whole number from 0 to 50000000."},
      {std::string(kHead) + "}\nMOTION\nFrames: 1\nFrame Time: 0", "t.bvh:9:13", "The frame time must be positive."},
      {std::string(kHead) + "}\nMOTION\nFrames: 1\nFrame Time: 0.1\n1 2 3 4 5", "t.bvh:10:10", "The frame line has 5 values instead of 6."},
      {std::string(kHead) + "}\nMOTION\nFrames: 1\nFrame Time: 0.1\n1 2 3 4 5 6 7", "t.bvh:10:13", "The frame line has more than 6 values."},
      {std::string(kHead) + "}\nMOTION\nFrames: 1\nFrame Time: 0.1\n1 2 3 4 5 nan", "t.bvh:10:11", "Expected a finite number, found 'nan'."},
      {std::string(kHead) + "}\nROOT", "t.bvh:7:5", "Expected a joint name."},
      // clang-format on
  };
  for (const Case& c : cases) {
    const Outcome o = Read(c.text);
    EXPECT_FALSE(o.ok) << c.text;
    ASSERT_EQ(o.msgs.size(), 1u) << c.text;
    EXPECT_EQ(o.msgs[0].level, qvl_MsgLevelError);
    EXPECT_EQ(std::string(o.msgs[0].msg.GetContext().GetChars()), c.where) << c.text;
    EXPECT_EQ(o.msgs[0].msg.GetFilledText(), c.what) << c.text;
  }
  // Nesting beyond the limit is refused, not followed into a stack overflow.
  std::string deep = "HIERARCHY\nROOT a\n{\nOFFSET 0 0 0\n";
  for (int i = 0; i <= kBvhMaxDepth; ++i) deep += "JOINT j" + std::to_string(i) + "\n{\nOFFSET 0 0 0\n";
  const Outcome o = Read(deep);
  ASSERT_EQ(o.msgs.size(), 1u);
  EXPECT_EQ(o.msgs[0].msg.GetFilledText(), "The hierarchy is nested deeper than 512.");
}

const char* const kSmall =
    "HIERARCHY\nROOT Hips\n{\n  OFFSET 1 2 3\n  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation "
    "Yrotation\n"
    "  JOINT Arm\n  {\n    OFFSET 0 5 0\n    CHANNELS 3 Yrotation Xrotation Zrotation\n"
    "    End Site\n    {\n      OFFSET 0 1 0\n    }\n  }\n  JOINT Still\n  {\n    OFFSET 0 0 1\n  }\n}\n"
    "MOTION\nFrames: 2\nFrame Time: 0.5\n"
    "10 20 30 90 45 -30 170 -20 200\n"
    "-1 -2 -3 0 0 0 0 0 0\n";

TEST(AnimImportBvh, KeysAreChannelsOverTheOffsetAndEulerInDeclaredOrder) {
  const Outcome o = Read(kSmall);
  ASSERT_TRUE(o.ok);
  EXPECT_TRUE(o.msgs.empty());
  ASSERT_EQ(o.model.nodes.size(), 3u);  // no node for the End Site
  EXPECT_EQ(o.model.nodes[1].parent, 0);
  EXPECT_EQ(o.model.nodes[2].name, "Still");
  EXPECT_EQ(o.model.nodes[2].transl.z, 1.0);
  ASSERT_EQ(o.model.clips.size(), 1u);
  const Clip& clip = o.model.clips[0];
  EXPECT_EQ(clip.name, "");
  ASSERT_EQ(clip.tracks.size(), 2u);  // the joint without channels has none
  EXPECT_EQ(*clip.tracks[0].transl.times, (std::vector<double>{0.0, 0.5}));
  EXPECT_EQ(clip.tracks[0].transl.values,
            (std::vector<double>{10, 20, 30, -1, -2, -3}));  // not OFFSET + channels
  EXPECT_TRUE(clip.tracks[1].transl.IsEmpty());              // the rest (OFFSET) holds
  const std::vector<std::pair<int, double>> euler[2] = {{{2, 90}, {0, 45}, {1, -30}},
                                                        {{1, 170}, {0, -20}, {2, 200}}};
  const double probes[2][3] = {{1, 0, 0}, {0.3, -0.7, 0.2}};
  for (int j = 0; j < 2; ++j) {
    const double* q = clip.tracks[j].rot.values.data();
    for (const double* v : probes) {
      double want[3], got[3];
      EulerRotate(euler[j], v, want);
      QuatRotate(q, v, got);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-12) << "joint " << j;
    }
  }
}

// Position channels replace the OFFSET on every joint, the root included;
// a component without a channel keeps the OFFSET's.
TEST(AnimImportBvh, PositionChannelsReplaceTheOffsetOfEveryJoint) {
  const std::string head =
      "HIERARCHY\nROOT Hips\n{\n OFFSET 1 2 3\n CHANNELS 4 Xposition Yposition Zposition Zrotation\n"
      " JOINT Arm\n {\n  OFFSET 7 5 9\n  CHANNELS ";
  struct Case {
    const char* chans;
    const char* frame;
    std::vector<double> arm;  // Arm's translation
  } cases[] = {
      {"0", "10 20 30 90", {7, 5, 9}},  // no channels: the OFFSET
      {"1 Yposition", "10 20 30 90 5", {7, 5, 9}},
      {"2 Xposition Zposition", "10 20 30 90 0 0", {0, 5, 0}},
      {"3 Zposition Xposition Yposition", "10 20 30 90 -4 2 1", {2, 1, -4}},
  };
  for (const Case& c : cases) {
    const Outcome o =
        Read(head + c.chans +
             "\n  End Site\n  {\n   OFFSET 0 1 0\n  }\n }\n}\nMOTION\nFrames: 1\nFrame Time: 0.1\n" +
             c.frame + "\n");
    ASSERT_TRUE(o.ok) << c.chans;
    const Clip& clip = o.model.clips.at(0);
    EXPECT_EQ(clip.tracks[0].transl.values, (std::vector<double>{10, 20, 30})) << c.chans;
    const Vector3d rest = o.model.nodes[1].transl;
    const bool keyed = clip.tracks.size() > 1 && !clip.tracks[1].transl.IsEmpty();
    const std::vector<double> arm =
        keyed ? clip.tracks[1].transl.values : std::vector<double>{rest.x, rest.y, rest.z};
    EXPECT_EQ(arm, c.arm) << c.chans;
  }
}

TEST(AnimImportBvh, AFrameCountThatDiffersIsAWarningAndTheLinesCount) {
  std::string more = kSmall;
  more.replace(more.find("Frames: 2"), 9, "Frames: 1");
  std::string fewer = kSmall;
  fewer.replace(fewer.find("Frames: 2"), 9, "Frames:  3");
  struct Case {
    const std::string* text;
    const char* where;
    const char* what;
  } cases[] = {
      {&more, "t.bvh:24:1", "The header declares 1 frames, the file holds 2; all 2 are read."},
      {&fewer, "t.bvh:21:10", "The header declares 3 frames, the file holds 2; all 2 are read."},
  };
  for (const Case& c : cases) {
    const Outcome o = Read(*c.text);
    ASSERT_TRUE(o.ok);
    ASSERT_EQ(o.msgs.size(), 1u);
    EXPECT_EQ(o.msgs[0].level, qvl_MsgLevelWarning);
    EXPECT_EQ(std::string(o.msgs[0].msg.GetContext().GetChars()), c.where);
    EXPECT_EQ(o.msgs[0].msg.GetFilledText(), c.what);
    EXPECT_EQ(o.model.clips[0].tracks[0].rot.KeyCnt(), 2u);
  }
}

// The asset library's reading of the same files: it names the clip "Motion"
// and reads only the frames the header declares, where our reader differs
// on purpose; both take a joint's position channels as its translation.
TEST(AnimImportBvh, TheAssetLibraryDiffersWhereDocumented) {
  qvl_TestDir dir;
  const std::string path = dir / "small.bvh";
  std::ofstream(path) << kSmall;
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, 0);
  ASSERT_NE(scene, nullptr) << importer.GetErrorString();
  ASSERT_EQ(scene->mNumAnimations, 1u);
  EXPECT_STREQ(scene->mAnimations[0]->mName.C_Str(), "Motion");
  const aiNodeAnim* hips = nullptr;
  for (unsigned c = 0; c < scene->mAnimations[0]->mNumChannels; ++c) {
    if (std::string(scene->mAnimations[0]->mChannels[c]->mNodeName.C_Str()) == "Hips")
      hips = scene->mAnimations[0]->mChannels[c];
  }
  ASSERT_NE(hips, nullptr);
  const aiVector3D lib = hips->mPositionKeys[0].mValue;
  const Outcome ours = Read(kSmall);
  const std::vector<double>& t = ours.model.clips[0].tracks[0].transl.values;
  EXPECT_EQ(lib.x, 10.0f);  // the channel alone, not OFFSET 1 plus it
  EXPECT_EQ(t[0], lib.x);
  EXPECT_EQ(t[2], lib.z);

  const std::string boxing = QVL_SOURCE_DIR "/../shared/data/real/bvh-boxing-toes/Boxing_Toes.bvh";
  if (!std::filesystem::exists(boxing)) GTEST_SKIP() << "real files not found: " << boxing;
  Assimp::Importer fresh;
  const aiScene* box = fresh.ReadFile(boxing, 0);
  ASSERT_NE(box, nullptr) << fresh.GetErrorString();
  EXPECT_EQ(box->mAnimations[0]->mChannels[0]->mNumRotationKeys, 3069u);
  std::ifstream in(boxing);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Outcome all = Read(text);
  ASSERT_TRUE(all.ok);
  EXPECT_EQ(all.model.clips[0].tracks[0].rot.KeyCnt(), 3070u);
}

}  // namespace
