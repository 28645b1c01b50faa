// Tests of the HTML page's data: the recorded model poses of a hand-built
// chain (with and without its skeleton, every n-th time beyond a limit), the
// error bound, and a page whose names and file would close its script.
#include "tool/animinspect/tool_animinspect_html.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "tests/util/file/util_file_testdir.h"
#include "util/kvt/util_kvt_chunk.h"
#include "util/kvt/util_kvt_work.h"

namespace {

using boneanim_test::Env;

// Root at the origin, Mid 1 along x from it, Tip 1 along x from Mid (parent
// keys only with a skeleton); the animation adds the top bone named loose.
// The file turns Root 10° about z at time 1, 5° at 0.5 (between its keys).
struct Chain {
  Env env;
  RuntimeAnim anim;
  ErrorReport report;
  ClipPoses poses;

  Chain(bool skeleton, const std::string& loose, std::size_t maxPositions) {
    qvl_TestDir dir;
    const std::string id = " quat 0 0 0 1 } }\n";
    const auto path = [&](std::string name, const char* parent, const std::string& frames) {
      std::string out = "{ name \"";
      for (const char ch : name) {
        if (ch == '"') out += '\\';
        out += ch;
      }
      out += '"';
      if (skeleton && parent) out += std::string(" parent \"") + parent + '"';
      out += " range 0 1 frame_array ";
      out += frames;
      return out;
    };
    qvl_TestDir::WriteFile(dir / "rest.kvt", "format \"quorvel_path_5\" data { path_array " +
                                                 path("Root", nullptr, "{ key 0 transl 0 0 0" + id) +
                                                 path("Mid", "Root", "{ key 0 transl 1 0 0" + id) +
                                                 path("Tip", "Mid", "{ key 0 transl 1 0 0" + id) + "}");
    const std::string still = "{ key 0 transl 1 0 0 quat 0 0 0 1 } { key 1 transl 1 0 0" + id;
    qvl_TestDir::WriteFile(dir / "anim.kvt", "format \"quorvel_path_5\" data { path_array " +
                                                 path("Root", nullptr, "{ key 0 transl 0 0 0" + id) +
                                                 path("Mid", nullptr, still) + path("Tip", nullptr, still) +
                                                 path(loose, nullptr, "{ key 0.5 transl 0 2 0" + id) + "}");
    qvl_TestDir::WriteFile(dir / "job.kvt",
                           "ref_path \"rest.kvt\" anim_path \"anim.kvt\" do_transl true "
                           "do_quat true");
    const std::string runtime =
        "format \"quorvel_boneanim_runtime_164x12\" data { range 0 1 key_array 0 1 bone_name_array \"Root\" "
        "quat_array 0 0 0 1  0 0 0.08715574 0.9961947 }";
    qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(runtime, "a</script>.kvt"));
    EXPECT_TRUE(LoadRuntimeAnim(env.handler.Get(), "", s.Get(), &anim));
    qvl_CUtilPtr<qvl_CUtilMemStream> jobStream(
        new qvl_CUtilMemStream(qvl_TestDir::ReadFile(dir / "job.kvt")));
    qvl_CUtilKvtChunk* root =
        qvl_CUtilKvtWork::ReadStreamSimple(env.handler.Get(), "job.kvt", jobStream.Get(), false);
    BoneAnimJob job{};
    ReadJob(&job, env.handler.Get(), env.pool.Get(), root);
    qvl_CUtilPtrBase::RefReleaseOf(root);
    BuildErrorReport(env.handler.Get(), env.pool.Get(), qvl_CUtilStr(dir.Path().c_str()), job, anim, 0.0,
                     &report, &poses, maxPositions);
  }

  // The position of bone b at held time i, of the source or the file.
  std::vector<float> At(bool file, std::size_t i, std::size_t b) const {
    const std::vector<float>& v = file ? poses.file : poses.source;
    const std::size_t o = (i * poses.names.size() + b) * 3;
    return {v[o], v[o + 1], v[o + 2]};
  }
};

TEST(AnimInspectHtml, PosesOfAChainWithAndWithoutSkeleton) {
  const float c5 = static_cast<float>(std::cos(5.0 * M_PI / 180)),
              s5 = static_cast<float>(std::sin(5.0 * M_PI / 180));
  for (const bool skeleton : {true, false}) {
    SCOPED_TRACE(skeleton ? "skeleton" : "flat");
    const Chain c(skeleton, "Loose", kMaxPagePositions);
    const ClipPoses& p = c.poses;
    // Parents first; a flat skeleton's top bones by name.
    ASSERT_EQ(p.names, skeleton ? (std::vector<std::string>{"Root", "Mid", "Tip", "Loose"})
                                : (std::vector<std::string>{"Mid", "Root", "Tip", "Loose"}));
    EXPECT_EQ(p.parents, skeleton ? (std::vector<int>{-1, 0, 1, -1}) : (std::vector<int>{-1, -1, -1, -1}));
    const auto index = [&](const std::string& name) {
      return static_cast<std::size_t>(std::find(p.names.begin(), p.names.end(), name) - p.names.begin());
    };
    const char* const names[] = {"Root", "Mid", "Tip", "Loose"};  // the order of source and file below
    EXPECT_EQ(p.skeletonBoneCnt, 3);
    EXPECT_EQ(p.times, (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(p.step, 1u);
    ASSERT_EQ(p.source.size(), 3u * 4 * 3);
    ASSERT_EQ(p.file.size(), p.source.size());
    ASSERT_EQ(p.errors.size(), 3u * 4);
    EXPECT_FLOAT_EQ(p.restDiagonal, skeleton ? 2.0f : 1.0f);
    // At 0.5 the file's Root has turned 5°; a flat skeleton moves nothing below it.
    const float x = skeleton ? 1.0f : 0.0f;
    const std::vector<std::vector<float>> source{{0, 0, 0}, {1, 0, 0}, {1 + x, 0, 0}, {0, 2, 0}};
    const std::vector<std::vector<float>> file{
        {0, 0, 0}, {skeleton ? c5 : 1.0f, x * s5, 0}, {skeleton ? 2 * c5 : 1.0f, 2 * x * s5, 0}, {0, 0, 0}};
    for (std::size_t b = 0; b < 4; ++b) {
      for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(c.At(false, 1, index(names[b]))[a], source[b][a], 1e-6) << names[b];
        EXPECT_NEAR(c.At(true, 1, index(names[b]))[a], file[b][a], 1e-6) << names[b];
      }
    }
    // The errors recorded are the report's.
    ASSERT_EQ(c.report.hasSkeleton, skeleton);
    if (!skeleton) continue;
    for (std::size_t r = 0; r < 4; ++r) {
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.errors[i * 4 + index(c.report.bones[r].name)],
                  static_cast<float>(c.report.bones[r].objErrs[i]))
            << c.report.bones[r].name;
      }
    }
  }
}

TEST(AnimInspectHtml, EveryNthTimeBeyondTheLimit) {
  struct Case {
    std::size_t maxPositions;  // 8 per time: 4 bones, 2 skeletons
    std::size_t step;
    std::vector<float> times;
  };
  for (const Case& k : {Case{24, 1, {0.0f, 0.5f, 1.0f}}, Case{23, 2, {0.0f, 1.0f}}, Case{16, 2, {0.0f, 1.0f}},
                        Case{15, 3, {0.0f}}, Case{0, 3, {0.0f}}}) {
    const Chain c(true, "Loose", k.maxPositions);
    EXPECT_EQ(c.poses.step, k.step) << k.maxPositions;
    EXPECT_EQ(c.poses.times, k.times) << k.maxPositions;
    EXPECT_EQ(c.poses.sourceTimeCnt, 3u);
    EXPECT_EQ(c.poses.source.size(), k.times.size() * 12);
    // The last held time's pose is that time's, not the first's.
    if (k.times.size() == 2) {
      EXPECT_NEAR(c.At(true, 1, 2)[1], 2 * std::sin(10.0 * M_PI / 180), 1e-6);
    }
  }
}

TEST(AnimInspectHtml, Bound) {
  struct Case {
    double maxError, metersPerUnit, diagonal, bound;
    const char* source;
  };
  for (const Case& c :
       {Case{0.2, 0.01, 3, 0.2, "-max-error 0.2"}, Case{0, 0, 3, 0, "-max-error 0"},
        Case{-1, 0.01, 3, 0.1, "0.1 cm"}, Case{-1, 0, 3, 0.0015, "0.05% of the rest pose's diagonal"},
        Case{-1, 0, 0, 0.0005, "0.05% of the rest pose's diagonal"},
        Case{-1, 0, NAN, 0.0005, "0.05% of the rest pose's diagonal"}}) {
    const PageBound b = ChoosePageBound(c.maxError, c.metersPerUnit, c.diagonal);
    EXPECT_DOUBLE_EQ(b.distance, c.bound) << c.source;
    EXPECT_EQ(b.source, c.source);
  }
}

// The floats of base64 text (little-endian float32).
std::vector<float> DecodeFloats(const std::string& text) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned int acc = 0;
  int bits = 0;
  for (const char ch : text) {
    const char* at = std::strchr(kDigits, ch);
    if (ch == '=' || !at) break;
    acc = (acc << 6) | static_cast<unsigned int>(at - kDigits);
    if ((bits += 6) >= 8) bytes += static_cast<char>((acc >> (bits -= 8)) & 0xffu);
  }
  std::vector<float> out(bytes.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto u = [&](int k) {
      return static_cast<unsigned int>(static_cast<unsigned char>(bytes[4 * i + k]));
    };
    const unsigned int w = u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
    std::memcpy(&out[i], &w, 4);
  }
  return out;
}

TEST(AnimInspectHtml, HostileNamesStayInsideTheData) {
  const std::string hostile = "</script><script>alert(\"&x\")</SCRIPT>";
  const Chain c(true, hostile, kMaxPagePositions);
  const std::string page = HtmlPage(c.anim, c.report, c.poses, ChoosePageBound(-1, 0, 2));
  // The two script elements (data, script) are the only ones closed, and no marker is left.
  std::size_t closes = 0;
  for (std::size_t at = 0; (at = page.find("</script", at)) != std::string::npos; ++at) ++closes;
  EXPECT_EQ(closes, 2u);
  EXPECT_EQ(page.find("</SCRIPT"), std::string::npos);
  EXPECT_EQ(page.find("/*@"), std::string::npos);
  EXPECT_NE(
      page.find("\"\\u003c/script\\u003e\\u003cscript\\u003ealert(\\\"\\u0026x\\\")\\u003c/SCRIPT\\u003e\""),
      std::string::npos);
  EXPECT_NE(page.find("\"file\": \"a\\u003c/script\\u003e.kvt\""), std::string::npos);
  // The positions decode to the recorded floats, bit for bit.
  const std::size_t at = page.find("\"source\": \"");
  ASSERT_NE(at, std::string::npos);
  const std::size_t from = at + 11;
  EXPECT_EQ(DecodeFloats(page.substr(from, page.find('"', from) - from)), c.poses.source);
  EXPECT_NE(page.find("\"bound\": 0.001, \"boundSource\": \"0.05% of the rest pose's diagonal\""),
            std::string::npos);
}

}  // namespace
