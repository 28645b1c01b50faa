// The runtime animation writer.
#include "util/anim/util_anim_write.h"

#include "util/anim/util_anim_pack.h"
#include "util/kvt/util_kvt_work.h"

namespace {

// A name of the result; a missing name is written as "".
qvl_CUtilStr NameOf(const char* name) {
  return qvl_CUtilStr(name ? name : "");
}

void WriteNames(qvl_CUtilKvtSeqWrite* writer, const char* key,
                const qvl_CUtilMemPoolArray<const char*>& names) {
  writer->BeginKey(key);
  for (int i = 0; i < names.count; ++i) writer->WriteStr(NameOf(names[i]));
  writer->EndKey();
}

void WriteFloats(qvl_CUtilKvtSeqWrite* writer, const char* key, const qvl_CUtilMemPoolArray<float>& values) {
  writer->BeginKey(key);
  for (int i = 0; i < values.count; ++i) writer->WriteFloat(values[i]);
  writer->EndKey();
}

}  // namespace

void WriteRuntimeAnim(qvl_CUtilStream* stream, bool binary, const RelativeAnim* anim) {
  qvl_CUtilKvtSeqWrite* raw =
      qvl_CUtilKvtWork::CreateSeqWriteStream(nullptr, "", stream, binary ? qvl_KvtFlagBinary : 0);
  // The holder drops the creator's reference on every way out; Finish is
  // reached only when nothing was thrown.
  qvl_CUtilPtr<qvl_CUtilKvtSeqWrite> writer(raw);
  qvl_CUtilPtrBase::RefReleaseOf(raw);
  if (!writer) return;
  WriteRuntimeAnimRoot(writer.Get(), anim);
  writer->Finish();
}

void WriteRuntimeAnimRoot(qvl_CUtilKvtSeqWrite* writer, const RelativeAnim* anim) {
  writer->WriteKeyStr("format", "quorvel_boneanim_runtime_164x12");
  writer->BeginKey("data");
  writer->BeginChunk();
  WriteRuntimeAnimData(writer, anim);
  writer->EndChunk();
  writer->EndKey();
}

void WriteRuntimeAnimData(qvl_CUtilKvtSeqWrite* writer, const RelativeAnim* anim) {
  writer->BeginKey("range");
  writer->WriteFloat(anim->rangeStart);
  writer->WriteFloat(anim->rangeEnd);
  writer->EndKey();

  WriteNames(writer, "mask_name_array", anim->maskNames);
  WriteFloats(writer, "mask_wgh_array", anim->maskWeights);
  WriteFloats(writer, "key_array", anim->keyTimes);
  WriteNames(writer, "bone_name_array", anim->boneNames);

  const qvl_CUtilMemPoolArray<Pose>& keys = anim->keys;
  if (anim->doTransl) {
    if (anim->translAsWords) {
      writer->BeginKey("compr_transl_array");
      for (int i = 0; i < anim->translWords.count; ++i) writer->WriteInt(anim->translWords[i]);
    } else if (anim->compress) {
      writer->BeginKey("compr_transl_array");
      for (int i = 0; i < keys.count; ++i) writer->WriteInt(PackTransl(keys[i].transl));
    } else {
      writer->BeginKey("transl_array");
      for (int i = 0; i < keys.count; ++i) {
        const Vector3& t = keys[i].transl;
        writer->WriteFloat(t.x);
        writer->WriteFloat(t.y);
        writer->WriteFloat(t.z);
      }
    }
    writer->EndKey();
  }
  if (anim->doQuat) {
    if (anim->quatAsWords) {
      writer->BeginKey("compr_quat_array");
      for (int i = 0; i < anim->quatWords.count; ++i) writer->WriteInt(anim->quatWords[i]);
    } else if (anim->compress) {
      writer->BeginKey("compr_quat_array");
      for (int i = 0; i < keys.count; ++i) writer->WriteInt(PackQuat(keys[i].quat));
    } else {
      writer->BeginKey("quat_array");
      for (int i = 0; i < keys.count; ++i) {
        const Quat& q = keys[i].quat;
        writer->WriteFloat(q.x);
        writer->WriteFloat(q.y);
        writer->WriteFloat(q.z);
        writer->WriteFloat(q.w);
      }
    }
    writer->EndKey();
  }
}
