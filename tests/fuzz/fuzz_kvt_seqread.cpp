// Fuzz target of the sequential reader driven by an operation script from the
// input: either a walk that follows the protocol, the script choosing how
// each value is read, or the operations in any order; with a message handler
// or without one (then every error is thrown and caught here).
#include "tests/fuzz/fuzz_kvt_tree.h"

namespace {

// Input layout: flags byte (bit 0: a handler, bit 1: any order, bit 2: the
// data gets the binary header), script length (u16), script, data.
struct Script {
  qvl_FuzzInput ops;
  std::uint8_t Next() { return ops.Byte(); }
};

// Calls op on reader; a thrown message (no handler) is caught: true then.
template <class F>
bool Guarded(F op) {
  try {
    op();
  } catch (const qvl_CUtilMsg&) {
    return true;
  }
  return false;
}

// The protocol's walk of the current chunk; the script picks the read of each
// value and where a key or chunk is left early. depth bounds the recursion.
// A read that threw (no handler) left its value unread, as a caller that
// catches would find it: the key is left there, so that the walk moves on.
void WalkChunk(qvl_CUtilKvtSeqRead* r, Script& s, int depth) {
  for (;;) {
    int more = 0;
    Guarded([&] { more = r->IsKey(); });
    if (more <= 0) return;
    Guarded([&] { r->ReadKey(); });
    for (;;) {
      int value = 0;
      Guarded([&] { value = r->IsValue(); });
      if (value <= 0) break;
      const std::uint8_t op = s.Next();
      if (op % 8 == 7) break;  // the key left with values unread
      bool threw = false;
      switch (op % 4) {
        case 0:
          threw = Guarded([&] { r->ReadFloat(); });
          break;
        case 1:
          threw = Guarded([&] { r->ReadStr(); });
          break;
        case 2:
          if (depth < qvl_KvtMaxDepth + 2) {
            threw = Guarded([&] { r->BeginChunk(); });
            if (threw) break;
            if (s.Next() % 8 != 7) WalkChunk(r, s, depth + 1);
            threw = Guarded([&] { r->EndChunk(); });
          } else {
            threw = true;
          }
          break;
        default:
          Guarded([&] { r->GetInfo(); });
          threw = Guarded([&] { r->ReadFloat(); });
          break;
      }
      if (threw) break;
    }
    Guarded([&] { r->EndKey(); });
  }
}

}  // namespace

int QvlFuzzKvtSeqRead(const std::uint8_t* data, std::size_t size) {
  qvl_FuzzInput in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::uint16_t scriptLen = in.U16();
  const std::string_view ops = in.Bytes(scriptLen);
  Script script{qvl_FuzzInput(reinterpret_cast<const std::uint8_t*>(ops.data()), ops.size())};
  std::string text(in.Rest());
  if ((flags & 4) && !qvl_CUtilKvtWork::IsBinary(text)) text.insert(0, "\x9BKVT\x01\x00\x00\x00", 8);

  KvtTestHandler h;
  qvl_CUtilMsgHandler* handler = (flags & 1) ? h.Get() : nullptr;
  qvl_CUtilPtr<qvl_CUtilStream> stream(new qvl_CUtilMemStream(text, "t.kvt"));
  qvl_CUtilKvtSeqRead* raw = nullptr;
  Guarded([&] { raw = qvl_CUtilKvtWork::CreateSeqReadStreamSimple(handler, "", stream.Get(), true); });
  qvl_CUtilPtr<qvl_CUtilKvtSeqRead> reader(raw);
  qvl_CUtilPtrBase::RefReleaseOf(raw);
  if (!reader) return 0;
  qvl_CUtilKvtSeqRead* r = reader.Get();
  QVL_FUZZ_CHECK(r->GetMsgHandler() == handler);

  if (!(flags & 2)) {
    WalkChunk(r, script, 0);
    Guarded([&] { r->Finish(); });
  } else {
    // Any order: every operation, as often as the script says.
    while (script.ops.Left() > 0) {
      switch (script.Next() % 11) {
        case 0:
          Guarded([&] { r->IsKey(); });
          break;
        case 1:
          Guarded([&] { r->ReadKey(); });
          break;
        case 2:
          Guarded([&] { r->EndKey(); });
          break;
        case 3:
          Guarded([&] { r->IsValue(); });
          break;
        case 4:
          Guarded([&] { r->ReadFloat(); });
          break;
        case 5:
          Guarded([&] { r->ReadStr(); });
          break;
        case 6:
          Guarded([&] { r->BeginChunk(); });
          break;
        case 7:
          Guarded([&] { r->EndChunk(); });
          break;
        case 8:
          Guarded([&] { r->GetInfo(); });
          break;
        case 9:
          Guarded([&] { r->Finish(); });
          break;
        default:
          // A protocol walk from wherever the reader stands.
          WalkChunk(r, script, 0);
          break;
      }
    }
  }
  // After a parse error no key and no value is seen at any level.
  qvl_CUtilKvtReader* typed = static_cast<qvl_CUtilKvtReader*>(r);
  if (typed->HasFailed()) {
    int key = 1, value = 1;
    Guarded([&] { key = r->IsKey(); });
    Guarded([&] { value = r->IsValue(); });
    QVL_FUZZ_CHECK(key == 0 && value == 0);
  }
  return 0;
}
