// The common reader of both encodings: lenient sequential reading on top of
// each encoding's look-ahead, and the reports of parse, type and order errors.
#include "util/kvt/util_kvt_reader.h"

namespace {

const char* const kErrDesc[qvl_KvtErrCount] = {
    "no error",
    "a value or a key name",
    "a key name",
    "'}' before the end of the file",
    "a number",
    "an integer within the 32-bit range",
    "a float within the float range",
    "'\"' closing the string before the end of the file",
    "'\"' closing the string before the end of the line",
    "an escape \\\" \\\\ \\n \\r \\t or \\xHH",
    "at most 256 nested chunks",
    "a string without a zero byte",
    "format version 1",
    "more data",
    "a known tag",
    "a count that fits the bytes left",
    "a name defined before",
    "a valid key name",
    "the end of the data",
    "a key name or the end of the chunk",
    "at most 256 nested chunks",
    "a string without a zero byte",
};

}  // namespace

const char* qvl_KvtErrDesc(int code) {
  return code >= 0 && code < qvl_KvtErrCount ? kErrDesc[code] : "an unknown error";
}

qvl_CUtilKvtReader::qvl_CUtilKvtReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file,
                                       std::string_view data)
    : m_begin(data.data()),
      m_end(data.data() + data.size()),
      m_p(m_begin),
      m_tokStart(m_begin),
      m_tokEnd(m_begin),
      m_handler(RefAddOf(handler)),
      m_file(file) {}

qvl_CUtilKvtReader::~qvl_CUtilKvtReader() {
  RefReleaseOf(m_handler);
}

void qvl_CUtilKvtReader::Report(const qvl_CUtilMsg& msg) {
  qvl_CUtilMsgHandler::ReportError(m_handler, msg);
}

void qvl_CUtilKvtReader::Fail(int code, const char* p, std::string_view found) {
  if (m_failed) return;
  m_failed = true;
  m_peeked = false;
  m_item = qvl_KvtItemEnd;
  m_errCode = code;
  m_errPos = PosOf(p);
  bool binary = code >= qvl_KvtErrBinVersion;
  qvl_CUtilMsg msg(binary ? "util/kvt/util_kvt_binary.corrupt" : "util/kvt/util_kvt_text.syntax",
                   "Expected [1], found [2].");
  msg.AddInfo(m_errPos.ToText(m_file));
  msg.AddInfo(qvl_KvtErrDesc(code));
  msg.AddInfo(qvl_CUtilStr(found));
  Report(msg);
}

void qvl_CUtilKvtReader::FailQuoted(int code, const char* p, const char* from, const char* to) {
  // A message quotes at most 40 bytes of a token (a number may be a megabyte of digits).
  constexpr std::ptrdiff_t kMaxQuoted = 40;
  std::string found;
  found += '\'';
  found.append(from, to - from > kMaxQuoted ? from + kMaxQuoted : to);
  if (to - from > kMaxQuoted) found += "...";
  found += '\'';
  Fail(code, p, found);
}

bool qvl_CUtilKvtReader::EnterDepth(const char* p) {
  if (m_depth + m_emptyDepth >= qvl_KvtMaxDepth) {
    Fail(m_binary ? qvl_KvtErrBinNesting : qvl_KvtErrNesting, p, "a deeper chunk");
    return false;
  }
  return true;
}

qvl_CUtilStr qvl_CUtilKvtReader::InternName(std::string_view name) {
  auto it = m_names.find(name);
  if (it != m_names.end()) return it->second;
  qvl_CUtilStr str(name);
  // The map's key views the shared storage itself, which lives as long as the entry.
  if (m_names.size() < 4096) m_names.emplace(str.View(), str);
  return str;
}

int qvl_CUtilKvtReader::TypeOfItem(int item) {
  switch (item) {
    case qvl_KvtItemInt:
      return qvl_KvtTypeInt;
    case qvl_KvtItemFloat:
      return qvl_KvtTypeFloat;
    case qvl_KvtItemStr:
      return qvl_KvtTypeStr;
    case qvl_KvtItemOpen:
      return qvl_KvtTypeChunk;
    default:
      return qvl_KvtTypeNone;
  }
}

void qvl_CUtilKvtReader::TypeError(int expected, int found) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.type", "Key '[1]' expects [2], found [3].");
  msg.AddInfo(PosOf(PeekStart()).ToText(m_file));
  msg.AddInfo(m_keyStart ? NameAt(m_keyStart) : qvl_CUtilStr());
  msg.AddInfo(qvl_KvtTypeDesc(expected));
  msg.AddInfo(qvl_KvtTypeDesc(found));
  Report(msg);
}

void qvl_CUtilKvtReader::MissingValue(int expected) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.missing", "Key '[1]' expects [2], found no further value.");
  msg.AddInfo(PosOf(PeekStart()).ToText(m_file));
  msg.AddInfo(m_keyStart ? NameAt(m_keyStart) : qvl_CUtilStr());
  msg.AddInfo(qvl_KvtTypeDesc(expected));
  Report(msg);
}

void qvl_CUtilKvtReader::Misuse(const char* what) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.order", "Reading out of order: [1].");
  msg.AddInfo(GetNextPos().ToText(m_file));
  msg.AddInfo(what);
  Report(msg);
}

qvl_CUtilStr qvl_CUtilKvtReader::GetInfo() {
  return PosOf(m_keyStart ? m_keyStart : m_begin).ToText(m_file);
}
