// Fuzz target for the SMTP reply reader: arbitrary relay output, fed in pieces whose size
// the first byte picks, so that lines and replies arrive cut at every place.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/smtp_reply.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] % 64 + 1;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  tw::SmtpReplyReader reader;
  size_t lines_out = 0;
  for (size_t at = 0; at < input.size(); at += piece) {
    reader.Feed(input.substr(at, piece));
    tw::SmtpReply reply;
    tw::SmtpReplyReader::Status status;
    while ((status = reader.Next(&reply)) == tw::SmtpReplyReader::Status::kReply) {
      Check(reply.code >= 0 && reply.code <= 999);
      Check(!reply.lines.empty());
      size_t total = 0;
      for (const std::string& line : reply.lines) {
        Check(line.size() <= tw::kMaxReplyLineLength);
        Check(line.find('\n') == std::string::npos);
        total += line.size() + 2;
      }
      Check(total <= tw::kMaxReplyLength);
      lines_out += reply.lines.size();
    }
    if (status == tw::SmtpReplyReader::Status::kTooLong) break;
  }
  // Every line handed out came from a line end in the input.
  size_t line_ends = 0;
  for (char c : input) line_ends += c == '\n';
  Check(lines_out <= line_ends);
  return 0;
}
