// Fuzz target of the float reading: the sequential reader's fast float path
// and the tree reader must accept and reject the same texts, with the same
// bits. The input is the value text of one key.
#include <bit>

#include "tests/fuzz/fuzz_kvt_tree.h"

int QvlFuzzKvtFloat(const std::uint8_t* data, std::size_t size) {
  std::string text = "k ";
  text.append(reinterpret_cast<const char*>(data), size);
  if (qvl_CUtilKvtWork::IsBinary(text)) return 0;

  // The fast path: ReadFloat straight after ReadKey, nothing peeked.
  KvtTestHandler hs;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(text, "t.kvt"));
  qvl_CUtilKvtSeqRead* r = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(hs.Get(), "", stream.Get(), true);
  QVL_FUZZ_CHECK(r != nullptr);
  QVL_FUZZ_CHECK(r->IsKey() > 0);
  r->ReadKey();
  const float fast = r->ReadFloat();
  r->EndKey();
  r->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(r);
  const bool fastOk = hs.Count() == 0;

  // The tree reader: accepted when the file reads without error and the
  // key's first value is a number.
  KvtTestHandler ht;
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root = KvtReadTree(ht.Get(), text);
  bool treeOk = ht.Count() == 0 && root->GetKeyCnt() > 0 && root->GetValueCnt(0) > 0;
  float tree = 0.0f;
  if (treeOk) {
    const int type = root->GetValueType(0, 0);
    treeOk = type == qvl_KvtTypeFloat || type == qvl_KvtTypeInt;
    tree = type == qvl_KvtTypeFloat ? root->GetValueFloat(0, 0) : static_cast<float>(root->GetValueInt(0, 0));
  }
  QVL_FUZZ_CHECK(fastOk == treeOk);
  if (fastOk) QVL_FUZZ_CHECK(std::bit_cast<std::uint32_t>(fast) == std::bit_cast<std::uint32_t>(tree));
  return 0;
}
