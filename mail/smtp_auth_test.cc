// SendMail against the scripted relay: the AUTH mechanism and its results, the advice after a
// 530, the relay's refusals in the report, QUIT on every way out, every address of the relay
// tried in turn, and the name EHLO gives.
#include <gtest/gtest.h>

#include "mail/fake_smtp_peer.h"
#include "mail/smtp.h"
#include "platform/fake_console.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

class FixedTokens : public TokenSource {
 public:
  bool AccessToken(uint32_t, std::string* token, std::string* error) override {
    ++calls;
    if (!ok) *error = "invalid_client: AADSTS7000215 Invalid client secret provided.";
    if (ok) *token = "tok-123";
    return ok;
  }
  bool ok = true;
  int calls = 0;
};

class SmtpAuthTest : public ::testing::Test {
 protected:
  SmtpAuthTest() {
    env_.ctx.env.console = &console_;
    env_.network.hosts["relay.test"] = "192.0.2.25";
  }

  static tEmail Mail() {
    tEmail mail;
    mail.SMTPRelay = "relay.test";
    mail.SMTPPort = 587;
    mail.FromAddr = "ups@example.test";
    mail.ToAddr = "ops@example.test";
    mail.Subject = "APC UPS: test mail";
    mail.Body = "[Msg=Test]";
    return mail;
  }

  static tSmtpAccount Account(SmtpAuth auth = SmtpAuth::kAuto) {
    tSmtpAccount account;
    account.User = "ups@example.test";
    account.Password = "s3cret";
    account.Auth = auth;
    return account;
  }

  std::vector<std::string> Sent(const FakeSmtpPeer& relay) const {
    std::vector<std::string> lines;
    for (const FakeSmtpPeer::Line& line : relay.received) lines.push_back(line.text);
    return lines;
  }

  FakeEnv env_;
  FakeConsole console_;
};

TEST_F(SmtpAuthTest, MechanismFollowsTheSettingAndTheOffer) {
  FixedTokens tokens;
  const struct {
    const char* name;
    const char* ehlo;
    bool account;
    SmtpAuth auth;
    const char* auth_line;  // the first AUTH line sent; "" for none
    const char* auth_type;  // the console's AuthenticationType; "" for none
  } cases[] = {
      {"auto takes PLAIN when offered", "250-relay\r\n250 AUTH LOGIN PLAIN", true, SmtpAuth::kAuto,
       "AUTH PLAIN AHVwc0BleGFtcGxlLnRlc3QAczNjcmV0", "atPlain"},
      {"auto takes PLAIN from AUTH=", "250-relay\r\n250-AUTH=PLAIN\r\n250 8BITMIME", true,
       SmtpAuth::kAuto, "AUTH PLAIN AHVwc0BleGFtcGxlLnRlc3QAczNjcmV0", "atPlain"},
      {"auto falls back to LOGIN", "250-relay\r\n250 AUTH LOGIN CRAM-MD5", true, SmtpAuth::kAuto,
       "AUTH LOGIN", "atLogin"},
      {"login as set", "250-relay\r\n250 AUTH PLAIN LOGIN", true, SmtpAuth::kLogin, "AUTH LOGIN",
       "atLogin"},
      {"plain as set", "250-relay\r\n250 AUTH LOGIN", true, SmtpAuth::kPlain,
       "AUTH PLAIN AHVwc0BleGFtcGxlLnRlc3QAczNjcmV0", "atPlain"},
      // base64("user=ups@example.test\x01auth=Bearer tok-123\x01\x01")
      {"xoauth2", "250-relay\r\n250 AUTH LOGIN XOAUTH2", true, SmtpAuth::kXOAuth2,
       "AUTH XOAUTH2 dXNlcj11cHNAZXhhbXBsZS50ZXN0AWF1dGg9QmVhcmVyIHRvay0xMjMBAQ==", "atXOAuth2"},
      // No account: no AUTH, and no account of the program's own either.
      {"no account", "250-relay\r\n250 AUTH LOGIN PLAIN", false, SmtpAuth::kAuto, "", ""},
      // RFC 4954 4: no AUTH where none is offered; the mail goes on.
      {"not offered", "250-relay\r\n250 8BITMIME", true, SmtpAuth::kAuto, "", ""},
      {"HELO only", "502 no", true, SmtpAuth::kAuto, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    console_.lines.clear();
    FakeSmtpPeer relay(&env_.network);
    relay.replies["EHLO"] = c.ehlo;
    tSmtpAccount account = c.account ? Account(c.auth) : tSmtpAccount();
    account.Tokens = &tokens;
    EXPECT_EQ(SendMail(env_.ctx, Mail(), account), kMailSent);
    std::string auth_line;
    for (const std::string& line : Sent(relay)) {
      if (line.rfind("AUTH", 0) == 0 && auth_line.empty()) auth_line = line;
    }
    EXPECT_EQ(auth_line, c.auth_line);
    std::string type;
    for (const auto& line : console_.lines) {
      const size_t at = line.text.find("SMTP.AuthenticationType=");
      if (at != std::string::npos) type = line.text.substr(at + 24);
      EXPECT_EQ(line.text.find("s3cret"), std::string::npos);
      EXPECT_EQ(line.text.find("tok-123"), std::string::npos);
    }
    EXPECT_EQ(type, c.auth_type);
    ASSERT_FALSE(relay.received.empty());
    EXPECT_EQ(relay.received.back().text, "QUIT");
  }
  EXPECT_EQ(tokens.calls, 1);
}

TEST_F(SmtpAuthTest, RefusedLoginsGiveTheirResultAndTheRelaysReason) {
  const struct {
    const char* name;
    SmtpAuth auth;
    std::map<std::string, std::string> replies;
    int32_t result;
    const char* reply;
  } cases[] = {
      {"535 to PLAIN",
       SmtpAuth::kPlain,
       {{"AUTH", "535 5.7.8 Error: authentication failed: UGFzc3dvcmQ6"}},
       kMailAuthRejected,
       "535 5.7.8 Error: authentication failed: UGFzc3dvcmQ6"},
      {"534 to PLAIN",
       SmtpAuth::kPlain,
       {{"AUTH", "534 5.7.9 Authentication mechanism is too weak"}},
       kMailAuthRejected,
       "534 5.7.9 Authentication mechanism is too weak"},
      {"538 to LOGIN",
       SmtpAuth::kLogin,
       {{"AUTH", "538 5.7.11 Encryption required for requested authentication mechanism"}},
       kMailAuthRejected,
       "538 5.7.11 Encryption required for requested authentication mechanism"},
      {"535 to the LOGIN password",
       SmtpAuth::kLogin,
       {{"PASS", "535 5.7.8 Authentication credentials invalid"}},
       kMailAuthRejected,
       "535 5.7.8 Authentication credentials invalid"},
      {"530 to AUTH",
       SmtpAuth::kPlain,
       {{"AUTH", "530 5.7.0 Must issue a STARTTLS command first"}},
       kMailAuthRequired,
       "530 5.7.0 Must issue a STARTTLS command first"},
      // A refused token: the error comes as a 334 challenge, the empty answer brings the 535.
      {"xoauth2 token refused",
       SmtpAuth::kXOAuth2,
       {{"AUTH", "334 eyJzdGF0dXMiOiI0MDEifQ=="},
        {"PASS", "535 5.7.3 Authentication unsuccessful"}},
       kMailAuthRejected,
       "535 5.7.3 Authentication unsuccessful"},
      {"504 unknown mechanism",
       SmtpAuth::kPlain,
       {{"AUTH", "504 5.5.4 Unrecognized authentication type"}},
       kMailOtherFailure,
       "504 5.5.4 Unrecognized authentication type"},
  };
  FixedTokens tokens;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSmtpPeer relay(&env_.network);
    relay.replies = c.replies;
    relay.replies["EHLO"] = "250-relay\r\n250 AUTH PLAIN LOGIN XOAUTH2";
    tSmtpAccount account = Account(c.auth);
    account.Tokens = &tokens;
    tSmtpReport report;
    EXPECT_EQ(SendMail(env_.ctx, Mail(), account, SmtpLimits(), &report), c.result);
    EXPECT_EQ(report.Reply, c.reply);
    const std::vector<std::string> sent = Sent(relay);
    for (const std::string& line : sent) EXPECT_NE(line.rfind("MAIL", 0), 0u);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "QUIT");
    if (c.auth == SmtpAuth::kXOAuth2) EXPECT_EQ(sent[sent.size() - 2], "");
    bool shown = false;
    for (const auto& line : console_.lines) {
      shown =
          shown || (line.text.find(" SMTP.Reply=" + std::string(c.reply)) != std::string::npos &&
                    line.colour == ConsoleColour::kBrightRed);
    }
    EXPECT_TRUE(shown);
  }
}

TEST_F(SmtpAuthTest, NoTokenMeansNoLoginAndTheEndpointsReason) {
  FakeSmtpPeer relay(&env_.network);
  relay.replies["EHLO"] = "250-relay\r\n250 AUTH XOAUTH2";
  FixedTokens tokens;
  tokens.ok = false;
  tSmtpAccount account = Account(SmtpAuth::kXOAuth2);
  account.Tokens = &tokens;
  tSmtpReport report;
  EXPECT_EQ(SendMail(env_.ctx, Mail(), account, SmtpLimits(), &report), kMailNoToken);
  EXPECT_EQ(report.Reply, "invalid_client: AADSTS7000215 Invalid client secret provided.");
  EXPECT_EQ(Sent(relay), (std::vector<std::string>{"EHLO [192.0.2.1]", "QUIT"}));
  account.Tokens = nullptr;
  EXPECT_EQ(SendMail(env_.ctx, Mail(), account), kMailNoToken);
}

TEST_F(SmtpAuthTest, AdviceAfter530FitsWhatTheRelayOffered) {
  const struct {
    const char* name;
    const char* ehlo;
    bool account;
    const char* advice;
  } cases[] = {
      {"STARTTLS offered", "250-relay\r\n250 STARTTLS", true,
       "the relay wants encryption before a login: set SMTPSecurity starttls"},
      {"STARTTLS offered, no account", "250-relay\r\n250-STARTTLS\r\n250 AUTH PLAIN", false,
       "the relay wants encryption before a login: set SMTPSecurity starttls"},
      {"AUTH offered, no account", "250-relay\r\n250 AUTH PLAIN", false,
       "the relay wants a login: set SMTPUser and SMTPPassword"},
      {"nothing offered", "250-relay\r\n250 8BITMIME", true,
       "the relay offers no AUTH on this connection: check SMTPPort and SMTPSecurity"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSmtpPeer relay(&env_.network);
    relay.replies["EHLO"] = c.ehlo;
    relay.replies["MAIL"] = "530 5.7.0 Authentication required";
    tSmtpReport report;
    EXPECT_EQ(
        SendMail(env_.ctx, Mail(), c.account ? Account() : tSmtpAccount(), SmtpLimits(), &report),
        kMailAuthRequired);
    EXPECT_EQ(report.Advice, c.advice);
    EXPECT_EQ(relay.received.back().text, "QUIT");
  }
}

TEST_F(SmtpAuthTest, EveryAddressIsTriedInOrderWithinTheConnectLimit) {
  env_.network.tcp_hosts["relay.test"] = {"2001:db8::25", "192.0.2.25", "192.0.2.26"};
  FakeSmtpPeer relay(&env_.network);
  auto peer = env_.network.tcp_peer;
  env_.network.tcp_peer = [&](const std::string& address, uint16_t port) {
    return address == "192.0.2.25" ? peer(address, port) : nullptr;
  };
  EXPECT_EQ(SendMail(env_.ctx, Mail()), kMailSent);
  EXPECT_EQ(env_.network.connect_addresses,
            (std::vector<std::string>{"2001:db8::25", "192.0.2.25"}));
  EXPECT_EQ(env_.network.connect_timeouts, (std::vector<uint32_t>{10000, 15000}));
  ASSERT_GE(console_.lines.size(), 3u);
  EXPECT_EQ(console_.lines[0].text,
            " 2023-03-15 12:00:00.000 Connecting to relay.test [2001:db8::25] on TCP port 587");
  EXPECT_EQ(console_.lines[1].text.substr(0, 64),
            " 2023-03-15 12:00:00.000 Not connected to [2001:db8::25]: Socket");
  EXPECT_EQ(console_.lines[1].colour, ConsoleColour::kBrightRed);
  EXPECT_EQ(console_.lines[2].text,
            " 2023-03-15 12:00:00.000 Connecting to relay.test [192.0.2.25] on TCP port 587");

  // None answers: the last attempt's failure is the result.
  env_.network.tcp_peer = nullptr;
  EXPECT_EQ(SendMail(env_.ctx, Mail()), -10061);
  EXPECT_EQ(env_.network.connect_addresses.size(), 5u);
}

TEST_F(SmtpAuthTest, EhloNamesTheFullyQualifiedNameOrTheAddress) {
  const struct {
    const char* fqdn;
    const char* local;
    const char* ehlo;
  } cases[] = {
      {"srv1.corp.example", "10.1.2.3", "srv1.corp.example"},
      {"srv1.corp.example.", "10.1.2.3", "srv1.corp.example"},
      {"SRV1", "10.1.2.3", "[10.1.2.3]"},                // not qualified
      {"srv_1.corp.example", "10.1.2.3", "[10.1.2.3]"},  // "_" is no host name character
      {"-srv.corp.example", "10.1.2.3", "[10.1.2.3]"},
      {"srv1..example", "10.1.2.3", "[10.1.2.3]"},
      {"10.1.2.3", "10.1.2.3", "[10.1.2.3]"},  // an address is no name
      {"", "fd00::5", "[IPv6:fd00::5]"},
      {"", "", "SRV1"},
  };
  for (const auto& c : cases) EXPECT_EQ(EhloName(c.fqdn, c.local, "SRV1"), c.ehlo) << c.fqdn;

  env_.host.fqdn = "srv1.corp.example";
  FakeSmtpPeer relay(&env_.network);
  EXPECT_EQ(SendMail(env_.ctx, Mail()), kMailSent);
  ASSERT_FALSE(relay.received.empty());
  EXPECT_EQ(relay.received[0].text, "EHLO srv1.corp.example");
  std::string id;
  for (const FakeSmtpPeer::Line& line : relay.received) {
    if (line.text.rfind("Message-ID: <", 0) == 0) id = line.text;
  }
  EXPECT_EQ(id.size() - id.rfind("@srv1.corp.example>"), 19u) << id;
}

TEST_F(SmtpAuthTest, MessageIdsDiffer) {
  const std::string a = NewMessageId(env_.ctx, "[10.1.2.3]");
  const std::string b = NewMessageId(env_.ctx, "[10.1.2.3]");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.front(), '<');
  EXPECT_EQ(a.substr(a.find('@')), "@[10.1.2.3]>");
}

TEST(SmtpRefusalLineTest, ControlCharactersReplacedAndCut) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"550 5.1.1 <a@x.test>: Recipient address rejected",
       "550 5.1.1 <a@x.test>: Recipient address rejected"},
      {"554 bad\x01\x7f\ttext", "554 bad???text"},
      {"550 [x] y", "550 (x) y"},  // the log's item brackets stay the log's
      {std::string(300, 'a'), std::string(200, 'a')},
  };
  for (const auto& c : cases) EXPECT_EQ(RefusalLine(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace tw
