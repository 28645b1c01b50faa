// The error chart as plain SVG.
#include "tool/animinspect/tool_animinspect_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tool/animinspect/tool_animinspect_text.h"

namespace {

constexpr double kWidth = 960.0;
constexpr double kHeight = 660.0;  // without the object-space panel
constexpr double kTop3 = 720.0;    // object-space line chart, below the bars' names
constexpr double kBottom3 = 960.0;
constexpr double kHeightObj = 1020.0;  // with it
constexpr double kLeft = 80.0;         // plot area of both panels
constexpr double kRight = 760.0;       // the legend stands right of it
constexpr double kTop1 = 50.0;         // line chart
constexpr double kBottom1 = 330.0;
constexpr double kTop2 = 410.0;  // bar chart
constexpr double kBottom2 = 570.0;
const char* const kColours[] = {"#d62728", "#1f77b4", "#2ca02c", "#ff7f0e", "#9467bd"};

std::string N(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::string Esc(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

// The smallest of 1, 2, 5 times a power of ten at or above v (1 for v ≤ 0).
double NiceCeil(double v) {
  if (!(v > 0.0) || !std::isfinite(v)) return 1.0;
  const double p = std::pow(10.0, std::floor(std::log10(v)));
  const double f = v / p;
  return (f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0) * p;
}

std::string Text(double x, double y, const std::string& text, const char* anchor = "middle", int size = 12) {
  return "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\" text-anchor=\"" + anchor + "\" font-size=\"" +
         std::to_string(size) + "\">" + Esc(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const char* colour = "#000") {
  return "<line x1=\"" + N(x1) + "\" y1=\"" + N(y1) + "\" x2=\"" + N(x2) + "\" y2=\"" + N(y2) +
         "\" stroke=\"" + colour + "\" stroke-width=\"1\"/>\n";
}

// The object-space error over time of the five worst bones by it, on its own
// axis (file units), over the time axis [tMin, tMax] of the chart above
// (given by its kept bones, where it has any) widened to the source's times.
std::string ObjectSpacePanel(const ErrorReport& r, bool haveRange, double tMin, double tMax) {
  const std::vector<const BoneReport*> worst = WorstBonesByObjErr(r, 5);
  for (const double t : r.objTimes) {
    tMin = haveRange ? std::min(tMin, t) : t;
    tMax = haveRange ? std::max(tMax, t) : t;
    haveRange = true;
  }
  if (!(tMax > tMin)) tMax = tMin + 1.0;
  const double yMax = NiceCeil(worst.empty() ? 0.0 : worst.front()->objErrMax);
  const auto px = [&](double t) { return kLeft + (t - tMin) / (tMax - tMin) * (kRight - kLeft); };
  const auto py = [&](double e) { return kBottom3 - e / yMax * (kBottom3 - kTop3); };
  std::string s = Text(
      kWidth / 2, kTop3 - 20,
      "Object-space error over time of the worst bones (units, shell " + FormatNum(r.shell.distance) + ")",
      "middle", 15);
  s += Line(kLeft, kBottom3, kRight, kBottom3) + Line(kLeft, kTop3, kLeft, kBottom3);
  for (int i = 0; i <= 5; ++i) {
    const double t = tMin + (tMax - tMin) * i / 5.0;
    s += Line(px(t), kBottom3, px(t), kBottom3 + 5) + Text(px(t), kBottom3 + 20, FormatNum(t));
    const double e = yMax * i / 5.0;
    s += Line(kLeft - 5, py(e), kLeft, py(e)) + Line(kLeft, py(e), kRight, py(e), "#e0e0e0");
    s += Text(kLeft - 8, py(e) + 4, FormatNum(e), "end");
  }
  s += Text((kLeft + kRight) / 2, kBottom3 + 40, "time");
  s += "<text x=\"20\" y=\"" + N((kTop3 + kBottom3) / 2) +
       "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 20 " + N((kTop3 + kBottom3) / 2) +
       ")\">units</text>\n";
  for (std::size_t i = 0; i < worst.size(); ++i) {
    const BoneReport& b = *worst[i];
    s += "<polyline class=\"obj-series\" fill=\"none\" stroke=\"" + std::string(kColours[i]) +
         "\" stroke-width=\"1.5\" points=\"";
    for (std::size_t k = 0; k < b.objErrs.size() && k < r.objTimes.size(); ++k) {
      if (k) s += ' ';
      s += N(px(r.objTimes[k]));
      s += ',';
      s += N(py(b.objErrs[k]));
    }
    s += "\"><title>" + Esc(b.name) + "</title></polyline>\n";
    const double ly = kTop3 + 10 + 22.0 * static_cast<double>(i);
    s += "<rect x=\"" + N(kRight + 20) + "\" y=\"" + N(ly - 9) + "\" width=\"18\" height=\"10\" fill=\"" +
         kColours[i] + "\"/>\n";
    s += Text(kRight + 44, ly, b.name + " (" + FormatNum(b.objErrMax) + ")", "start");
  }
  if (worst.empty()) s += Text((kLeft + kRight) / 2, (kTop3 + kBottom3) / 2, "no bones");
  return s;
}

}  // namespace

std::string SvgChart(const ErrorReport& r) {
  const std::vector<const BoneReport*> worst = WorstBones(r, 5);
  std::vector<const BoneReport*> kept;
  double tMin = 0.0, tMax = 0.0;
  bool any = false;
  for (const BoneReport& b : r.bones) {
    if (!b.kept) continue;
    kept.push_back(&b);
    for (double t : b.rotErrTimes) {
      tMin = any ? std::min(tMin, t) : t;
      tMax = any ? std::max(tMax, t) : t;
      any = true;
    }
  }
  if (!(tMax > tMin)) tMax = tMin + 1.0;
  const double yMax = NiceCeil(worst.empty() ? 0.0 : worst.front()->rotErrMax);
  const auto px = [&](double t) { return kLeft + (t - tMin) / (tMax - tMin) * (kRight - kLeft); };
  const auto py = [&](double e) { return kBottom1 - e / yMax * (kBottom1 - kTop1); };

  const double height = r.hasSkeleton ? kHeightObj : kHeight;
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(kWidth) + "\" height=\"" + N(height) +
       "\" viewBox=\"0 0 " + N(kWidth) + " " + N(height) + "\" font-family=\"sans-serif\">\n";
  s += "<rect x=\"0\" y=\"0\" width=\"" + N(kWidth) + "\" height=\"" + N(height) + "\" fill=\"#fff\"/>\n";
  s += Text(kWidth / 2, 25, "Rotation error over time of the worst bones (degrees)", "middle", 15);

  // Axes and ticks of the line chart.
  s += Line(kLeft, kBottom1, kRight, kBottom1) + Line(kLeft, kTop1, kLeft, kBottom1);
  for (int i = 0; i <= 5; ++i) {
    const double t = tMin + (tMax - tMin) * i / 5.0;
    s += Line(px(t), kBottom1, px(t), kBottom1 + 5) + Text(px(t), kBottom1 + 20, FormatNum(t));
    const double e = yMax * i / 5.0;
    s += Line(kLeft - 5, py(e), kLeft, py(e)) + Line(kLeft, py(e), kRight, py(e), "#e0e0e0");
    s += Text(kLeft - 8, py(e) + 4, FormatNum(e), "end");
  }
  s += Text((kLeft + kRight) / 2, kBottom1 + 40, "time");
  s += "<text x=\"20\" y=\"" + N((kTop1 + kBottom1) / 2) +
       "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 20 " + N((kTop1 + kBottom1) / 2) +
       ")\">degrees</text>\n";

  // One polyline per worst bone, and the legend.
  for (std::size_t i = 0; i < worst.size(); ++i) {
    const BoneReport& b = *worst[i];
    s += "<polyline class=\"series\" fill=\"none\" stroke=\"" + std::string(kColours[i]) +
         "\" stroke-width=\"1.5\" points=\"";
    for (std::size_t k = 0; k < b.rotErrs.size(); ++k) {
      if (k) s += ' ';
      s += N(px(b.rotErrTimes[k]));
      s += ',';
      s += N(py(b.rotErrs[k]));
    }
    s += "\"><title>" + Esc(b.name) + "</title></polyline>\n";
    const double ly = kTop1 + 10 + 22.0 * static_cast<double>(i);
    s += "<rect x=\"" + N(kRight + 20) + "\" y=\"" + N(ly - 9) + "\" width=\"18\" height=\"10\" fill=\"" +
         kColours[i] + "\"/>\n";
    s += Text(kRight + 44, ly, b.name + " (" + FormatNum(b.rotErrMax) + ")", "start");
  }
  if (worst.empty()) s += Text((kLeft + kRight) / 2, (kTop1 + kBottom1) / 2, "no kept bones");

  // One bar per kept bone: its largest rotation error.
  s += Text(kWidth / 2, kTop2 - 20, "Largest rotation error per bone (degrees)", "middle", 15);
  s += Line(kLeft, kBottom2, kRight, kBottom2) + Line(kLeft, kTop2, kLeft, kBottom2);
  const auto pb = [&](double e) { return kBottom2 - e / yMax * (kBottom2 - kTop2); };
  for (int i = 0; i <= 2; ++i) {
    const double e = yMax * i / 2.0;
    s += Line(kLeft - 5, pb(e), kLeft, pb(e)) + Text(kLeft - 8, pb(e) + 4, FormatNum(e), "end");
  }
  const double slot = kept.empty() ? 0.0 : (kRight - kLeft) / static_cast<double>(kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    const double y = pb(kept[i]->rotErrMax);
    s += "<rect class=\"bar\" x=\"" + N(x + slot * 0.1) + "\" y=\"" + N(y) + "\" width=\"" + N(slot * 0.8) +
         "\" height=\"" + N(kBottom2 - y) + "\" fill=\"#1f77b4\"><title>" + Esc(kept[i]->name) + " " +
         FormatNum(kept[i]->rotErrMax) + "</title></rect>\n";
    // Names only where they fit under their bars.
    if (kept.size() <= 40) {
      const double cx = x + slot / 2;
      s += "<text x=\"" + N(cx) + "\" y=\"" + N(kBottom2 + 12) +
           "\" text-anchor=\"end\" font-size=\"10\" transform=\"rotate(-45 " + N(cx) + " " +
           N(kBottom2 + 12) + ")\">" + Esc(kept[i]->name) + "</text>\n";
    }
  }
  if (r.hasSkeleton) s += ObjectSpacePanel(r, any, tMin, tMax);
  return s + "</svg>\n";
}
