// Tests of the shared-storage text and the number texts.
#include "util/str/util_str_str.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "util/str/util_str_strutil.h"

namespace {

TEST(Str, CopiesShareStorageAndOutliveTheOriginal) {
  qvl_CUtilStr copy;
  {
    qvl_CUtilStr original("Hips");
    copy = original;
    EXPECT_TRUE(copy.SharesStorageWith(original));
    EXPECT_EQ(copy.GetChars(), original.GetChars());
    qvl_CUtilStr moved(std::move(original));
    EXPECT_TRUE(moved.SharesStorageWith(copy));
    EXPECT_TRUE(original.IsEmpty());  // NOLINT: a moved-from text is ""
  }
  EXPECT_STREQ(copy.GetChars(), "Hips");
  copy = copy;  // self-assignment keeps the text
  EXPECT_STREQ(copy.GetChars(), "Hips");
  copy = "Spine";
  EXPECT_STREQ(copy.GetChars(), "Spine");
}

TEST(Str, EmptyNullAndEmbeddedZeros) {
  const qvl_CUtilStr null(static_cast<const char*>(nullptr));
  EXPECT_STREQ(null.GetChars(), "");
  EXPECT_EQ(null, "");
  EXPECT_EQ(null.Compare(qvl_CUtilStr("")), 0);
  const qvl_CUtilStr zeros("a\0b", 3);
  EXPECT_EQ(zeros.GetLen(), 3u);
  EXPECT_EQ(zeros.View(), std::string_view("a\0b", 3));
  EXPECT_NE(zeros.Compare(qvl_CUtilStr("a")), 0);
}

TEST(Str, CompareIsUnsignedBytewise) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"abc", "abc", 0}, {"abc", "abd", -1}, {"ab", "abc", -1},
      {"b", "abc", 1},   {"\xE4", "z", 1},  // a byte above 127 sorts after ASCII
      {"", "a", -1},     {"Z", "a", -1},
  };
  for (const Case& c : cases) {
    const int r = qvl_CUtilStr(c.a).Compare(qvl_CUtilStr(c.b));
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    const int back = qvl_CUtilStr(c.b).Compare(c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST(StrUtil, NumberTexts) {
  EXPECT_EQ(qvl_CUtilStrUtil::StrOfInt(0, 0, 0), "0");
  EXPECT_EQ(qvl_CUtilStrUtil::StrOfInt(std::numeric_limits<int>::min(), 0, 0), "-2147483648");
  EXPECT_EQ(qvl_CUtilStrUtil::StrOfIntps(std::numeric_limits<std::intptr_t>::max(), 0, 0),
            "9223372036854775807");
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.5f, "0.5"},
      {1.0f, "1"},
      {-0.0f, "-0"},
      {0.1f, "0.1"},
      {std::numeric_limits<float>::max(), "3.4028235e+38"},
      {std::numeric_limits<float>::denorm_min(), "1e-45"},
      {std::numeric_limits<float>::infinity(), "inf"},
      {-std::numeric_limits<float>::infinity(), "-inf"},
      {std::numeric_limits<float>::quiet_NaN(), "nan"},
  };
  for (const Case& c : cases) EXPECT_EQ(qvl_CUtilStrUtil::StrOfFloat(c.value, 0, 0, -1), c.text) << c.text;
  // The text reads back as the same float for values all over the range.
  int bad = 0;
  for (std::uint32_t bits = 0x00000001u; bits < 0x7F800000u; bits += 0x00012345u) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    const float back = std::strtof(qvl_CUtilStrUtil::StrOfFloat(v, 0, 0, -1).GetChars(), nullptr);
    bad += std::memcmp(&back, &v, sizeof v) != 0 ? 1 : 0;
  }
  EXPECT_EQ(bad, 0);
}

}  // namespace
