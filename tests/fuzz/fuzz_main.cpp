// The libFuzzer entry of one target; QVL_FUZZ_ENTRY names the target's function.
#include "tests/fuzz/fuzz_check.h"

int QVL_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return QVL_FUZZ_ENTRY(data, size);
}
