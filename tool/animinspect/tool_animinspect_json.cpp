// The report as JSON.
#include "tool/animinspect/tool_animinspect_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string JsonNum(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string JsonNumF(float v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string JsonStr(const std::string& s, bool escapeMarkup) {
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || (escapeMarkup && (c == '<' || c == '>' || c == '&'))) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* JsonBool(bool b) {
  return b ? "true" : "false";
}

namespace {}  // namespace

std::string JsonReport(const RuntimeAnim& a, const ErrorReport* r) {
  std::string j = "{\n  \"file\": " + JsonStr(a.file) + ",\n  \"summary\": {";
  j += "\"encoding\": " + JsonStr(a.binary ? "binary" : "text");
  j += ", \"bytes\": " + std::to_string(a.bytes);
  j += ", \"range\": [" + JsonNumF(a.rangeStart) + ", " + JsonNumF(a.rangeEnd) + "]";
  j += ", \"keys\": " + std::to_string(a.GetKeyCnt());
  j += ", \"bones\": " + std::to_string(a.GetBoneCnt());
  j += std::string(", \"packed_transl\": ") + (a.hasTransl ? JsonBool(a.packedTransl) : "null");
  j += std::string(", \"packed_quat\": ") + (a.hasQuat ? JsonBool(a.packedQuat) : "null");
  j += ", \"masks\": [";
  for (std::size_t i = 0; i < a.maskNames.size(); ++i) {
    j += (i ? ", " : "") + std::string("{\"name\": ") + JsonStr(a.maskNames[i]) +
         ", \"weight\": " + JsonNumF(a.maskWeights[i]) + "}";
  }
  j += "]}";
  if (r) {
    j += ",\n  \"bones\": [";
    for (std::size_t i = 0; i < r->bones.size(); ++i) {
      const BoneReport& b = r->bones[i];
      const auto err = [&](double v) { return b.kept ? JsonNum(v) : std::string("null"); };
      // Times are the file's float key times: written in their float form.
      const auto time = [&](double v) {
        return b.kept ? JsonNumF(static_cast<float>(v)) : std::string("null");
      };
      const auto moved = [&](double v) { return b.kept ? std::string("null") : JsonNum(v); };
      j += std::string(i ? "," : "") + "\n    {\"name\": " + JsonStr(b.name) +
           ", \"kept\": " + JsonBool(b.kept);
      j += ", \"rot_err_max_deg\": " + err(b.rotErrMax) + ", \"rot_err_p99_deg\": " + err(b.rotErrP99) +
           ", \"rot_err_max_time\": " + time(b.rotErrMaxTime);
      j += ", \"transl_err_max\": " + err(b.translErrMax) + ", \"transl_err_p99\": " + err(b.translErrP99) +
           ", \"transl_err_max_time\": " + time(b.translErrMaxTime);
      j += ", \"moved_transl_max\": " + moved(b.movedTransl) +
           ", \"moved_rot_max_deg\": " + moved(b.movedRotDeg);
      const auto obj = [&](double v) { return r->hasSkeleton ? JsonNum(v) : std::string("null"); };
      j += ", \"obj_err_max\": " + obj(b.objErrMax) + ", \"obj_err_p99\": " + obj(b.objErrP99) +
           ", \"obj_err_max_time\": " +
           (r->hasSkeleton ? JsonNumF(static_cast<float>(b.objErrMaxTime)) : std::string("null")) + "}";
    }
    j += "\n  ],\n  \"overall\": {";
    j += "\"rot_err_max_deg\": " + JsonNum(r->rotErrMax) + ", \"rot_err_p99_deg\": " + JsonNum(r->rotErrP99);
    j += ", \"transl_err_max\": " + JsonNum(r->translErrMax) +
         ", \"transl_err_p99\": " + JsonNum(r->translErrP99);
    j += ", \"worst_bone\": " + (r->worstBone.empty() ? std::string("null") : JsonStr(r->worstBone));
    const bool obj = r->hasSkeleton;
    j += ", \"obj_err_max\": " + (obj ? JsonNum(r->objErrMax) : "null") +
         ", \"obj_err_p99\": " + (obj ? JsonNum(r->objErrP99) : "null") +
         ", \"obj_err_max_time\": " + (obj ? JsonNumF(static_cast<float>(r->objErrMaxTime)) : "null");
    j += ", \"shell\": " + (obj ? JsonNum(r->shell.distance) : "null") + ", \"meters_per_unit\": " +
         (r->metersPerUnit > 0.0 ? JsonNumF(static_cast<float>(r->metersPerUnit)) : "null") + "}";
  }
  return j + "\n}\n";
}
