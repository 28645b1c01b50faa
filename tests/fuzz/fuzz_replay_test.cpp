// Replays every seed corpus and every regression input through its fuzz
// target: a finding, once fixed, stays fixed in the ordinary test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "tests/util/file/util_file_testdir.h"

#define QVL_FUZZ_TARGET(name, entry) int entry(const std::uint8_t* data, std::size_t size);
#include "qvl_fuzz_targets.inc"
#undef QVL_FUZZ_TARGET

namespace {

struct Target {
  const char* name;
  int (*entry)(const std::uint8_t*, std::size_t);
};
#define QVL_FUZZ_TARGET(name, entry) {#name, entry},
const Target kTargets[] = {
#include "qvl_fuzz_targets.inc"
};
#undef QVL_FUZZ_TARGET

// The name, for test listings (not the struct's bytes).
void PrintTo(const Target& t, std::ostream* os) {
  *os << t.name;
}

// A failed check throws, so that it fails the test instead of aborting the program.
void ThrowOnFail(const char* what, const char* file, int line) {
  throw std::runtime_error(std::string(file) + ":" + std::to_string(line) + ": " + what);
}

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, CorpusAndRegressionsPassEveryCheck) {
  const Target& t = GetParam();
  qvl_FuzzFailHook() = ThrowOnFail;
  int inputs = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const std::filesystem::path dir = std::filesystem::path(QVL_SOURCE_DIR) / "tests/fuzz" / folder / t.name;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string data = qvl_TestDir::ReadFile(entry.path().string());
      try {
        t.entry(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      } catch (const std::exception& e) {
        ADD_FAILURE() << entry.path() << ": " << e.what();
      }
      ++inputs;
    }
  }
  qvl_FuzzFailHook() = nullptr;
  // Every target has a seed corpus; an empty one means a wrong path.
  EXPECT_GT(inputs, 0) << t.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target>& p) { return std::string(p.param.name); });

}  // namespace
