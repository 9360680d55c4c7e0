// The configuration file's text as editors save it: the byte codec under the settings reader.
//
// The file is looked at as a whole, never parsed as XML: a byte-order mark picks the encoding
// (UTF-8, UTF-16 little or big endian); without one the bytes are the text, as they always
// were. A setting is the text between the first "<Key>" and the first "</Key>" after it,
// found by exact, case-sensitive search outside comments and CDATA sections, with the five
// predefined XML entities decoded and CDATA read as XML reads it.
// Every function here works on the bytes it is given, checks every length against what is
// left, and neither throws (except for want of memory) nor reads outside its input.
#ifndef TEMPWARDEN_TOOLBELT_CONFIG_TEXT_H_
#define TEMPWARDEN_TOOLBELT_CONFIG_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tw {

// The largest settings file that is read; a larger one is not looked at (its head alone
// could hold half a value).
constexpr size_t kConfigFileMaxBytes = 1024 * 1024;

enum class ConfigEncoding {
  kBytes,    // no byte-order mark: the bytes as they are (ANSI code page or UTF-8)
  kUtf8Bom,  // EF BB BF, dropped
  kUtf16Le,  // FF FE
  kUtf16Be,  // FE FF
};

// "bytes", "UTF-8", "UTF-16LE", "UTF-16BE": the names the activity log uses.
const char* ConfigEncodingName(ConfigEncoding encoding);

struct tConfigText {
  ConfigEncoding Encoding = ConfigEncoding::kBytes;
  std::string Text;  // UTF-8 for the three encodings with a mark, else the bytes
};

// The text of the file `bytes`. UTF-16 becomes UTF-8: a surrogate without its partner becomes
// U+FFFD, and an odd last byte is dropped.
tConfigText DecodeConfigBytes(std::string_view bytes);

// `value` with "&amp;", "&lt;", "&gt;", "&quot;" and "&apos;" replaced by the character they
// stand for, in one pass from left to right (so "&amp;lt;" gives "&lt;"). Any other "&" stays
// as it is, so values written before entities were decoded keep their meaning unless they
// hold one of the five.
std::string DecodeXmlEntities(std::string_view value);

// Looks up `key` in `text`: false when "<key>" or "</key>" does not occur anywhere outside
// comments and CDATA sections. Otherwise `*value` is the text after the first "<key>" up to
// the first "</key>" after it, or to the end of the text when every "</key>" comes before
// it, read as XML reads character data: entities decoded, a CDATA section's content taken as
// it stands (no entities, no tags: "<![CDATA[a<b&amp;]]>" gives "a<b&amp;"), comments left
// out; nothing is trimmed. A comment ("<!--" to "-->") or CDATA section left open runs to the
// end of the text, so a tag after it does not count.
bool FindConfigValue(std::string_view text, std::string_view key, std::string* value);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_CONFIG_TEXT_H_
