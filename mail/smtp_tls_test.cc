// SendMail over TLS against a real relay (Debian's aiosmtpd, tests/smtp_server.py) with
// certificates made by Debian's openssl tool (tests/make_test_certs.sh), through the system's
// TLS library, inside the tests' private network namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "mail/smtp.h"
#include "platform/fake_console.h"
#include "platform/tls.h"
#include "tests/isolation.h"
#include "tests/smtp_relay_process.h"
#include "tests/test_certs.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

class SmtpTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certs_ = new TestCerts; }
  static void TearDownTestSuite() {
    delete certs_;
    certs_ = nullptr;
  }

  void SetUp() override {
    TW_REQUIRE_PRIVATE_NETWORK();
    if (!certs_->made()) GTEST_SKIP() << "openssl could not make the test certificates";
    env_.ctx.env.network = network_.get();
    env_.ctx.env.tls = tls_.get();
    env_.ctx.env.console = &console_;
    limits_.connect_ms = 5000;
    limits_.reply_ms = 5000;
  }

  static std::string Cert(const char* name) { return certs_->File(name); }
  // The relay with the certificate `name`.pem (the chain it shows) and its key.
  static std::vector<std::string> Serve(const char* mode, const std::string& name = "localhost") {
    return {mode,
            Cert((name + ".pem").c_str()),
            Cert((name + ".key").c_str()),
            "--user",
            "ups-alerts",
            "--password",
            "s3cret!"};
  }

  tEmail Mail(const char* relay, uint16_t port) const {
    tEmail mail;
    mail.SMTPRelay = relay;
    mail.SMTPPort = port;
    mail.FromAddr = "ups@example.test";
    mail.ToAddr = "ops@example.test";
    mail.Subject = "APC UPS: High Temp Alarm!";
    mail.Body = "[UPSTemp=31]";
    return mail;
  }

  static tSmtpAccount Account(SmtpSecurity security, const char* ca, bool verify = true) {
    tSmtpAccount account;
    account.User = "ups-alerts";
    account.Password = "s3cret!";
    account.Security = security;
    account.TLSVerify = verify;
    if (ca != nullptr) account.CAFile = Cert(ca);
    return account;
  }

  static std::vector<std::string> ClientLines(const SmtpRelayProcess& relay) {
    std::vector<std::string> lines;
    for (const std::string& line : relay.Transcript()) {
      if (line.rfind("C: ", 0) == 0) lines.push_back(line.substr(3));
    }
    return lines;
  }

  std::string ActivityLog() const { return env_.files.Get("/opt/tempwarden/APC-20230315.CSV"); }

  static TestCerts* certs_;
  FakeEnv env_;
  std::unique_ptr<Network> network_ = NewSystemNetwork();
  std::unique_ptr<Tls> tls_ = NewSystemTls();
  FakeConsole console_;
  SmtpLimits limits_;
};

TestCerts* SmtpTlsTest::certs_ = nullptr;

TEST_F(SmtpTlsTest, StartTlsGreetsAgainAndAuthenticatesOnlyInside) {
  SmtpRelayProcess relay;
  ASSERT_TRUE(relay.Start(Serve("--starttls"))) << relay.Errors();
  const int32_t result = SendMail(env_.ctx, Mail("localhost", relay.port()),
                                  Account(SmtpSecurity::kStartTls, "ca.pem"), limits_);
  ASSERT_EQ(result, kMailSent) << relay.Errors();
  EXPECT_TRUE(relay.WaitClosed());
  const std::vector<std::string> transcript = relay.Transcript();
  // The first EHLO reply offers STARTTLS but no AUTH (the relay wants TLS first); the second
  // offers AUTH, and only then does the client log in.
  const std::vector<std::string> head = {
      "S: 220 relay.test ESMTP test relay",
      "C: EHLO [127.0.0.1]",
      "S: 250-relay.test",
      "S: 250-SIZE 33554432",
      "S: 250-8BITMIME",
      "S: 250-STARTTLS",
      "S: 250 HELP",
      "C: STARTTLS",
      "S: 220 Ready to start TLS",
      "C: EHLO [127.0.0.1]",
      "S: 250-relay.test",
      "S: 250-SIZE 33554432",
      "S: 250-8BITMIME",
      "S: 250-AUTH LOGIN PLAIN",
      "S: 250 HELP",
      "C: AUTH PLAIN AHVwcy1hbGVydHMAczNjcmV0IQ==",
  };
  ASSERT_GE(transcript.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(transcript.begin(), transcript.begin() + head.size()), head);
  const std::vector<std::string> sent = ClientLines(relay);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "MAIL FROM:<ups@example.test>"), sent.end());
  EXPECT_EQ(sent.back(), "QUIT");
  // The relay takes AUTH only inside TLS (aiosmtpd's auth_require_tls), so a successful
  // login shows it happened there.
  EXPECT_NE(
      std::find(transcript.begin(), transcript.end(), "S: 235 2.7.0 Authentication successful"),
      transcript.end());
}

TEST_F(SmtpTlsTest, ConsoleShowsProtocolCipherAndCertificateNeverThePassword) {
  SmtpRelayProcess relay;
  ASSERT_TRUE(relay.Start(Serve("--tls"))) << relay.Errors();
  ASSERT_EQ(SendMail(env_.ctx, Mail("localhost", relay.port()),
                     Account(SmtpSecurity::kTls, "ca.pem"), limits_),
            kMailSent);
  EXPECT_TRUE(relay.WaitClosed());
  std::vector<std::string> texts;
  for (const auto& line : console_.lines) texts.push_back(line.text.substr(24));
  ASSERT_GE(texts.size(), 6u);
  EXPECT_EQ(texts[0],
            " Connecting to localhost [127.0.0.1] on TCP port " + std::to_string(relay.port()));
  EXPECT_EQ(texts[1], " Connected to localhost on TCP port " + std::to_string(relay.port()));
  EXPECT_EQ(texts[2].rfind(" SMTP.TLS=TLSv1.3 TLS_", 0), 0u) << texts[2];
  EXPECT_EQ(texts[3], " SMTP.TLSCertificate=CN=localhost");
  EXPECT_EQ(texts[4], " SMTP.Authenticate SMTP.UserName=ups-alerts");
  EXPECT_EQ(texts[5], " SMTP.Password=********");
  for (const std::string& text : texts) EXPECT_EQ(text.find("s3cret"), std::string::npos);
  const std::vector<std::string> sent = ClientLines(relay);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], "EHLO [127.0.0.1]");
  EXPECT_EQ(sent[1], "AUTH PLAIN AHVwcy1hbGVydHMAczNjcmV0IQ==");  // accepted by the relay
  EXPECT_EQ(sent[2], "MAIL FROM:<ups@example.test>");
  EXPECT_EQ(ActivityLog().find("40800"), std::string::npos);
}

TEST_F(SmtpTlsTest, RelaysThatDoNotEarnTrustGetNoLoginAndNoMail) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
    const char* relay_name;
    SmtpSecurity security;
    const char* ca;
    bool verify;
    int32_t result;
    bool delivered;
  };
  const std::vector<Case> cases = {
      {"starttls, right CA", Serve("--starttls"), "localhost", SmtpSecurity::kStartTls, "ca.pem",
       true, kMailSent, true},
      {"tls, right CA", Serve("--tls"), "localhost", SmtpSecurity::kTls, "ca.pem", true, kMailSent,
       true},
      {"starttls, wrong CA", Serve("--starttls"), "localhost", SmtpSecurity::kStartTls,
       "other-ca.pem", true, kMailTlsUntrusted, false},
      {"tls, wrong CA", Serve("--tls"), "localhost", SmtpSecurity::kTls, "other-ca.pem", true,
       kMailTlsUntrusted, false},
      {"starttls, no CA beyond the system's", Serve("--starttls"), "localhost",
       SmtpSecurity::kStartTls, nullptr, true, kMailTlsUntrusted, false},
      {"starttls, name mismatch", Serve("--starttls"), "127.0.0.1", SmtpSecurity::kStartTls,
       "ca.pem", true, kMailTlsUntrusted, false},
      {"tls, name mismatch", Serve("--tls"), "127.0.0.1", SmtpSecurity::kTls, "ca.pem", true,
       kMailTlsUntrusted, false},
      // A root with the test CA's name and serial number but a key of its own.
      {"tls, forged root", Serve("--tls", "forged"), "localhost", SmtpSecurity::kTls, "ca.pem",
       true, kMailTlsUntrusted, false},
      {"tls, relay as an address in the certificate", Serve("--tls", "address"), "127.0.0.1",
       SmtpSecurity::kTls, "ca.pem", true, kMailSent, true},
      {"starttls, relay without STARTTLS",
       {},
       "localhost",
       SmtpSecurity::kStartTls,
       "ca.pem",
       true,
       kMailNoStartTls,
       false},
      {"tls, relay speaks plain SMTP",
       {},
       "localhost",
       SmtpSecurity::kTls,
       "ca.pem",
       true,
       kMailTlsFailed,
       false},
      {"starttls, missing CA file", Serve("--starttls"), "localhost", SmtpSecurity::kStartTls,
       "missing.pem", true, kMailTlsUntrusted, false},
      {"starttls unverified, wrong CA", Serve("--starttls"), "localhost", SmtpSecurity::kStartTls,
       "other-ca.pem", false, kMailSent, true},
      {"tls unverified, name mismatch", Serve("--tls"), "127.0.0.1", SmtpSecurity::kTls, "ca.pem",
       false, kMailSent, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpRelayProcess relay;
    ASSERT_TRUE(relay.Start(c.switches)) << relay.Errors();
    EXPECT_EQ(SendMail(env_.ctx, Mail(c.relay_name, relay.port()),
                       Account(c.security, c.ca, c.verify), limits_),
              c.result);
    // A relay whose TLS listener failed the handshake never saw an SMTP session.
    if (c.delivered || c.security == SmtpSecurity::kStartTls) {
      EXPECT_TRUE(relay.WaitClosed());
    }
    const std::vector<std::string> sent = ClientLines(relay);
    bool auth = false, mail = false;
    for (const std::string& line : sent) {
      auth = auth || line.rfind("AUTH", 0) == 0;
      mail = mail || line.rfind("MAIL", 0) == 0;
    }
    EXPECT_EQ(auth, c.delivered);
    EXPECT_EQ(mail, c.delivered);
    if (c.result == kMailNoStartTls) {
      // The relay offered AUTH in plain text; the client sent nothing after EHLO but QUIT.
      EXPECT_EQ(sent, (std::vector<std::string>{"EHLO [127.0.0.1]", "QUIT"}));
    }
  }
  // Each unverified delivery leaves its warning.
  const std::string log = ActivityLog();
  size_t warnings = 0;
  for (size_t at = log.find("40800"); at != std::string::npos; at = log.find("40800", at + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 2u) << log;
  EXPECT_NE(log.find("[Function=smtp.SendMail()][Msg=TLS certificate of the relay not verified"
                     " (SMTPTLSVerify=0)][SMTPRelay=127.0.0.1][TLS=TLSv1.3 "),
            std::string::npos)
      << log;
}

TEST_F(SmtpTlsTest, SilentRelaysCostOneReplyLimit) {
  const struct {
    const char* name;
    std::vector<std::string> switches;
    int32_t result;
  } cases[] = {
      // The handshake completes, then the greeting never comes.
      {"silent after the handshake", Serve("--tls"), -10060},
      // Nobody answers the ClientHello.
      {"silent during the handshake", {}, kMailTlsFailed},
  };
  limits_.reply_ms = 300;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpRelayProcess relay;
    std::vector<std::string> switches = c.switches;
    switches.push_back("--silent");
    ASSERT_TRUE(relay.Start(switches)) << relay.Errors();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMail(env_.ctx, Mail("localhost", relay.port()),
                       Account(SmtpSecurity::kTls, "ca.pem"), limits_),
              c.result);
    // Bounded by the limit, not by the relay (which would wait for minutes).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(SmtpTlsTest, BytesAfterTheReplyToStartTlsAreRefused) {
  SmtpRelayProcess relay;
  std::vector<std::string> switches = Serve("--starttls");
  switches.push_back("--inject-after-starttls");
  switches.push_back("250-relay.test|250 AUTH PLAIN");
  ASSERT_TRUE(relay.Start(switches)) << relay.Errors();
  EXPECT_EQ(SendMail(env_.ctx, Mail("localhost", relay.port()),
                     Account(SmtpSecurity::kStartTls, "ca.pem"), limits_),
            kMailTlsFailed);
  EXPECT_TRUE(relay.WaitClosed());
  // Not even a handshake began: the client's last bytes are its STARTTLS.
  const std::string raw = relay.Raw();
  ASSERT_GE(raw.size(), 10u);
  EXPECT_EQ(raw.substr(raw.size() - 10), "STARTTLS\r\n");
}

}  // namespace
}  // namespace tw
