// Fuzz target of the whole calculation from memory: job switches, a
// reference and an animation file (either encoding) through the loader, the
// calculation and the writer. Checks the result's invariants and that the
// written file reads back without errors.
#include <cstring>

#include "tests/fuzz/fuzz_kvt_tree.h"
#include "tool/boneanim/tool_boneanim_calc.h"
#include "tool/boneanim/tool_boneanim_write.h"

namespace {

// The loaded maps are emptied on every way out, before the pool goes.
struct Maps {
  LoadedAnim ref;
  LoadedAnim anim;
  ~Maps() {
    ref.ExtractAll();
    anim.ExtractAll();
  }
};

char* PoolText(qvl_CUtilMemPool* pool, std::string_view text) {
  char* p = static_cast<char*>(pool->Alloc(text.size() + 1, 1));
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

}  // namespace

// Input layout: switches byte (bit 0 do_transl, 1 do_quat, 2 compress,
// 3 binary output, 4 a second mask), tolerance byte, mask weight byte, mask
// pattern (length byte, bytes), reference length (u16), reference, animation.
int QvlFuzzBoneAnimPipeline(const std::uint8_t* data, std::size_t size) {
  qvl_FuzzInput in(data, size);
  const std::uint8_t flags = in.Byte();
  const float eps = static_cast<float>(in.Byte()) * (0.001f / 255.0f);
  const float weight = static_cast<float>(in.Byte()) / 128.0f - 0.5f;
  const std::string_view pattern = in.Bytes(in.Byte());
  const std::string refData(in.Bytes(in.U16()));
  const std::string animData(in.Rest());

  // A small budget, so that the fuzzer's memory limit does not end the run
  // first; the caller's is restored on every way out (the replay runs in the
  // test program).
  struct Budget {
    std::uint64_t saved = GetKeyMatrixBudget();
    Budget() { SetKeyMatrixBudget(std::uint64_t{64} << 20); }
    ~Budget() { SetKeyMatrixBudget(saved); }
  } budget;
  qvl_CUtilPtr<qvl_CUtilMemPool> pool(new qvl_CUtilMemPool());
  KvtTestHandler h;
  BoneAnimJob* job = static_cast<BoneAnimJob*>(pool->Alloc(sizeof(BoneAnimJob), alignof(BoneAnimJob)));
  std::memset(static_cast<void*>(job), 0, sizeof(BoneAnimJob));
  job->info = PoolText(pool.Get(), "job.kvt:1:1");
  job->do_transl = (flags & 1) != 0;
  job->do_quat = (flags & 2) != 0;
  job->compress = (flags & 4) != 0;
  job->identity_eps_transl = eps;
  job->identity_eps_quat = eps;
  const int maskCnt = (flags & 16) ? 2 : 1;
  for (int m = 0; m < maskCnt; ++m) {
    MaskEntry* e = static_cast<MaskEntry*>(pool->Alloc(sizeof(MaskEntry), alignof(MaskEntry)));
    e->bone_pat = PoolText(pool.Get(), m == 0 ? pattern : std::string_view("*Arm"));
    e->bone_pat_info = e->bone_pat;
    e->wgh = m == 0 ? weight : 1.0f;
    job->masks.Append(pool.Get(), e);
  }

  Maps maps;
  qvl_CUtilPtr<qvl_CUtilStream> refStream(new qvl_CUtilMemStream(refData, "rest.kvt"));
  qvl_CUtilPtr<qvl_CUtilStream> animStream(new qvl_CUtilMemStream(animData, "anim.kvt"));
  const RelativeAnim* result = nullptr;
  try {
    LoadPathAnim(h.Get(), "rest.kvt", pool.Get(), refStream.Get(), &maps.ref);
    LoadPathAnim(h.Get(), "anim.kvt", pool.Get(), animStream.Get(), &maps.anim);
    result = CalcRelativeFromMaps(h.Get(), pool.Get(), job, maps.ref, maps.anim, "anim.kvt", "rest.kvt");
  } catch (const qvl_CUtilMsg&) {
    return 0;  // the tool's driver reports it and aborts the run: no fault here
  }
  QVL_FUZZ_CHECK(result != nullptr);

  // The record's invariants.
  const int boneCnt = result->boneNames.count;
  const int keyCnt = result->keyTimes.count;
  QVL_FUZZ_CHECK(static_cast<std::int64_t>(result->keys.count) == std::int64_t{boneCnt} * keyCnt);
  QVL_FUZZ_CHECK(std::uint64_t(result->keys.count) * sizeof(Pose) <= GetKeyMatrixBudget());
  for (int k = 1; k < keyCnt; ++k) QVL_FUZZ_CHECK(result->keyTimes[k - 1] < result->keyTimes[k]);
  for (int b = 1; b < boneCnt; ++b)
    QVL_FUZZ_CHECK(CompareNames(result->boneNames[b - 1], result->boneNames[b]) < 0);
  QVL_FUZZ_CHECK(result->maskNames.count == result->maskWeights.count);
  for (int m = 0; m < result->maskWeights.count; ++m) QVL_FUZZ_CHECK(result->maskWeights[m] > 0.0f);

  // The written file reads back without errors, with K key times.
  const bool binary = (flags & 8) != 0;
  qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
  WriteRuntimeAnim(out.Get(), binary, result);
  QVL_FUZZ_CHECK(binary == qvl_CUtilKvtWork::IsBinary(out->GetData()));
  KvtTestHandler hr;
  qvl_CUtilPtr<qvl_CUtilKvtChunk> root = KvtReadTree(hr.Get(), out->GetData());
  QVL_FUZZ_CHECK(hr.Count() == 0);
  const int dataKey = root->FindKey("data");
  QVL_FUZZ_CHECK(dataKey >= 0);
  const qvl_CUtilKvtChunk* dataChunk = root->PeekValueChunk(dataKey, 0);
  QVL_FUZZ_CHECK(dataChunk != nullptr);
  const int keysKey = dataChunk->FindKey("key_array");
  QVL_FUZZ_CHECK(keysKey >= 0 && dataChunk->GetValueCnt(keysKey) == keyCnt);
  return 0;
}
