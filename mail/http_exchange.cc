#include "mail/http_exchange.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>

namespace tw {
namespace {

constexpr size_t kReceiveChunk = 16384;
// A chunk-size line: up to 8 hex digits and an extension nobody needs to be long.
constexpr size_t kMaxChunkLineLength = 1024;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Header names are tokens (RFC 9110 5.6.2).
bool IsTokenChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::string("!#$%&'*+-.^_`|~").find(c) != std::string::npos;
}

enum class Line { kFound, kMissing, kTooLong };

// The line that starts at `at`, without its LF or CR LF; `at` moves past it. A line longer
// than `limit` bytes (counted from where it starts) is kTooLong even before it ends.
Line NextLine(const std::string& bytes, size_t& at, size_t limit, std::string* line) {
  const size_t end = bytes.find('\n', at);
  if (end == std::string::npos) {
    return bytes.size() - at > limit ? Line::kTooLong : Line::kMissing;
  }
  if (end - at > limit) return Line::kTooLong;
  size_t stop = end;
  if (stop > at && bytes[stop - 1] == '\r') --stop;
  *line = bytes.substr(at, stop - at);
  at = end + 1;
  return Line::kFound;
}

// The outcome of a piece that is not there yet: more may come, unless the peer has closed.
HttpParse Missing(bool closed) { return closed ? HttpParse::kTruncated : HttpParse::kNeedMore; }

// "HTTP/1.x NNN reason".
bool ParseStatusLine(const std::string& line, HttpResponse* response) {
  if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || !IsDigit(line[7]) ||
      line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11])) {
    return false;
  }
  if (line.size() > 12 && line[12] != ' ') return false;
  response->status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  response->reason = line.size() > 13 ? line.substr(13) : std::string();
  return response->status >= 100 && response->status <= 599;
}

// The status line and header fields from `at`; `at` moves past the empty line that ends them.
HttpParse ParseHead(const std::string& bytes, bool closed, size_t& at, HttpResponse* response) {
  const size_t start = at;
  std::string line;
  response->headers.clear();
  bool first = true;
  for (;;) {
    const size_t used = at - start;
    if (used > kMaxHttpHeaderLength) return HttpParse::kTooLong;
    const Line got = NextLine(bytes, at, kMaxHttpHeaderLength - used, &line);
    if (got == Line::kTooLong) return HttpParse::kTooLong;
    if (got == Line::kMissing) return Missing(closed);
    if (first) {
      if (!ParseStatusLine(line, response)) return HttpParse::kMalformed;
      first = false;
      continue;
    }
    if (line.empty()) return HttpParse::kDone;
    // A folded line (RFC 9112 5.2 lets a client refuse it) or one without a name.
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) return HttpParse::kMalformed;
    for (size_t i = 0; i < colon; ++i) {
      if (!IsTokenChar(line[i])) return HttpParse::kMalformed;
    }
    response->headers.emplace_back(line.substr(0, colon), Trimmed(line.substr(colon + 1)));
  }
}

// The chunks from `at`, resumable: `at` moves past each chunk only once the whole chunk (its
// size line, its data and their line end) is there and appended to `body`, so that the next
// call starts at the first chunk not yet taken; `trailer` says the last chunk was taken and
// `at` is in the trailer fields (`trailer_start` their start).
HttpParse ParseChunked(const std::string& bytes, bool closed, size_t& at, bool& trailer,
                       size_t& trailer_start, std::string* body) {
  std::string line;
  while (!trailer) {
    size_t pos = at;
    const Line got = NextLine(bytes, pos, kMaxChunkLineLength, &line);
    if (got == Line::kTooLong) return HttpParse::kMalformed;
    if (got == Line::kMissing) return Missing(closed);
    size_t digits = 0;
    uint64_t size = 0;
    while (digits < line.size() && HexValue(line[digits]) >= 0) {
      if (digits == 8) return HttpParse::kTooLong;  // 4 GiB and more
      size = size * 16 + static_cast<uint64_t>(HexValue(line[digits]));
      ++digits;
    }
    if (digits == 0) return HttpParse::kMalformed;
    if (digits < line.size() && line[digits] != ';' && line[digits] != ' ' &&
        line[digits] != '\t') {
      return HttpParse::kMalformed;
    }
    if (size == 0) {
      at = pos;
      trailer = true;
      trailer_start = at;
      break;
    }
    if (size > kMaxHttpBodyLength - body->size()) return HttpParse::kTooLong;
    if (bytes.size() - pos < size) return Missing(closed);
    const size_t data_at = pos;
    pos += static_cast<size_t>(size);
    // The chunk's own line end.
    const Line end = NextLine(bytes, pos, 1, &line);
    if (end == Line::kMissing) return Missing(closed);
    if (end == Line::kTooLong || !line.empty()) return HttpParse::kMalformed;
    body->append(bytes, data_at, static_cast<size_t>(size));
    at = pos;
  }
  // Trailer fields, up to an empty line; their content is of no use here.
  for (;;) {
    const size_t used = at - trailer_start;
    if (used > kMaxHttpHeaderLength) return HttpParse::kTooLong;
    const Line got = NextLine(bytes, at, kMaxHttpHeaderLength - used, &line);
    if (got == Line::kTooLong) return HttpParse::kTooLong;
    if (got == Line::kMissing) return Missing(closed);
    if (line.empty()) return HttpParse::kDone;
  }
}

}  // namespace

bool ParseHttpsUrl(const std::string& url, HttpsUrl* out, std::string* why) {
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
      *why = "blank or control character in the URL";
      return false;
    }
  }
  const std::string scheme = "https://";
  if (url.size() < scheme.size() || Lower(url.substr(0, scheme.size())) != scheme) {
    *why = "not an https:// URL";
    return false;
  }
  const size_t host_at = scheme.size();
  size_t end = url.find_first_of("/?#", host_at);
  if (end == std::string::npos) end = url.size();
  const std::string authority = url.substr(host_at, end - host_at);
  if (authority.find('@') != std::string::npos) {
    *why = "user information in the URL";
    return false;
  }
  if (authority.find('[') != std::string::npos) {
    *why = "IPv6 address literal in the URL";
    return false;
  }
  HttpsUrl result;
  const size_t colon = authority.find(':');
  result.host = authority.substr(0, colon);
  if (result.host.empty()) {
    *why = "no host in the URL";
    return false;
  }
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    uint32_t value = 0;
    bool ok = !port.empty() && port.size() <= 5;
    for (char c : port) {
      ok = ok && IsDigit(c);
      if (ok) value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!ok || value < 1 || value > 65535) {
      *why = "port of the URL not 1 to 65535";
      return false;
    }
    result.port = static_cast<uint16_t>(value);
  }
  std::string target = url.substr(end);
  const size_t hash = target.find('#');
  if (hash != std::string::npos) target.resize(hash);
  if (target.empty()) target = "/";
  if (target[0] == '?') target = "/" + target;
  result.target = target;
  *out = result;
  return true;
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  static const char kHex[] = "0123456789ABCDEF";
  auto encode = [](const std::string& text, std::string* out) {
    for (char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
        *out += c;
      } else if (c == ' ') {
        *out += '+';
      } else {
        *out += '%';
        *out += kHex[u >> 4];
        *out += kHex[u & 15];
      }
    }
  };
  std::string out;
  for (const auto& field : fields) {
    if (!out.empty()) out += '&';
    encode(field.first, &out);
    out += '=';
    encode(field.second, &out);
  }
  return out;
}

std::string EncodeHttpPost(const HttpsUrl& url, const std::string& content_type,
                           const std::string& body) {
  std::string host = url.host;
  if (url.port != 443) host += ":" + std::to_string(url.port);
  return "POST " + url.target + " HTTP/1.1\r\n" + "Host: " + host + "\r\n" +
         "Content-Type: " + content_type + "\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n" +
         "Accept: application/json\r\n" + "Connection: close\r\n\r\n" + body;
}

std::string HttpResponse::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& header : headers) {
    if (Lower(header.first) == wanted) return header.second;
  }
  return std::string();
}

HttpParse HttpResponseReader::Feed(const std::string& data, bool closed) {
  if (result_ != HttpParse::kNeedMore) return result_;
  bytes_ += data;
  closed_ = closed_ || closed;
  result_ = Step();
  return result_;
}

HttpParse HttpResponseReader::Step() {
  if (bytes_.size() > kMaxHttpReceived) return HttpParse::kTooLong;
  while (!in_body_) {
    // The head is taken apart only once its empty line is there; until then each new byte is
    // looked at once, in the search for that line.
    bool complete = false;
    for (; scan_ < bytes_.size(); ++scan_) {
      if (bytes_[scan_] != '\n') continue;
      const size_t length = scan_ - line_start_;
      const bool empty = length == 0 || (length == 1 && bytes_[line_start_] == '\r');
      if (line_start_ == head_start_ && !empty && length <= kMaxHttpHeaderLength) {
        // A first line that is no status line is refused at once: no answer follows.
        HttpResponse status;
        const size_t end = bytes_[scan_ - 1] == '\r' ? scan_ - 1 : scan_;
        if (!ParseStatusLine(bytes_.substr(line_start_, end - line_start_), &status)) {
          return HttpParse::kMalformed;
        }
      }
      line_start_ = scan_ + 1;
      if (empty) {
        complete = true;
        ++scan_;
        break;
      }
    }
    if (!complete) {
      if (bytes_.size() - head_start_ > kMaxHttpHeaderLength) return HttpParse::kTooLong;
      return Missing(closed_);
    }
    size_t at = head_start_;
    const HttpParse head = ParseHead(bytes_, closed_, at, &response_);
    if (head != HttpParse::kDone) return head;
    if (response_.status == 101) return HttpParse::kMalformed;  // no upgrade was asked for
    if (response_.status < 200) {
      // An interim answer (100 Continue, 103 Early Hints): the real one follows, after a few
      // at most.
      if (++interim_ > kMaxHttpInterimAnswers) return HttpParse::kTooManyInterim;
      head_start_ = line_start_ = scan_ = at;
      continue;
    }
    in_body_ = true;
    body_at_ = at;
    response_.body.clear();
    const HttpParse framing = ReadFraming();
    if (framing != HttpParse::kNeedMore) return framing;
  }
  if (no_body_) return HttpParse::kDone;
  if (chunked_) {
    return ParseChunked(bytes_, closed_, body_at_, trailer_, trailer_start_, &response_.body);
  }
  if (has_length_) {
    if (bytes_.size() - body_at_ < length_) return Missing(closed_);
    response_.body = bytes_.substr(body_at_, static_cast<size_t>(length_));
    return HttpParse::kDone;
  }
  // Neither: the body ends where the connection does.
  if (bytes_.size() - body_at_ > kMaxHttpBodyLength) return HttpParse::kTooLong;
  if (!closed_) return HttpParse::kNeedMore;
  response_.body = bytes_.substr(body_at_);
  return HttpParse::kDone;
}

HttpParse HttpResponseReader::ReadFraming() {
  if (response_.status == 204 || response_.status == 304) {
    no_body_ = true;
    return HttpParse::kNeedMore;
  }
  bool has_encoding = false;
  std::string length_text;
  for (const auto& header : response_.headers) {
    const std::string name = Lower(header.first);
    if (name == "transfer-encoding") {
      // Only "chunked" is decoded; a compressed body was not asked for.
      if (has_encoding || Lower(header.second) != "chunked") return HttpParse::kMalformed;
      has_encoding = chunked_ = true;
    } else if (name == "content-length") {
      if (has_length_ && header.second != length_text) return HttpParse::kMalformed;
      has_length_ = true;
      length_text = header.second;
    }
  }
  if (chunked_ || !has_length_) return HttpParse::kNeedMore;
  if (length_text.empty() || length_text.size() > 10) {
    return length_text.empty() ? HttpParse::kMalformed : HttpParse::kTooLong;
  }
  for (char c : length_text) {
    if (!IsDigit(c)) return HttpParse::kMalformed;
    length_ = length_ * 10 + static_cast<uint64_t>(c - '0');
  }
  if (length_ > kMaxHttpBodyLength) return HttpParse::kTooLong;
  return HttpParse::kNeedMore;
}

HttpParse ParseHttpResponse(const std::string& bytes, bool closed, HttpResponse* response) {
  HttpResponseReader reader;
  const HttpParse result = reader.Feed(bytes, closed);
  *response = reader.response();
  return result;
}

bool PostHttps(Network& network, Tls& tls, Clock& clock, const SmtpLimits& limits,
               const HttpsPost& post, HttpResponse* response, HttpFailure* failure) {
  try {
    // One deadline for all of it: a peer that is slow at each step in turn still holds the
    // caller no longer than limits.total_ms (the name lookup aside).
    const uint64_t begun = clock.MonotonicMs();
    auto within = [&](uint64_t wait) -> uint32_t {
      const uint64_t spent = clock.MonotonicMs() - begun;
      const uint64_t left = spent >= limits.total_ms ? 0 : limits.total_ms - spent;
      return static_cast<uint32_t>(std::min(wait, left));
    };
    auto socket_failure = [failure](const NetError& e) {
      failure->socket_error = e.code;
      failure->message = e.message;
      return false;
    };
    NetError error;
    std::unique_ptr<TcpConnection> tcp =
        network.ConnectTcp(post.url.host, post.url.port, within(limits.connect_ms), &error);
    if (!tcp) return socket_failure(error);
    TlsOptions options;
    options.host = post.url.host;
    options.verify = true;
    options.ca_file = post.ca_file;
    options.timeout_ms = within(limits.reply_ms);
    if (options.timeout_ms == 0) return socket_failure(MakeNetError(kWsaTimedOut));
    TlsFacts facts;
    TlsError tls_error;
    std::unique_ptr<TcpConnection> connection =
        tls.Connect(std::move(tcp), options, &facts, &tls_error);
    if (!connection) {
      failure->tls = tls_error.kind == TlsFailure::kNone ? TlsFailure::kHandshake : tls_error.kind;
      failure->message = tls_error.message;
      return false;
    }
    const uint32_t send_ms = within(limits.reply_ms);
    if (send_ms == 0) return socket_failure(MakeNetError(kWsaTimedOut));
    if (!connection->Send(EncodeHttpPost(post.url, post.content_type, post.body), send_ms,
                          &error)) {
      return socket_failure(error);
    }
    const uint64_t started = clock.MonotonicMs();
    HttpResponseReader reader;
    std::string data;
    bool closed = false;
    for (;;) {
      switch (reader.Feed(data, closed)) {
        case HttpParse::kDone:
          *response = reader.response();
          return true;
        case HttpParse::kNeedMore:
          break;
        case HttpParse::kMalformed:
          failure->message = "The answer is not well-formed HTTP";
          return false;
        case HttpParse::kTooManyInterim:
          failure->message = "More than " + std::to_string(kMaxHttpInterimAnswers) +
                             " interim answers (1xx) before the answer";
          return false;
        case HttpParse::kTooLong:
          failure->message = "The answer is longer than a token answer can be";
          return false;
        case HttpParse::kTruncated:
          failure->message = "The connection closed before the answer was complete";
          return false;
      }
      const uint64_t spent = clock.MonotonicMs() - started;
      const uint32_t wait = within(spent >= limits.reply_ms ? 0 : limits.reply_ms - spent);
      if (wait == 0) return socket_failure(MakeNetError(kWsaTimedOut));
      data.clear();
      if (!connection->Receive(kReceiveChunk, wait, &data, &error)) return socket_failure(error);
      if (data.empty()) closed = true;
    }
  } catch (const std::exception& e) {
    failure->message = e.what();
    return false;
  } catch (...) {
    failure->message = "Unknown failure";
    return false;
  }
}

}  // namespace tw
