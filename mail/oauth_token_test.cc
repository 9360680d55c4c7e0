#include "mail/oauth_token.h"

#include <gtest/gtest.h>

#include "toolbelt/fake_context.h"

namespace tw {
namespace {

TEST(TokenAnswerTest, Answers) {
  const struct {
    const char* name;
    int status;
    const char* body;
    const char* token;  // empty: refused
    uint64_t life_s;
    const char* error;
    const char* description;
  } cases[] = {
      {"Microsoft's answer", 200,
       R"({"token_type":"Bearer","expires_in":3599,"ext_expires_in":3599,"access_token":"eyJ0.eXAi.OiJK"})",
       "eyJ0.eXAi.OiJK", 3599, "", ""},
      {"life as a string", 200, R"({"access_token":"t","token_type":"bearer","expires_in":"60"})",
       "t", 60, "", ""},
      {"no life, no type", 200, R"({"access_token":"t"})", "t", 0, "", ""},
      {"negative life", 200, R"({"access_token":"t","expires_in":-5})", "t", 0, "", ""},
      {"endless life", 200, R"({"access_token":"t","expires_in":1e300})", "t", 365 * 86400, "", ""},
      {"endpoint's error", 401,
       R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret provided.","error_codes":[7000215]})",
       "", 0, "invalid_client", "AADSTS7000215: Invalid client secret provided."},
      {"error without description", 400, R"({"error":"invalid_scope"})", "", 0, "invalid_scope",
       ""},
      {"token in an error answer", 400, R"({"access_token":"t","error":"invalid_grant"})", "", 0,
       "invalid_grant", ""},
      {"HTML error page", 503, "<html>Service Unavailable</html>", "", 0, "answer",
       "HTTP 503 from the token endpoint: <html>Service Unavailable</html>"},
      {"JSON but no object", 200, "[\"access_token\"]", "", 0, "answer",
       "The token endpoint's answer is not a JSON object"},
      {"cut JSON", 200, R"({"access_token":"t")", "", 0, "answer",
       "The token endpoint's answer is not a JSON object"},
      {"no token", 200, R"({"token_type":"Bearer"})", "", 0, "answer",
       "The answer holds no access_token"},
      {"token not a string", 200, R"({"access_token":5})", "", 0, "answer",
       "The answer holds no access_token"},
      {"other token type", 200, R"({"access_token":"t","token_type":"mac"})", "", 0, "answer",
       "The token is of type mac, not Bearer"},
      {"token with a line break", 200, R"({"access_token":"t\r\nQUIT"})", "", 0, "answer",
       "The access token holds characters no token holds"},
      {"empty error answer", 500, "{}", "", 0, "answer", "HTTP 500 from the token endpoint"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t life = 7;
    const TokenResult result = ReadTokenAnswer(c.status, c.body, &life);
    EXPECT_EQ(result.access_token, c.token);
    EXPECT_EQ(result.ok(), *c.token != '\0');
    EXPECT_EQ(life, c.life_s);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.error_description, c.description);
  }
}

TEST(TokenAnswerTest, FailureTextsAreOneLineAndShort) {
  TokenResult result;
  result.error = "invalid_client";
  result.error_description =
      "AADSTS7000215: Invalid\r\nclient secret.\tTrace ID: " + std::string(300, 'x');
  std::string shown = "AADSTS7000215: Invalid  client secret. Trace ID: ";
  shown.resize(200, 'x');
  EXPECT_EQ(TokenFailureText(result), "invalid_client: " + shown);
  EXPECT_EQ(TokenFailureItems(result),
            "[OAuthError=invalid_client][OAuthErrorDescription=" + shown + "]");
  result.error_description.clear();
  EXPECT_EQ(TokenFailureText(result), "invalid_client");
  // What the endpoint says cannot close an item and forge another.
  result.error = "invalid_client][Result=0";
  result.error_description = "x]\r\n[Subject=APC UPS: all well";
  EXPECT_EQ(TokenFailureItems(result),
            "[OAuthError=invalid_client)(Result=0]"
            "[OAuthErrorDescription=x)  (Subject=APC UPS: all well]");
}

TEST(TokenAnswerTest, XOAuth2Response) {
  EXPECT_EQ(XOAuth2Response("ups@contoso.example", "eyJ0"),
            std::string("user=ups@contoso.example\x01"
                        "auth=Bearer eyJ0\x01\x01"));
}

// A token endpoint behind the fake network: answers every request with the next canned
// answer, and records what it was sent.
class FakeTokenEndpoint : public TcpConnection {
 public:
  // Sends `record_bytes` a record (seven by default, so that the reader has to put the answer
  // together), each `record_ms` after the one before on `clock`.
  FakeTokenEndpoint(std::string answer, std::vector<std::string>* requests, FakeClock* clock,
                    size_t record_bytes, uint32_t record_ms)
      : answer_(std::move(answer)),
        requests_(requests),
        clock_(clock),
        record_bytes_(record_bytes),
        record_ms_(record_ms) {
    requests_->emplace_back();
  }
  bool Send(const std::string& data, uint32_t, NetError*) override {
    requests_->back() += data;
    return true;
  }
  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    if (record_ms_ > timeout_ms) {
      clock_->Advance(timeout_ms);
      *error = MakeNetError(kWsaTimedOut);
      return false;
    }
    clock_->Advance(record_ms_);
    *data = answer_.substr(0, std::min(max_size, record_bytes_));
    answer_.erase(0, data->size());
    return true;
  }
  bool PeerOpen() override { return !answer_.empty(); }

 private:
  std::string answer_;
  std::vector<std::string>* requests_;
  FakeClock* clock_;
  size_t record_bytes_;
  uint32_t record_ms_;
};

class PlainTls : public Tls {
 public:
  std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp, const TlsOptions& o,
                                         TlsFacts*, TlsError* error) override {
    options.push_back(o);
    if (clock != nullptr) clock->Advance(std::min(handshake_ms, o.timeout_ms));
    if (fail != TlsFailure::kNone) {
      *error = {fail, "certificate verify failed"};
      return nullptr;
    }
    return tcp;
  }
  std::vector<TlsOptions> options;
  TlsFailure fail = TlsFailure::kNone;
  FakeClock* clock = nullptr;  // with `handshake_ms`, what each handshake takes on it
  uint32_t handshake_ms = 0;
};

std::string JsonAnswer(int status, const std::string& json) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\n" +
         "Content-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json;
}

class TokenSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.ctx.env.tls = &tls_;
    env_.network.hosts["login.idp.test"] = "192.0.2.44";
    env_.network.tcp_peer = [this](const std::string&, uint16_t) {
      const std::string answer = answers_.empty() ? std::string() : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      return std::make_unique<FakeTokenEndpoint>(answer, &requests_, &env_.clock, record_bytes_,
                                                 record_ms_);
    };
    settings_.TokenURL = "https://login.idp.test/tenant-1/oauth2/v2.0/token";
    settings_.ClientID = "0c6f-app";
    settings_.ClientSecret = "Qx8~s3cret+/=";
    settings_.CAFile = "/etc/tempwarden/ca.pem";
  }

  TokenResult Get() { return source_.Get(env_.ctx, settings_, limits_); }

  FakeEnv env_;
  PlainTls tls_;
  std::vector<std::string> answers_;
  std::vector<std::string> requests_;
  size_t record_bytes_ = 7;
  uint32_t record_ms_ = 0;
  tOAuthSettings settings_;
  SmtpLimits limits_;
  ClientCredentialsTokenSource source_;
};

TEST_F(TokenSourceTest, PostsTheGrantOverTlsAndKeepsTheToken) {
  answers_ = {
      JsonAnswer(200, R"({"access_token":"tok-1","token_type":"Bearer","expires_in":3600})"),
      JsonAnswer(200, R"({"access_token":"tok-2","token_type":"Bearer","expires_in":3600})")};
  EXPECT_EQ(Get().access_token, "tok-1");
  ASSERT_EQ(requests_.size(), 1u);
  const std::string body =
      "grant_type=client_credentials&client_id=0c6f-app&client_secret=Qx8~s3cret%2B%2F%3D"
      "&scope=https%3A%2F%2Foutlook.office365.com%2F.default";
  EXPECT_EQ(requests_[0],
            "POST /tenant-1/oauth2/v2.0/token HTTP/1.1\r\nHost: login.idp.test\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) +
                "\r\nAccept: application/json\r\nConnection: close\r\n\r\n" + body);
  ASSERT_EQ(tls_.options.size(), 1u);
  EXPECT_EQ(tls_.options[0].host, "login.idp.test");
  EXPECT_TRUE(tls_.options[0].verify);
  EXPECT_EQ(tls_.options[0].ca_file, "/etc/tempwarden/ca.pem");
  EXPECT_EQ(env_.network.connect_timeouts, std::vector<uint32_t>{kSmtpConnectLimitMs});

  // Kept until five minutes before the hour is up.
  env_.clock.Advance(3600000 - kTokenRenewMarginMs - 1);
  EXPECT_EQ(Get().access_token, "tok-1");
  EXPECT_EQ(requests_.size(), 1u);
  env_.clock.Advance(1);
  EXPECT_EQ(Get().access_token, "tok-2");
  EXPECT_EQ(requests_.size(), 2u);
}

TEST_F(TokenSourceTest, NewTokenWhenForgottenOrSettingsChangeOrNoLifeGiven) {
  answers_ = {JsonAnswer(200, R"({"access_token":"a","expires_in":3600})"),
              JsonAnswer(200, R"({"access_token":"b","expires_in":3600})"),
              JsonAnswer(200, R"({"access_token":"c"})"),
              JsonAnswer(200, R"({"access_token":"d"})"),
              JsonAnswer(200, R"({"access_token":"e","expires_in":60})"),
              JsonAnswer(200, R"({"access_token":"f","expires_in":60})")};
  EXPECT_EQ(Get().access_token, "a");
  source_.Forget();
  EXPECT_EQ(Get().access_token, "b");
  settings_.ClientSecret = "corrected";
  EXPECT_EQ(Get().access_token, "c");  // no life: used once
  EXPECT_EQ(Get().access_token, "d");
  // A short life is kept for half of it.
  EXPECT_EQ(Get().access_token, "e");
  env_.clock.Advance(29999);
  EXPECT_EQ(Get().access_token, "e");
  env_.clock.Advance(1);
  EXPECT_EQ(Get().access_token, "f");
}

TEST_F(TokenSourceTest, Refusals) {
  const struct {
    const char* name;
    std::string answer;  // empty: the endpoint closes at once
    TlsFailure tls;      // the handshake fails so
    const char* url;     // replaces the token URL when set
    const char* secret;  // replaces the secret when set
    const char* error;
    const char* description;
  } cases[] = {
      {"wrong secret",
       JsonAnswer(
           401,
           R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret provided."})"),
       TlsFailure::kNone, nullptr, nullptr, "invalid_client",
       "AADSTS7000215: Invalid client secret provided."},
      {"chunked error",
       "HTTP/1.1 400 Bad Request\r\nTransfer-Encoding: chunked\r\n\r\n"
       "19\r\n{\"error\":\"invalid_scope\"}\r\n0\r\n\r\n",
       TlsFailure::kNone, nullptr, nullptr, "invalid_scope", ""},
      {"closed at once", "", TlsFailure::kNone, nullptr, nullptr, "answer",
       "The connection closed before the answer was complete"},
      {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"access", TlsFailure::kNone,
       nullptr, nullptr, "answer", "The connection closed before the answer was complete"},
      {"untrusted certificate", "", TlsFailure::kUntrusted, nullptr, nullptr, "untrusted",
       "certificate verify failed"},
      {"handshake failed", "", TlsFailure::kHandshake, nullptr, nullptr, "tls",
       "certificate verify failed"},
      {"name not found", "", TlsFailure::kNone, "https://nowhere.test/token", nullptr, "connection",
       "Socket Error # 11001"},
      {"plain http", "", TlsFailure::kNone, "http://login.idp.test/token", nullptr, "settings",
       "OAuthTokenURL: not an https:// URL"},
      {"no URL", "", TlsFailure::kNone, "", nullptr, "settings", "OAuthTokenURL is empty"},
      {"no secret", "", TlsFailure::kNone, nullptr, "", "settings", "OAuthClientSecret is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    answers_ = {c.answer};
    tls_.fail = c.tls;
    if (c.url != nullptr) settings_.TokenURL = c.url;
    if (c.secret != nullptr) settings_.ClientSecret = c.secret;
    const TokenResult result = Get();
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, c.error);
    // Socket texts go on with the platform's words after the number.
    EXPECT_EQ(result.error_description.substr(0, std::string(c.description).size()), c.description);
  }
}

TEST_F(TokenSourceTest, ATricklingEndpointIsHeldToTheFetchLimit) {
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  const std::string answer =
      JsonAnswer(200, R"({"access_token":"tok-1","token_type":"Bearer","expires_in":3600})");
  std::string endless;
  for (int i = 0; i < 10000; ++i) endless += interim;  // 250 KB
  const struct {
    const char* name;
    std::string answer;
    uint32_t record_ms;     // one byte a record, each this long after the one before
    uint32_t handshake_ms;  // what the TLS handshake takes
    const char* text;       // TokenFailureText, or its start; "" for the token
    uint64_t held_ms;       // on the fake clock
  } cases[] = {
      {"two interim answers, then the answer", interim + interim + answer, 0, 0, "", 0},
      {"interim answers without end", endless, 100, 0,
       "answer: More than 4 interim answers (1xx) before the answer", 5 * 25 * 100},
      {"slow handshake, then a slow answer", answer, 100, 50000, "connection: Socket Error # 10060",
       kTokenFetchLimitMs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    source_.Forget();
    answers_ = {c.answer};
    record_bytes_ = 1;
    record_ms_ = c.record_ms;
    tls_.clock = &env_.clock;
    tls_.handshake_ms = c.handshake_ms;
    OAuthTokens tokens(env_.ctx, source_, settings_, limits_);
    std::string token, error;
    const uint64_t start = env_.clock.MonotonicMs();
    EXPECT_EQ(tokens.AccessToken(kSmtpDeliveryLimitMs, &token, &error), *c.text == '\0');
    EXPECT_EQ(env_.clock.MonotonicMs() - start, c.held_ms);
    EXPECT_EQ(error.substr(0, std::string(c.text).size()), c.text) << error;
    EXPECT_EQ(token, *c.text == '\0' ? "tok-1" : "");
  }
}

}  // namespace
}  // namespace tw
