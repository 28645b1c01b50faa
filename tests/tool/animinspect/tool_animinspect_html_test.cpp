// Tests of the HTML page's data: the recorded model poses of a hand-built
// chain (with and without its skeleton, every n-th time beyond a limit), the
// error bound, and a page whose names and file would close its script.
#include "tool/animinspect/tool_animinspect_html.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
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
    const std::string id = " quat 0 0 0 1 } }";
    const auto path = [&](const std::string& name, const char* parent, const std::string& frames) {
      std::string quoted;
      for (const char ch : name) quoted += ch == '"' ? std::string("\\\"") : std::string(1, ch);
      return "{ name \"" + quoted + '"' +
             (skeleton && parent ? std::string(" parent \"") + parent + '"' : "") +
             " range 0 1 frame_array " + frames + id;
    };
    const std::string head = "format \"quorvel_path_5\" data { path_array ",
                      still = "{ key 0 transl 1 0 0 quat 0 0 0 1 } { key 1 transl 1 0 0";
    qvl_TestDir::WriteFile(dir / "rest.kvt", head + path("Root", nullptr, "{ key 0 transl 0 0 0") +
                                                 path("Mid", "Root", "{ key 0 transl 1 0 0") +
                                                 path("Tip", "Mid", "{ key 0 transl 1 0 0") + "}");
    qvl_TestDir::WriteFile(dir / "anim.kvt", head + path("Root", nullptr, "{ key 0 transl 0 0 0") +
                                                 path("Mid", nullptr, still) + path("Tip", nullptr, still) +
                                                 path(loose, nullptr, "{ key 0.5 transl 0 2 0") + "}");
    const std::string runtime =
        "format \"quorvel_boneanim_runtime_164x12\" data { range 0 1 key_array 0 1 bone_name_array \"Root\" "
        "quat_array 0 0 0 1  0 0 0.08715574 0.9961947 }";
    qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(runtime, "a</script>.kvt"));
    EXPECT_TRUE(LoadRuntimeAnim(env.handler.Get(), "", s.Get(), &anim));
    qvl_CUtilPtr<qvl_CUtilMemStream> jobStream(
        new qvl_CUtilMemStream("ref_path \"rest.kvt\" anim_path \"anim.kvt\" do_transl true do_quat true"));
    qvl_CUtilKvtChunk* root =
        qvl_CUtilKvtWork::ReadStreamSimple(env.handler.Get(), "job.kvt", jobStream.Get(), false);
    BoneAnimJob job{};
    ReadJob(&job, env.handler.Get(), env.pool.Get(), root);
    qvl_CUtilPtrBase::RefReleaseOf(root);
    BuildErrorReport(env.handler.Get(), env.pool.Get(), qvl_CUtilStr(dir.Path().c_str()), job, anim, 0.0,
                     &report, &poses, maxPositions);
  }

  std::size_t Index(const std::string& name) const {
    return static_cast<std::size_t>(std::find(poses.names.begin(), poses.names.end(), name) -
                                    poses.names.begin());
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
    EXPECT_EQ(std::tie(p.skeletonBoneCnt, p.step, p.times),
              std::make_tuple(3, std::size_t{1}, std::vector{0.0f, 0.5f, 1.0f}));
    ASSERT_EQ(std::make_tuple(p.source.size(), p.file.size(), p.errors.size()),
              std::make_tuple(std::size_t{36}, std::size_t{36}, std::size_t{12}));
    EXPECT_FLOAT_EQ(p.restDiagonal, skeleton ? 2.0f : 1.0f);
    ASSERT_EQ(c.report.hasSkeleton, skeleton);
    // At 0.5 the file's Root has turned 5°; a flat skeleton moves nothing below it.
    const float x = skeleton ? 1.0f : 0.0f;
    const struct {
      const char* name;
      std::vector<float> source, file;
    } bones[] = {{"Root", {0, 0, 0}, {0, 0, 0}},
                 {"Mid", {1, 0, 0}, {skeleton ? c5 : 1.0f, x * s5, 0}},
                 {"Tip", {1 + x, 0, 0}, {skeleton ? 2 * c5 : 1.0f, 2 * x * s5, 0}},
                 {"Loose", {0, 2, 0}, {0, 0, 0}}};
    for (const auto& bone : bones) {
      const std::size_t b = c.Index(bone.name);
      for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(c.At(false, 1, b)[a], bone.source[a], 1e-6) << bone.name;
        EXPECT_NEAR(c.At(true, 1, b)[a], bone.file[a], 1e-6) << bone.name;
      }
    }
    // The errors recorded are the report's.
    for (std::size_t r = 0; r < 4 && skeleton; ++r) {
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.errors[i * 4 + c.Index(c.report.bones[r].name)],
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
    EXPECT_EQ(std::tie(c.poses.step, c.poses.times, c.poses.sourceTimeCnt),
              std::make_tuple(k.step, k.times, std::size_t{3}))
        << k.maxPositions;
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
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned int acc = 0;
  int bits = 0;
  for (const char ch : text) {
    const std::size_t at = kDigits.find(ch);
    if (at == std::string::npos) break;  // the padding or the end
    acc = acc << 6 | static_cast<unsigned int>(at);
    if ((bits += 6) >= 8) bytes += static_cast<char>(acc >> (bits -= 8));
  }
  std::vector<float> out(bytes.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::uint32_t w = 0;
    for (int k = 3; k >= 0; --k)
      w = w << 8 | static_cast<unsigned char>(bytes[4 * i + static_cast<std::size_t>(k)]);
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
  const std::size_t from = page.find("\"source\": \"") + 11;
  ASSERT_NE(from, std::string::npos + 11);
  EXPECT_EQ(DecodeFloats(page.substr(from, page.find('"', from) - from)), c.poses.source);
  EXPECT_NE(page.find("\"bound\": 0.001, \"boundSource\": \"0.05% of the rest pose's diagonal\""),
            std::string::npos);
}

}  // namespace
