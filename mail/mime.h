// The message text of a mail: RFC 822 headers, a plain or multipart MIME body and an optional
// base64 attachment, exactly as the relay receives it after accepting "DATA".
#ifndef TEMPWARDEN_MAIL_MIME_H_
#define TEMPWARDEN_MAIL_MIME_H_

#include <cstddef>
#include <string>
#include <vector>

#include "mail/email.h"
#include "toolbelt/settings.h"

namespace tw {

// The boundary of every multipart message; the same in every message.
extern const char kMimeBoundary[];

// Base64 lines of an attachment hold this many characters.
constexpr size_t kBase64LineLength = 76;

struct MessageLines {
  // Each entry goes out followed by CR LF. Some hold CR LF of their own: the folded header
  // literals, the body and the base64 text.
  std::vector<std::string> lines;
  size_t date_line = 0;  // index of the "Date: " header, echoed on the console when sent
};

// Builds the message of `mail`, dated now (UTC, English names), with the header
// "Message-ID: " + `message_id` after the Date (none when it is empty). To and Cc hold the
// addresses of their lists joined with ", ". Reads the attachment through the file seam,
// relative to the working directory; a missing or empty file gives no attachment part.
MessageLines ComposeMessage(Context& ctx, const tEmail& mail, const std::string& message_id = "");

// A new message ID "<time.random@domain>": the time now in milliseconds and 64 random bits,
// both in hexadecimal, so that no two messages share one.
std::string NewMessageId(Context& ctx, const std::string& domain);

// The addresses of an address list: split at ",", ";" and line breaks, blanks and tabs
// trimmed, empty pieces dropped.
std::vector<std::string> SplitAddresses(const std::string& list);

// The lines, each followed by CR LF: the message as written, before dot-stuffing.
std::string MessageText(const MessageLines& message);

// The file name alone: `path` after its last "\", ":" or platform path delimiter.
std::string AttachmentName(const std::string& path, const char* platform_delimiters);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_MIME_H_
