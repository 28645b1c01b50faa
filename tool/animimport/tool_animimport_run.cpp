// The import run: choose a reader by extension, select joints, name clips,
// check, bake scale and find the unit, then write every output or none.
#include "tool/animimport/tool_animimport_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tool/animimport/tool_animimport_assimp.h"
#include "tool/animimport/tool_animimport_bake.h"
#include "tool/animimport/tool_animimport_bvh.h"
#include "tool/animimport/tool_animimport_gltf.h"
#include "tool/animimport/tool_animimport_sample.h"
#include "tool/animimport/tool_animimport_write.h"
#include "util/file/util_file_cachedfile.h"
#include "util/file/util_file_destfile.h"
#include "util/file/util_file_filesystem.h"
#include "util/kvt/util_kvt_work.h"
#include "util/msg/util_msg_msg.h"

namespace {

// Counts the problems reported while it is registered.
class ErrorCounter : public qvl_CUtilMsgEval {
 public:
  void Eval(int level, const qvl_CUtilMsg&) override { m_cnt += qvl_MsgLevelIsError(level) ? 1 : 0; }
  int m_cnt = 0;
};

void Say(qvl_CUtilMsgHandler* handler, int level, const std::string& context, const char* key,
         const std::string& text) {
  ReportImportText(handler, level, "tool/animimport/tool_animimport_run.", context, key, text);
}

std::string Lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& path) {
  const std::string name = FileName(path);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string Extension(const std::string& path) {
  const std::string name = FileName(path);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : Lower(name.substr(dot));
}

std::string Fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// The largest |s - 1| over the components of scale values (every width-3
// value of ch, tangents of a cubic spline left out).
double ScaleDeviation(const Channel& ch) {
  double dev = 0;
  const std::size_t keys = ch.KeyCnt();
  const bool cubic = ch.interp == Interp::kCubicSpline;
  for (std::size_t k = 0; k < keys; ++k) {
    const double* v = ch.values.data() + k * (cubic ? 9 : 3) + (cubic ? 3 : 0);
    for (int i = 0; i < 3; ++i) dev = std::max(dev, std::fabs(v[i] - 1.0));
  }
  return dev;
}

// The scale tolerance: a component further than this from 1 is reported.
constexpr double kScaleTolerance = 0.001;

// The joint's own scale cannot be written; once per file, for the joint
// that is scaled most (where is the clip's name, or "" for the rest pose).
void WarnScale(qvl_CUtilMsgHandler* handler, const std::string& context, const std::string& joint,
               const std::string& where, double dev, int others) {
  Say(handler, qvl_MsgLevelWarning, context, "scale",
      "Joint \"" + joint + "\" has a scale that differs from 1 by up to " + Fmt(dev) + " (" +
          (where.empty() ? std::string("in the rest pose") : "in clip \"" + where + "\"") +
          (others > 0 ? "; " + std::to_string(others) + " more joints have a scale" : std::string()) +
          "); it is baked into the translations of the joints below, but the joint's own scale, which a "
          "skinned mesh would show, is dropped.");
}

// The size in metres of one written unit, or 0 where unknown: the source's
// unit (or -unit's) times the uniform scale above the top joints, over -scale.
double WrittenUnit(qvl_CUtilMsgHandler* handler, const std::string& src, const SourceModel& model,
                   const JointSet& joints, const ImportOptions& opt) {
  Vector3d above{1.0, 1.0, 1.0};
  const double aboveScale = ScaleAboveJoints(model, joints, &above);
  if (aboveScale <= 0) {
    Say(handler, qvl_MsgLevelWarning, src, "scale_above",
        "The nodes above the top joints scale the skeleton by " + Fmt(above.x) + " " + Fmt(above.y) + " " +
            Fmt(above.z) +
            " (not uniformly, or not alike for every top joint); that scale is dropped and rest.kvt gets "
            "no meters_per_unit.");
    return 0.0;
  }
  const double unit = opt.unit > 0 ? opt.unit : model.metersPerUnit;
  const double written = unit * aboveScale / opt.scale;
  if (written > 0) {
    Say(handler, qvl_MsgLevelInfo, "", "unit",
        "One unit of the written translations is " + Fmt(written) + " m" +
            (opt.unit > 0 ? std::string(" (from -unit).") : std::string(" (from the file).")));
  } else {
    Say(handler, qvl_MsgLevelInfo, "", "no_unit",
        "The source gives no unit: rest.kvt gets no meters_per_unit (-unit <metres> gives one).");
  }
  return written;
}

// Reports, before anything is written, an output larger than the limits:
// the frames (one joint at one key time) of each chosen clip, and of all of
// them together. False when a limit is passed.
bool CheckOutputSize(qvl_CUtilMsgHandler* handler, const std::string& src, const SourceModel& model,
                     const std::vector<int>& chosen, const std::vector<std::string>& names,
                     const std::vector<double>& starts, const std::vector<double>& ends, double fps) {
  std::uint64_t total = 0;
  bool ok = true;
  for (int c : chosen) {
    const Clip& clip = model.clips[c];
    std::uint64_t frames = 0;
    const std::uint64_t resampled = fps > 0 ? ResampleCnt(starts[c], ends[c], fps) : 0;
    for (const NodeTrack& t : clip.tracks) frames += fps > 0 ? resampled : TrackFrameCnt(t);
    total += frames;
    if (frames <= kMaxClipFrames) continue;
    Say(handler, qvl_MsgLevelError, src + " (clip " + names[c] + ")", "clip_too_large",
        "The clip would be written as " + std::to_string(frames) + " frames (" +
            std::to_string(clip.tracks.size()) + " joints" +
            (fps > 0 ? " x " + std::to_string(resampled) + " frames each" : std::string()) +
            "), more than the limit of " + std::to_string(kMaxClipFrames) + " frames per clip.");
    ok = false;
  }
  if (ok && total > kMaxImportFrames) {
    Say(handler, qvl_MsgLevelError, src, "import_too_large",
        "The import would write " + std::to_string(total) + " frames over " + std::to_string(chosen.size()) +
            " clips, more than the limit of " + std::to_string(kMaxImportFrames) + " frames per import.");
    ok = false;
  }
  return ok;
}

// The name of the reader ext selects, for messages: "glTF reader", "FBX reader".
std::string ReaderName(const std::string& ext) {
  if (ext == ".gltf" || ext == ".glb") return "glTF reader";
  if (ext == ".dae") return "Collada reader";
  std::string name;
  for (char c : ext.substr(ext.empty() ? 0 : 1))
    name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return name.empty() ? "asset library's reader" : name + " reader";
}

// Reads the source with the reader its extension selects; the third-party
// readers in a child process under limits.
bool ReadSource(qvl_CUtilMsgHandler* handler, const std::string& src, const ReaderLimits& limits,
                SourceModel* model) {
  const std::string ext = Extension(src);
  if (ext == ".bvh") {
    qvl_CUtilPtr<qvl_CUtilCachedFile> file(new qvl_CUtilCachedFile(handler, "", "", src.c_str(), 10, -1));
    if (!file->IsValid()) return false;
    return ReadBvh(handler, src, file->GetReadData(), model);
  }
  // The libraries give no system reason for a missing file; it is found out here.
  // Without blocking: a FIFO is refused by the reader instead of waited for.
  const int fd = ::open(src.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    Say(handler, qvl_MsgLevelError, "", "open_failed",
        "Cannot open \"" + src + "\" for reading: " + std::strerror(errno) + ".");
    return false;
  }
  ::close(fd);
  const bool gltf = ext == ".gltf" || ext == ".glb";
  return ReadIsolated(handler, src, ReaderName(ext), limits, gltf ? ReadGltf : ReadAssimp, model);
}

}  // namespace

int RunImport(qvl_CUtilMsgHandler* handler, const ImportOptions& opt,
              const std::function<void(const std::string&)>& listLine) {
  ErrorCounter counter;
  handler->RegisterBack(&counter);
  struct Unregister {
    qvl_CUtilMsgHandler* h;
    ErrorCounter* c;
    ~Unregister() { h->Unregister(c); }
  } unregister{handler, &counter};

  const std::string& src = opt.src;
  Say(handler, qvl_MsgLevelInfo, "", "importing", "Importing \"" + src + "\"...");
  SourceModel model;
  if (!ReadSource(handler, src, opt.reader, &model) || counter.m_cnt > 0) return counter.m_cnt;

  const JointSet joints = SelectJoints(model);
  const std::vector<std::string> names = NameClips(model, Stem(src));
  if (CheckModel(handler, src, model, joints, names, opt.scale) > 0) return counter.m_cnt;
  if (joints.nodes.empty()) {
    Say(handler, qvl_MsgLevelError, src, "no_skeleton",
        "The file has no skeleton: no node is animated or named as a bone by a skin.");
    return counter.m_cnt;
  }

  // The clips to import.
  std::vector<int> chosen;
  for (std::size_t c = 0; c < model.clips.size(); ++c) {
    if (opt.clip.empty() || names[c] == opt.clip) chosen.push_back(static_cast<int>(c));
  }
  if (!opt.clip.empty() && chosen.empty()) {
    std::string there;
    for (const std::string& n : names) there += (there.empty() ? "\"" : ", \"") + n + "\"";
    Say(handler, qvl_MsgLevelError, src, "unknown_clip",
        "There is no clip \"" + opt.clip + "\"; the file's clips are: " + (there.empty() ? "none" : there) +
            ".");
    return counter.m_cnt;
  }
  std::vector<double> starts(model.clips.size(), 0.0);
  std::vector<double> ends(model.clips.size(), 0.0);
  for (int c : chosen) {
    ClipRange(model.clips[c], &starts[c], &ends[c]);
    if (opt.fps > 0 && (ends[c] - starts[c]) * opt.fps > kMaxResampledFrames) {
      Say(handler, qvl_MsgLevelError, src + " (clip " + names[c] + ")", "too_many_frames",
          "-fps " + Fmt(opt.fps) + " gives more than " + Fmt(kMaxResampledFrames) + " frames per joint.");
    }
  }
  if (counter.m_cnt > 0) return counter.m_cnt;
  if (!CheckOutputSize(handler, src, model, chosen, names, starts, ends, opt.fps)) return counter.m_cnt;

  if (opt.list) {
    for (int c : chosen) {
      std::vector<double> keys;
      for (const NodeTrack& t : model.clips[c].tracks) {
        for (const Channel* ch : {&t.transl, &t.rot, &t.scale}) {
          if (!ch->IsEmpty()) keys.insert(keys.end(), ch->times->begin(), ch->times->end());
        }
      }
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
      listLine("clip " + names[c] + " duration " + Fmt(ends[c] - starts[c]) + " s, keys " +
               std::to_string(keys.size()) + ", joints " + std::to_string(model.clips[c].tracks.size()));
    }
    for (std::size_t j = 0; j < joints.nodes.size(); ++j) {
      const int p = joints.parents[j];
      listLine("joint " + model.nodes[joints.nodes[j]].name + " parent " +
               (p >= 0 ? model.nodes[joints.nodes[p]].name : std::string("-")));
    }
    return counter.m_cnt;
  }

  // The path format has no scale: it is baked into the translations below
  // each joint, and the joint's own scale is dropped, once said per file.
  {
    std::vector<double> dev(model.nodes.size(), 0.0);
    std::vector<std::string> where(model.nodes.size());  // the clip of the largest, "" for the rest pose
    auto note = [&](int node, double d, const std::string& w) {
      if (d > dev[node]) dev[node] = d, where[node] = w;
    };
    for (int node : joints.nodes) {
      const Vector3d& s = model.nodes[node].scale;
      note(node, std::max({std::fabs(s.x - 1), std::fabs(s.y - 1), std::fabs(s.z - 1)}), "");
    }
    for (int c : chosen) {
      for (const NodeTrack& t : model.clips[c].tracks) note(t.node, ScaleDeviation(t.scale), names[c]);
    }
    int worst = -1;
    int scaled = 0;
    for (int node : joints.nodes) {
      if (!(dev[node] > kScaleTolerance)) continue;
      ++scaled;
      if (worst < 0 || dev[node] > dev[worst]) worst = node;
    }
    if (worst >= 0) WarnScale(handler, src, model.nodes[worst].name, where[worst], dev[worst], scaled - 1);
  }
  const double metersPerUnit = WrittenUnit(handler, src, model, joints, opt);
  const std::uint64_t bakedKeys = BakedKeyBound(model, joints, chosen);
  if (bakedKeys > kMaxImportFrames) {
    Say(handler, qvl_MsgLevelError, src, "bake_too_large",
        "Baking the keyed scales into the translations below them could make " + std::to_string(bakedKeys) +
            " translation keys, more than the limit of " + std::to_string(kMaxImportFrames) +
            " frames per import.");
    return counter.m_cnt;
  }
  BakeScale(handler, src, &model, joints, chosen, names);
  // Baking adds translation keys where an ancestor's scale has keys: counted again.
  if (!CheckOutputSize(handler, src, model, chosen, names, starts, ends, opt.fps)) return counter.m_cnt;

  // Names cut to fit the file system are said, with the name they stand for.
  for (int c : chosen) {
    const std::string& given = model.clips[c].name.empty() ? Stem(src) : model.clips[c].name;
    if (SanitizeName(given).size() <= kMaxClipNameBytes ||
        (model.clips[c].name.empty() && model.clips.size() > 1))
      continue;
    Say(handler, qvl_MsgLevelWarning, src, "name_shortened",
        "The clip name \"" + SanitizeName(given) + "\" is longer than " + std::to_string(kMaxClipNameBytes) +
            " bytes; its files are named \"" + names[c] + ".kvt\" and \"" + names[c] + ".job.kvt\".");
  }

  Say(handler, qvl_MsgLevelInfo, "", "found",
      "Found " + std::to_string(joints.nodes.size()) + " joints and " +
          (model.clips.empty() ? std::string("no clips") : std::to_string(model.clips.size()) + " clips") +
          ".");

  // Every output goes to a temporary file first, written one at a time and
  // sealed (no descriptor, no buffer kept); they become final together only
  // when nothing failed.
  const std::string dir = opt.destDir + "/";
  if (!qvl_CUtilFilesystem::CreateFileDirRec(handler, "", (dir + "rest.kvt").c_str())) return counter.m_cnt;
  const int flags = opt.binary ? qvl_KvtFlagBinary : 0;
  std::vector<qvl_CUtilPtr<qvl_CUtilDestFile>> outputs;
  outputs.reserve(1 + 2 * chosen.size());
  auto open = [&](const std::string& path) {
    outputs.emplace_back(new qvl_CUtilDestFile(handler, "", "", path.c_str(), true, -1));
    return outputs.back().Get();
  };
  auto writer = [&](qvl_CUtilDestFile* file, const std::string& path) {
    qvl_CUtilKvtSeqWrite* w = qvl_CUtilKvtWork::CreateSeqWriteStream(handler, path.c_str(), file, flags);
    qvl_CUtilPtr<qvl_CUtilKvtSeqWrite> holder(w);
    qvl_CUtilPtrBase::RefReleaseOf(w);
    return holder;
  };
  {
    const std::string path = dir + "rest.kvt";
    qvl_CUtilDestFile* file = open(path);
    WriteRestFile(writer(file, path).Get(), model, joints, opt.scale, metersPerUnit);
    file->Seal();
  }
  std::vector<std::string> done;
  for (int c : chosen) {
    if (counter.m_cnt > 0) return counter.m_cnt;
    const std::string path = dir + names[c] + ".kvt";
    qvl_CUtilDestFile* file = open(path);
    std::string problem;
    const std::size_t frames = WriteClipFile(writer(file, path).Get(), model, joints, model.clips[c],
                                             starts[c], ends[c], opt.fps, opt.scale, &problem);
    file->Seal();
    if (!problem.empty()) {
      ReportImportText(handler, qvl_MsgLevelError, "tool/animimport/tool_animimport_write.",
                       src + " (clip " + names[c] + ")", "float_range", problem);
      return counter.m_cnt;
    }
    const std::string job = JobFileText(names[c]);
    qvl_CUtilDestFile* jobFile = open(dir + names[c] + ".job.kvt");
    jobFile->Write(job.data(), job.size());
    jobFile->Seal();
    done.push_back("Clip \"" + names[c] + "\": " + std::to_string(model.clips[c].tracks.size()) +
                   " joints, " + std::to_string(frames) + " frames, " + Fmt(starts[c]) + " to " +
                   Fmt(ends[c]) + " s.");
  }
  if (counter.m_cnt > 0) return counter.m_cnt;
  std::vector<qvl_CUtilDestFile*> files;
  for (auto& out : outputs) files.push_back(out.Get());
  qvl_CUtilDestFile::CloseAll(files.data(), files.size());
  if (counter.m_cnt > 0) return counter.m_cnt;
  for (const std::string& line : done) Say(handler, qvl_MsgLevelInfo, "", "clip", line);
  if (model.clips.empty())
    Say(handler, qvl_MsgLevelInfo, "", "no_clips", "The file holds no clips; only the rest pose is written.");
  Say(handler, qvl_MsgLevelInfo, "", "written",
      "Wrote " + std::to_string(outputs.size()) + " files into \"" + opt.destDir + "\".");
  return counter.m_cnt;
}
