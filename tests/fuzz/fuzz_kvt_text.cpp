// Fuzz target of the text reader: the tree read, every accessor walked, and
// canonical text -> text and text -> binary -> text giving the same text.
#include "tests/fuzz/fuzz_kvt_tree.h"

int QvlFuzzKvtText(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (qvl_CUtilKvtWork::IsBinary(input)) return 0;  // the binary target's input
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root = KvtReadTree(h.Get(), input);
  QVL_FUZZ_CHECK(root);
  QvlFuzzWalkTree(root.Get());
  // A reader reports at most one parse error; type errors do not arise in a
  // whole-tree read.
  QVL_FUZZ_CHECK(h.Count() <= 1);
  if (h.Count() == 0) QvlFuzzCheckRoundTrips(root.Get());
  return 0;
}
