#include "mail/http_exchange.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

const char kLengthAnswer[] =
    "HTTP/1.1 200 OK\r\n"                 // status line
    "Content-Type: application/json\r\n"  // a header the reader keeps
    "Content-Length: 17\r\n"              // the body's length
    "\r\n"                                // end of the header block
    "{\"access_token\":1}";               // 18 bytes: one more than announced
const char kChunkedAnswer[] =
    "HTTP/1.1 400 Bad Request\r\n"
    "Transfer-Encoding: chunked\r\n"
    "\r\n"
    "4\r\n"          // a chunk of 4 bytes
    "{\"er\r\n"      // its data and line end
    "a;x=\"y\"\r\n"  // 10 bytes, with an extension
    "ror\":\"bad\"\r\n"
    "3\r\n"
    "}  \r\n"
    "0\r\n"            // the last chunk
    "Trailer: ok\r\n"  // a trailer field
    "\r\n";

TEST(HttpResponseTest, Answers) {
  const std::string header_flood =
      "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(kMaxHttpHeaderLength, 'a') + "\r\n\r\n";
  const std::string many_chunks = [] {
    std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t i = 0; i < kMaxHttpBodyLength / 8 + 1; ++i) text += "8\r\n12345678\r\n";
    return text + "0\r\n\r\n";
  }();
  const struct {
    const char* name;
    std::string bytes;
    bool closed;
    HttpParse parse;
    int status;        // when kDone
    std::string body;  // when kDone
  } cases[] = {
      {"content-length", kLengthAnswer, false, HttpParse::kDone, 200, "{\"access_token\":1"},
      {"chunked with extension and trailer", kChunkedAnswer, false, HttpParse::kDone, 400,
       "{\"error\":\"bad\"}  "},
      {"LF line ends", "HTTP/1.0 200 OK\nContent-Length: 2\n\nhi", false, HttpParse::kDone, 200,
       "hi"},
      {"interim 100 skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n"
       "Content-Length: 0\r\n\r\n",
       false, HttpParse::kDone, 201, ""},
      {"no length: up to the close", "HTTP/1.1 200 OK\r\n\r\nall of it", true, HttpParse::kDone,
       200, "all of it"},
      {"no length, still open", "HTTP/1.1 200 OK\r\n\r\nall of it", false, HttpParse::kNeedMore, 0,
       ""},
      {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", false, HttpParse::kDone, 204, ""},
      {"status without reason", "HTTP/1.1 503\r\nContent-Length: 0\r\n\r\n", false,
       HttpParse::kDone, 503, ""},
      {"same length twice", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\nx",
       false, HttpParse::kDone, 200, "x"},
      // Refused.
      {"not HTTP", "SSH-2.0-OpenSSH_9.2\r\n", false, HttpParse::kMalformed, 0, ""},
      {"status 600", "HTTP/1.1 600 Odd\r\n\r\n", false, HttpParse::kMalformed, 0, ""},
      {"status of two digits", "HTTP/1.1 20 OK\r\n\r\n", false, HttpParse::kMalformed, 0, ""},
      {"upgrade not asked for", "HTTP/1.1 101 Switching\r\n\r\n", false, HttpParse::kMalformed, 0,
       ""},
      {"header without colon", "HTTP/1.1 200 OK\r\nbroken\r\n\r\n", false, HttpParse::kMalformed, 0,
       ""},
      {"folded header", "HTTP/1.1 200 OK\r\nA: b\r\n c\r\n\r\n", false, HttpParse::kMalformed, 0,
       ""},
      {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nxy", false,
       HttpParse::kMalformed, 0, ""},
      {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false,
       HttpParse::kMalformed, 0, ""},
      {"compressed body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", false,
       HttpParse::kMalformed, 0, ""},
      {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
       HttpParse::kMalformed, 0, ""},
      {"chunk longer than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n", false,
       HttpParse::kMalformed, 0, ""},
      // Oversize.
      {"length over the limit", "HTTP/1.1 200 OK\r\nContent-Length: 65537\r\n\r\n", false,
       HttpParse::kTooLong, 0, ""},
      {"length of eleven digits", "HTTP/1.1 200 OK\r\nContent-Length: 10000000000\r\n\r\n", false,
       HttpParse::kTooLong, 0, ""},
      {"chunk size of nine digits",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000000\r\n", false,
       HttpParse::kTooLong, 0, ""},
      {"chunks over the limit", many_chunks, false, HttpParse::kTooLong, 0, ""},
      {"header block over the limit", header_flood, false, HttpParse::kTooLong, 0, ""},
      {"no length, body over the limit",
       "HTTP/1.1 200 OK\r\n\r\n" + std::string(kMaxHttpBodyLength + 1, 'x'), false,
       HttpParse::kTooLong, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpResponse response;
    ASSERT_EQ(ParseHttpResponse(c.bytes, c.closed, &response), c.parse);
    if (c.parse != HttpParse::kDone) continue;
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.body, c.body);
  }
}

TEST(HttpResponseTest, EveryCutWaitsOrIsTruncated) {
  const std::string length_answer(kLengthAnswer, sizeof(kLengthAnswer) - 2);  // exact length
  for (const std::string& whole : {length_answer, std::string(kChunkedAnswer)}) {
    HttpResponse response;
    ASSERT_EQ(ParseHttpResponse(whole, false, &response), HttpParse::kDone);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      SCOPED_TRACE(whole.substr(0, cut));
      EXPECT_EQ(ParseHttpResponse(whole.substr(0, cut), false, &response), HttpParse::kNeedMore);
      EXPECT_EQ(ParseHttpResponse(whole.substr(0, cut), true, &response), HttpParse::kTruncated);
    }
  }
}

TEST(HttpResponseTest, HeadersByNameInAnyCase) {
  HttpResponse response;
  ASSERT_EQ(ParseHttpResponse(kLengthAnswer, false, &response), HttpParse::kDone);
  EXPECT_EQ(response.reason, "OK");
  EXPECT_EQ(response.Header("content-type"), "application/json");
  EXPECT_EQ(response.Header("CONTENT-LENGTH"), "17");
  EXPECT_EQ(response.Header("Location"), "");
}

TEST(HttpsUrlTest, Parts) {
  const struct {
    const char* url;
    bool ok;
    const char* host;
    uint16_t port;
    const char* target;  // or the reason when refused
  } cases[] = {
      {"https://login.microsoftonline.com/contoso.example/oauth2/v2.0/token", true,
       "login.microsoftonline.com", 443, "/contoso.example/oauth2/v2.0/token"},
      {"HTTPS://localhost:8443/token?x=1#top", true, "localhost", 8443, "/token?x=1"},
      {"https://10.0.0.5", true, "10.0.0.5", 443, "/"},
      {"https://idp.test?a=b", true, "idp.test", 443, "/?a=b"},
      {"http://idp.test/token", false, "", 0, "not an https:// URL"},
      {"https://user:pw@idp.test/", false, "", 0, "user information in the URL"},
      {"https://idp.test:0/", false, "", 0, "port of the URL not 1 to 65535"},
      {"https://idp.test:65536/", false, "", 0, "port of the URL not 1 to 65535"},
      {"https://idp.test:/", false, "", 0, "port of the URL not 1 to 65535"},
      {"https:///token", false, "", 0, "no host in the URL"},
      {"https://[::1]/token", false, "", 0, "IPv6 address literal in the URL"},
      {"https://idp.test/a b", false, "", 0, "blank or control character in the URL"},
      {"https://idp.test/\r\nX: y", false, "", 0, "blank or control character in the URL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    HttpsUrl url;
    std::string why;
    ASSERT_EQ(ParseHttpsUrl(c.url, &url, &why), c.ok);
    if (!c.ok) {
      EXPECT_EQ(why, c.target);
      continue;
    }
    EXPECT_EQ(url.host, c.host);
    EXPECT_EQ(url.port, c.port);
    EXPECT_EQ(url.target, c.target);
  }
}

TEST(HttpRequestTest, FormPost) {
  EXPECT_EQ(FormEncode({{"grant_type", "client_credentials"},
                        {"client_secret", "a+b/c=d&e f~ü"},
                        {"scope", "https://outlook.office365.com/.default"}}),
            "grant_type=client_credentials&client_secret=a%2Bb%2Fc%3Dd%26e+f~%C3%BC"
            "&scope=https%3A%2F%2Foutlook.office365.com%2F.default");
  HttpsUrl url;
  url.host = "idp.test";
  url.port = 8443;
  url.target = "/t/token";
  EXPECT_EQ(EncodeHttpPost(url, "application/x-www-form-urlencoded", "a=b"),
            "POST /t/token HTTP/1.1\r\n"
            "Host: idp.test:8443\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 3\r\n"
            "Accept: application/json\r\n"
            "Connection: close\r\n"
            "\r\n"
            "a=b");
  url.port = 443;
  EXPECT_NE(EncodeHttpPost(url, "text/plain", "").find("Host: idp.test\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tw
