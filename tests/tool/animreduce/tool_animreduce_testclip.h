// Test clips for the reducer: a generated source (a chain of bones with a
// motion given per bone and frame) converted in process into a runtime file,
// read back with its job source, and the guarantee checked independently.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/tool/boneanim/tool_boneanim_testenv.h"
#include "tests/util/file/util_file_testdir.h"
#include "tool/animreduce/tool_animreduce_reduce.h"
#include "tool/boneanim/tool_boneanim_calc.h"
#include "util/anim/util_anim_write.h"

namespace animreduce_test {

// A local pose of the source: translation, then rotation (x, y, z, w).
struct LocalPose {
  double t[3];
  double q[4];
};

inline std::string Fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

// A source clip on disk and its runtime file in memory.
struct Clip {
  qvl_TestDir dir;
  boneanim_test::Env env;
  BoneAnimJob job{};
  JobSource source;
  RuntimeAnim runtime;
  std::string runtimeBytes;

  // Writes rest.kvt (bones "B0" … with rest translation (0, 1, 0), each the
  // child of the one before when chain) and anim.kvt (frames at fps, the
  // local pose of bone b at frame f from motion), converts them as boneanim
  // does (packed when compress, binary when binary) and loads the result and
  // the job's source.
  void Make(int bones, int frames, double fps, bool chain, bool compress, bool binary,
            const std::function<LocalPose(int b, int f)>& motion) {
    std::string rest = "format \"quorvel_path_5\"\ndata { meters_per_unit 1 path_array";
    std::string anim = "format \"quorvel_path_5\"\ndata { path_array";
    for (int b = 0; b < bones; ++b) {
      const std::string name = "B" + std::to_string(b);
      rest += "\n{ name \"" + name + "\"";
      if (chain && b > 0) rest += " parent \"B" + std::to_string(b - 1) + "\"";
      rest += " frame_array { key 0 transl 0 1 0 quat 0 0 0 1 } }";
      anim += "\n{ name \"" + name + "\" range 0 " + Fmt((frames - 1) / fps) + " frame_array";
      for (int f = 0; f < frames; ++f) {
        const LocalPose p = motion(b, f);
        anim += " { key " + Fmt(f / fps) + " transl " + Fmt(p.t[0]) + " " + Fmt(p.t[1]) + " " + Fmt(p.t[2]) +
                " quat " + Fmt(p.q[0]) + " " + Fmt(p.q[1]) + " " + Fmt(p.q[2]) + " " + Fmt(p.q[3]) + " }";
      }
      anim += " }";
    }
    qvl_TestDir::WriteFile(dir / "rest.kvt", rest + " }\n");
    qvl_TestDir::WriteFile(dir / "anim.kvt", anim + " }\n");
    job.ref_path = const_cast<char*>("rest.kvt");
    job.anim_path = const_cast<char*>("anim.kvt");
    job.do_transl = job.do_quat = true;
    job.compress = compress;
    job.identity_eps_transl = job.identity_eps_quat = 1e-7f;
    const qvl_CUtilStr refdir((dir.Path() + "/").c_str());
    const RelativeAnim* rel = CalcRelativeAnim(env.handler.Get(), env.pool.Get(), refdir, &job);
    qvl_CUtilPtr<qvl_CUtilMemStream> out(new qvl_CUtilMemStream());
    WriteRuntimeAnim(out.Get(), binary, rel);
    runtimeBytes = out->GetData();
    Load(runtimeBytes);
    LoadJobSource(env.handler.Get(), env.pool.Get(), refdir, job, &source);
    for (const auto& e : env.collector.GetEntries()) {
      ASSERT_LT(e.level, qvl_MsgLevelError) << boneanim_test::Env::Line(e.level, e.msg);
    }
  }

  // Replaces the runtime file by bytes.
  void Load(const std::string& bytes) {
    qvl_CUtilPtr<qvl_CUtilStream> s(new qvl_CUtilMemStream(bytes, "rt"));
    ASSERT_TRUE(LoadRuntimeAnim(env.handler.Get(), "", s.Get(), &runtime));
  }
};

// The guarantee measured without the reducer: every bone of source at every
// source time, posed from runtime and from reduced with the inspector's
// clip, err(reduced) ≤ max(bound, err(runtime)). Returns the number of
// violations (and reports the first).
inline int CountViolations(const JobSource& source, const RuntimeAnim& runtime, const RuntimeAnim& reduced,
                           double shell, double bound) {
  ObjectSpaceClip in, out;
  in.Init(source, runtime);
  out.Init(source, reduced);
  int bad = 0;
  for (const float t : in.GetTimes()) {
    in.Measure(t, shell);
    out.Measure(t, shell);
    for (int b = 0; b < in.GetBoneCnt(); ++b) {
      const double allowed = std::max(bound, in.GetErrors()[b]);
      if (out.GetErrors()[b] > allowed) {
        if (bad++ == 0)
          ADD_FAILURE() << "bone " << b << " at " << t << ": " << out.GetErrors()[b] << " > " << allowed;
      }
    }
  }
  return bad;
}

}  // namespace animreduce_test
