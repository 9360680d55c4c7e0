#include "toolbelt/config_text.h"

#include <cstdint>

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

bool FindConfigValue(std::string_view text, std::string_view key, std::string* value) {
  const std::string open = "<" + std::string(key) + ">";
  const std::string close = "</" + std::string(key) + ">";
  const size_t open_at = text.find(open);
  if (open_at == std::string_view::npos || text.find(close) == std::string_view::npos) {
    return false;
  }
  const size_t start = open_at + open.size();
  const size_t end = text.find(close, start);
  *value = DecodeXmlEntities(end == std::string_view::npos ? text.substr(start)
                                                           : text.substr(start, end - start));
  return true;
}

}  // namespace tw
