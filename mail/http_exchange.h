// A small HTTP/1.1 client for one POST over TLS: the URL, the request bytes, the answer read
// with bounds (Content-Length, chunked, or up to the close), and the exchange itself over the
// network and TLS seams, with the same limits and stop wake-up as the SMTP client.
#ifndef TEMPWARDEN_MAIL_HTTP_EXCHANGE_H_
#define TEMPWARDEN_MAIL_HTTP_EXCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mail/smtp_client.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/tls.h"

namespace tw {

// An answer's status line and header block, its body, and all bytes received on the
// connection. An answer over these is refused: a token answer is a few kilobytes.
constexpr size_t kMaxHttpHeaderLength = 16384;
constexpr size_t kMaxHttpBodyLength = 65536;
constexpr size_t kMaxHttpReceived = 262144;

// "https://host[:port]/path?query" taken apart. Only https: what goes to a token endpoint is
// a secret.
struct HttpsUrl {
  std::string host;  // a name or a dotted IPv4 address
  uint16_t port = 443;
  std::string target = "/";  // path and query, as written
};

// False with `why` for anything but an absolute https URL without user information, blanks
// or control characters, and with a port of 1 to 65535. A fragment is dropped.
bool ParseHttpsUrl(const std::string& url, HttpsUrl* out, std::string* why);

// application/x-www-form-urlencoded: "name=value&..." with everything but letters, digits
// and "-._~" percent-encoded, blanks as "+".
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

// The bytes of a POST of `body` to `url`, asking for JSON and for the connection to close.
std::string EncodeHttpPost(const HttpsUrl& url, const std::string& content_type,
                           const std::string& body);

struct HttpResponse {
  int status = 0;                                            // 100 to 599
  std::string reason;                                        // the status line's text
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed
  std::string body;                                          // decoded from chunks
  // The value of the first header of that name, letter case ignored; empty when none.
  std::string Header(const std::string& name) const;
};

// Interim answers (100 Continue, 103 Early Hints) taken before the answer; one more is refused.
constexpr int kMaxHttpInterimAnswers = 4;

enum class HttpParse {
  kNeedMore,        // the answer is not complete yet
  kDone,            // `response` holds the whole answer
  kMalformed,       // no HTTP/1.x answer, or its framing contradicts itself
  kTooLong,         // over one of the limits above
  kTruncated,       // the connection closed before the answer was complete
  kTooManyInterim,  // more than kMaxHttpInterimAnswers interim answers
};

// Reads one answer as its bytes arrive. Each received byte is looked at about once, whatever
// the pieces it comes in (a peer that sends one byte a record costs no more than one that
// sends the answer whole); a head is taken apart once, when its empty line is there, and a
// chunk once it is whole. Interim 1xx answers are skipped, a few at most. Every length is
// checked against what is there; never reads out of what it was fed.
class HttpResponseReader {
 public:
  // Adds received bytes; `closed` says the peer has closed the connection after them (an
  // answer without length ends there). Once the result is other than kNeedMore it stays.
  HttpParse Feed(const std::string& data, bool closed);
  // The answer, whole when Feed gave kDone.
  const HttpResponse& response() const { return response_; }

 private:
  HttpParse Step();
  // The body's framing from the final answer's header fields.
  HttpParse ReadFraming();

  std::string bytes_;  // all received, at most kMaxHttpReceived
  bool closed_ = false;
  HttpParse result_ = HttpParse::kNeedMore;
  HttpResponse response_;
  int interim_ = 0;
  size_t head_start_ = 0;  // where the head being read starts
  size_t line_start_ = 0;  // where its line being searched starts
  size_t scan_ = 0;        // the first byte not yet looked at in that search
  bool in_body_ = false;
  size_t body_at_ = 0;  // the body's first byte; for chunks, the first chunk not yet taken
  bool no_body_ = false;
  bool chunked_ = false;
  bool trailer_ = false;
  size_t trailer_start_ = 0;
  bool has_length_ = false;
  uint64_t length_ = 0;
};

// Reads the answer from all bytes received so far, as one HttpResponseReader fed once.
HttpParse ParseHttpResponse(const std::string& bytes, bool closed, HttpResponse* response);

// Why an exchange brought no answer.
struct HttpFailure {
  int socket_error = 0;                // the socket error number; 0 when not a socket failure
  TlsFailure tls = TlsFailure::kNone;  // set when the TLS handshake failed
  std::string message;                 // for people; holds the socket error number if any
};

struct HttpsPost {
  HttpsUrl url;
  std::string content_type;
  std::string body;
  // CAs trusted besides the system's roots. The certificate is always checked: what goes
  // to an HTTPS peer here is a secret.
  std::string ca_file;
};

// Connects (within limits.connect_ms), runs the TLS handshake and sends the request, then
// reads the whole answer within limits.reply_ms in all; everything together, handshake
// included, within limits.total_ms (the name lookup aside), else 10060. True with `response`
// for any whole answer, whatever its status; false with `failure`. A raised stop event of the
// network ends every wait at once (10004). Never throws.
bool PostHttps(Network& network, Tls& tls, Clock& clock, const SmtpLimits& limits,
               const HttpsPost& post, HttpResponse* response, HttpFailure* failure);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_HTTP_EXCHANGE_H_
