// Fuzz target for the HTTP answer reader and the token answer behind it: arbitrary bytes from
// a token endpoint, the first byte saying whether the connection has closed after them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/http_exchange.h"
#include "mail/oauth_token.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool closed = (data[0] & 1) != 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  tw::HttpResponse response;
  const tw::HttpParse parse = tw::ParseHttpResponse(input, closed, &response);
  // The same bytes one at a time come to the same answer.
  tw::HttpResponseReader trickled;
  tw::HttpParse step = tw::HttpParse::kNeedMore;
  for (size_t i = 0; i < input.size(); ++i) step = trickled.Feed(input.substr(i, 1), false);
  if (closed) step = trickled.Feed(std::string(), true);
  Check(step == parse);
  if (parse == tw::HttpParse::kDone) {
    Check(trickled.response().status == response.status);
    Check(trickled.response().body == response.body);
  }
  if (parse != tw::HttpParse::kDone) {
    // An answer still open never counts as cut short, and a closed one never waits.
    Check(closed ? parse != tw::HttpParse::kNeedMore : parse != tw::HttpParse::kTruncated);
    return 0;
  }
  Check(response.status >= 200 && response.status <= 599);
  Check(response.body.size() <= tw::kMaxHttpBodyLength);
  Check(response.body.size() <= input.size());
  size_t header_bytes = 0;
  for (const auto& header : response.headers)
    header_bytes += header.first.size() + header.second.size();
  Check(header_bytes <= tw::kMaxHttpHeaderLength);
  uint64_t life = 0;
  const tw::TokenResult token = tw::ReadTokenAnswer(response.status, response.body, &life);
  Check(token.ok() != !token.error.empty());
  Check(life <= 365ull * 86400);
  for (char c : token.access_token) Check(c > 0x20 && c < 0x7f);
  const std::string text = tw::TokenFailureText(token);
  for (char c : text) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  return 0;
}
