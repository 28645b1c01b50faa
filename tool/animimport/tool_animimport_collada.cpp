// A scan of a Collada file's start tags for node names and the unit; not an
// XML parser: the asset library has read the document, this only adds what
// the library drops.
#include "tool/animimport/tool_animimport_collada.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// An attribute value with its entities decoded; an entity that is not one
// of the five or a valid character reference stays as written.
std::string Decode(std::string_view v) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  out.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::size_t semi = v[i] == '&' ? v.find(';', i) : std::string_view::npos;
    if (semi == std::string_view::npos || semi - i > 10) {
      out.push_back(v[i]);
      continue;
    }
    const std::string_view ent = v.substr(i + 1, semi - i - 1);
    bool done = false;
    for (const auto& [name, c] : kNamed) {
      if (ent == name) out.push_back(c), done = true;
    }
    if (!done && ent.size() > 1 && ent[0] == '#') {
      const bool hex = ent[1] == 'x';
      const std::string_view digits = ent.substr(hex ? 2 : 1);
      std::uint32_t cp = 0;
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (ec == std::errc() && ptr == digits.data() + digits.size() && !digits.empty() && cp > 0 &&
          cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
        AppendUtf8(cp, &out);
        done = true;
      }
    }
    if (!done) {
      out.push_back(v[i]);
      continue;
    }
    i = semi;
  }
  return out;
}

struct Tag {
  std::string_view name;
  std::vector<std::pair<std::string_view, std::string>> attrs;
  std::size_t end = 0;  // just after '>'
};

// The start tag at xml[at] == '<'; false when its '>' or a quote never comes.
bool ScanTag(std::string_view xml, std::size_t at, Tag* tag) {
  std::size_t i = at + 1;
  while (i < xml.size() && !IsBlank(xml[i]) && xml[i] != '>' && xml[i] != '/') ++i;
  tag->name = xml.substr(at + 1, i - at - 1);
  tag->attrs.clear();
  for (;;) {
    while (i < xml.size() && IsBlank(xml[i])) ++i;
    if (i >= xml.size()) return false;
    if (xml[i] == '>' || xml[i] == '/') {
      const std::size_t gt = xml.find('>', i);
      if (gt == std::string_view::npos) return false;
      tag->end = gt + 1;
      return true;
    }
    const std::size_t nameStart = i;
    while (i < xml.size() && !IsBlank(xml[i]) && xml[i] != '=' && xml[i] != '>') ++i;
    const std::string_view name = xml.substr(nameStart, i - nameStart);
    while (i < xml.size() && IsBlank(xml[i])) ++i;
    if (i >= xml.size() || xml[i] != '=') continue;  // an attribute without value: skipped
    ++i;
    while (i < xml.size() && IsBlank(xml[i])) ++i;
    if (i >= xml.size() || (xml[i] != '"' && xml[i] != '\'')) continue;
    const std::size_t close = xml.find(xml[i], i + 1);
    if (close == std::string_view::npos) return false;
    tag->attrs.emplace_back(name, Decode(xml.substr(i + 1, close - i - 1)));
    i = close + 1;
  }
}

const std::string* Attr(const Tag& tag, std::string_view name) {
  for (const auto& [n, v] : tag.attrs) {
    if (n == name) return &v;
  }
  return nullptr;
}

}  // namespace

ColladaNames ReadColladaNames(std::string_view xml) {
  ColladaNames out;
  std::set<std::string> ambiguous;
  bool unitSeen = false;
  bool assetClosed = false;
  int animDepth = 0;  // open <animation> elements around the scan
  std::size_t pos = 0;
  Tag tag;
  while ((pos = xml.find('<', pos)) != std::string_view::npos) {
    const std::string_view rest = xml.substr(pos);
    std::string_view closer;
    if (rest.substr(0, 4) == "<!--") {
      closer = "-->";
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      closer = "]]>";
    } else if (rest.substr(0, 2) == "<?") {
      closer = "?>";
    } else if (rest.substr(0, 2) == "<!") {
      closer = ">";
    }
    if (!closer.empty()) {
      const std::size_t end = xml.find(closer, pos + 2);
      if (end == std::string_view::npos) break;
      pos = end + closer.size();
      continue;
    }
    if (rest.substr(0, 8) == "</asset>" || rest.substr(0, 8) == "</asset ") assetClosed = true;
    if (rest.substr(0, 12) == "</animation>" || rest.substr(0, 12) == "</animation ")
      animDepth -= animDepth > 0 ? 1 : 0;
    if (rest.size() > 1 && rest[1] == '/') {
      ++pos;
      continue;
    }
    if (!ScanTag(xml, pos, &tag)) break;
    pos = tag.end;
    const bool selfClosed = xml[tag.end - 2] == '/';
    if (tag.name == "animation_clip") out.hasClips = true;
    if (tag.name == "animation") {
      if (animDepth == 0) {
        const std::string* name = Attr(tag, "name");
        const std::string* id = Attr(tag, "id");
        out.topAnimations.push_back(name && !name->empty() ? *name : id ? *id : std::string());
      }
      animDepth += selfClosed ? 0 : 1;
    }
    if (tag.name == "unit" && !unitSeen && !assetClosed) {
      unitSeen = true;
      if (const std::string* m = Attr(tag, "meter")) {
        double v = 0;
        const auto [ptr, ec] = std::from_chars(m->data(), m->data() + m->size(), v);
        out.meter = ec == std::errc() && ptr == m->data() + m->size() && std::isfinite(v) && v > 0 ? v : 0.0;
      }
    }
    if (tag.name != "node") continue;
    const std::string* id = Attr(tag, "id");
    const std::string* sid = Attr(tag, "sid");
    const std::string* name = Attr(tag, "name");
    if (id && id->empty()) id = nullptr;
    if (sid && sid->empty()) sid = nullptr;
    if (name && name->empty()) name = nullptr;
    const std::string* key = id ? id : sid;
    if (!key) continue;
    const std::string& artist = name ? *name : sid ? *sid : *id;
    auto [it, inserted] = out.byLibraryName.try_emplace(*key, artist);
    if (!inserted && it->second != artist) ambiguous.insert(*key);
  }
  for (const std::string& key : ambiguous) out.byLibraryName.erase(key);
  return out;
}
