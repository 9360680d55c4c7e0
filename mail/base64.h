// Base64 with the RFC 2045 alphabet, "=" padding.
#ifndef TEMPWARDEN_MAIL_BASE64_H_
#define TEMPWARDEN_MAIL_BASE64_H_

#include <cstddef>
#include <string>

namespace tw {

// The whole encoding on one line.
std::string Base64Encode(const std::string& bytes);

// The encoding with CR LF after every `line_length`-th character, counted across the whole
// text: when the length is an exact multiple, the text itself ends with CR LF.
std::string Base64EncodeLines(const std::string& bytes, size_t line_length);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_BASE64_H_
