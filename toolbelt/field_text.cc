#include "toolbelt/field_text.h"

namespace tw {

std::string LogFieldText(std::string_view text) {
  size_t size = text.size();
  if (size > kLogFieldMax) {
    size = kLogFieldMax;
    // Back off to the lead byte of a UTF-8 sequence that the cut would split. In a single-byte
    // code page this may drop up to three letters of the last word; the field stays readable.
    size_t lead = size;
    while (lead > 0 && lead > size - 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) {
      --lead;
    }
    if ((static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) lead = size;  // not UTF-8
    size = lead;
  }
  std::string out(text.substr(0, size));
  for (char& ch : out) {
    const unsigned char byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) {
      ch = ' ';
    } else if (ch == '[') {
      ch = '(';
    } else if (ch == ']') {
      ch = ')';
    }
  }
  return out;
}

std::string XmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

}  // namespace tw
