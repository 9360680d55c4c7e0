#include "toolbelt/config_text.h"

#include <cstdint>
#include <vector>

namespace tw {
namespace {

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// `units` holds whole 16-bit units only (the caller drops an odd last byte).
std::string Utf16ToUtf8(std::string_view units, bool big_endian) {
  auto unit = [&](size_t i) -> uint32_t {
    const uint32_t a = static_cast<unsigned char>(units[i]);
    const uint32_t b = static_cast<unsigned char>(units[i + 1]);
    return big_endian ? (a << 8) | b : (b << 8) | a;
  };
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i + 1 < units.size(); i += 2) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 < units.size()) {
        const uint32_t low = unit(i + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), &out);
          i += 2;
          continue;
        }
      }
      AppendUtf8(kReplacement, &out);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(kReplacement, &out);
    } else {
      AppendUtf8(u, &out);
    }
  }
  return out;
}

bool StartsWith(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && text.substr(0, head.size()) == head;
}

}  // namespace

const char* ConfigEncodingName(ConfigEncoding encoding) {
  switch (encoding) {
    case ConfigEncoding::kUtf8Bom:
      return "UTF-8";
    case ConfigEncoding::kUtf16Le:
      return "UTF-16LE";
    case ConfigEncoding::kUtf16Be:
      return "UTF-16BE";
    case ConfigEncoding::kBytes:
      break;
  }
  return "bytes";
}

tConfigText DecodeConfigBytes(std::string_view bytes) {
  tConfigText result;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    result.Encoding = ConfigEncoding::kUtf8Bom;
    result.Text = std::string(bytes.substr(3));
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    result.Encoding = ConfigEncoding::kUtf16Le;
    result.Text = Utf16ToUtf8(bytes.substr(2, (bytes.size() - 2) & ~size_t{1}), false);
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    result.Encoding = ConfigEncoding::kUtf16Be;
    result.Text = Utf16ToUtf8(bytes.substr(2, (bytes.size() - 2) & ~size_t{1}), true);
  } else {
    result.Text = std::string(bytes);
  }
  return result;
}

std::string DecodeXmlEntities(std::string_view value) {
  static const struct {
    std::string_view name;
    char ch;
  } kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''},
  };
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size();) {
    bool decoded = false;
    if (value[i] == '&') {
      for (const auto& e : kEntities) {
        if (StartsWith(value.substr(i), e.name)) {
          out += e.ch;
          i += e.name.size();
          decoded = true;
          break;
        }
      }
    }
    if (!decoded) out += value[i++];
  }
  return out;
}

namespace {

// A comment ("<!--" to "-->") or a CDATA section ("<![CDATA[" to "]]>"), each with its markers;
// one left open runs to the end of the text, as far as an XML reader would get.
struct Section {
  size_t begin;
  size_t end;
  bool cdata;
};

std::vector<Section> Sections(std::string_view text) {
  static constexpr std::string_view kCommentOpen = "<!--", kCommentClose = "-->";
  static constexpr std::string_view kCdataOpen = "<![CDATA[", kCdataClose = "]]>";
  std::vector<Section> sections;
  size_t at = text.find("<!");
  while (at != std::string_view::npos) {
    const std::string_view rest = text.substr(at);
    const bool comment = StartsWith(rest, kCommentOpen);
    const bool cdata = !comment && StartsWith(rest, kCdataOpen);
    if (!comment && !cdata) {
      at = text.find("<!", at + 2);
      continue;
    }
    const size_t body = at + (comment ? kCommentOpen.size() : kCdataOpen.size());
    const std::string_view close = comment ? kCommentClose : kCdataClose;
    const size_t closed = text.find(close, body);
    const size_t end = closed == std::string_view::npos ? text.size() : closed + close.size();
    sections.push_back({at, end, cdata});
    at = text.find("<!", end);
  }
  return sections;
}

// The character data of text[begin, end), where no section crosses either end: entities
// decoded outside the sections, a CDATA section's content as it stands, comments dropped.
std::string CharacterData(std::string_view text, size_t begin, size_t end,
                          const std::vector<Section>& sections) {
  std::string out;
  size_t at = begin;
  for (const Section& s : sections) {
    if (s.begin < at || s.end > end) continue;  // outside: the tags are outside sections
    out += DecodeXmlEntities(text.substr(at, s.begin - at));
    if (s.cdata) {
      const size_t body = s.begin + 9;  // "<![CDATA["
      const bool closed = s.end - body >= 3 && text.substr(s.end - 3, 3) == "]]>";
      out += text.substr(body, s.end - body - (closed ? 3 : 0));
    }
    at = s.end;
  }
  out += DecodeXmlEntities(text.substr(at, end - at));
  return out;
}

}  // namespace

bool FindConfigValue(std::string_view text, std::string_view key, std::string* value) {
  const std::vector<Section> sections = Sections(text);
  // The tags are looked for in the text with every section blanked out: a tag in a comment
  // is commented out, and one in a CDATA section is a value's text. A NUL is in no key.
  std::string markup(text);
  for (const Section& s : sections) markup.replace(s.begin, s.end - s.begin, s.end - s.begin, '\0');
  const std::string open = "<" + std::string(key) + ">";
  const std::string close = "</" + std::string(key) + ">";
  const size_t open_at = markup.find(open);
  if (open_at == std::string::npos || markup.find(close) == std::string::npos) return false;
  const size_t start = open_at + open.size();
  const size_t end = markup.find(close, start);
  *value = CharacterData(text, start, end == std::string::npos ? text.size() : end, sections);
  return true;
}

}  // namespace tw
