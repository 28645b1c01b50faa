// BVH reader: a tokenizer that tracks line and column, the hierarchy, and the
// motion lines turned into keys while they are read.
#include "tool/animimport/tool_animimport_bvh.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tool/animimport/tool_animimport_sample.h"
#include "util/msg/util_msg_msg.h"

namespace {

enum ChanKind : std::uint8_t { kPosX, kPosY, kPosZ, kRotX, kRotY, kRotZ };

struct BvhJoint {
  int node;
  std::vector<ChanKind> chans;
  int firstCol;  // index of the joint's first value in a frame line
};

class BvhParser {
 public:
  BvhParser(qvl_CUtilMsgHandler* handler, const std::string& file, std::string_view text, SourceModel* model)
      : m_handler(handler), m_file(file), m_text(text), m_model(model) {}

  bool Parse();

 private:
  // Skips blanks (and, with lines, line feeds); true when a token follows.
  bool SkipBlank(bool lines);
  // The next token (bytes up to a blank); empty at the end.
  std::string_view Token();
  // The rest of the current line without surrounding blanks.
  std::string_view RestOfLine();
  bool Expect(std::string_view word);
  bool Number(std::string_view tok, double* value);
  bool ReadNumber(double* value);
  bool Fail(const std::string& text);
  bool Fail(std::size_t at, const std::string& text);
  void Warn(const std::string& text);
  std::string Where(std::size_t at) const;

  bool ParseJoint(int parent, int depth);
  bool ParseMotion();

  qvl_CUtilMsgHandler* m_handler;
  const std::string& m_file;
  std::string_view m_text;
  SourceModel* m_model;
  std::size_t m_pos = 0;
  std::size_t m_tokPos = 0;  // start of the last token, for messages
  std::uint32_t m_line = 1;
  std::size_t m_lineStart = 0;
  std::vector<BvhJoint> m_joints;
  int m_colCnt = 0;
};

std::string BvhParser::Where(std::size_t at) const {
  // The line of at: counted from the current line backwards or forwards.
  std::uint32_t line = m_line;
  std::size_t lineStart = m_lineStart;
  if (at < lineStart) {
    line = 1;
    lineStart = 0;
    for (std::size_t i = 0; i < at; ++i) {
      if (m_text[i] == '\n') {
        ++line;
        lineStart = i + 1;
      }
    }
  }
  return m_file + ":" + std::to_string(line) + ":" + std::to_string(at - lineStart + 1);
}

bool BvhParser::Fail(std::size_t at, const std::string& text) {
  qvl_CUtilMsg msg("tool/animimport/tool_animimport_bvh.syntax", "[1]");
  msg.AddInfo(Where(at).c_str());
  msg.AddInfo(text.c_str());
  qvl_CUtilMsgHandler::ReportError(m_handler, msg);
  return false;
}

bool BvhParser::Fail(const std::string& text) {
  return Fail(m_tokPos, text);
}

void BvhParser::Warn(const std::string& text) {
  qvl_CUtilMsg msg("tool/animimport/tool_animimport_bvh.warning", "[1]");
  msg.AddInfo(Where(m_tokPos).c_str());
  msg.AddInfo(text.c_str());
  if (m_handler) m_handler->Report(qvl_MsgLevelWarning, msg);
}

bool BvhParser::SkipBlank(bool lines) {
  while (m_pos < m_text.size()) {
    const char c = m_text[m_pos];
    if (c == '\n') {
      if (!lines) return false;
      ++m_line;
      m_lineStart = m_pos + 1;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      return true;
    }
    ++m_pos;
  }
  return false;
}

std::string_view BvhParser::Token() {
  SkipBlank(true);
  m_tokPos = m_pos;
  while (m_pos < m_text.size()) {
    const char c = m_text[m_pos];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') break;
    ++m_pos;
  }
  return m_text.substr(m_tokPos, m_pos - m_tokPos);
}

std::string_view BvhParser::RestOfLine() {
  SkipBlank(false);
  m_tokPos = m_pos;
  std::size_t end = m_pos;
  while (end < m_text.size() && m_text[end] != '\n') ++end;
  m_pos = end;
  std::size_t last = end;
  while (last > m_tokPos && (m_text[last - 1] == ' ' || m_text[last - 1] == '\t' || m_text[last - 1] == '\r'))
    --last;
  return m_text.substr(m_tokPos, last - m_tokPos);
}

std::string Shown(std::string_view tok) {
  if (tok.empty()) return "the end of the file";
  // Appended piece by piece: GCC 12 warns wrongly about "'" + std::string.
  std::string out;
  out.reserve(48);
  out.append(1, '\'');
  out.append(tok.substr(0, 40));
  if (tok.size() > 40) out.append("...");
  out.append(1, '\'');
  return out;
}

bool BvhParser::Expect(std::string_view word) {
  const std::string_view tok = Token();
  if (tok == word) return true;
  return Fail("Expected '" + std::string(word) + "', found " + Shown(tok) + ".");
}

bool BvhParser::Number(std::string_view tok, double* value) {
  const char* b = tok.data();
  const char* e = b + tok.size();
  if (b != e && *b == '+') ++b;  // from_chars takes no plus sign
  const auto [ptr, ec] = std::from_chars(b, e, *value);
  if (ec != std::errc() || ptr != e || tok.empty() || !std::isfinite(*value)) {
    return Fail("Expected a finite number, found " + Shown(tok) + ".");
  }
  return true;
}

bool BvhParser::ReadNumber(double* value) {
  return Number(Token(), value);
}

bool BvhParser::ParseJoint(int parent, int depth) {
  if (depth > kBvhMaxDepth)
    return Fail("The hierarchy is nested deeper than " + std::to_string(kBvhMaxDepth) + ".");
  const std::string_view name = RestOfLine();
  if (name.empty()) return Fail("Expected a joint name.");
  if (name.size() > kBvhMaxNameLen)
    return Fail("The joint name is longer than " + std::to_string(kBvhMaxNameLen) + " bytes.");
  if (static_cast<int>(m_joints.size()) >= kBvhMaxJoints) {
    return Fail("The file declares more than " + std::to_string(kBvhMaxJoints) + " joints.");
  }
  const int node = static_cast<int>(m_model->nodes.size());
  m_model->nodes.push_back(Node{});
  m_model->nodes[node].name = std::string(name);
  m_model->nodes[node].parent = parent;
  const std::size_t jointIdx = m_joints.size();
  m_joints.push_back(BvhJoint{node, {}, m_colCnt});
  if (!Expect("{") || !Expect("OFFSET")) return false;
  Vector3d& off = m_model->nodes[node].transl;
  if (!ReadNumber(&off.x) || !ReadNumber(&off.y) || !ReadNumber(&off.z)) return false;
  for (;;) {
    const std::string_view tok = Token();
    if (tok == "}") return true;
    if (tok == "CHANNELS") {
      if (!m_joints[jointIdx].chans.empty()) return Fail("The joint has a second CHANNELS line.");
      double cnt = 0;
      if (!ReadNumber(&cnt)) return false;
      if (cnt != std::floor(cnt) || cnt < 0 || cnt > 6)
        return Fail("A joint has 0 to 6 channels, not " + Shown(m_text.substr(m_tokPos, m_pos - m_tokPos)) +
                    ".");
      static constexpr std::string_view kNames[] = {"Xposition", "Yposition", "Zposition",
                                                    "Xrotation", "Yrotation", "Zrotation"};
      for (int i = 0; i < static_cast<int>(cnt); ++i) {
        const std::string_view ch = Token();
        int kind = 0;
        while (kind < 6 && kNames[kind] != ch) ++kind;
        if (kind == 6)
          return Fail("Expected a channel name (Xposition ... Zrotation), found " + Shown(ch) + ".");
        for (ChanKind k : m_joints[jointIdx].chans) {
          if (k == kind) return Fail("The channel " + Shown(ch) + " is given twice.");
        }
        m_joints[jointIdx].chans.push_back(static_cast<ChanKind>(kind));
      }
      m_colCnt += static_cast<int>(cnt);
    } else if (tok == "JOINT") {
      if (!ParseJoint(node, depth + 1)) return false;
    } else if (tok == "End") {
      if (!Expect("Site") || !Expect("{") || !Expect("OFFSET")) return false;
      double v = 0;
      if (!ReadNumber(&v) || !ReadNumber(&v) || !ReadNumber(&v) || !Expect("}")) return false;
    } else {
      return Fail("Expected CHANNELS, JOINT, End Site or '}', found " + Shown(tok) + ".");
    }
  }
}

Quatd AxisQuat(ChanKind kind, double degrees) {
  const double half = degrees * (3.14159265358979323846 / 360.0);
  const double s = std::sin(half);
  const double c = std::cos(half);
  if (kind == kRotX) return Quatd{s, 0.0, 0.0, c};
  if (kind == kRotY) return Quatd{0.0, s, 0.0, c};
  return Quatd{0.0, 0.0, s, c};
}

bool BvhParser::ParseMotion() {
  if (!Expect("Frames:")) return false;
  double declared = 0;
  if (!ReadNumber(&declared)) return false;
  if (declared != std::floor(declared) || declared < 0 || declared > kBvhMaxFrames) {
    return Fail("The frame count must be a whole number from 0 to " +
                std::to_string(static_cast<long>(kBvhMaxFrames)) + ".");
  }
  const std::size_t declaredPos = m_tokPos;
  if (!Expect("Frame") || !Expect("Time:")) return false;
  double frameTime = 0;
  if (!ReadNumber(&frameTime)) return false;
  const std::size_t frameTimePos = m_tokPos;
  if (!(frameTime > 0)) return Fail("The frame time must be positive.");
  if (frameTime > static_cast<double>(std::numeric_limits<float>::max()))
    return Fail("The frame time " + Shown(m_text.substr(m_tokPos, m_pos - m_tokPos)) +
                " is beyond the range of a float, in which key times are written.");

  // One track per joint with channels; every track shares the frame times.
  auto times = std::make_shared<std::vector<double>>();
  Clip clip;
  std::vector<int> trackOf(m_joints.size(), -1);
  for (std::size_t j = 0; j < m_joints.size(); ++j) {
    if (m_joints[j].chans.empty()) continue;
    trackOf[j] = static_cast<int>(clip.tracks.size());
    clip.tracks.emplace_back();
    clip.tracks.back().node = m_joints[j].node;
  }
  // Storage grows with the lines read, never from the declared count alone.
  const std::size_t reserveFrames = static_cast<std::size_t>(
      std::min(declared, static_cast<double>(m_text.size() - m_pos) / (2.0 * std::max(m_colCnt, 1)) + 1));
  times->reserve(reserveFrames);
  std::vector<double> row(static_cast<std::size_t>(m_colCnt));
  std::size_t frames = 0;
  std::size_t extraPos = 0;
  while (SkipBlank(true)) {
    const std::size_t lineStart = m_pos;
    int col = 0;
    while (SkipBlank(false)) {
      const std::string_view tok = Token();
      if (col == m_colCnt)
        return Fail("The frame line has more than " + std::to_string(m_colCnt) + " values.");
      if (!Number(tok, &row[col])) return false;
      ++col;
    }
    if (col < m_colCnt) {
      m_tokPos = m_pos;
      return Fail("The frame line has " + std::to_string(col) + " values instead of " +
                  std::to_string(m_colCnt) + ".");
    }
    if (frames == static_cast<std::size_t>(declared)) extraPos = lineStart;
    times->push_back(static_cast<double>(frames) * frameTime);
    for (std::size_t j = 0; j < m_joints.size(); ++j) {
      if (trackOf[j] < 0) continue;
      const BvhJoint& joint = m_joints[j];
      NodeTrack& track = clip.tracks[trackOf[j]];
      // A position channel replaces that component of the OFFSET (exporters
      // write the offset plus the pose there); the others keep the OFFSET.
      Vector3d t = m_model->nodes[joint.node].transl;
      Quatd q{0.0, 0.0, 0.0, 1.0};
      bool hasPos = false;
      bool hasRot = false;
      for (std::size_t c = 0; c < joint.chans.size(); ++c) {
        const double v = row[joint.firstCol + c];
        switch (joint.chans[c]) {
          case kPosX:
            t.x = v;
            hasPos = true;
            break;
          case kPosY:
            t.y = v;
            hasPos = true;
            break;
          case kPosZ:
            t.z = v;
            hasPos = true;
            break;
          default:
            q = QuatMul(q, AxisQuat(joint.chans[c], v));
            hasRot = true;
            break;
        }
      }
      if (hasPos) track.transl.values.insert(track.transl.values.end(), {t.x, t.y, t.z});
      if (hasRot) track.rot.values.insert(track.rot.values.end(), {q.x, q.y, q.z, q.w});
    }
    ++frames;
  }
  if (frames != static_cast<std::size_t>(declared)) {
    m_tokPos = frames > declared ? extraPos : declaredPos;
    Warn("The header declares " + std::to_string(static_cast<long>(declared)) + " frames, the file holds " +
         std::to_string(frames) + "; all " + std::to_string(frames) + " are read.");
  }
  if (frames == 0) return true;
  // Key times are written as floats: they must still ascend, and fit.
  for (std::size_t k = 1; k < frames; ++k) {
    const float a = static_cast<float>((*times)[k - 1]), b = static_cast<float>((*times)[k]);
    if (b > a && b <= std::numeric_limits<float>::max()) continue;
    m_tokPos = frameTimePos;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g s", (*times)[k]);
    return Fail("The frame time puts frame " + std::to_string(k) + " at " + buf +
                (b > a ? ", beyond the range of a float" : ", not after frame " + std::to_string(k - 1)) +
                " once written as a float.");
  }
  for (NodeTrack& track : clip.tracks) {
    if (!track.transl.values.empty()) track.transl.times = times;
    if (!track.rot.values.empty()) track.rot.times = times;
  }
  m_model->clips.push_back(std::move(clip));
  return true;
}

bool BvhParser::Parse() {
  if (!Expect("HIERARCHY")) return false;
  std::string_view tok = Token();
  if (tok != "ROOT") return Fail("Expected 'ROOT', found " + Shown(tok) + ".");
  while (tok == "ROOT") {
    if (!ParseJoint(-1, 0)) return false;
    tok = Token();
  }
  if (tok != "MOTION") return Fail("Expected 'ROOT' or 'MOTION', found " + Shown(tok) + ".");
  return ParseMotion();
}

}  // namespace

bool ReadBvh(qvl_CUtilMsgHandler* handler, const std::string& file, std::string_view text,
             SourceModel* model) {
  BvhParser parser(handler, file, text, model);
  return parser.Parse();
}
