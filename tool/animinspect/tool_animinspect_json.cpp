// The report as JSON.
#include "tool/animinspect/tool_animinspect_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

std::string Num(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A float of the file in its own shortest form (0.033333335, not 0.0333333350718).
std::string NumF(float v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string Str(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* Bool(bool b) {
  return b ? "true" : "false";
}

}  // namespace

std::string JsonReport(const RuntimeAnim& a, const ErrorReport* r) {
  std::string j = "{\n  \"file\": " + Str(a.file) + ",\n  \"summary\": {";
  j += "\"encoding\": " + Str(a.binary ? "binary" : "text");
  j += ", \"bytes\": " + std::to_string(a.bytes);
  j += ", \"range\": [" + NumF(a.rangeStart) + ", " + NumF(a.rangeEnd) + "]";
  j += ", \"keys\": " + std::to_string(a.GetKeyCnt());
  j += ", \"bones\": " + std::to_string(a.GetBoneCnt());
  j += std::string(", \"packed_transl\": ") + (a.hasTransl ? Bool(a.packedTransl) : "null");
  j += std::string(", \"packed_quat\": ") + (a.hasQuat ? Bool(a.packedQuat) : "null");
  j += ", \"masks\": [";
  for (std::size_t i = 0; i < a.maskNames.size(); ++i) {
    j += (i ? ", " : "") + std::string("{\"name\": ") + Str(a.maskNames[i]) +
         ", \"weight\": " + NumF(a.maskWeights[i]) + "}";
  }
  j += "]}";
  if (r) {
    j += ",\n  \"bones\": [";
    for (std::size_t i = 0; i < r->bones.size(); ++i) {
      const BoneReport& b = r->bones[i];
      const auto err = [&](double v) { return b.kept ? Num(v) : std::string("null"); };
      // Times are the file's float key times: written in their float form.
      const auto time = [&](double v) { return b.kept ? NumF(static_cast<float>(v)) : std::string("null"); };
      const auto moved = [&](double v) { return b.kept ? std::string("null") : Num(v); };
      j += std::string(i ? "," : "") + "\n    {\"name\": " + Str(b.name) + ", \"kept\": " + Bool(b.kept);
      j += ", \"rot_err_max_deg\": " + err(b.rotErrMax) + ", \"rot_err_p99_deg\": " + err(b.rotErrP99) +
           ", \"rot_err_max_time\": " + time(b.rotErrMaxTime);
      j += ", \"transl_err_max\": " + err(b.translErrMax) + ", \"transl_err_p99\": " + err(b.translErrP99) +
           ", \"transl_err_max_time\": " + time(b.translErrMaxTime);
      j += ", \"moved_transl_max\": " + moved(b.movedTransl) +
           ", \"moved_rot_max_deg\": " + moved(b.movedRotDeg);
      const auto obj = [&](double v) { return r->hasSkeleton ? Num(v) : std::string("null"); };
      j += ", \"obj_err_max\": " + obj(b.objErrMax) + ", \"obj_err_p99\": " + obj(b.objErrP99) +
           ", \"obj_err_max_time\": " +
           (r->hasSkeleton ? NumF(static_cast<float>(b.objErrMaxTime)) : std::string("null")) + "}";
    }
    j += "\n  ],\n  \"overall\": {";
    j += "\"rot_err_max_deg\": " + Num(r->rotErrMax) + ", \"rot_err_p99_deg\": " + Num(r->rotErrP99);
    j += ", \"transl_err_max\": " + Num(r->translErrMax) + ", \"transl_err_p99\": " + Num(r->translErrP99);
    j += ", \"worst_bone\": " + (r->worstBone.empty() ? std::string("null") : Str(r->worstBone));
    const bool obj = r->hasSkeleton;
    j += ", \"obj_err_max\": " + (obj ? Num(r->objErrMax) : "null") +
         ", \"obj_err_p99\": " + (obj ? Num(r->objErrP99) : "null") +
         ", \"obj_err_max_time\": " + (obj ? NumF(static_cast<float>(r->objErrMaxTime)) : "null");
    j += ", \"shell\": " + (obj ? Num(r->shell.distance) : "null") + ", \"meters_per_unit\": " +
         (r->metersPerUnit > 0.0 ? NumF(static_cast<float>(r->metersPerUnit)) : "null") + "}";
  }
  return j + "\n}\n";
}
