// The console texts of animinspect.
#include "tool/animinspect/tool_animinspect_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kRadToDeg = 57.295779513082320876798;  // 180 / π

// printf into a std::string (lines stay far below the buffer).
template <class... A>
std::string Fmt(const char* format, A... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

}  // namespace

std::string FormatNum(double v) {
  if (std::isnan(v)) return "-";
  if (v == 0.0) return "0";  // also −0
  return Fmt("%.6g", v);
}

std::vector<std::string> SummaryLines(const RuntimeAnim& a) {
  std::vector<std::string> out;
  const int keyCnt = a.GetKeyCnt();
  const int boneCnt = a.GetBoneCnt();
  out.push_back("File " + Quoted(a.file) + ": " + (a.binary ? "binary" : "text") + ", " +
                std::to_string(a.bytes) + " bytes");
  out.push_back("Range: " + FormatNum(a.rangeStart) + " to " + FormatNum(a.rangeEnd));
  std::string keys = "Keys: " + std::to_string(keyCnt);
  if (keyCnt >= 2) {
    std::vector<double> gaps;
    for (int k = 1; k < keyCnt; ++k) gaps.push_back(static_cast<double>(a.keyTimes[k]) - a.keyTimes[k - 1]);
    std::sort(gaps.begin(), gaps.end());
    keys += ", spacing smallest " + FormatNum(gaps.front()) + ", largest " + FormatNum(gaps.back()) +
            ", typical " + FormatNum(gaps[gaps.size() / 2]);
  }
  out.push_back(keys);
  out.push_back("Bones: " + std::to_string(boneCnt));
  const auto channel = [](bool has, bool packed) { return has ? (packed ? "packed" : "plain") : "none"; };
  out.push_back(std::string("Channels: translation ") + channel(a.hasTransl, a.packedTransl) + ", rotation " +
                channel(a.hasQuat, a.packedQuat));
  const double entries = static_cast<double>(keyCnt) * boneCnt;
  out.push_back("Bytes per key and bone: " +
                (entries > 0 ? FormatNum(static_cast<double>(a.bytes) / entries) : std::string("-")));
  std::string masks = "Masked bones: " + std::to_string(a.maskNames.size());
  for (std::size_t i = 0; i < a.maskNames.size(); ++i) {
    masks += (i == 0 ? ": " : ", ") + a.maskNames[i] + " " + FormatNum(a.maskWeights[i]);
  }
  out.push_back(masks);
  return out;
}

std::vector<std::string> BoneLines(const RuntimeAnim& a) {
  std::vector<std::string> out;
  out.push_back(Fmt("%-24s %8s %14s %14s", "bone", "mask", "transl max", "rot max (deg)"));
  const Quatd identity{0.0, 0.0, 0.0, 1.0};
  for (int b = 0; b < a.GetBoneCnt(); ++b) {
    double transl = 0.0;
    double rot = 0.0;
    for (int k = 0; k < a.GetKeyCnt(); ++k) {
      const PoseD p = a.GetKey(k, b);
      transl = std::max(transl, TranslDistance(p.transl, Vector3d{0.0, 0.0, 0.0}));
      rot = std::max(rot, RotationAngleDeg(p.quat, identity));
    }
    out.push_back(Fmt("%-24s %8s %14s %14s", a.boneNames[b].c_str(),
                      FormatNum(a.GetMaskWeight(a.boneNames[b])).c_str(), FormatNum(transl).c_str(),
                      FormatNum(rot).c_str()));
  }
  return out;
}

std::vector<std::string> PoseLines(const RuntimeAnim& a, double t) {
  std::vector<std::string> out;
  out.push_back("Pose at time " + FormatNum(t) + ":");
  out.push_back(
      Fmt("%-24s %-36s %-44s %s", "bone", "translation", "rotation x y z w", "angle (deg) about axis"));
  for (int b : a.byName) {
    const PoseD p = a.Sample(b, t);
    Quatd q = p.quat;
    if (q.w < 0.0) q = Quatd{-q.x, -q.y, -q.z, -q.w};
    const double s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    const double angle = 2.0 * std::atan2(s, q.w) * kRadToDeg;
    const Vector3d axis = s > 0.0 ? Vector3d{q.x / s, q.y / s, q.z / s} : Vector3d{1.0, 0.0, 0.0};
    out.push_back(
        Fmt("%-24s %-36s %-44s %s about %s %s %s", a.boneNames[b].c_str(),
            (FormatNum(p.transl.x) + " " + FormatNum(p.transl.y) + " " + FormatNum(p.transl.z)).c_str(),
            (FormatNum(q.x) + " " + FormatNum(q.y) + " " + FormatNum(q.z) + " " + FormatNum(q.w)).c_str(),
            FormatNum(angle).c_str(), FormatNum(axis.x).c_str(), FormatNum(axis.y).c_str(),
            FormatNum(axis.z).c_str()));
  }
  return out;
}

std::vector<std::string> ReportLines(const ErrorReport& r) {
  std::vector<std::string> out;
  out.push_back("Error report against animation " + Quoted(r.animPath) + " relative to " + Quoted(r.refPath) +
                ":");
  out.push_back(Fmt("%-24s %-7s %12s %9s %12s %12s %9s %12s", "bone", "", "rot max", "at", "rot p99",
                    "transl max", "at", "transl p99"));
  for (const BoneReport& b : r.bones) {
    if (b.kept) {
      out.push_back(Fmt("%-24s %-7s %12s %9s %12s %12s %9s %12s", b.name.c_str(), "kept",
                        FormatNum(b.rotErrMax).c_str(), FormatNum(b.rotErrMaxTime).c_str(),
                        FormatNum(b.rotErrP99).c_str(), FormatNum(b.translErrMax).c_str(),
                        FormatNum(b.translErrMaxTime).c_str(), FormatNum(b.translErrP99).c_str()));
    } else {
      out.push_back(Fmt("%-24s %-7s moved at most %s units and %s deg (tolerances %s units, %s = %s deg)",
                        b.name.c_str(), b.missing ? "MISSING" : "dropped", FormatNum(b.movedTransl).c_str(),
                        FormatNum(b.movedRotDeg).c_str(), FormatNum(r.epsTransl).c_str(),
                        FormatNum(r.epsQuat).c_str(), FormatNum(ToleranceAngleDeg(r.epsQuat)).c_str()));
    }
  }
  std::string worst = "Worst bones:";
  const std::vector<const BoneReport*> w = WorstBones(r, 5);
  for (std::size_t i = 0; i < w.size(); ++i) {
    worst += (i == 0 ? " " : ", ") + w[i]->name + " " + FormatNum(w[i]->rotErrMax) + " deg";
  }
  if (w.empty()) worst += " none (no kept bones)";
  out.push_back(worst);
  out.push_back("Overall: rotation error max " + FormatNum(r.rotErrMax) + " deg, p99 " +
                FormatNum(r.rotErrP99) + " deg; translation error max " + FormatNum(r.translErrMax) +
                ", p99 " + FormatNum(r.translErrP99) + "; worst bone " +
                (r.worstBone.empty() ? std::string("none") : Quoted(r.worstBone)));
  out.push_back(
      "(rotation errors in degrees, translation errors in the file's units, times of the largest error)");
  if (!r.hasSkeleton) {
    out.push_back(
        "Object-space error: not measured; it needs a \"parent\" key in every path of the reference "
        "whose bone has a parent (animimport writes them).");
    return out;
  }
  const bool cm = r.metersPerUnit > 0.0;
  const double toCm = 100.0 * r.metersPerUnit;
  out.push_back("Object-space error, at each joint and at " + FormatNum(r.shell.distance) +
                " units from it along its axes (shell: " + ShellText(r) + "):");
  std::string head = Fmt("%-24s %-7s %12s %9s %12s", "bone", "", "obj max", "at", "obj p99");
  if (cm) head += Fmt(" %12s %12s", "max cm", "p99 cm");
  out.push_back(head);
  for (const BoneReport& b : r.bones) {
    std::string line = Fmt(
        "%-24s %-7s %12s %9s %12s", b.name.c_str(), b.kept ? "kept" : (b.missing ? "MISSING" : "dropped"),
        FormatNum(b.objErrMax).c_str(), FormatNum(b.objErrMaxTime).c_str(), FormatNum(b.objErrP99).c_str());
    if (cm)
      line += Fmt(" %12s %12s", FormatNum(b.objErrMax * toCm).c_str(), FormatNum(b.objErrP99 * toCm).c_str());
    out.push_back(line);
  }
  std::string objWorst = "Worst bones by object-space error:";
  const std::vector<const BoneReport*> ow = WorstBonesByObjErr(r, 5);
  for (std::size_t i = 0; i < ow.size(); ++i) {
    objWorst += (i == 0 ? " " : ", ") + ow[i]->name + " " + FormatNum(ow[i]->objErrMax);
    if (cm) objWorst += " (" + FormatNum(ow[i]->objErrMax * toCm) + " cm)";
  }
  if (ow.empty()) objWorst += " none (no bones)";
  out.push_back(objWorst);
  std::string overall = "Overall: object-space error max " + FormatNum(r.objErrMax) + " at " +
                        FormatNum(r.objErrMaxTime) + ", p99 " + FormatNum(r.objErrP99);
  if (cm)
    overall += " (" + FormatNum(r.objErrMax * toCm) + " cm, p99 " + FormatNum(r.objErrP99 * toCm) + " cm)";
  overall += "; worst bone " + (r.objWorstBone.empty() ? std::string("none") : Quoted(r.objWorstBone));
  out.push_back(overall);
  out.push_back(
      std::string("(object-space errors in the file's units") + (cm ? " and in centimetres" : "") +
      ": the largest distance between the source's and the file's pose of the joint and of its three "
      "shell points, the whole skeleton posed at every key time of the source)");
  return out;
}

std::string ShellText(const ErrorReport& r) {
  switch (r.shell.source) {
    case ShellSource::kOption:
      return "-shell " + FormatNum(r.shell.distance);
    case ShellSource::kUnit:
      return "the default " + FormatNum(kShellMeters * 100.0) + " cm at " + FormatNum(r.metersPerUnit) +
             " m per unit";
    case ShellSource::kBox:
      break;
  }
  if (!(r.shell.boxDiagonal > 0.0 && std::isfinite(r.shell.boxDiagonal)))
    return "the default 1 unit: the rest pose's joints give no size and the reference no unit";
  return "the default " + FormatNum(kShellBoxFraction * 100.0) + "% of the diagonal " +
         FormatNum(r.shell.boxDiagonal) +
         " of the box around the rest pose's joints; the reference gives no unit";
}
