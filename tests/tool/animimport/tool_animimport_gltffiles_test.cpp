// Tests of the glTF source checks: the GLB container cut at every length and
// with bad headers, and the scan of the buffers in the JSON.
#include "tool/animimport/tool_animimport_gltffiles.h"

#include <gtest/gtest.h>

#include "tests/tool/animimport/tool_animimport_testenv.h"
#include "tests/util/file/util_file_testdir.h"

namespace {

std::size_t jsonOffset = 0, jsonLength = 0;  // of the last Check

std::string Check(const std::string& glb, std::size_t* offset) {
  return CheckGlb(reinterpret_cast<const unsigned char*>(glb.data()), glb.size(), offset, &jsonOffset,
                  &jsonLength);
}

TEST(AnimImportGltfFiles, AGlbIsCheckedAgainstItsSizeAtEveryLength) {
  const std::string json = "{\"asset\":{}}    ", bin(8, '\x01');
  const std::string chunks =
      U32(json.size()) + "JSON" + json + U32(bin.size()) + std::string("BIN\0", 4) + bin;
  const std::string glb = "glTF" + U32(2) + U32(12 + chunks.size()) + chunks;
  std::size_t offset = 99;
  EXPECT_EQ(Check(glb, &offset), "");
  EXPECT_EQ(jsonOffset, 20u);
  EXPECT_EQ(jsonLength, json.size());
  // Cut anywhere, with the header's length made to match or not: always refused, never read past the end.
  int accepted = 0;
  for (std::size_t len = 0; len < glb.size(); ++len) {
    for (bool fix : {false, true}) {
      std::string cut = glb.substr(0, len);
      if (fix && len >= 12) cut.replace(8, 4, U32(len));
      accepted += Check(cut, &offset).empty();
      EXPECT_LE(offset, len);
    }
  }
  EXPECT_EQ(accepted, 1) << "only the GLB without its BIN chunk adds up";  // cut at the end of the JSON chunk
  struct Case {
    std::size_t at;
    std::string bytes, want;
    std::size_t offset;
  } cases[] = {
      {0, "glTf", "does not start with the GLB magic", 0},
      {4, U32(1), "The GLB version is 1, not 2.", 4},
      {8, U32(1000), "The GLB header declares 1000 bytes; the file has 52.", 8},
      {12, U32(33), "Chunk 0 declares 33 bytes; 32 are left after its header.", 12},
      {16, "BIN", "The first chunk is not the JSON chunk.", 16},
      {36, U32(16), "Chunk 1 declares 16 bytes; 8 are left after its header.", 36},
  };
  for (const Case& c : cases) {
    std::string bad = glb;
    bad.replace(c.at, c.bytes.size(), c.bytes);
    const std::string got = Check(bad, &offset);
    EXPECT_NE(got.find(c.want), std::string::npos) << c.want << ": " << got;
    EXPECT_EQ(offset, c.offset) << c.want;
  }
}

TEST(AnimImportGltfFiles, TheScanFindsEachBuffersUriAndLength) {
  struct Case {
    std::string json;
    bool ok;
    std::string found;  // "uri/length;" per buffer, length -1 when absent
  } cases[] = {
      {R"({"buffers": [{"byteLength": 3, "uri": "a.bin"}, {"uri": "b\u00e9\/c\"d"}]})", true,
       "a.bin/3;b\xC3\xA9/c\"d/-1;"},
      {R"({"x": {"buffers": [{"uri": "no"}]}, "buffers": [{"extras": [[{"uri": "no"}]], "uri": "yes"}]})",
       true, "yes/-1;"},
      {R"({"buffers": [{"uri": "first"}], "buffers": [{"uri": "last"}, 5, {}]})", true, "last/-1;/-1;/-1;"},
      {R"({"buffers": [{"byteLength": 0}], "images": [{"uri": "big.png"}]})", true, "/0;"},
      {R"({"nodes": [{"name": "]}"}], "buffers": [{"uri": "\ud83d\ude00"}]})", true, "\xF0\x9F\x98\x80/-1;"},
      {R"({"buffers": [{"uri": "a.bin"})", false, "a.bin/-1;"},
      {R"([])", false, ""},
      {R"({"buffers": [{"uri": "\q"}]})", false, ""},
      {"{\"a\": " + std::string(100000, '[') + std::string(100000, ']') +
           ", \"buffers\": [{\"uri\": \"deep\"}]}",
       true, "deep/-1;"},
  };
  for (const Case& c : cases) {
    std::vector<GltfBufferRef> buffers;
    EXPECT_EQ(ScanGltfBuffers(c.json, &buffers), c.ok) << c.json.substr(0, 80);
    std::string found;
    for (const GltfBufferRef& b : buffers)
      found += b.uri + "/" + (b.hasByteLength ? std::to_string(static_cast<int>(b.byteLength)) : "-1") + ";";
    EXPECT_EQ(found, c.found) << c.json.substr(0, 80);
  }
  EXPECT_TRUE(IsEmbeddedUri("data:application/gltf-buffer;base64,AAAA"));
  EXPECT_FALSE(IsEmbeddedUri("data:application/zip;base64,AAAA"));
}

TEST(AnimImportGltfFiles, OnlyRegularFilesWithinTheLimitAreRead) {
  qvl_TestDir dir;
  qvl_TestDir::WriteFile(dir / "f", "abcd");
  std::vector<unsigned char> out;
  EXPECT_EQ(ReadRegularFile(dir / "f", 4, &out), "");
  EXPECT_EQ(std::string(out.begin(), out.end()), "abcd");
  EXPECT_EQ(ReadRegularFile(dir / "f", 3, &out), "it is 4 bytes, more than the limit of 3 bytes");
  EXPECT_EQ(ReadRegularFile(dir.Path(), 100, &out), "it is not a regular file");
  EXPECT_EQ(ReadRegularFile(dir / "none", 100, &out), "No such file or directory");
}

}  // namespace
