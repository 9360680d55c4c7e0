// The service's own small SMTP client: one TCP connection to a relay (each of its addresses
// tried in turn), the greeting with EHLO (HELO when the relay does not speak ESMTP), AUTH
// PLAIN, LOGIN and XOAUTH2, commands with their whole replies, dot-stuffed message lines and
// QUIT.
#ifndef TEMPWARDEN_MAIL_SMTP_CLIENT_H_
#define TEMPWARDEN_MAIL_SMTP_CLIENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mail/smtp_reply.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/tls.h"
#include "toolbelt/failure.h"

namespace tw {

// The time limits of an exchange, kept here and nowhere else. A relay that accepts the
// connection and then falls silent costs at most one reply limit, and fails with 10060.
constexpr uint32_t kSmtpConnectLimitMs = 30000;
constexpr uint32_t kSmtpReplyLimitMs = 60000;
// One delivery in all: connect, TLS handshake, token fetch, every command and reply, QUIT. A
// relay that answers each command just inside the reply limit would otherwise hold the
// caller for minutes per mail.
constexpr uint32_t kSmtpDeliveryLimitMs = 120000;
// How long QUIT waits for the relay's 221 before the connection is closed anyway.
constexpr uint32_t kSmtpQuitLimitMs = 2000;
// A refusal line as kept for people: at most this many characters.
constexpr size_t kRefusalLineLength = 200;

struct SmtpLimits {
  uint32_t connect_ms = kSmtpConnectLimitMs;  // the TCP connect, name lookup excluded
  uint32_t reply_ms = kSmtpReplyLimitMs;      // each whole reply, and each send
  // The whole exchange, from the client's making (or the token fetch's start) to its end,
  // name lookup excluded: no wait goes past it, and one that would fails with 10060.
  uint32_t total_ms = kSmtpDeliveryLimitMs;
};

// A TLS handshake that failed ("ETLSError"), with the kind of failure.
class TlsFault : public Fault {
 public:
  TlsFault(TlsFailure kind, const std::string& message)
      : Fault("ETLSError", message), kind_(kind) {}
  TlsFailure kind() const { return kind_; }

 private:
  TlsFailure kind_;
};

// Every operation that talks to the relay throws Fault on failure: "ESocketError" with the
// socket error's text (which holds the Windows socket error number), "ESMTPReplyError" with
// the relay's reply when a reply is not the one expected, "EConnClosedGracefully" when the
// relay closed the connection. The connection is released when the client is destroyed.
class SmtpClient {
 public:
  SmtpClient(Network& network, Clock& clock, const SmtpLimits& limits);
  ~SmtpClient();

  // Called before each connection attempt with the address tried, and after a failed one
  // with its error (null before the attempt).
  using AttemptObserver = std::function<void(const std::string& address, const NetError* error)>;

  // Resolves `host` to all its IPv4 and IPv6 addresses and tries each in the resolver's order
  // until one connects. The connect limit holds for all attempts together; each attempt gets
  // an equal share of what is left, so that one address that swallows packets leaves time
  // for the next. Throws the last attempt's error.
  void Connect(const std::string& host, uint16_t port,
               const AttemptObserver& observer = AttemptObserver());
  // The connection's local address ("10.1.2.3", "fd00::5"), "" when not known.
  const std::string& local_address() const { return local_address_; }

  // Called with every line of every 4xx or 5xx reply before QUIT, as RefusalLine makes it.
  void set_refusal_observer(std::function<void(const std::string&)> observer) {
    refusal_observer_ = std::move(observer);
  }

  // Reads the greeting (220), sends "EHLO " + `local_name` and, unless that gets 250,
  // "HELO " + `local_name` (250). On any failure sends "QUIT" without waiting, closes the
  // connection and throws. Without `read_greeting` starts with EHLO (after STARTTLS).
  void Greet(const std::string& local_name, bool read_greeting = true);

  // Runs the TLS handshake on the connection; from then on everything goes encrypted.
  // Throws TlsFault when it fails (the connection is then closed).
  void Secure(Tls& tls, const TlsOptions& options, TlsFacts* facts);

  // STARTTLS: the command (220 expected), the handshake, and EHLO again, everything learned
  // from the first EHLO forgotten. A relay that sends anything after its 220 before the
  // handshake is refused (those bytes would pass for encrypted replies later). Throws
  // TlsFault for a refused STARTTLS and a failed handshake; the connection is then closed.
  void StartTls(Tls& tls, const TlsOptions& options, const std::string& local_name,
                TlsFacts* facts);

  // True while there is a connection that the relay has not closed.
  bool Connected();

  // Milliseconds left of limits.total_ms, counted from the client's making; 0 once spent.
  uint32_t TimeLeft();

  // Whether the EHLO reply listed an "AUTH" (or "AUTH=") line, and the mechanisms it named.
  bool auth_offered() const { return auth_offered_; }
  const std::vector<std::string>& auth_mechanisms() const { return auth_mechanisms_; }
  // False when the relay only took HELO.
  bool extended() const { return extended_; }
  // Whether the EHLO reply listed "STARTTLS".
  bool starttls_offered() const { return starttls_offered_; }

  // The AUTH exchanges. Each returns the relay's last reply (235 when it took the login);
  // a reply that is not the one expected ends the exchange and is returned as well.
  // AUTH LOGIN: 334, the user name in base64, 334, the password in base64, 235.
  SmtpReply AuthLogin(const std::string& user, const std::string& password);
  // AUTH PLAIN with the initial response: base64 of NUL, user, NUL, password (RFC 4616).
  SmtpReply AuthPlain(const std::string& user, const std::string& password);
  // AUTH XOAUTH2 with base64 of "user=" user ^A "auth=Bearer " token ^A ^A. A refused token
  // gets a 334 with the error in JSON; an empty line then asks for the final reply.
  SmtpReply AuthXOAuth2(const std::string& user, const std::string& token);

  // Sends `line` and CR LF. A command never carries a line break of its own: one in `line`
  // is refused (it would smuggle a second command past the relay's reply).
  void SendLine(const std::string& line);
  // Reads one whole reply, waiting at most the reply limit.
  SmtpReply ReadReply();
  SmtpReply Command(const std::string& line);

  // Sends message text that starts at the beginning of a line, followed by CR LF, with
  // every line that begins with "." sent with a second "." in front.
  void SendMessageLine(const std::string& text);

  // Sends "QUIT" once per connection and waits at most kSmtpQuitLimitMs (and at most the
  // reply limit and what is left of the total) for the reply, then closes the connection.
  // Never throws; a failure is ignored.
  void Quit() noexcept;
  void Close();

 private:
  [[noreturn]] void ThrowSocketError(const NetError& error);
  // `wait` cut to what is left of the total; throws 10060 when nothing is left.
  uint32_t Within(uint32_t wait);
  // EHLO (HELO when refused), learning the extensions anew.
  void Hello(const std::string& local_name);
  void SendRaw(const std::string& bytes);
  SmtpReply Expect(const SmtpReply& reply, int code);

  Network& network_;
  Clock& clock_;
  SmtpLimits limits_;
  uint64_t begun_ms_;  // on the clock's MonotonicMs, for limits_.total_ms
  std::unique_ptr<TcpConnection> connection_;
  SmtpReplyReader reader_;
  bool closed_by_peer_ = false;
  bool auth_offered_ = false;
  bool extended_ = false;
  bool starttls_offered_ = false;
  std::vector<std::string> auth_mechanisms_;
  std::string local_address_;
  std::function<void(const std::string&)> refusal_observer_;
};

// A reply line as shown to people and logged: control characters (and the log's bracket
// characters) replaced, cut to kRefusalLineLength characters.
std::string RefusalLine(const std::string& line);

// `text` with a second "." in front of every line that begins with ".", lines ending at LF.
// `text` is taken to start at the beginning of a line.
std::string DotStuffed(const std::string& text);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_CLIENT_H_
