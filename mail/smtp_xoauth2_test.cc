#include "mail/smtp_xoauth2.h"

#include <gtest/gtest.h>

#include "mail/base64.h"
#include "mail/fake_smtp_peer.h"
#include "toolbelt/failure.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

// Hands out the token it is given, and records what it was asked.
class FixedTokenSource : public TokenSource {
 public:
  TokenResult Get(Context&, const tOAuthSettings& settings, const SmtpLimits&) override {
    asked_for.push_back(settings.ClientID);
    return result;
  }
  void Forget() override { ++forgotten; }
  TokenResult result;
  std::vector<std::string> asked_for;
  int forgotten = 0;
};

TEST(AuthXOAuth2Test, Dialogue) {
  const std::string response =
      Base64Encode(std::string("user=ups@contoso.example\x01") + "auth=Bearer eyJ0.a.b\x01\x01");
  const struct {
    const char* name;
    const char* token;   // empty: none to be had
    const char* auth;    // the relay's reply to AUTH
    const char* cancel;  // its reply to the empty line after a 334
    int32_t result;      // -1: a Fault with the final reply
    std::vector<std::string> sent;
    int forgotten;
  } cases[] = {
      {"accepted",
       "eyJ0.a.b",
       "235 2.7.0 Authentication successful",
       "",
       0,
       {"EHLO SRV1", "AUTH XOAUTH2 " + response},
       0},
      {"refused with a reason first",
       "eyJ0.a.b",
       "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=",
       "535 5.7.3 Authentication unsuccessful",
       -1,
       {"EHLO SRV1", "AUTH XOAUTH2 " + response, ""},
       1},
      {"refused at once",
       "eyJ0.a.b",
       "535 5.7.8 Error: authentication failed",
       "",
       -1,
       {"EHLO SRV1", "AUTH XOAUTH2 " + response},
       1},
      {"no token", "", "235 never asked", "", kMailNoToken, {"EHLO SRV1"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    FakeSmtpPeer relay(&env.network);
    relay.replies["EHLO"] = "250-fake.relay\r\n250 AUTH XOAUTH2";
    relay.replies["AUTH"] = c.auth;
    relay.replies["USER"] = c.cancel;  // the line after a 334
    FixedTokenSource tokens;
    tokens.result.access_token = c.token;
    if (*c.token == '\0') tokens.result.error = "invalid_client";
    SmtpClient client(env.network, env.clock, SmtpLimits());
    client.Connect("localhost", 587);
    client.Greet("SRV1");
    tOAuthSettings settings;
    settings.ClientID = "app-1";
    TokenResult token;
    int32_t result = -1;
    std::string fault;
    try {
      result = AuthXOAuth2(env.ctx, client, tokens, "ups@contoso.example", settings, SmtpLimits(),
                           &token);
    } catch (const Fault& f) {
      fault = f.what();
    }
    EXPECT_EQ(result, c.result);
    if (c.result == -1) {
      EXPECT_NE(fault.find(c.cancel[0] ? c.cancel : c.auth), std::string::npos);
    }
    if (c.result == kMailNoToken) {
      EXPECT_EQ(token.error, "invalid_client");
    }
    EXPECT_EQ(tokens.asked_for, std::vector<std::string>{"app-1"});
    EXPECT_EQ(tokens.forgotten, c.forgotten);
    std::vector<std::string> sent;
    for (const auto& line : relay.received) sent.push_back(line.text);
    EXPECT_EQ(sent, c.sent);
  }
}

}  // namespace
}  // namespace tw
