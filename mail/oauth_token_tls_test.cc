// The token source against a token endpoint of the tests' own (tests/token_endpoint.py, on
// Python's http.server and ssl) over HTTPS, with certificates made by Debian's openssl tool
// (tests/make_test_certs.sh), through the system's TLS, inside a private network namespace.
#include <gtest/gtest.h>

#include <algorithm>

#include "mail/oauth_token.h"
#include "platform/tls.h"
#include "tests/isolation.h"
#include "tests/smtp_relay_process.h"
#include "tests/test_certs.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

class TokenEndpointTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certs_ = new TestCerts; }
  static void TearDownTestSuite() {
    delete certs_;
    certs_ = nullptr;
  }

  void SetUp() override {
    TW_REQUIRE_PRIVATE_NETWORK();
    if (!certs_->made()) GTEST_SKIP() << "openssl could not make the test certificates";
    network_ = NewSystemNetwork(stop_.get());
    clock_ = NewSystemClock();
    env_.ctx.env.network = network_.get();
    env_.ctx.env.tls = tls_.get();
    env_.ctx.env.clock = clock_.get();
    limits_.connect_ms = 5000;
    limits_.reply_ms = 5000;
    settings_.ClientID = "app-1";
    settings_.ClientSecret = "Qx8~s3cret+/=";
    settings_.CAFile = certs_->File("ca.pem");
  }

  // Starts the endpoint with `switches` and points the settings at it.
  bool Start(SmtpRelayProcess& endpoint, std::vector<std::string> switches) {
    switches.insert(switches.begin(),
                    {"--tls", certs_->File("localhost.pem"), certs_->File("localhost.key")});
    if (!endpoint.Start(switches, "token_endpoint.py")) return false;
    settings_.TokenURL =
        "https://localhost:" + std::to_string(endpoint.port()) + "/tenant-1/oauth2/v2.0/token";
    return true;
  }

  TokenResult Get() { return source_.Get(env_.ctx, settings_, limits_); }

  static TestCerts* certs_;
  FakeEnv env_;
  std::unique_ptr<WakeEvent> stop_ = NewSystemWakeEvent();
  std::unique_ptr<Network> network_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Tls> tls_ = NewSystemTls();
  SmtpLimits limits_;
  tOAuthSettings settings_;
  ClientCredentialsTokenSource source_;
};

TestCerts* TokenEndpointTest::certs_ = nullptr;

TEST_F(TokenEndpointTest, TokenFetchedOnceAndKept) {
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "chunked" : "content-length");
    SmtpRelayProcess endpoint;
    ASSERT_TRUE(Start(endpoint,
                      chunked ? std::vector<std::string>{"--chunked"} : std::vector<std::string>{}))
        << endpoint.Errors();
    source_.Forget();
    const TokenResult first = Get();
    EXPECT_EQ(first.access_token, "eyJ0eXAiOiJKV1QiLCJhbGciOiJSUzI1NiJ9.test.sig")
        << TokenFailureText(first) << endpoint.Errors();
    EXPECT_EQ(Get().access_token, first.access_token);
    // One request for both: the grant, the client, the default scope, as a form.
    EXPECT_EQ(endpoint.Transcript(), (std::vector<std::string>{
                                         "POST /tenant-1/oauth2/v2.0/token",
                                         "Content-Type: application/x-www-form-urlencoded",
                                         "client_id=app-1",
                                         "client_secret=Qx8~s3cret+/=",
                                         "grant_type=client_credentials",
                                         "scope=https://outlook.office365.com/.default",
                                     }));
  }
}

TEST_F(TokenEndpointTest, Refusals) {
  const struct {
    const char* name;
    std::vector<std::string> switches;
    const char* secret;  // replaces the right one when set
    const char* ca;      // replaces ca.pem when set
    const char* text;    // TokenFailureText, or its start
  } cases[] = {
      {"wrong secret",
       {},
       "old-secret",
       nullptr,
       "invalid_client: AADSTS7000215: Invalid client secret provided.  Trace ID: 0f1e2d3c"},
      {"wrong secret, chunked answer",
       {"--chunked"},
       "old-secret",
       nullptr,
       "invalid_client: AADSTS7000215: Invalid client secret provided.  Trace ID: 0f1e2d3c"},
      {"scope not granted",
       {"--scope", "https://mail.example/.default"},
       nullptr,
       nullptr,
       "invalid_scope: AADSTS70011: The scope is not valid."},
      {"endpoint's certificate from another CA", {}, nullptr, "other-ca.pem", "untrusted: "},
      {"endpoint that never answers",
       {"--silent"},
       nullptr,
       nullptr,
       "connection: Socket Error # 10060"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpRelayProcess endpoint;
    ASSERT_TRUE(Start(endpoint, c.switches)) << endpoint.Errors();
    settings_.ClientSecret = c.secret != nullptr ? c.secret : "Qx8~s3cret+/=";
    settings_.CAFile = certs_->File(c.ca != nullptr ? c.ca : "ca.pem");
    limits_.reply_ms = 1500;
    const TokenResult result = Get();
    EXPECT_FALSE(result.ok());
    const std::string text = TokenFailureText(result);
    EXPECT_EQ(text.substr(0, std::string(c.text).size()), c.text) << text;
  }
}

TEST_F(TokenEndpointTest, StopEndsTheWaitAtOnce) {
  SmtpRelayProcess endpoint;
  ASSERT_TRUE(Start(endpoint, {"--silent"})) << endpoint.Errors();
  stop_->Raise();
  limits_.reply_ms = 60000;
  const uint64_t started = clock_->MonotonicMs();
  const TokenResult result = Get();
  EXPECT_LT(clock_->MonotonicMs() - started, 5000u);
  const std::string expected = "connection: Socket Error # 10004";
  EXPECT_EQ(TokenFailureText(result).substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace tw
