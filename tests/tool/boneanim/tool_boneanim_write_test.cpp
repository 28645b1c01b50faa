// Tests of the runtime animation writer: the tree it writes for small results,
// in text and binary, plain and packed.
#include "tool/boneanim/tool_boneanim_write.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <string>

#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/anim/util_anim_pack.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

namespace {

class WriteTest : public ::testing::Test {
 protected:
  WriteTest() : m_pool(new qvl_CUtilMemPool()) { m_anim = RelativeAnim{}; }

  // B bones named "b0", "b1", ... and K key times 0, 1, ...; key k of bone b
  // has translation (k, b, -1) and a rotation that differs per entry.
  void Fill(int boneCnt, int keyCnt) {
    qvl_CUtilMemPool* pool = m_pool.Get();
    for (int b = 0; b < boneCnt; ++b) {
      char name[16];
      std::snprintf(name, sizeof name, "b%d", b);
      m_anim.boneNames.Append(pool, qvl_CUtilMemPoolStr::Alloc(pool, name));
    }
    for (int k = 0; k < keyCnt; ++k) {
      m_anim.keyTimes.Append(pool, static_cast<float>(k));
      for (int b = 0; b < boneCnt; ++b) {
        Pose p{{static_cast<float>(k), static_cast<float>(b), -1.0f}, {0.0f, 0.0f, 0.5f * b, 1.0f}};
        m_anim.keys.Append(pool, p);
      }
    }
  }

  std::string Write(bool binary) {
    qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
    WriteRuntimeAnim(out.Get(), binary, &m_anim);
    return out->GetData();
  }

  // The text encoding of data (either encoding), as the data-tree layer reads
  // it back; without a handler any read error throws and fails the test.
  static std::string AsText(const std::string& data) {
    return KvtWriteTree(KvtReadTree(nullptr, data).Get(), 0);
  }

  qvl_CUtilPtr<qvl_CUtilMemPool> m_pool;
  RelativeAnim m_anim;
};

TEST_F(WriteTest, NoBonesGivesEveryListKeyWithoutValues) {
  m_anim.rangeStart = FLT_MAX;
  m_anim.rangeEnd = -FLT_MAX;
  m_anim.doTransl = true;
  m_anim.doQuat = true;
  EXPECT_EQ(Write(false),
            "format \"quorvel_boneanim_runtime_164x12\"\n"
            "data {\n"
            "  range 3.4028235e+38 -3.4028235e+38\n"
            "  mask_name_array\n"
            "  mask_wgh_array\n"
            "  key_array\n"
            "  bone_name_array\n"
            "  transl_array\n"
            "  quat_array\n"
            "}\n");
}

TEST_F(WriteTest, TwoBonesThreeKeysAreWrittenKeyMajor) {
  Fill(2, 3);
  m_anim.rangeStart = 0.0f;
  m_anim.rangeEnd = 2.0f;
  m_anim.doTransl = true;
  m_anim.doQuat = true;
  m_anim.maskNames.Append(m_pool.Get(), nullptr);  // a nameless bone is written as ""
  m_anim.maskWeights.Append(m_pool.Get(), 0.25f);
  EXPECT_EQ(AsText(Write(false)),
            "format \"quorvel_boneanim_runtime_164x12\"\n"
            "data {\n"
            "  range 0.0 2.0\n"
            "  mask_name_array \"\"\n"
            "  mask_wgh_array 0.25\n"
            "  key_array 0.0 1.0 2.0\n"
            "  bone_name_array \"b0\" \"b1\"\n"
            // 18 floats; values 6 to 8 are bone 0 at the second key time.
            "  transl_array 0.0 0.0 -1.0 0.0 1.0 -1.0 1.0 0.0 -1.0 1.0 1.0 -1.0 2.0 0.0 -1.0 2.0\n"
            "    1.0 -1.0\n"
            "  quat_array 0.0 0.0 0.0 1.0 0.0 0.0 0.5 1.0 0.0 0.0 0.0 1.0 0.0 0.0 0.5 1.0\n"
            "    0.0 0.0 0.0 1.0 0.0 0.0 0.5 1.0\n"
            "}\n");
}

TEST_F(WriteTest, SwitchesOffLeaveOnlyTheFiveListKeys) {
  Fill(2, 2);
  std::string text = Write(false);
  EXPECT_NE(text.find("  bone_name_array \"b0\" \"b1\"\n}\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("transl"), std::string::npos);
  EXPECT_EQ(text.find("quat"), std::string::npos);
}

TEST_F(WriteTest, CompressWritesPackedWordsForTheChannelsSwitchedOn) {
  Fill(1, 2);
  m_anim.doTransl = true;
  m_anim.compress = true;
  std::string text = AsText(Write(false));
  std::string expected = "  compr_transl_array ";
  expected += std::to_string(PackTransl({0.0f, 0.0f, -1.0f}));
  expected += ' ';
  expected += std::to_string(PackTransl({1.0f, 0.0f, -1.0f}));
  expected += "\n}\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_EQ(text.find("quat"), std::string::npos);
  EXPECT_EQ(text.find("transl_array 0"), std::string::npos);

  m_anim.doTransl = false;
  m_anim.doQuat = true;
  text = AsText(Write(false));
  // Both keys hold the identity rotation of bone 0 (word 0x1FF7FDFF).
  EXPECT_NE(text.find("  compr_quat_array 536346111 536346111\n"), std::string::npos) << text;
}

TEST_F(WriteTest, BinaryOutputHoldsTheSameTree) {
  Fill(3, 4);
  m_anim.rangeStart = -0.0f;
  m_anim.rangeEnd = 1e-40f;  // subnormal
  m_anim.doTransl = true;
  m_anim.doQuat = true;
  std::string text = Write(false);
  std::string binary = Write(true);
  EXPECT_NE(text, binary);
  EXPECT_EQ(AsText(binary), AsText(text));
}

}  // namespace
