// The error report: the source animation's relative pose of every bone at its
// own key times, compared with what the runtime file gives at those times,
// and, with a skeleton, the object-space error of every bone.
#pragma once

#include <string>
#include <vector>

#include "util/anim/util_anim_job.h"
#include "util/anim/util_anim_runtime.h"
#include "util/anim/util_anim_skeleton.h"
#include "util/mempool/util_mempool_pool.h"
#include "util/msg/util_msg_handler.h"
#include "util/str/util_str_str.h"

// One bone of the animation. Errors are in degrees (rotation) and the file's
// units (translation); times are the source key times where the largest
// error occurs (the first such key on ties).
struct BoneReport {
  std::string name;
  bool kept = false;     // the runtime file holds the bone
  bool missing = false;  // not held, yet it moves beyond the tolerances (an error)
  // Kept bones: largest error, its time, and the 99th percentile by nearest rank.
  double rotErrMax = 0.0;
  double rotErrMaxTime = 0.0;
  double rotErrP99 = 0.0;
  double translErrMax = 0.0;
  double translErrMaxTime = 0.0;
  double translErrP99 = 0.0;
  // Every bone: how far the source moves it from the rest pose at most.
  double movedTransl = 0.0;
  double movedRotDeg = 0.0;
  // Kept bones: the rotation error at each rotation key, for the chart.
  std::vector<double> rotErrTimes;
  std::vector<double> rotErrs;
  // Every bone, with a skeleton: the object-space error (file units) at each
  // of ErrorReport::objTimes, its largest, the time of the largest (the first
  // on ties) and the 99th percentile by nearest rank.
  std::vector<double> objErrs;
  double objErrMax = 0.0;
  double objErrMaxTime = 0.0;
  double objErrP99 = 0.0;
};

struct ErrorReport {
  std::string animPath;  // resolved paths of the job's files
  std::string refPath;
  float epsTransl = 0.0f;  // the job's tolerances (epsQuat a 4-D distance)
  float epsQuat = 0.0f;
  std::vector<BoneReport> bones;  // every animation bone, ascending by name (bytes)
  // All kept bones at all their key times pooled; zero without kept bones.
  double rotErrMax = 0.0;
  double rotErrP99 = 0.0;
  double translErrMax = 0.0;
  double translErrP99 = 0.0;
  std::string worstBone;  // largest rotErrMax, ties by name; "" without kept bones

  // The object-space error, measured where the reference has a skeleton.
  bool hasSkeleton = false;
  double metersPerUnit = 0.0;    // of the reference; 0 where unknown
  ShellDistance shell;           // the shell distance used, and where it came from
  std::vector<double> objTimes;  // the source's key times, ascending
  // Every animation bone (kept and dropped) at every time pooled; zero without bones.
  double objErrMax = 0.0;
  double objErrMaxTime = 0.0;  // the worst bone's objErrMaxTime
  double objErrP99 = 0.0;
  std::string objWorstBone;  // largest objErrMax, ties by name; "" without bones
};

// The ⌈0.99·N⌉-th smallest of values (nearest rank; the largest when N < 100);
// 0 for none. Reorders values.
double NearestRankP99(std::vector<double>& values);

// The rotation tolerance eps (4-D distance to the identity) as an angle in
// degrees, 4·asin(eps / 2); eps ≥ 2 gives 360.
double ToleranceAngleDeg(double eps);

// The kept bones by descending rotErrMax, ties by name; at most count.
std::vector<const BoneReport*> WorstBones(const ErrorReport& report, int count);

// Every bone (kept and dropped) by descending objErrMax, ties by name; at most
// count; none without a skeleton.
std::vector<const BoneReport*> WorstBonesByObjErr(const ErrorReport& report, int count);

// Builds the report of job against runtime. refdir is the complete reference
// directory; the job's file paths are aligned to it as the converter does.
// Both files are loaded with the path animation reader (its reports go to
// handler). Each animation bone's relative path is measured before the
// tolerances snap it (snapped keys count as error); a bone that the file does
// not hold is dropped when its snapped path is the identity, and otherwise
// reported at level 2 ("tool/animinspect/tool_animinspect_report.missing_bone").
// A bone without a rest pose is reported (".ref_not_defined") and measured
// against the identity. Where the reference has a skeleton (at least one
// "parent" key; its errors are reported when it is read), every animation
// bone's object-space error is measured at every key time of the animation
// (ObjectSpaceClip) at shell distance shell (file units) or, for shell ≤ 0,
// at DefaultShellDistance. Pool memory holds the loaded paths until the
// caller releases it.
void BuildErrorReport(qvl_CUtilMsgHandler* handler, qvl_CUtilMemPool* pool, const qvl_CUtilStr& refdir,
                      const BoneAnimJob& job, const RuntimeAnim& runtime, double shell, ErrorReport* report);
