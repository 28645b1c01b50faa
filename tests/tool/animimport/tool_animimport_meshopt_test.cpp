// Tests of the decoding of compressed glTF buffer views: data encoded by the
// library decodes back, and declarations that would make its decoders assert,
// overrun or allocate without bound are refused before it sees them.
#include "tool/animimport/tool_animimport_meshopt.h"

#include <gtest/gtest.h>
#include <meshoptimizer.h>

#include <cstring>
#include <utility>

namespace {

TEST(AnimImportMeshopt, EncodedViewsDecodeBackAndBadDeclarationsAreRefused) {
  // 100 key times and 100 rotations as normalised 16-bit integers (stride 8).
  std::vector<unsigned char> times(100 * 4), src(100 * 8);
  for (std::size_t i = 0; i < 100; ++i) {
    const float t = 0.033f * i;
    std::memcpy(&times[4 * i], &t, 4);
  }
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 7 % 251);
  std::vector<unsigned char> out, encRots;
  std::string error;
  for (const auto& [plain, filter] : {std::pair{&times, ""}, std::pair{&src, "NONE"}}) {
    const std::size_t stride = plain->size() / 100;
    std::vector<unsigned char> enc(meshopt_encodeVertexBufferBound(100, stride));
    enc.resize(meshopt_encodeVertexBuffer(enc.data(), enc.size(), plain->data(), 100, stride));
    ASSERT_TRUE(DecodeMeshoptView({stride, 100, "ATTRIBUTES", filter}, enc.data(), enc.size(), plain->size(),
                                  1 << 20, &out, &error))
        << error;
    EXPECT_EQ(out, *plain);
    encRots = enc;  // the rotations', last, are the source of the cases below
  }

  // Lengths 0 stand for the defaults: the whole encoding, a view of 800 bytes, a budget of 1 MiB.
  const std::size_t all = encRots.size(), big = std::size_t(1) << 53;
  struct Case {
    MeshoptView desc;
    const char* error;
    std::size_t srcLen = 0, viewLen = 0, budget = 0;
  } cases[] = {
      {{8, 100, "ATTRIBUTES", ""}, "does not decode (ATTRIBUTES data, error -3).", all - 1},
      {{8, 100, "POINTS", ""}, "has an unknown compression mode \"POINTS\"."},
      {{8, 100, "ATTRIBUTES", "ZIP"}, "has an unknown compression filter \"ZIP\"."},
      {{6, 100, "ATTRIBUTES", ""}, "has a byte stride 6 that mode ATTRIBUTES does not take."},
      {{260, 1, "ATTRIBUTES", ""}, "has a byte stride 260 that mode ATTRIBUTES does not take."},
      {{8, 100, "INDICES", ""}, "has a byte stride 8 that mode INDICES does not take."},
      {{4, 100, "TRIANGLES", ""}, "has 100 indices, not whole triangles."},
      {{4, 99, "INDICES", "OCTAHEDRAL"},
       "has filter OCTAHEDRAL with mode INDICES; filters apply to ATTRIBUTES only."},
      {{4, 100, "ATTRIBUTES", "QUATERNION"}, "has a byte stride 4 that filter QUATERNION does not take."},
      {{8, 101, "ATTRIBUTES", ""}, "declares 101 elements of 8 bytes, more than the view's 800 bytes."},
      {{8, big / 8, "ATTRIBUTES", ""},
       "declares 9007199254740992 bytes decoded from 10 compressed ones, more than the codecs can give.",
       10,
       big,
       big},
      {{8, 100, "ATTRIBUTES", ""},
       "would decode to 800 bytes, more than the 799 bytes left of the file's limit for decoded data.",
       0,
       0,
       799},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_FALSE(DecodeMeshoptView(c.desc, encRots.data(), c.srcLen ? c.srcLen : all,
                                   c.viewLen ? c.viewLen : 800, c.budget ? c.budget : 1 << 20, &out, &error))
        << c.error;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
