// The text encoding of data trees: tokenizer, lenient reader and canonical writer.
#include "util/kvt/util_kvt_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "util/kvt/util_kvt_reader_impl.h"

template class qvl_CUtilKvtReaderOf<qvl_CUtilKvtTextReader>;

namespace {

// s in single quotes, for messages. (Built by appending: GCC 12 warns
// falsely on chained string concatenation.)
std::string Quoted(const std::string& s) {
  std::string t;
  t.reserve(s.size() + 2);
  t += '\'';
  t += s;
  t += '\'';
  return t;
}

inline bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsNameChar(char c) {
  return IsNameStart(c) || IsDigit(c);
}
inline int HexVal(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Quoted excerpt of the data at [p, end) for messages, ending at white space.
std::string Excerpt(const char* p, const char* end) {
  if (p >= end) return "the end of the file";
  unsigned char c = static_cast<unsigned char>(*p);
  if (c < 0x20 || c >= 0x7F) {
    if (c == '\n' || c == '\r') return "a line break";
    static const char kHex[] = "0123456789abcdef";
    std::string text = "byte 0x";
    text += kHex[c >> 4];
    text += kHex[c & 15];
    return text;
  }
  const char* q = p;
  while (q < end && q - p < 24 && static_cast<unsigned char>(*q) > 0x20 &&
         static_cast<unsigned char>(*q) < 0x7F) {
    ++q;
    if (!IsNameChar(q[-1]) && q[-1] != '.' && q[-1] != '+' && q[-1] != '-') break;
  }
  return Quoted(std::string(p, q));
}

// True when the decimal literal [p, end) (sign, digits, point, exponent; well
// formed) has a magnitude below 1: the side on which a float out of range underflows.
bool MagnitudeBelowOne(const char* p, const char* end) {
  if (*p == '-' || *p == '+') ++p;
  long lead = 0;  // decimal places of the first non-zero digit: > 0 before the point
  bool seen = false;
  long intDigits = 0;
  while (p < end && IsDigit(*p)) {
    if (*p != '0') seen = true;
    if (seen) ++intDigits;
    ++p;
  }
  if (seen) {
    lead = intDigits;
  } else if (p < end && *p == '.') {
    ++p;
    long zeros = 0;
    while (p < end && *p == '0') {
      ++zeros;
      ++p;
    }
    lead = -zeros;
  }
  while (p < end && (IsDigit(*p) || *p == '.')) ++p;
  long exp = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negExp = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    while (p < end && IsDigit(*p)) {
      if (exp < 1000000) exp = exp * 10 + (*p - '0');
      ++p;
    }
    if (negExp) exp = -exp;
  }
  return lead + exp <= 0;
}

}  // namespace

// ---------------------------------------------------------------- reader

qvl_CUtilKvtTextReader::qvl_CUtilKvtTextReader(qvl_CUtilMsgHandler* handler, const qvl_CUtilStr& file,
                                               std::string_view data)
    : qvl_CUtilKvtReaderOf(handler, file, data) {
  m_body = m_begin;
  if (data.size() >= 3 && std::memcmp(m_begin, "\xEF\xBB\xBF", 3) == 0) m_body += 3;
  m_p = m_tokStart = m_tokEnd = m_lineAt = m_lineStart = m_body;
}

qvl_CUtilKvtPos qvl_CUtilKvtTextReader::PosOf(const char* p) {
  if (!p || p < m_body) p = m_body;
  if (p > m_end) p = m_end;
  if (p < m_lineAt) {
    // Backwards: count the line breaks between p and the last position asked
    // for, so that a position just before it costs no scan from the start.
    for (const char* q = p; q < m_lineAt; ++q) m_line -= *q == '\n' ? 1u : 0u;
    const char* start = p;
    while (start > m_body && start[-1] != '\n') --start;
    m_lineStart = start;
    m_lineAt = p;
  }
  const char* q = m_lineAt;
  while (q < p) {
    const void* nl = std::memchr(q, '\n', static_cast<std::size_t>(p - q));
    if (!nl) break;
    q = static_cast<const char*>(nl) + 1;
    ++m_line;
    m_lineStart = q;
  }
  m_lineAt = p;
  return qvl_CUtilKvtPos::OfText(m_line, static_cast<std::uint32_t>(p - m_lineStart + 1));
}

void qvl_CUtilKvtTextReader::FailExcerpt(const char* p) {
  Fail(qvl_KvtErrUnexpected, p, Excerpt(p, m_end));
}

float qvl_CUtilKvtTextReader::ReadFloatSlow() {
  // The common case, a float literal followed by white space or a brace, is
  // read here directly; everything else takes the general look-ahead.
  if (!m_peeked && m_keyOpen && m_emptyDepth == 0 && !m_failed) {
    const char* p = m_p;
    const char* end = m_end;
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r')) ++p;
    // Only a digit, or a '-' and a digit, starts the fast path: from_chars also
    // takes "-nan(...)" and "-infinity", which the grammar rejects or reads
    // by name, and the look-ahead must judge those.
    if (p < end && (IsDigit(*p) || (*p == '-' && end - p >= 2 && IsDigit(p[1])))) {
      float f;
      auto r = std::from_chars(p, end, f);
      const char* q = r.ptr;
      if (r.ec == std::errc() && q > p &&
          (q == end || *q == ' ' || *q == '\n' || *q == '\r' || *q == '\t' || *q == '}' || *q == '{')) {
        for (const char* c = p; c < q; ++c) {
          if (*c == '.' || *c == 'e' || *c == 'E') {
            m_p = q;
            return f;
          }
        }
      }
    }
  }
  return qvl_CUtilKvtReaderOf::ReadFloatSlow();
}

qvl_CUtilStr qvl_CUtilKvtTextReader::NameAt(const char* p) {
  const char* q = p;
  while (q < m_end && IsNameChar(*q)) ++q;
  return InternName(std::string_view(p, static_cast<std::size_t>(q - p)));
}

std::string qvl_CUtilKvtTextReader::PeekText() {
  return Excerpt(m_tokStart, m_end);
}

int qvl_CUtilKvtTextReader::Peek() {
  if (m_failed) return qvl_KvtItemEnd;
  if (m_peeked) return m_item;
  const char* p = m_p;
  const char* end = m_end;
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r')) ++p;
    if (end - p >= 2 && p[0] == '/' && p[1] == '/') {
      const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      p = nl ? static_cast<const char*>(nl) : end;
      continue;
    }
    break;
  }
  m_p = m_tokStart = m_tokEnd = p;
  int item;
  if (p == end) {
    item = qvl_KvtItemEnd;
  } else {
    char c = *p;
    if (IsNameStart(c)) {
      const char* q = p + 1;
      while (q < end && IsNameChar(*q)) ++q;
      m_tokEnd = q;
      std::string_view word(p, static_cast<std::size_t>(q - p));
      item = qvl_KvtItemName;
      if (word.size() <= 5) {
        if (word == "true" || word == "false") {
          item = qvl_KvtItemInt;
          m_int = word[0] == 't' ? 1 : 0;
        } else if (word == "inf" || word == "nan") {
          item = LexNumber(p);
        }
      }
    } else if (IsDigit(c) || c == '-' || c == '+' || c == '.') {
      item = LexNumber(p);
    } else if (c == '"') {
      item = LexString(p);
    } else if (c == '{') {
      item = qvl_KvtItemOpen;
      m_tokEnd = p + 1;
    } else if (c == '}') {
      item = qvl_KvtItemClose;
      m_tokEnd = p + 1;
    } else {
      FailExcerpt(p);
      item = qvl_KvtItemEnd;
    }
  }
  if (m_failed) return qvl_KvtItemEnd;
  m_item = item;
  m_peeked = true;
  return item;
}

int qvl_CUtilKvtTextReader::LexNumber(const char* p) {
  const char* end = m_end;
  const char* q = p;
  bool neg = false;
  if (*q == '+' || *q == '-') {
    neg = *q == '-';
    ++q;
  }
  if (q < end && IsNameStart(*q)) {
    const char* w = q;
    while (q < end && IsNameChar(*q)) ++q;
    std::string_view word(w, static_cast<std::size_t>(q - w));
    m_tokEnd = q;
    if (word == "inf") {
      m_float = neg ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    } else if (word == "nan") {
      m_float = neg ? -std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::quiet_NaN();
    } else {
      FailQuoted(qvl_KvtErrBadNumber, p, p, q);
      return qvl_KvtItemEnd;
    }
    return qvl_KvtItemFloat;
  }
  // from_chars scans the longest number it can; the grammar is then checked on
  // what it took and on the byte after it. It takes a '-' but no '+'.
  const char* from = *p == '+' ? p + 1 : p;
  std::from_chars_result r{from, std::errc::invalid_argument};
  if (q < end && *q != '+' && *q != '-') r = std::from_chars(from, end, m_float);  // not "+-1", "--1"
  q = r.ptr;
  if (r.ec == std::errc::invalid_argument || q == from || (q < end && (IsNameChar(*q) || *q == '.'))) {
    if (r.ec == std::errc::invalid_argument || q == from) q = p + 1;
    while (q < end && (IsNameChar(*q) || *q == '.' || *q == '+' || *q == '-')) ++q;
    FailQuoted(qvl_KvtErrBadNumber, p, p, q);
    return qvl_KvtItemEnd;
  }
  m_tokEnd = q;
  bool isFloat = false;
  for (const char* c = from; c < q; ++c) {
    if (*c == '.' || *c == 'e' || *c == 'E') {
      isFloat = true;
      break;
    }
  }
  if (isFloat) {
    if (r.ec == std::errc::result_out_of_range) {
      // Underflow becomes a zero of the literal's sign; overflow is an error.
      if (!MagnitudeBelowOne(from, q)) {
        FailQuoted(qvl_KvtErrFloatRange, p, p, q);
        return qvl_KvtItemEnd;
      }
      m_float = neg ? -0.0f : 0.0f;
    }
    return qvl_KvtItemFloat;
  }
  auto ri = std::from_chars(from, q, m_int);
  if (ri.ec != std::errc() || ri.ptr != q) {
    FailQuoted(qvl_KvtErrIntRange, p, p, q);
    return qvl_KvtItemEnd;
  }
  return qvl_KvtItemInt;
}

int qvl_CUtilKvtTextReader::LexString(const char* p) {
  const char* end = m_end;
  const char* q = p + 1;
  m_strEsc = false;
  for (;;) {
    while (q < end && *q != '"' && *q != '\\' && *q != '\n' && *q != '\r' && *q != '\0') ++q;
    if (q == end) {
      Fail(qvl_KvtErrStrUnclosed, p, "the end of the file");
      return qvl_KvtItemEnd;
    }
    char c = *q;
    if (c == '"') break;
    // Names and paths are zero-terminated texts: a zero byte would cut them
    // silently, so it is an error where it stands.
    if (c == '\0') {
      Fail(qvl_KvtErrStrNul, q, "byte 0x00");
      return qvl_KvtItemEnd;
    }
    if (c != '\\') {
      Fail(qvl_KvtErrStrLineBreak, q, "a line break");
      return qvl_KvtItemEnd;
    }
    m_strEsc = true;
    char e = q + 1 < end ? q[1] : '\0';
    if (e == '"' || e == '\\' || e == 'n' || e == 'r' || e == 't') {
      q += 2;
    } else if (e == 'x' && end - q >= 4 && HexVal(q[2]) >= 0 && HexVal(q[3]) >= 0) {
      if (HexVal(q[2]) == 0 && HexVal(q[3]) == 0) {
        FailQuoted(qvl_KvtErrStrNul, q, q, q + 4);
        return qvl_KvtItemEnd;
      }
      q += 4;
    } else {
      const char* x = q + 1;
      while (x < end && x - q < 4 && *x != '"' && static_cast<unsigned char>(*x) > 0x20) ++x;
      FailQuoted(qvl_KvtErrStrEscape, q, q, x);
      return qvl_KvtItemEnd;
    }
  }
  m_tokEnd = q + 1;
  return qvl_KvtItemStr;
}

qvl_CUtilStr qvl_CUtilKvtTextReader::TakeName() {
  qvl_CUtilStr name =
      InternName(std::string_view(m_tokStart, static_cast<std::size_t>(m_tokEnd - m_tokStart)));
  Consume();
  return name;
}

qvl_CUtilStr qvl_CUtilKvtTextReader::TakeStr() {
  const char* s = m_tokStart + 1;
  const char* e = m_tokEnd - 1;
  Consume();
  if (!m_strEsc) return qvl_CUtilStr(s, static_cast<std::size_t>(e - s));
  m_strBuf.clear();
  while (s < e) {
    char c = *s++;
    if (c != '\\') {
      m_strBuf += c;
      continue;
    }
    char x = *s++;
    switch (x) {
      case 'n':
        m_strBuf += '\n';
        break;
      case 'r':
        m_strBuf += '\r';
        break;
      case 't':
        m_strBuf += '\t';
        break;
      case 'x':
        m_strBuf += static_cast<char>(HexVal(s[0]) * 16 + HexVal(s[1]));
        s += 2;
        break;
      default:
        m_strBuf += x;
        break;  // '"' and '\\'
    }
  }
  return qvl_CUtilStr(m_strBuf.data(), m_strBuf.size());
}

// ---------------------------------------------------------------- writer

char* qvl_KvtFormatFloat(char* out, float value) {
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);
    return out + 3;
  }
  if (std::isinf(value)) {
    if (value < 0.0f) *out++ = '-';
    std::memcpy(out, "inf", 3);
    return out + 3;
  }
  // The exponent form carries the shortest digits that read back as value
  // (the nearest of them when several are as short): "-D.DDDDe+XX".
  char sci[32];
  const char* sciEnd = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  const std::size_t sciLen = static_cast<std::size_t>(sciEnd - sci);
  const char* p = sci;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digits[16];
  int n = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  ++p;
  if (*p == '+') ++p;
  int exp = 0;
  std::from_chars(p, sciEnd, exp);
  // The plain form of the same digits, zero-filled on either side, so that
  // every writer gives the same text: 123456792 has the digits 12345679 and
  // is written 123456790.0, not with the digits of its exact value.
  const int plainLen = (negative ? 1 : 0) + (exp >= n - 1 ? exp + 1 : exp >= 0 ? n + 1 : 1 + -exp + n);
  if (static_cast<std::size_t>(plainLen) > sciLen) {
    std::memcpy(out, sci, sciLen);
    return out + sciLen;
  }
  if (negative) *out++ = '-';
  if (exp < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > exp; --i) *out++ = '0';
    std::memcpy(out, digits, static_cast<std::size_t>(n));
    return out + n;
  }
  for (int i = 0; i <= exp || i < n; ++i) {
    if (i == exp + 1) *out++ = '.';
    *out++ = i < n ? digits[i] : '0';
  }
  if (exp >= n - 1) {
    *out++ = '.';
    *out++ = '0';
  }
  return out;
}

qvl_CUtilKvtTextWriter::qvl_CUtilKvtTextWriter(qvl_CUtilStream* stream) : m_out(stream) {}

void qvl_CUtilKvtTextWriter::Indent(int level) {
  std::size_t n = static_cast<std::size_t>(level) * 2;
  std::memset(m_out.Room(n), ' ', n);
  m_out.Advance(n);
}

void qvl_CUtilKvtTextWriter::BeginKey(const qvl_CUtilStr& name) {
  if (m_keyOpen) EndKey();
  Indent(m_level);
  std::memcpy(m_out.Room(name.GetLen()), name.GetChars(), name.GetLen());
  m_out.Advance(name.GetLen());
  m_keyOpen = true;
  m_lineValues = 0;
}

void qvl_CUtilKvtTextWriter::EndKey() {
  if (!m_keyOpen) return;
  *m_out.Room(1) = '\n';
  m_out.Advance(1);
  m_keyOpen = false;
}

void qvl_CUtilKvtTextWriter::NumberSep() {
  if (m_lineValues >= kValuesPerLine) {
    *m_out.Room(1) = '\n';
    m_out.Advance(1);
    Indent(m_level + 1);
    m_lineValues = 0;
  } else {
    *m_out.Room(1) = ' ';
    m_out.Advance(1);
  }
  ++m_lineValues;
}

void qvl_CUtilKvtTextWriter::WriteInt(std::int32_t value) {
  if (!m_keyOpen) return;
  NumberSep();
  char* p = m_out.Room(16);
  m_out.Advance(static_cast<std::size_t>(std::to_chars(p, p + 16, value).ptr - p));
}

void qvl_CUtilKvtTextWriter::WriteFloat(float value) {
  if (!m_keyOpen) return;
  NumberSep();
  char* p = m_out.Room(40);
  m_out.Advance(static_cast<std::size_t>(qvl_KvtFormatFloat(p, value) - p));
}

void qvl_CUtilKvtTextWriter::WriteStr(const qvl_CUtilStr& text) {
  if (!m_keyOpen) return;
  std::string_view s = text.View();
  // Worst case every byte becomes \xHH.
  char* p = m_out.Room(s.size() * 4 + 3);
  char* start = p;
  *p++ = ' ';
  *p++ = '"';
  static const char kHex[] = "0123456789abcdef";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      *p++ = '\\';
      *p++ = ch;
    } else if (c == '\n') {
      *p++ = '\\';
      *p++ = 'n';
    } else if (c == '\r') {
      *p++ = '\\';
      *p++ = 'r';
    } else if (c == '\t') {
      *p++ = '\\';
      *p++ = 't';
    } else if (c < 0x20 || c == 0x7F) {
      *p++ = '\\';
      *p++ = 'x';
      *p++ = kHex[c >> 4];
      *p++ = kHex[c & 15];
    } else {
      *p++ = ch;
    }
  }
  *p++ = '"';
  m_out.Advance(static_cast<std::size_t>(p - start));
  ++m_lineValues;
}

void qvl_CUtilKvtTextWriter::BeginChunk() {
  if (!m_keyOpen) return;
  std::memcpy(m_out.Room(3), " {\n", 3);
  m_out.Advance(3);
  ++m_level;
  m_keyOpen = false;
}

void qvl_CUtilKvtTextWriter::EndChunk() {
  if (m_level == 0) return;
  if (m_keyOpen) EndKey();
  --m_level;
  Indent(m_level);
  *m_out.Room(1) = '}';
  m_out.Advance(1);
  m_keyOpen = true;
  m_lineValues = 0;
}

void qvl_CUtilKvtTextWriter::WriteKeyStr(const qvl_CUtilStr& name, const qvl_CUtilStr& text) {
  BeginKey(name);
  WriteStr(text);
  EndKey();
}

void qvl_CUtilKvtTextWriter::Finish() {
  while (m_level > 0) EndChunk();
  EndKey();
  m_out.Flush();
}
