#include "mail/smtp_reply.h"

namespace tw {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasCode(const std::string& line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

// "ddd-" starts a continuation line; anything else ends the reply, including a line without
// a code, which then stands as a reply of its own with code 0.
bool IsContinuation(const std::string& line) {
  return line.size() >= 4 && HasCode(line) && line[3] == '-';
}

}  // namespace

std::string SmtpReply::Text() const {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void SmtpReplyReader::Feed(const std::string& bytes) {
  if (!broken_) pending_ += bytes;
}

SmtpReplyReader::Status SmtpReplyReader::Next(SmtpReply* reply) {
  while (!broken_) {
    const size_t lf = pending_.find('\n');
    if (lf == std::string::npos) {
      if (pending_.size() > kMaxReplyLineLength) break;
      return Status::kNeedMore;
    }
    size_t length = lf;
    if (length > 0 && pending_[length - 1] == '\r') --length;
    if (length > kMaxReplyLineLength) break;
    std::string line = pending_.substr(0, length);
    pending_.erase(0, lf + 1);

    partial_size_ += line.size() + 2;
    if (partial_size_ > kMaxReplyLength) break;
    if (partial_.lines.empty()) {
      partial_.code =
          HasCode(line) ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
    }
    const bool more = IsContinuation(line);
    partial_.lines.push_back(std::move(line));
    if (!more) {
      *reply = std::move(partial_);
      partial_ = SmtpReply();
      partial_size_ = 0;
      return Status::kReply;
    }
  }
  broken_ = true;
  pending_.clear();
  partial_ = SmtpReply();
  return Status::kTooLong;
}

}  // namespace tw
