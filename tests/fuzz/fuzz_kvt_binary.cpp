// Fuzz target of the binary reader: the tree read and walked, the round trips
// of the text target, and a streamed copy through the sequential reader and
// writer that must give the tree's canonical text.
#include "tests/fuzz/fuzz_kvt_tree.h"

int QvlFuzzKvtBinary(const std::uint8_t* data, std::size_t size) {
  // Inputs without the magic would all end at the first bytes: give every
  // input the header, so that mutations reach the items.
  std::string input(reinterpret_cast<const char*>(data), size);
  if (!qvl_CUtilKvtWork::IsBinary(input)) input.insert(0, "\x9BKVT\x01\x00\x00\x00", 8);
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root = KvtReadTree(h.Get(), input);
  QVL_FUZZ_CHECK(root);
  QvlFuzzWalkTree(root.Get());
  QVL_FUZZ_CHECK(h.Count() <= 1);

  // The streamed copy reports exactly what the tree read reported.
  KvtTestHandler hs;
  qvl_CUtilPtr<qvl_CUtilStream> in(new qvl_CUtilMemStream(input, "t.kvt"));
  qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
  qvl_CUtilKvtReader* reader = qvl_CUtilKvtWork::CreateReader(hs.Get(), "", in.Get());
  QVL_FUZZ_CHECK(reader != nullptr);
  qvl_CUtilKvtSeqWrite* writer = qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", out.Get(), 0);
  qvl_CUtilKvtWork::CopyChunkKeys(reader, writer);
  reader->Finish();
  writer->Finish();
  qvl_CUtilPtrBase::RefReleaseOf(writer);
  qvl_CUtilPtrBase::RefReleaseOf(reader);
  QVL_FUZZ_CHECK(hs.Ids() == h.Ids());

  if (h.Count() == 0) QVL_FUZZ_CHECK(QvlFuzzCheckRoundTrips(root.Get()) == out->GetData());
  return 0;
}
