#include "mail/smtp_client.h"

#include <algorithm>
#include <cctype>

#include "mail/base64.h"
#include "toolbelt/failure.h"

namespace tw {
namespace {

constexpr size_t kReceiveChunk = 4096;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

[[noreturn]] void ThrowReply(const SmtpReply& reply) {
  throw Fault("ESMTPReplyError", reply.Text());
}

}  // namespace

std::string DotStuffed(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  bool line_start = true;
  for (char c : text) {
    if (line_start && c == '.') out += '.';
    out += c;
    line_start = c == '\n';
  }
  return out;
}

SmtpClient::SmtpClient(Network& network, Clock& clock, const SmtpLimits& limits)
    : network_(network), clock_(clock), limits_(limits), begun_ms_(clock.MonotonicMs()) {}

SmtpClient::~SmtpClient() = default;

uint32_t SmtpClient::TimeLeft() {
  const uint64_t spent = clock_.MonotonicMs() - begun_ms_;
  return spent >= limits_.total_ms ? 0 : static_cast<uint32_t>(limits_.total_ms - spent);
}

uint32_t SmtpClient::Within(uint32_t wait) {
  const uint32_t left = TimeLeft();
  if (left == 0) ThrowSocketError(MakeNetError(kWsaTimedOut));
  return std::min(wait, left);
}

void SmtpClient::ThrowSocketError(const NetError& error) {
  throw Fault("ESocketError", error.message, error.code);
}

std::string RefusalLine(const std::string& line) {
  std::string out = line.substr(0, kRefusalLineLength);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
    if (c == '[') c = '(';
    if (c == ']') c = ')';
  }
  return out;
}

void SmtpClient::Connect(const std::string& host, uint16_t port, const AttemptObserver& observer) {
  Close();
  NetError error;
  std::vector<std::string> addresses;
  if (!network_.ResolveTcp(host, &addresses, &error)) ThrowSocketError(error);
  const uint32_t start = clock_.TickCount();
  // The name lookup cannot be cut short; the connects keep within what it left of the total.
  const uint32_t connect_ms = Within(limits_.connect_ms);
  for (size_t i = 0; i < addresses.size(); ++i) {
    const uint32_t spent = clock_.TickCount() - start;
    if (i > 0 && spent >= connect_ms) break;
    const uint32_t left = spent >= connect_ms ? 0 : connect_ms - spent;
    const uint32_t share = left / static_cast<uint32_t>(addresses.size() - i);
    if (observer) observer(addresses[i], nullptr);
    connection_ = network_.ConnectTcp(addresses[i], port, share, &error);
    if (connection_) {
      local_address_ = connection_->LocalAddress();
      return;
    }
    if (observer) observer(addresses[i], &error);
    if (error.code == kWsaInterrupted) break;  // the service stops: no further attempt
  }
  ThrowSocketError(error);
}

bool SmtpClient::Connected() {
  return connection_ != nullptr && !closed_by_peer_ && connection_->PeerOpen();
}

SmtpReply SmtpClient::Expect(const SmtpReply& reply, int code) {
  if (reply.code != code) ThrowReply(reply);
  return reply;
}

void SmtpClient::Greet(const std::string& local_name, bool read_greeting) {
  try {
    if (read_greeting) Expect(ReadReply(), 220);
    Hello(local_name);
  } catch (...) {
    if (Connected()) Quit();
    Close();
    throw;
  }
}

void SmtpClient::Hello(const std::string& local_name) {
  extended_ = false;
  starttls_offered_ = false;
  auth_offered_ = false;
  auth_mechanisms_.clear();
  const SmtpReply ehlo = Command("EHLO " + local_name);
  if (ehlo.code == 250) {
    extended_ = true;
    for (size_t i = 0; i < ehlo.lines.size(); ++i) {
      // The first line names the relay; the others are "250-KEYWORD params".
      if (i == 0 || ehlo.lines[i].size() < 4) continue;
      const std::string keyword_line = ehlo.lines[i].substr(4);
      const std::string upper = Upper(keyword_line);
      if (upper == "STARTTLS" || upper.rfind("STARTTLS ", 0) == 0) starttls_offered_ = true;
      if (upper.rfind("AUTH ", 0) != 0 && upper.rfind("AUTH=", 0) != 0) continue;
      auth_offered_ = true;
      size_t at = 5;
      while (at < upper.size()) {
        const size_t end = upper.find(' ', at);
        const std::string name = upper.substr(at, end == std::string::npos ? end : end - at);
        if (!name.empty()) auth_mechanisms_.push_back(name);
        if (end == std::string::npos) break;
        at = end + 1;
      }
    }
    return;
  }
  Expect(Command("HELO " + local_name), 250);
}

void SmtpClient::Secure(Tls& tls, const TlsOptions& options, TlsFacts* facts) {
  if (!connection_) ThrowSocketError(MakeNetError(10057));
  TlsError error;
  TlsOptions within = options;
  within.timeout_ms = Within(options.timeout_ms);
  connection_ = tls.Connect(std::move(connection_), within, facts, &error);
  if (!connection_) {
    Close();
    throw TlsFault(error.kind, error.message);
  }
  // Nothing read before the handshake may count as a reply after it.
  reader_ = SmtpReplyReader();
}

void SmtpClient::StartTls(Tls& tls, const TlsOptions& options, const std::string& local_name,
                          TlsFacts* facts) {
  const SmtpReply reply = Command("STARTTLS");
  if (reply.code != 220) {
    Quit();
    throw TlsFault(TlsFailure::kHandshake, "STARTTLS refused: " + reply.Text());
  }
  if (reader_.HasBuffered()) {
    Close();
    throw TlsFault(TlsFailure::kHandshake,
                   "The relay sent data after its reply to STARTTLS, before the TLS handshake");
  }
  Secure(tls, options, facts);
  Greet(local_name, false);
}

SmtpReply SmtpClient::AuthLogin(const std::string& user, const std::string& password) {
  SmtpReply reply = Command("AUTH LOGIN");
  if (reply.code != 334) return reply;
  reply = Command(Base64Encode(user));
  if (reply.code != 334) return reply;
  return Command(Base64Encode(password));
}

SmtpReply SmtpClient::AuthPlain(const std::string& user, const std::string& password) {
  return Command("AUTH PLAIN " + Base64Encode(std::string(1, '\0') + user + '\0' + password));
}

SmtpReply SmtpClient::AuthXOAuth2(const std::string& user, const std::string& token) {
  const SmtpReply reply = Command("AUTH XOAUTH2 " + Base64Encode("user=" + user +
                                                                 "\x01"
                                                                 "auth=Bearer " +
                                                                 token + "\x01\x01"));
  if (reply.code != 334) return reply;
  return Command("");  // the challenge holds the error; an empty answer asks for the verdict
}

void SmtpClient::SendLine(const std::string& line) {
  if (line.find_first_of("\r\n") != std::string::npos) {
    throw Fault("ESMTPCommandError", "Line break in an SMTP command");
  }
  SendRaw(line + "\r\n");
}

void SmtpClient::SendMessageLine(const std::string& text) { SendRaw(DotStuffed(text) + "\r\n"); }

void SmtpClient::SendRaw(const std::string& bytes) {
  if (!connection_) ThrowSocketError(MakeNetError(10057));
  NetError error;
  if (!connection_->Send(bytes, Within(limits_.reply_ms), &error)) ThrowSocketError(error);
}

SmtpReply SmtpClient::ReadReply() {
  if (!connection_) ThrowSocketError(MakeNetError(10057));
  const uint32_t start = clock_.TickCount();
  SmtpReply reply;
  for (;;) {
    switch (reader_.Next(&reply)) {
      case SmtpReplyReader::Status::kReply:
        if (reply.code >= 400 && refusal_observer_) {
          for (const std::string& line : reply.lines) refusal_observer_(RefusalLine(line));
        }
        return reply;
      case SmtpReplyReader::Status::kTooLong:
        throw Fault("ESMTPReplyError", "Reply from the relay is too long");
      case SmtpReplyReader::Status::kNeedMore:
        break;
    }
    // Unsigned subtraction stays right across the tick count's wrap.
    const uint32_t spent = clock_.TickCount() - start;
    if (spent >= limits_.reply_ms) ThrowSocketError(MakeNetError(kWsaTimedOut));
    std::string data;
    NetError error;
    if (!connection_->Receive(kReceiveChunk, Within(limits_.reply_ms - spent), &data, &error)) {
      ThrowSocketError(error);
    }
    if (data.empty()) {
      closed_by_peer_ = true;
      throw Fault("EConnClosedGracefully", "Connection Closed Gracefully.");
    }
    reader_.Feed(data);
  }
}

SmtpReply SmtpClient::Command(const std::string& line) {
  SendLine(line);
  return ReadReply();
}

void SmtpClient::Quit() noexcept {
  if (!connection_) return;
  try {
    if (Connected()) {
      // Whatever the relay still owes (a reply to a command given up on) is not awaited.
      reader_ = SmtpReplyReader();
      // The reply to QUIT says nothing about the mail: it is no refusal to report.
      refusal_observer_ = nullptr;
      NetError error;
      // Past the total QUIT is still sent when the socket takes it at once, and no reply is
      // awaited.
      const uint32_t wait = std::min({kSmtpQuitLimitMs, limits_.reply_ms, TimeLeft()});
      if (connection_->Send("QUIT\r\n", wait, &error) && wait > 0) {
        const uint32_t reply_ms = limits_.reply_ms;
        limits_.reply_ms = wait;
        try {
          ReadReply();
        } catch (...) {
          // No 221 in time, or the relay closed at once: either way the exchange is over.
        }
        limits_.reply_ms = reply_ms;
      }
    }
  } catch (...) {
  }
  Close();
}

void SmtpClient::Close() {
  connection_.reset();
  reader_ = SmtpReplyReader();
  closed_by_peer_ = false;
}

}  // namespace tw
