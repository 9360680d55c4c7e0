// Text taken from outside (an SNMP agent, a mail relay, a phone-home peer, an exception message
// that quotes one) made safe for the two places where it is written into a structured line or
// document of this program: an activity-log field and an exception report element.
#ifndef TEMPWARDEN_TOOLBELT_FIELD_TEXT_H_
#define TEMPWARDEN_TOOLBELT_FIELD_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tw {

// The longest field that LogFieldText gives, in bytes.
constexpr size_t kLogFieldMax = 200;

// `text` as one activity-log field value: every control character (bytes 0 to 31 and 127, CR
// and LF among them) becomes a blank, "[" becomes "(" and "]" becomes ")", so that the text
// can neither start a line of its own nor close its field and forge another "[Key=...]"
// item; then it is cut to kLogFieldMax bytes, never inside a UTF-8 sequence. Other bytes
// (letters of any code page, UTF-8) pass unchanged. Never throws except for want of memory.
std::string LogFieldText(std::string_view text);

// `text` as XML element content: "&", "<", ">" and '"' become "&amp;", "&lt;", "&gt;" and
// "&quot;". Anything else, line breaks included, passes unchanged, so a text without those
// four characters comes back byte for byte.
std::string XmlEscaped(std::string_view text);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_FIELD_TEXT_H_
