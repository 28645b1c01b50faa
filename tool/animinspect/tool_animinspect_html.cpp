// The report as one self-contained HTML page: the embedded markup and
// script, and the clip's data as one JSON object.
#include "tool/animinspect/tool_animinspect_html.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tool/animinspect/tool_animinspect_json.h"
#include "tool/animinspect/tool_animinspect_text.h"

// The page's markup and script (generated from tool_animinspect_html_page.*).
extern const unsigned char kHtmlPageMarkup[];
extern const unsigned char kHtmlPageScript[];

namespace {

constexpr double kBoundMeters = 0.001;        // 0.1 cm where the unit is known
constexpr double kBoundBoxFraction = 0.0005;  // 0.05% of the rest pose's diagonal otherwise

// Base64 of the floats as little-endian float32, whatever the machine's order.
std::string Base64(const float* v, std::size_t n) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  bytes.reserve(n * 4);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t w;
    std::memcpy(&w, &v[i], 4);
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>((w >> (8 * k)) & 0xffu);
  }
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    const std::uint32_t b0 = static_cast<unsigned char>(bytes[i]);
    const std::uint32_t b1 = left > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0u;
    const std::uint32_t b2 = left > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0u;
    const std::uint32_t w = (b0 << 16) | (b1 << 8) | b2;
    out += kDigits[(w >> 18) & 63];
    out += kDigits[(w >> 12) & 63];
    out += left > 1 ? kDigits[(w >> 6) & 63] : '=';
    out += left > 2 ? kDigits[w & 63] : '=';
  }
  return out;
}

// The floats as a JSON string of base64.
std::string Base64(const std::vector<float>& v) {
  std::string out(1, '"');
  out += Base64(v.data(), v.size());
  out += '"';
  return out;
}

const char* ShellSourceName(ShellSource s) {
  switch (s) {
    case ShellSource::kOption:
      return "option";
    case ShellSource::kUnit:
      return "unit";
    case ShellSource::kBox:
      return "box";
  }
  return "option";
}

// The page's data: one JSON object (the script's reading of it is in
// tool_animinspect_html_page.js).
std::string PageData(const RuntimeAnim& a, const ErrorReport& r, const ClipPoses& p, const PageBound& bound) {
  std::string j = "{\"file\": " + JsonStr(a.file, true);
  j += ", \"encoding\": " + JsonStr(a.binary ? "binary" : "text", true);
  j += ", \"bytes\": " + std::to_string(a.bytes);
  j += ", \"range\": [" + JsonNumF(a.rangeStart) + ", " + JsonNumF(a.rangeEnd) + "]";
  j += ", \"fileBones\": " + std::to_string(a.GetBoneCnt());
  j += ", \"skeletonBones\": " + std::to_string(p.skeletonBoneCnt);
  j += std::string(", \"packedTransl\": ") + (a.hasTransl ? JsonBool(a.packedTransl) : "null");
  j += std::string(", \"packedQuat\": ") + (a.hasQuat ? JsonBool(a.packedQuat) : "null");
  j += std::string(", \"hasSkeleton\": ") + JsonBool(r.hasSkeleton);
  j += ", \"shell\": " + (r.hasSkeleton ? JsonNum(r.shell.distance) : "null");
  j += ", \"shellSource\": " + JsonStr(ShellSourceName(r.shell.source), true);
  j += ", \"metersPerUnit\": " + (r.metersPerUnit > 0.0 ? JsonNum(r.metersPerUnit) : "null");
  j += ", \"bound\": " + JsonNum(bound.distance) + ", \"boundSource\": " + JsonStr(bound.source, true);
  j += ", \"keyTimes\": " + Base64(a.keyTimes);
  j += ",\n\"bones\": [";
  for (std::size_t b = 0; b < p.names.size(); ++b) j += (b ? ", " : "") + JsonStr(p.names[b], true);
  j += "], \"parents\": [";
  for (std::size_t b = 0; b < p.parents.size(); ++b) j += (b ? ", " : "") + std::to_string(p.parents[b]);
  j += "], \"sourceTimes\": " + std::to_string(p.sourceTimeCnt) + ", \"step\": " + std::to_string(p.step);
  j += ",\n\"times\": " + Base64(p.times);
  j += ",\n\"source\": " + Base64(p.source);
  j += ",\n\"filePoses\": " + Base64(p.file);
  j += ",\n\"errors\": " + Base64(p.errors);
  // The report's table, with the JSON report's fields and numbers.
  j += ",\n\"table\": [";
  for (std::size_t i = 0; i < r.bones.size(); ++i) {
    const BoneReport& b = r.bones[i];
    const auto err = [&](double v) { return b.kept ? JsonNum(v) : std::string("null"); };
    const auto time = [&](double v) {
      return b.kept ? JsonNumF(static_cast<float>(v)) : std::string("null");
    };
    const auto obj = [&](double v) { return r.hasSkeleton ? JsonNum(v) : std::string("null"); };
    j += std::string(i ? ",\n" : "") + "{\"name\": " + JsonStr(b.name, true) +
         ", \"kept\": " + JsonBool(b.kept);
    j += ", \"rot_err_max_deg\": " + err(b.rotErrMax) + ", \"rot_err_p99_deg\": " + err(b.rotErrP99) +
         ", \"rot_err_max_time\": " + time(b.rotErrMaxTime);
    j += ", \"transl_err_max\": " + err(b.translErrMax) + ", \"transl_err_p99\": " + err(b.translErrP99) +
         ", \"transl_err_max_time\": " + time(b.translErrMaxTime);
    j += ", \"moved_transl_max\": " + (b.kept ? "null" : JsonNum(b.movedTransl)) +
         ", \"moved_rot_max_deg\": " + (b.kept ? "null" : JsonNum(b.movedRotDeg));
    j += ", \"obj_err_max\": " + obj(b.objErrMax) + ", \"obj_err_p99\": " + obj(b.objErrP99) +
         ", \"obj_err_max_time\": " +
         (r.hasSkeleton ? JsonNumF(static_cast<float>(b.objErrMaxTime)) : std::string("null")) + "}";
  }
  j += "],\n\"overall\": {\"obj_err_max\": " + (r.hasSkeleton ? JsonNum(r.objErrMax) : "null");
  j += ", \"obj_err_max_time\": " + (r.hasSkeleton ? JsonNumF(static_cast<float>(r.objErrMaxTime)) : "null");
  j += ", \"obj_worst_bone\": " +
       (r.objWorstBone.empty() ? std::string("null") : JsonStr(r.objWorstBone, true));
  j += ", \"rot_err_max_deg\": " + JsonNum(r.rotErrMax) + ", \"transl_err_max\": " + JsonNum(r.translErrMax);
  j += ", \"worst_bone\": " + (r.worstBone.empty() ? std::string("null") : JsonStr(r.worstBone, true)) + "}}";
  return j;
}

// Replaces the one marker in page by text.
void Fill(std::string& page, const char* marker, const std::string& text) {
  const std::size_t at = page.find(marker);
  if (at != std::string::npos) page.replace(at, std::strlen(marker), text);
}

}  // namespace

PageBound ChoosePageBound(double maxError, double metersPerUnit, double restDiagonal) {
  if (maxError >= 0.0) return {maxError, "-max-error " + FormatNum(maxError)};
  if (metersPerUnit > 0.0) return {kBoundMeters / metersPerUnit, "0.1 cm"};
  const double diag = restDiagonal > 0.0 && std::isfinite(restDiagonal) ? restDiagonal : 1.0;
  return {kBoundBoxFraction * diag, "0.05% of the rest pose's diagonal"};
}

std::string HtmlPage(const RuntimeAnim& anim, const ErrorReport& report, const ClipPoses& poses,
                     const PageBound& bound) {
  std::string page(reinterpret_cast<const char*>(kHtmlPageMarkup));
  // The script first: the data, filled in last, is never searched for a marker.
  Fill(page, "/*@SCRIPT@*/", reinterpret_cast<const char*>(kHtmlPageScript));
  Fill(page, "/*@DATA@*/", PageData(anim, report, poses, bound));
  return page;
}
