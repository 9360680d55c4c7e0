// The token endpoint's certificate check as the settings give it, from the file's text to
// the endpoint of the tests (tests/token_endpoint.py over HTTPS) through the system's TLS,
// inside a private network namespace: "SMTPTLSVerify" 0 is the relay's alone.
#include <gtest/gtest.h>

#include "mail/oauth_token.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/tls.h"
#include "platform/wake_event.h"
#include "service/config_adapters.h"
#include "tests/isolation.h"
#include "tests/smtp_relay_process.h"
#include "tests/test_certs.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

TEST(TokenEndpointCheckTest, RelayCheckOffLeavesTheEndpointChecked) {
  TW_REQUIRE_PRIVATE_NETWORK();
  TestCerts certs;
  if (!certs.made()) GTEST_SKIP() << "openssl could not make the test certificates";
  const struct {
    const char* name;
    const char* cert;  // what the endpoint shows
    bool token;        // a token is had, and the secret reached the endpoint
    const char* text;  // TokenFailureText's start when no token
  } cases[] = {
      {"endpoint by the CA of SMTPCAFile", "localhost", true, ""},
      {"self-signed impostor", "impostor", false, "untrusted: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpRelayProcess endpoint;
    ASSERT_TRUE(endpoint.Start({"--tls", certs.File(std::string(c.cert) + ".pem"),
                                certs.File(std::string(c.cert) + ".key")},
                               "token_endpoint.py"))
        << endpoint.Errors();
    FakeEnv env;
    env.files.Put(
        "/opt/tempwarden/TEMPWARDEN.XML",
        "<XML>\r\n<SMTPTLSVerify>0</SMTPTLSVerify><SMTPCAFile>" + certs.File("ca.pem") +
            "</SMTPCAFile><OAuthTokenURL>https://localhost:" + std::to_string(endpoint.port()) +
            "/t/token</OAuthTokenURL><OAuthClientID>app-1</OAuthClientID>"
            "<OAuthClientSecret>Qx8~s3cret+/=</OAuthClientSecret></XML>\r\n");
    tConfigReadSite site;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    const tSmtpAccount account = SmtpAccountFromConfig(config, env.ctx.settings.ExePath);
    EXPECT_FALSE(account.TLSVerify);  // the relay's check is off as asked

    std::unique_ptr<WakeEvent> stop = NewSystemWakeEvent();
    std::unique_ptr<Network> network = NewSystemNetwork(stop.get());
    std::unique_ptr<Clock> clock = NewSystemClock();
    std::unique_ptr<Tls> tls = NewSystemTls();
    env.ctx.env.network = network.get();
    env.ctx.env.tls = tls.get();
    env.ctx.env.clock = clock.get();
    SmtpLimits limits;
    limits.connect_ms = 5000;
    limits.reply_ms = 5000;
    ClientCredentialsTokenSource source;
    const TokenResult result = source.Get(env.ctx, account.OAuth, limits);
    EXPECT_EQ(result.ok(), c.token) << TokenFailureText(result) << endpoint.Errors();
    const std::string text = TokenFailureText(result);
    EXPECT_EQ(text.substr(0, std::string(c.text).size()), c.text) << text;
    bool secret_sent = false;
    for (const std::string& line : endpoint.Transcript()) {
      if (line.find("client_secret=") != std::string::npos) secret_sent = true;
    }
    EXPECT_EQ(secret_sent, c.token);
  }
}

}  // namespace
}  // namespace tw
