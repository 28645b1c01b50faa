// Tests of job reading: defaults, every key, unknown keys in the root before
// those of the mask chunks, mask order across storage growth.
#include "util/anim/util_anim_job.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

namespace {

using boneanim_test::Env;

// Reads text as the configuration "job.kvt" into a fresh job.
BoneAnimJob* ReadJobText(Env& env, const std::string& text) {
  qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(text, "job.kvt"));
  qvl_CUtilKvtChunk* root = qvl_CUtilKvtWork::ReadStreamSimple(env.handler.Get(), "", s.Get(), false);
  auto* job = static_cast<BoneAnimJob*>(env.pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  try {
    ReadJob(job, env.handler.Get(), env.pool.Get(), root);
  } catch (...) {
    qvl_CUtilPtrBase::RefReleaseOf(root);
    throw;
  }
  qvl_CUtilPtrBase::RefReleaseOf(root);  // the job must not refer to the tree
  return job;
}

TEST(ReadJob, EmptyConfigurationGivesDefaults) {
  Env env;
  BoneAnimJob* job = ReadJobText(env, "// nothing\n");
  EXPECT_TRUE(env.collector.GetEntries().empty());
  EXPECT_STREQ(job->info, "job.kvt:1:1");
  ASSERT_NE(job->ref_path, nullptr);
  ASSERT_NE(job->anim_path, nullptr);
  EXPECT_STREQ(job->ref_path, "");
  EXPECT_STREQ(job->anim_path, "");
  EXPECT_FALSE(job->do_transl);
  EXPECT_FALSE(job->do_quat);
  EXPECT_FALSE(job->compress);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(job->identity_eps_transl), 0u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(job->identity_eps_quat), 0u);
  EXPECT_EQ(job->masks.count, 0);
}

TEST(ReadJob, NullRootActsAsEmpty) {
  Env env;
  auto* job = static_cast<BoneAnimJob*>(env.pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  ReadJob(job, env.handler.Get(), env.pool.Get(), nullptr);
  EXPECT_TRUE(env.collector.GetEntries().empty());
  EXPECT_STREQ(job->ref_path, "");
  EXPECT_EQ(job->masks.count, 0);
}

TEST(ReadJob, EveryKey) {
  Env env;
  BoneAnimJob* job = ReadJobText(env,
                                 "ref_path \"rest.kvt\"\n"
                                 "anim_path \"walk/walk.kvt\"\n"
                                 "do_transl true\n"
                                 "do_quat 1\n"
                                 "compress true\n"
                                 "identity_eps_transl 0.0001\n"
                                 "identity_eps_quat -2\n"
                                 "mask_array {\n"
                                 "  bone_pat \"Spine*\"\n"
                                 "  wgh 0.5\n"
                                 "} {\n"
                                 "  wgh 1\n"
                                 "  bone_pat \"Head\"\n"
                                 "} {\n"
                                 "  bone_pat \"Head\"\n"
                                 "}\n");
  EXPECT_TRUE(env.collector.GetEntries().empty()) << env.Lines()[0];
  EXPECT_STREQ(job->ref_path, "rest.kvt");
  EXPECT_STREQ(job->anim_path, "walk/walk.kvt");
  EXPECT_TRUE(job->do_transl);
  EXPECT_TRUE(job->do_quat);
  EXPECT_TRUE(job->compress);
  EXPECT_EQ(job->identity_eps_transl, 0.0001f);
  EXPECT_EQ(job->identity_eps_quat, -2.0f);  // stored as written
  ASSERT_EQ(job->masks.count, 3);
  const char* pats[] = {"Spine*", "Head", "Head"};
  const float wghs[] = {0.5f, 1.0f, 0.0f};
  for (int i = 0; i < 3; ++i) {
    const MaskEntry* e = job->masks.GetAt(i);
    EXPECT_STREQ(e->bone_pat, pats[i]);
    EXPECT_STREQ(e->bone_pat_info, pats[i]);
    EXPECT_NE(e->bone_pat, e->bone_pat_info);  // two copies
    EXPECT_EQ(e->wgh, wghs[i]);
  }
}

TEST(ReadJob, UnknownRootKeysComeBeforeThoseOfMaskChunks) {
  Env env;
  BoneAnimJob* job = ReadJobText(env,
                                 "mask_array {\n"
                                 "  bone_pat \"A\" extra 1 wgh 0.5\n"
                                 "} {\n"
                                 "  bone_pattern \"B\"\n"
                                 "}\n"
                                 "do_trnsl true\n"
                                 "anim_path \"a.kvt\"\n");
  EXPECT_EQ(env.Lines(), (std::vector<std::string>{
                             "2 util/kvt/util_kvt_extract.unknown | job.kvt:6:1 | do_trnsl",
                             "2 util/kvt/util_kvt_extract.unknown | job.kvt:2:16 | extra",
                             "2 util/kvt/util_kvt_extract.unknown | job.kvt:4:3 | bone_pattern",
                         }));
  // The other keys are still read.
  EXPECT_STREQ(job->anim_path, "a.kvt");
  EXPECT_FALSE(job->do_transl);
  ASSERT_EQ(job->masks.count, 2);
  EXPECT_EQ(job->masks.GetAt(0)->wgh, 0.5f);
  EXPECT_STREQ(job->masks.GetAt(1)->bone_pat, "");
}

TEST(ReadJob, WrongTypeIsReportedAndTheDefaultKept) {
  Env env;
  BoneAnimJob* job =
      ReadJobText(env, "do_quat \"yes\"\nmask_array { bone_pat \"A\" wgh \"heavy\" }\nref_path 3\n");
  const auto ids = env.Ids();
  ASSERT_EQ(ids.size(), 3u);
  for (const std::string& id : ids) EXPECT_EQ(id.rfind("2 util/kvt/util_kvt_extract.", 0), 0u) << id;
  EXPECT_FALSE(job->do_quat);
  EXPECT_STREQ(job->ref_path, "");
  ASSERT_EQ(job->masks.count, 1);
  EXPECT_EQ(job->masks.GetAt(0)->wgh, 0.0f);
}

TEST(ReadJob, MaskOrderSurvivesStorageGrowth) {
  Env env;
  std::string text = "mask_array";
  const int kCnt = 9;
  for (int i = 0; i < kCnt; ++i) {
    // Appended piece by piece: GCC 12 warns falsely on a chain of + here.
    text.append(" { bone_pat \"m").append(std::to_string(i)).append("\" wgh ");
    text.append(std::to_string(i)).append(" }");
  }
  BoneAnimJob* job = ReadJobText(env, text);
  EXPECT_TRUE(env.collector.GetEntries().empty());
  ASSERT_EQ(job->masks.count, kCnt);
  for (int i = 0; i < kCnt; ++i) {
    EXPECT_EQ(std::string(job->masks.GetAt(i)->bone_pat), std::string("m").append(std::to_string(i)));
    EXPECT_EQ(job->masks.GetAt(i)->wgh, static_cast<float>(i));
  }
}

}  // namespace
