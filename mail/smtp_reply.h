// Reading SMTP replies: received bytes are cut into lines, and lines into whole replies, so
// that the continuation lines of a multi-line reply ("250-...", then "250 ...") never stand
// in for the replies to later commands.
#ifndef TEMPWARDEN_MAIL_SMTP_REPLY_H_
#define TEMPWARDEN_MAIL_SMTP_REPLY_H_

#include <cstddef>
#include <string>
#include <vector>

namespace tw {

// A relay's line is at most 512 bytes; these limits leave plenty of room for chatty relays
// while keeping one that streams endless text from growing the buffer without end.
constexpr size_t kMaxReplyLineLength = 4096;
constexpr size_t kMaxReplyLength = 65536;

struct SmtpReply {
  int code = 0;                    // the first line's three digits; 0 when it has none
  std::vector<std::string> lines;  // without line ends
  // The lines joined with CR LF: what a failure caused by this reply carries as its text.
  std::string Text() const;
};

class SmtpReplyReader {
 public:
  enum class Status {
    kNeedMore,  // no whole reply yet: feed more bytes
    kReply,     // `reply` holds the next whole reply
    kTooLong,   // a line or a reply is over its limit; the reader is of no further use
  };

  // Adds received bytes.
  void Feed(const std::string& bytes);

  // Takes the next whole reply out of what has been fed.
  Status Next(SmtpReply* reply);

  // True while bytes have been fed that no reply taken so far holds.
  bool HasBuffered() const { return !pending_.empty() || !partial_.lines.empty(); }

 private:
  std::string pending_;  // bytes not yet cut into lines
  SmtpReply partial_;    // lines of a reply still waiting for its final line
  size_t partial_size_ = 0;
  bool broken_ = false;
};

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_REPLY_H_
