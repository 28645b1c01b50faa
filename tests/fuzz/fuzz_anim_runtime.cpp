// Fuzz target of the runtime-file loader of animinspect: a file that loads
// must hold consistent counts and sample to finite unit rotations anywhere; a
// file that does not must have said why and hold no key matrix.
#include <cmath>

#include "tests/fuzz/fuzz_check.h"
#include "tests/util/kvt/util_kvt_test_util.h"
#include "util/anim/util_anim_runtime.h"

int QvlFuzzAnimRuntime(const std::uint8_t* data, std::size_t size) {
  KvtTestHandler h;
  qvl_CUtilPtr<qvl_CUtilStream> in(
      new qvl_CUtilMemStream(std::string(reinterpret_cast<const char*>(data), size), "r.kvt"));
  RuntimeAnim anim;
  const bool ok = LoadRuntimeAnim(h.Get(), "", in.Get(), &anim);
  QVL_FUZZ_CHECK(ok == (h.Count() == 0));
  if (!ok) {
    QVL_FUZZ_CHECK(anim.transl.empty() && anim.quat.empty());
    return 0;
  }
  const std::size_t entries = anim.keyTimes.size() * anim.boneNames.size();
  QVL_FUZZ_CHECK(anim.transl.size() == (anim.hasTransl ? entries : 0));
  QVL_FUZZ_CHECK(anim.quat.size() == (anim.hasQuat ? entries : 0));
  QVL_FUZZ_CHECK(anim.maskNames.size() == anim.maskWeights.size());
  for (std::size_t k = 1; k < anim.keyTimes.size(); ++k)
    QVL_FUZZ_CHECK(anim.keyTimes[k - 1] < anim.keyTimes[k]);
  // Every bone is found by its own name; samples at, between and outside the
  // keys (and for a bone the file does not hold) are finite unit rotations.
  const int bones = anim.GetBoneCnt();
  for (int b = -1; b <= bones; ++b) {
    if (b >= 0 && b < bones) QVL_FUZZ_CHECK(anim.FindBone(anim.boneNames[static_cast<std::size_t>(b)]) == b);
    const double first = anim.keyTimes.empty() ? 0.0 : anim.keyTimes.front();
    const double last = anim.keyTimes.empty() ? 0.0 : anim.keyTimes.back();
    for (const double t : {first - 1.0, first, 0.5 * first + 0.5 * last, last, last + 1.0, std::nan("")}) {
      const PoseD p = anim.Sample(b, t);
      const double len2 =
          p.quat.x * p.quat.x + p.quat.y * p.quat.y + p.quat.z * p.quat.z + p.quat.w * p.quat.w;
      QVL_FUZZ_CHECK(std::fabs(len2 - 1.0) < 1e-9);
      QVL_FUZZ_CHECK(std::isfinite(p.transl.x) && std::isfinite(p.transl.y) && std::isfinite(p.transl.z));
    }
  }
  return 0;
}
