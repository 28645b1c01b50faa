// Reading a runtime animation file back: every count checked against the
// others, packed keys decoded once, and sampling of the decoded keys.
#include "util/anim/util_anim_runtime.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "util/anim/util_anim_pack.h"
#include "util/kvt/util_kvt_reader.h"
#include "util/kvt/util_kvt_work.h"
#include "util/msg/util_msg_msg.h"

namespace {

constexpr const char* kMsgPrefix = "util/anim/util_anim_runtime.";
constexpr double kRadToDeg = 57.295779513082320876798;  // 180 / π

// Forwards every report to the caller's handler (or throws errors when there
// is none) and counts the errors, so that the loader knows whether the
// reader found anything wrong as well as its own checks.
class CountingEval : public qvl_CUtilMsgEval {
 public:
  explicit CountingEval(qvl_CUtilMsgHandler* target) : m_target(target) {}
  void Eval(int level, const qvl_CUtilMsg& msg) override {
    if (level >= qvl_MsgLevelError) ++m_errors;
    if (m_target) {
      m_target->Report(level, msg);
    } else if (level >= qvl_MsgLevelError) {
      throw msg;
    }
  }
  int GetErrors() const { return m_errors; }

 private:
  qvl_CUtilMsgHandler* m_target;
  int m_errors = 0;
};

std::string Num(std::uint64_t v) {
  return std::to_string(v);
}

// One key of the "data" chunk as it was read: where it stands and its values.
struct KeyRead {
  bool present = false;
  std::string info;  // "FILE:LINE:COL" of the key
  std::vector<float> floats;
  std::vector<std::int32_t> ints;
  std::vector<std::string> strs;
};

// The keys of "data" the loader knows, by index.
enum DataKey {
  kRange,
  kMaskNames,
  kMaskWghs,
  kKeyTimes,
  kBoneNames,
  kTransl,
  kComprTransl,
  kQuat,
  kComprQuat,
  kDataKeyCnt
};
constexpr const char* kDataKeyNames[kDataKeyCnt] = {
    "range",        "mask_name_array",    "mask_wgh_array", "key_array",        "bone_name_array",
    "transl_array", "compr_transl_array", "quat_array",     "compr_quat_array",
};
enum ValueKind { kFloats, kInts, kStrs };
constexpr ValueKind kDataKeyKinds[kDataKeyCnt] = {kFloats, kStrs, kFloats, kFloats, kStrs,
                                                  kFloats, kInts, kFloats, kInts};

class Loader {
 public:
  Loader(qvl_CUtilMsgHandler* handler, qvl_CUtilKvtReader* reader, RuntimeAnim* out)
      : m_handler(handler), m_reader(reader), m_out(out), m_fileInfo(reader->GetFile().GetChars()) {}

  void ReadRoot();
  void Check();
  bool Failed() const { return m_failed; }

 private:
  void Error(const std::string& info, const char* key, const char* text, std::vector<std::string> args = {}) {
    qvl_CUtilMsg msg(qvl_CUtilStr((std::string(kMsgPrefix) + key).c_str()), text);
    msg.AddInfo(qvl_CUtilStr(info.c_str()));
    for (const std::string& a : args) msg.AddInfo(qvl_CUtilStr(a.c_str()));
    qvl_CUtilMsgHandler::ReportError(m_handler, msg);
    m_failed = true;
  }
  void ReadData();
  void ReadValues(KeyRead& key, ValueKind kind);
  bool CheckMatrix(int plain, int packed, int perEntry, std::uint64_t entries);

  qvl_CUtilMsgHandler* m_handler;
  qvl_CUtilKvtReader* m_reader;
  RuntimeAnim* m_out;
  std::string m_fileInfo;
  bool m_failed = false;
  bool m_hasData = false;
  KeyRead m_keys[kDataKeyCnt];
};

void Loader::ReadRoot() {
  std::string format;
  std::string formatInfo = m_fileInfo;
  bool hasFormat = false;
  bool dataSkipped = false;  // "data" came before a right format
  while (m_reader->IsKey() > 0) {
    qvl_CUtilStr key = m_reader->ReadKey();
    const std::string info = m_reader->GetInfo().GetChars();
    if (key.Compare("format") == 0) {
      format = m_reader->ReadStr().GetChars();
      formatInfo = info;
      hasFormat = true;
    } else if (key.Compare("data") == 0) {
      if (m_hasData) {
        Error(info, "dup_key", "Key \"[1]\" is given twice.", {"data"});
      } else if (hasFormat && format == kRuntimeAnimFormat) {
        // Only a file of the right format is read on; the format comes first.
        m_reader->BeginChunk();
        ReadData();
        m_reader->EndChunk();
      } else {
        dataSkipped = true;
      }
      m_hasData = true;
    }
    m_reader->EndKey();
  }
  m_reader->Finish();
  if (m_reader->HasFailed()) return;
  if (!hasFormat) {
    Error(m_fileInfo, "no_format", "No format \"[1]\" found before the data.", {kRuntimeAnimFormat});
  } else if (format != kRuntimeAnimFormat) {
    Error(formatInfo, "format", "Found format \"[2]\" instead of \"[1]\".", {kRuntimeAnimFormat, format});
  } else if (dataSkipped) {
    Error(formatInfo, "format_late", "Key \"format\" must come before key \"data\".");
  } else if (!m_hasData) {
    Error(m_fileInfo, "no_data", "No key \"data\" found.");
  }
}

void Loader::ReadData() {
  while (m_reader->IsKey() > 0) {
    qvl_CUtilStr name = m_reader->ReadKey();
    int k = 0;
    while (k < kDataKeyCnt && name.Compare(kDataKeyNames[k]) != 0) ++k;
    if (k < kDataKeyCnt) {
      KeyRead& key = m_keys[k];
      const std::string info = m_reader->GetInfo().GetChars();
      if (key.present) {
        Error(info, "dup_key", "Key \"[1]\" is given twice.", {kDataKeyNames[k]});
      } else {
        key.present = true;
        key.info = info;
        ReadValues(key, kDataKeyKinds[k]);
      }
    }
    // Other keys are left for newer readers: skipped unread.
    m_reader->EndKey();
  }
}

void Loader::ReadValues(KeyRead& key, ValueKind kind) {
  // The vectors grow with the values actually present, never by a count the
  // file declares, so a corrupt file cannot ask for a huge allocation.
  switch (kind) {
    case kFloats:
      while (m_reader->IsValue() > 0) key.floats.push_back(m_reader->ReadFloat());
      break;
    case kInts:
      while (m_reader->IsValue() > 0) key.ints.push_back(m_reader->ReadInt());
      break;
    case kStrs:
      while (m_reader->IsValue() > 0) key.strs.push_back(m_reader->ReadStr().GetChars());
      break;
  }
}

// Checks one channel (plain key index, packed key index, floats per plain
// entry) against the entry count; true when it is present and usable.
bool Loader::CheckMatrix(int plain, int packed, int perEntry, std::uint64_t entries) {
  const KeyRead& p = m_keys[plain];
  const KeyRead& q = m_keys[packed];
  if (p.present && q.present) {
    Error(q.info, "both", "Keys \"[1]\" and \"[2]\" are both given; a channel is either plain or packed.",
          {kDataKeyNames[plain], kDataKeyNames[packed]});
    return false;
  }
  if (!p.present && !q.present) return false;
  const KeyRead& key = p.present ? p : q;
  const std::uint64_t have = p.present ? p.floats.size() : q.ints.size();
  const std::uint64_t need = entries * static_cast<std::uint64_t>(p.present ? perEntry : 1);
  // A matrix without its index keys: already reported as missing.
  if (!m_keys[kKeyTimes].present || !m_keys[kBoneNames].present) return false;
  if (have != need) {
    Error(key.info, "count",
          "Key \"[1]\" holds [2] values, [3] are needed ([4] per entry, [5] key times x [6] bones).",
          {kDataKeyNames[p.present ? plain : packed], Num(have), Num(need), Num(p.present ? perEntry : 1),
           Num(m_keys[kKeyTimes].floats.size()), Num(m_keys[kBoneNames].strs.size())});
    return false;
  }
  return true;
}

void Loader::Check() {
  RuntimeAnim& a = *m_out;
  const KeyRead& range = m_keys[kRange];
  if (!range.present) {
    Error(m_fileInfo, "missing", "Key \"[1]\" is missing.", {"range"});
  } else if (range.floats.size() != 2) {
    Error(range.info, "range", "Key \"range\" holds [1] values instead of 2 (start, end).",
          {Num(range.floats.size())});
  } else {
    a.rangeStart = range.floats[0];
    a.rangeEnd = range.floats[1];
  }

  const KeyRead& maskNames = m_keys[kMaskNames];
  const KeyRead& maskWghs = m_keys[kMaskWghs];
  if (maskNames.strs.size() != maskWghs.floats.size()) {
    Error(maskWghs.present ? maskWghs.info : maskNames.info, "mask_count",
          "Key \"mask_wgh_array\" holds [1] weights for [2] names of \"mask_name_array\".",
          {Num(maskWghs.floats.size()), Num(maskNames.strs.size())});
  } else {
    a.maskNames = maskNames.strs;
    a.maskWeights = maskWghs.floats;
    for (std::size_t i = 0; i < a.maskWeights.size(); ++i) {
      if (!std::isfinite(a.maskWeights[i])) {
        Error(maskWghs.info, "mask_weight", "Value [1] of key \"mask_wgh_array\" is not finite.", {Num(i)});
        break;
      }
    }
  }

  const KeyRead& keys = m_keys[kKeyTimes];
  if (!keys.present) Error(m_fileInfo, "missing", "Key \"[1]\" is missing.", {"key_array"});
  a.keyTimes = keys.floats;
  for (std::size_t k = 0; k < a.keyTimes.size(); ++k) {
    if (!std::isfinite(a.keyTimes[k])) {
      Error(keys.info, "key_time", "Value [1] of key \"key_array\" is not finite.", {Num(k)});
      break;
    }
    if (k > 0 && !(a.keyTimes[k] > a.keyTimes[k - 1])) {
      Error(keys.info, "key_order",
            "Value [1] of key \"key_array\" ([2]) does not follow the one before ([3]): key times must "
            "ascend strictly.",
            {Num(k), std::to_string(a.keyTimes[k]), std::to_string(a.keyTimes[k - 1])});
      break;
    }
  }

  const KeyRead& bones = m_keys[kBoneNames];
  if (!bones.present) Error(m_fileInfo, "missing", "Key \"[1]\" is missing.", {"bone_name_array"});
  a.boneNames = bones.strs;
  a.byName.resize(a.boneNames.size());
  for (std::size_t b = 0; b < a.byName.size(); ++b) a.byName[b] = static_cast<int>(b);
  std::stable_sort(a.byName.begin(), a.byName.end(),
                   [&](int x, int y) { return a.boneNames[x] < a.boneNames[y]; });
  for (std::size_t i = 1; i < a.byName.size(); ++i) {
    if (a.boneNames[a.byName[i]] == a.boneNames[a.byName[i - 1]]) {
      Error(bones.info, "dup_bone", "Bone \"[1]\" is listed twice in key \"bone_name_array\".",
            {a.boneNames[a.byName[i]]});
      break;
    }
  }

  const std::uint64_t entries =
      static_cast<std::uint64_t>(a.keyTimes.size()) * static_cast<std::uint64_t>(a.boneNames.size());
  const bool transl = CheckMatrix(kTransl, kComprTransl, 3, entries);
  const bool quat = CheckMatrix(kQuat, kComprQuat, 4, entries);
  if (m_failed) return;

  // Decoding, once: every sample later reads doubles.
  if (transl) {
    a.hasTransl = true;
    a.packedTransl = m_keys[kComprTransl].present;
    a.transl.resize(entries);
    const KeyRead& src = m_keys[a.packedTransl ? kComprTransl : kTransl];
    for (std::uint64_t i = 0; i < entries; ++i) {
      if (a.packedTransl) {
        a.transl[i] = UnpackTransl(src.ints[i]);
        continue;
      }
      const float* v = &src.floats[3 * i];
      if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) {
        Error(src.info, "value", "Entry [1] of key \"transl_array\" is not finite.", {Num(i)});
        return;
      }
      a.transl[i] = Vector3d{v[0], v[1], v[2]};
    }
  }
  if (quat) {
    a.hasQuat = true;
    a.packedQuat = m_keys[kComprQuat].present;
    a.quat.resize(entries);
    const KeyRead& src = m_keys[a.packedQuat ? kComprQuat : kQuat];
    for (std::uint64_t i = 0; i < entries; ++i) {
      if (a.packedQuat) {
        a.quat[i] = UnpackQuat(src.ints[i]);
        continue;
      }
      const float* v = &src.floats[4 * i];
      const double x = v[0], y = v[1], z = v[2], w = v[3];
      const double len = std::sqrt(x * x + y * y + z * z + w * w);
      if (!std::isfinite(len) || len == 0.0) {
        Error(src.info, "value", "Entry [1] of key \"quat_array\" is not a rotation (zero or not finite).",
              {Num(i)});
        return;
      }
      a.quat[i] = Quatd{x / len, y / len, z / len, w / len};
    }
  }
  // The stored values, moved rather than copied: nothing reads them above.
  if (transl) {
    if (a.packedTransl)
      a.translWords = std::move(m_keys[kComprTransl].ints);
    else
      a.translFloats = std::move(m_keys[kTransl].floats);
  }
  if (quat) {
    if (a.packedQuat)
      a.quatWords = std::move(m_keys[kComprQuat].ints);
    else
      a.quatFloats = std::move(m_keys[kQuat].floats);
  }
}

}  // namespace

bool LoadRuntimeAnim(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& name, qvl_CUtilStream* stream,
                     RuntimeAnim* out) {
  *out = RuntimeAnim{};
  if (!stream) return false;
  const std::string_view data = stream->GetReadData();
  out->bytes = data.size();
  out->binary = qvl_CUtilKvtWork::IsBinary(data);
  out->file = name.IsEmpty() ? stream->GetPath().GetChars() : name.GetChars();

  CountingEval counter(handler);
  qvl_CUtilPtr<qvl_CUtilMsgHandler> local(new qvl_CUtilMsgHandler());
  local->RegisterBack(&counter);
  qvl_CUtilKvtReader* created = qvl_CUtilKvtWork::CreateReader(local.Get(), name, stream);
  if (!created) return false;  // the stream has reported why
  qvl_CUtilPtr<qvl_CUtilKvtReader> reader(created);
  qvl_CUtilPtrBase::RefReleaseOf(created);

  Loader loader(local.Get(), reader.Get(), out);
  loader.ReadRoot();
  if (!loader.Failed() && counter.GetErrors() == 0) loader.Check();
  const bool ok = !loader.Failed() && counter.GetErrors() == 0;
  if (!ok) {
    out->hasTransl = out->hasQuat = false;
    out->transl.clear();
    out->quat.clear();
    out->translWords.clear();
    out->quatWords.clear();
    out->translFloats.clear();
    out->quatFloats.clear();
  }
  return ok;
}

int RuntimeAnim::FindBone(std::string_view name) const {
  const auto it = std::lower_bound(byName.begin(), byName.end(), name,
                                   [&](int b, std::string_view n) { return boneNames[b] < n; });
  return it != byName.end() && boneNames[*it] == name ? *it : -1;
}

float RuntimeAnim::GetMaskWeight(std::string_view name) const {
  for (std::size_t i = 0; i < maskNames.size(); ++i) {
    if (maskNames[i] == name) return maskWeights[i];
  }
  return 0.0f;
}

PoseD RuntimeAnim::GetKey(int k, int b) const {
  const std::size_t i = static_cast<std::size_t>(k) * boneNames.size() + static_cast<std::size_t>(b);
  PoseD p = kIdentityPoseD;
  if (hasTransl) p.transl = transl[i];
  if (hasQuat) p.quat = quat[i];
  return p;
}

PoseD RuntimeAnim::Sample(int b, double t) const {
  const int keyCnt = GetKeyCnt();
  if (b < 0 || b >= GetBoneCnt() || keyCnt == 0) return kIdentityPoseD;
  if (!(t > keyTimes[0])) return GetKey(0, b);  // NaN too
  if (t >= keyTimes[keyCnt - 1]) return GetKey(keyCnt - 1, b);
  // keyTimes[k1 - 1] <= t < keyTimes[k1], with 1 <= k1 <= K - 1.
  const int k1 = static_cast<int>(std::upper_bound(keyTimes.begin(), keyTimes.end(), t) - keyTimes.begin());
  const int k0 = k1 - 1;
  return InterpolatePose(GetKey(k0, b), keyTimes[k0], GetKey(k1, b), keyTimes[k1], t);
}

PoseD InterpolatePose(const PoseD& p0, double t0, const PoseD& p1, double t1, double t) {
  if (t == t0) return p0;
  const double u = (t - t0) / (t1 - t0);
  PoseD r;
  r.transl = Vector3d{(1.0 - u) * p0.transl.x + u * p1.transl.x, (1.0 - u) * p0.transl.y + u * p1.transl.y,
                      (1.0 - u) * p0.transl.z + u * p1.transl.z};
  r.quat = SlerpShorter(p0.quat, p1.quat, u);
  return r;
}

Quatd SlerpShorter(const Quatd& a, const Quatd& b0, double u) {
  double d = a.x * b0.x + a.y * b0.y + a.z * b0.z + a.w * b0.w;
  Quatd b = b0;
  if (d < 0.0) {
    b = Quatd{-b0.x, -b0.y, -b0.z, -b0.w};
    d = -d;
  }
  double wa = 1.0 - u;
  double wb = u;
  // Below an angle of about 1e-6 rad the linear weights agree with the
  // spherical ones to double precision.
  if (d < 1.0 - 1e-12) {
    const double theta = std::acos(d);
    const double s = std::sin(theta);
    wa = std::sin((1.0 - u) * theta) / s;
    wb = std::sin(u * theta) / s;
  }
  Quatd r{wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w};
  const double len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z + r.w * r.w);
  return Quatd{r.x / len, r.y / len, r.z / len, r.w / len};
}

double RotationAngleDeg(const Quatd& a, const Quatd& b) {
  const double d = std::fabs(a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w);
  return 2.0 * std::acos(std::min(1.0, d)) * kRadToDeg;
}

double TranslDistance(const Vector3d& a, const Vector3d& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  const double dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}
