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
    "format version 1",
    "more data",
    "a known tag",
    "a count that fits the bytes left",
    "a name defined before",
    "a valid key name",
    "the end of the data",
    "a key name or the end of the chunk",
};

}  // namespace

const char* qvl_KvtErrDesc(int code) {
  return code >= 0 && code < qvl_KvtErrCount ? kErrDesc[code] : "an unknown error";
}

qvl_CUtilKvtReader::qvl_CUtilKvtReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file,
                                       std::string_view data)
    : m_begin(data.data()), m_end(data.data() + data.size()), m_handler(RefAddOf(handler)), m_file(file) {}

qvl_CUtilKvtReader::~qvl_CUtilKvtReader() { RefReleaseOf(m_handler); }

void qvl_CUtilKvtReader::Report(const qvl_CUtilMsg& msg) {
  if (!m_handler) throw msg;
  m_handler->Report(qvl_MsgLevelError, msg);
}

void qvl_CUtilKvtReader::Fail(int code, const char* p, std::string_view found) {
  if (m_failed) return;
  m_failed = true;
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

bool qvl_CUtilKvtReader::EnterDepth(const char* p) {
  if (m_depth + m_emptyDepth >= qvl_KvtMaxDepth) {
    Fail(qvl_KvtErrNesting, p, "a deeper chunk");
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
    case qvl_KvtItemInt: return qvl_KvtTypeInt;
    case qvl_KvtItemFloat: return qvl_KvtTypeFloat;
    case qvl_KvtItemStr: return qvl_KvtTypeStr;
    case qvl_KvtItemOpen: return qvl_KvtTypeChunk;
    default: return qvl_KvtTypeNone;
  }
}

void qvl_CUtilKvtReader::TypeError(int expected, int found) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.type", "Key '[1]' expects [2], found [3].");
  msg.AddInfo(PosOf(PeekStart()).ToText(m_file));
  msg.AddInfo(m_keyName);
  msg.AddInfo(qvl_KvtTypeDesc(expected));
  msg.AddInfo(qvl_KvtTypeDesc(found));
  Report(msg);
}

void qvl_CUtilKvtReader::MissingValue(int expected) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.missing", "Key '[1]' expects [2], found no further value.");
  msg.AddInfo(PosOf(PeekStart()).ToText(m_file));
  msg.AddInfo(m_keyName);
  msg.AddInfo(qvl_KvtTypeDesc(expected));
  Report(msg);
}

void qvl_CUtilKvtReader::Misuse(const char* what) {
  qvl_CUtilMsg msg("util/kvt/util_kvt_reader.order", "Reading out of order: [1].");
  msg.AddInfo(GetNextPos().ToText(m_file));
  msg.AddInfo(what);
  Report(msg);
}

qvl_CUtilStr qvl_CUtilKvtReader::GetInfo() { return PosOf(m_keyStart ? m_keyStart : m_begin).ToText(m_file); }

qvl_CUtilKvtPos qvl_CUtilKvtReader::GetNextPos() {
  Peek();
  return m_failed ? m_errPos : PosOf(PeekStart());
}

int qvl_CUtilKvtReader::IsKey() {
  if (m_failed || m_emptyDepth > 0) return 0;
  if (m_keyOpen) EndKey();
  int item = Peek();
  switch (item) {
    case qvl_KvtItemName: return 1;
    case qvl_KvtItemClose:
      if (m_depth == 0) Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrExpectedKey, PeekStart(), PeekText());
      return 0;
    case qvl_KvtItemEnd:
      if (m_depth > 0 && !m_failed) {
        Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrUnclosedChunk, PeekStart(), PeekText());
      }
      return 0;
    default:
      Fail(m_binary ? qvl_KvtErrBinStructure : qvl_KvtErrExpectedKey, PeekStart(), PeekText());
      return 0;
  }
}

qvl_CUtilStr qvl_CUtilKvtReader::ReadKey() {
  if (m_failed || m_emptyDepth > 0) return {};
  if (IsKey() <= 0) {
    if (!m_failed) Misuse("a key read where none follows");
    return {};
  }
  m_keyStart = PeekStart();
  m_keyName = TakeName();
  m_keyOpen = true;
  return m_keyName;
}

void qvl_CUtilKvtReader::EndKey() {
  if (m_emptyDepth > 0 || !m_keyOpen) return;
  while (!m_failed && IsValue() > 0) SkipValue();
  m_keyOpen = false;
}

int qvl_CUtilKvtReader::IsValue() {
  if (m_failed || m_emptyDepth > 0 || !m_keyOpen) return 0;
  int item = Peek();
  return item >= qvl_KvtItemInt && item <= qvl_KvtItemOpen ? 1 : 0;
}

int qvl_CUtilKvtReader::PeekValueType() { return IsValue() > 0 ? TypeOfItem(Peek()) : qvl_KvtTypeNone; }

void qvl_CUtilKvtReader::SkipValue() {
  switch (Peek()) {
    case qvl_KvtItemInt: TakeInt(); break;
    case qvl_KvtItemFloat: TakeFloat(); break;
    case qvl_KvtItemStr: SkipStr(); break;
    case qvl_KvtItemOpen: {
      if (!EnterDepth(PeekStart())) return;
      TakeOpen();
      ++m_depth;
      m_keyOpen = false;
      qvl_CUtilStr keyName = m_keyName;
      EndChunk();
      m_keyName = keyName;
      break;
    }
    default: break;
  }
}

float qvl_CUtilKvtReader::ReadFloat() {
  if (m_failed || m_emptyDepth > 0) return 0.0f;
  if (!m_keyOpen) {
    Misuse("a value read outside a key");
    return 0.0f;
  }
  int item = Peek();
  switch (item) {
    case qvl_KvtItemFloat: return TakeFloat();
    case qvl_KvtItemInt: return static_cast<float>(TakeInt());
    case qvl_KvtItemStr:
    case qvl_KvtItemOpen:
      TypeError(qvl_KvtTypeFloat, TypeOfItem(item));
      SkipValue();
      return 0.0f;
    default:
      if (!m_failed) MissingValue(qvl_KvtTypeFloat);
      return 0.0f;
  }
}

std::int32_t qvl_CUtilKvtReader::ReadInt() {
  if (m_failed || m_emptyDepth > 0) return 0;
  if (!m_keyOpen) {
    Misuse("a value read outside a key");
    return 0;
  }
  int item = Peek();
  switch (item) {
    case qvl_KvtItemInt: return TakeInt();
    case qvl_KvtItemFloat:
    case qvl_KvtItemStr:
    case qvl_KvtItemOpen:
      TypeError(qvl_KvtTypeInt, TypeOfItem(item));
      SkipValue();
      return 0;
    default:
      if (!m_failed) MissingValue(qvl_KvtTypeInt);
      return 0;
  }
}

qvl_CUtilStr qvl_CUtilKvtReader::ReadStr() {
  if (m_failed || m_emptyDepth > 0) return {};
  if (!m_keyOpen) {
    Misuse("a value read outside a key");
    return {};
  }
  int item = Peek();
  switch (item) {
    case qvl_KvtItemStr: return TakeStr();
    case qvl_KvtItemInt:
    case qvl_KvtItemFloat:
    case qvl_KvtItemOpen:
      TypeError(qvl_KvtTypeStr, TypeOfItem(item));
      SkipValue();
      return {};
    default:
      if (!m_failed) MissingValue(qvl_KvtTypeStr);
      return {};
  }
}

void qvl_CUtilKvtReader::BeginChunk() {
  if (m_failed || m_emptyDepth > 0 || !m_keyOpen) {
    if (!m_failed && m_emptyDepth == 0) Misuse("a chunk entered outside a key");
    ++m_emptyDepth;
    return;
  }
  int item = Peek();
  if (item == qvl_KvtItemOpen) {
    if (!EnterDepth(PeekStart())) return;
    TakeOpen();
    ++m_depth;
    m_keyOpen = false;
    return;
  }
  if (item >= qvl_KvtItemInt && item <= qvl_KvtItemStr) {
    TypeError(qvl_KvtTypeChunk, TypeOfItem(item));
    SkipValue();
  } else if (!m_failed) {
    MissingValue(qvl_KvtTypeChunk);
  }
  // An empty chunk stands in for the missing one, so the caller's loops stay balanced.
  ++m_emptyDepth;
}

void qvl_CUtilKvtReader::EndChunk() {
  if (m_emptyDepth > 0) {
    --m_emptyDepth;
    m_keyOpen = true;
    return;
  }
  if (m_depth == 0) return;
  if (!m_failed) {
    if (m_keyOpen) EndKey();
    while (IsKey() > 0) {
      m_keyName = TakeName();
      m_keyOpen = true;
      EndKey();
    }
    if (!m_failed && Peek() == qvl_KvtItemClose) TakeClose();
  }
  --m_depth;
  m_keyOpen = true;
}

void qvl_CUtilKvtReader::Finish() {
  if (m_failed || m_depth > 0 || m_emptyDepth > 0) return;
  if (m_keyOpen) EndKey();
  while (IsKey() > 0) {
    m_keyName = TakeName();
    m_keyOpen = true;
    EndKey();
  }
  if (!m_failed) CheckEnd();
}
