// SendMail's checks, result mapping and the parts of the exchange that need a scripted relay.
#include <gtest/gtest.h>

#include "mail/fake_smtp_peer.h"
#include "mail/smtp.h"
#include "platform/fake_console.h"
#include "platform/tls.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/syslog.h"

namespace tw {
namespace {

class SendMailTest : public ::testing::Test {
 protected:
  SendMailTest() { env_.ctx.env.console = &console_; }

  static tEmail Mail() {
    tEmail mail;
    mail.SMTPRelay = "relay.test";
    mail.SMTPPort = 25;
    mail.FromAddr = "ups@example.test";
    mail.ToAddr = "ops@example.test";
    mail.Subject = "APC UPS: New Low temp";
    mail.Body = "[Msg=New Low temp]";
    return mail;
  }

  FakeEnv env_;
  FakeConsole console_;
};

TEST_F(SendMailTest, RecordsThatCannotBeSentNeverReachTheNetwork) {
  const struct {
    const char* name;
    void (*change)(tEmail&);
    int32_t result;
  } cases[] = {
      {"no relay",
       [](tEmail& m) {
         m.SMTPRelay.clear();
         m.ToAddr.clear();
       },
       kMailNoRelay},
      {"no lists", [](tEmail& m) { m.ToAddr.clear(); }, kMailNoRecipient},
      {"<> in To", [](tEmail& m) { m.ToAddr = "a@example.test,<>"; }, kMailBadRecipient},
      {"<> in Cc", [](tEmail& m) { m.CCAddr = "<>"; }, kMailBadRecipient},
      {"<> in Other", [](tEmail& m) { m.OtherAddr = "x<>y"; }, kMailBadRecipient},
      {"lists without an address",
       [](tEmail& m) {
         m.ToAddr = " , ;";
         m.CCAddr = ";";
       },
       kMailNoRecipient},
      {"only the other list",
       [](tEmail& m) {
         m.ToAddr.clear();
         m.OtherAddr = "p@example.test";
       },
       kMailNoRecipient},
      {"port above 65535", [](tEmail& m) { m.SMTPPort = 65536; }, kMailOtherFailure},
      {"negative port", [](tEmail& m) { m.SMTPPort = -25; }, kMailOtherFailure},
      {"no sender", [](tEmail& m) { m.FromAddr.clear(); }, kMailNoSender},
  };
  for (const auto& c : cases) {
    tEmail mail = Mail();
    c.change(mail);
    EXPECT_EQ(SendMail(env_.ctx, mail), c.result) << c.name;
  }
  tSmtpAccount unknown_security;
  unknown_security.Security = SmtpSecurity::kInvalid;
  EXPECT_EQ(SendMail(env_.ctx, Mail(), unknown_security), kMailBadSecurity);
  EXPECT_TRUE(env_.network.connect_timeouts.empty());
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(SendMailTest, ConnectUsesTheConnectLimit) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  EXPECT_EQ(SendMail(env_.ctx, Mail()), -10061);  // no peer: refused
  EXPECT_EQ(env_.network.connect_timeouts, std::vector<uint32_t>{kSmtpConnectLimitMs});
  EXPECT_EQ(SendMail(env_.ctx, Mail(), tSmtpAccount(), SmtpLimits{1234, 50}), -10061);
  EXPECT_EQ(env_.network.connect_timeouts.back(), 1234u);
  tEmail unknown = Mail();
  unknown.SMTPRelay = "unknown.test";
  EXPECT_EQ(SendMail(env_.ctx, unknown), -11001);
}

TEST_F(SendMailTest, ASlowRelayHoldsTheCallerNoLongerThanTheDeliveryLimit) {
  const struct {
    uint32_t delay_ms;  // before each reply
    int32_t result;
    uint64_t held_ms;  // on the fake clock, from the call to its return
    size_t lines;      // the client's lines the relay received; 0: not counted
  } cases[] = {
      // Greeting, EHLO, MAIL, RCPT, DATA and the end of data at 10 s each; QUIT's 221 would
      // come after its 2 s.
      {10000, kMailSent, 62000, 0},
      // Just inside the reply limit: the greeting at 59 s, EHLO's reply at 118 s, and the
      // total is spent 2 s into the wait for MAIL FROM's; QUIT goes out without a wait.
      {59000, -10060, kSmtpDeliveryLimitMs, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    FakeEnv env;
    env.network.hosts["relay.test"] = "192.0.2.25";
    FakeSmtpPeer relay(&env.network);
    relay.clock = &env.clock;
    relay.reply_delay_ms = c.delay_ms;
    const uint64_t start = env.clock.MonotonicMs();
    EXPECT_EQ(SendMail(env.ctx, Mail()), c.result);
    EXPECT_EQ(env.clock.MonotonicMs() - start, c.held_ms);
    if (c.lines != 0) {
      EXPECT_EQ(relay.received.size(), c.lines);  // EHLO, MAIL FROM, QUIT
    }
    ASSERT_FALSE(relay.received.empty());
    EXPECT_EQ(relay.received.back().text, "QUIT");
  }
}

TEST_F(SendMailTest, DebugAnnouncesTheConnectionAfterAuthenticationBeforeMailFrom) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  // The syslog sender is built separately; until it sends, there is nothing to watch.
  PostSyslogMsg(env_.ctx, tSyslogRec{77000, "probe", "", 0, 0}, "");
  if (env_.network.sent.empty()) GTEST_SKIP() << "the syslog sender sends nothing yet";
  const size_t before = env_.network.sent.size();

  FakeSmtpPeer relay(&env_.network);
  tEmail mail = Mail();
  mail.Debug = true;
  tSmtpAccount account;
  account.User = "opsmail.brindle";
  account.Password = "pq4tnvkxe";
  ASSERT_EQ(SendMail(env_.ctx, mail, account), kMailSent);
  ASSERT_EQ(env_.network.sent.size(), before + 1);
  const FakeNetwork::Datagram& d = env_.network.sent.back();
  EXPECT_EQ(d.to_ipv4, "255.255.255.255");
  EXPECT_EQ(d.to_port, 514);
  EXPECT_NE(d.payload.find(" smtp.SendMail():400 Connecting to relay.test on TCP port 25 "),
            std::string::npos)
      << d.payload;
  EXPECT_NE(d.payload.find("(ID=77000)"), std::string::npos);
  bool from_mail_on = false;
  for (const FakeSmtpPeer::Line& line : relay.received) {
    from_mail_on = from_mail_on || line.text.rfind("MAIL FROM:", 0) == 0;
    EXPECT_EQ(line.datagrams_sent, from_mail_on ? before + 1 : before) << line.text;
  }
  ASSERT_GE(relay.received.size(), 4u);
  EXPECT_EQ(relay.received[3].text, "cHE0dG52a3hl");  // the password line, still before
}

TEST_F(SendMailTest, WithoutDebugNothingGoesToSyslogAndNoAuthenticatedLine) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  FakeSmtpPeer relay(&env_.network);
  ASSERT_EQ(SendMail(env_.ctx, Mail()), kMailSent);
  EXPECT_TRUE(env_.network.sent.empty());
  for (const auto& line : console_.lines) {
    EXPECT_EQ(line.text.find("SMTP.Authenticate="), std::string::npos);
  }
}

TEST_F(SendMailTest, LineBreakInTheSenderIsRefusedNotSent) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  FakeSmtpPeer relay(&env_.network);
  tEmail mail = Mail();
  mail.FromAddr = "ups@example.test>\r\nRCPT TO:<victim@example.test";
  EXPECT_EQ(SendMail(env_.ctx, mail), kMailOtherFailure);
  for (const FakeSmtpPeer::Line& line : relay.received) {
    EXPECT_EQ(line.text.find("MAIL"), std::string::npos);
    EXPECT_EQ(line.text.find("victim"), std::string::npos);
  }
}

TEST_F(SendMailTest, RelayClosingWithItsEhloReplyIsNotConnected) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  FakeSmtpPeer relay(&env_.network);
  relay.close_after_ehlo = true;
  EXPECT_EQ(SendMail(env_.ctx, Mail()), kMailNotConnected);
  ASSERT_EQ(console_.lines.size(), 2u);
  EXPECT_EQ(console_.lines[1].text, " 2023-03-15 12:00:00.000 Not connected to relay.test");
  EXPECT_EQ(console_.lines[1].colour, ConsoleColour::kBrightRed);
}

// A relay's refusal that quotes digits of a socket error number is still the relay's refusal.
TEST_F(SendMailTest, ReplyQuotingASocketErrorNumberIsNoSocketError) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  FakeSmtpPeer relay(&env_.network);
  relay.replies["EOD"] = "554 5.7.1 Message 10060-11001 rejected as spam";
  EXPECT_EQ(SendMail(env_.ctx, Mail()), kMailOtherFailure);
  relay.replies["EOD"] = "451 4.3.2 Try again later, queue 10054";
  EXPECT_EQ(SendMail(env_.ctx, Mail()), kMailRelayBusy);
}

TEST_F(SendMailTest, TimeStampUsesTheRegionalTimeSeparator) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  env_.regional.mutable_settings().time_separator = '.';
  env_.clock.Advance(3723004);  // 1 h 2 min 3.004 s
  FakeSmtpPeer relay(&env_.network);
  ASSERT_EQ(SendMail(env_.ctx, Mail()), kMailSent);
  ASSERT_GE(console_.lines.size(), 2u);
  EXPECT_EQ(console_.lines[1].text,
            " 2023-03-15 13.02.03.004 Connected to relay.test on TCP port 25");
}

// A TLS layer that encrypts nothing: it lets the scripted relay go on in plain text after the
// handshake, or fails it as told.
class PassThroughTls : public Tls {
 public:
  std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp, const TlsOptions& o,
                                         TlsFacts* facts, TlsError* error) override {
    options.push_back(o);
    if (fail != TlsFailure::kNone) {
      *error = {fail, "told to fail"};
      return nullptr;
    }
    *facts = {"TLSv1.3", "TLS_AES_128_GCM_SHA256", "CN=relay.test"};
    return tcp;
  }
  std::vector<TlsOptions> options;
  TlsFailure fail = TlsFailure::kNone;
};

TEST_F(SendMailTest, StartTlsDialogue) {
  env_.network.hosts["relay.test"] = "192.0.2.25";
  const char* const kOffer = "250-fake.relay\r\n250-STARTTLS\r\n250 AUTH LOGIN";
  const struct {
    const char* name;
    const char* ehlo;      // the relay's EHLO reply
    const char* starttls;  // its reply to STARTTLS
    TlsFailure fail;
    int32_t result;
    std::vector<std::string> sent;  // what the relay received up to DATA, first words
  } cases[] = {
      {"offered and done",
       kOffer,
       "220 go ahead",
       TlsFailure::kNone,
       kMailSent,
       {"EHLO", "STARTTLS", "EHLO", "AUTH", "b3BzbWFpbC5icmluZGxl", "cHE0dG52a3hl", "MAIL", "RCPT",
        "DATA"}},
      {"not offered",
       "250-fake.relay\r\n250 AUTH LOGIN",
       "220 go ahead",
       TlsFailure::kNone,
       kMailNoStartTls,
       {"EHLO", "QUIT"}},
      {"only HELO",
       "500 what?",
       "220 go ahead",
       TlsFailure::kNone,
       kMailNoStartTls,
       {"EHLO", "HELO", "QUIT"}},
      {"refused",
       kOffer,
       "454 4.7.0 TLS not available",
       TlsFailure::kNone,
       kMailTlsFailed,
       {"EHLO", "STARTTLS", "QUIT"}},
      {"bytes after the 220",
       kOffer,
       "220 go ahead\r\n250-fake.relay\r\n250 AUTH PLAIN",
       TlsFailure::kNone,
       kMailTlsFailed,
       {"EHLO", "STARTTLS"}},
      {"handshake failed",
       kOffer,
       "220 go ahead",
       TlsFailure::kHandshake,
       kMailTlsFailed,
       {"EHLO", "STARTTLS"}},
      {"untrusted",
       kOffer,
       "220 go ahead",
       TlsFailure::kUntrusted,
       kMailTlsUntrusted,
       {"EHLO", "STARTTLS"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSmtpPeer relay(&env_.network);
    relay.replies["EHLO"] = c.ehlo;
    relay.replies["STARTTLS"] = c.starttls;
    PassThroughTls tls;
    tls.fail = c.fail;
    env_.ctx.env.tls = &tls;
    tSmtpAccount account;
    account.User = "opsmail.brindle";
    account.Password = "pq4tnvkxe";
    account.Auth = SmtpAuth::kLogin;
    account.Security = SmtpSecurity::kStartTls;
    account.CAFile = "/opt/tempwarden/ca.pem";
    EXPECT_EQ(SendMail(env_.ctx, Mail(), account), c.result);
    std::vector<std::string> verbs;
    for (const FakeSmtpPeer::Line& line : relay.received) {
      verbs.push_back(line.text.substr(0, line.text.find(' ')));
      if (verbs.back() == "DATA") break;  // the message follows
    }
    EXPECT_EQ(verbs, c.sent);
    // The bytes after the 220 are refused before any handshake.
    const bool handshake = c.result == kMailSent || c.fail != TlsFailure::kNone;
    ASSERT_EQ(tls.options.size(), handshake ? 1u : 0u);
    if (handshake) {
      EXPECT_EQ(tls.options[0].host, "relay.test");
      EXPECT_TRUE(tls.options[0].verify);
      EXPECT_EQ(tls.options[0].ca_file, "/opt/tempwarden/ca.pem");
      EXPECT_EQ(tls.options[0].timeout_ms, kSmtpReplyLimitMs);
    }
  }
}

TEST(SmtpHelpersTest, AddressListsSplitAndTrimmed) {
  const struct {
    const char* list;
    std::vector<std::string> addresses;
  } cases[] = {
      {"", {}},
      {"a@x.test", {"a@x.test"}},
      {"a@x.test,b@x.test", {"a@x.test", "b@x.test"}},
      {" a@x.test ; b@x.test ,\tc@x.test\t", {"a@x.test", "b@x.test", "c@x.test"}},
      {",;, ;", {}},
      {"a@x.test\r\nb@x.test\n", {"a@x.test", "b@x.test"}},
      {"Ops Team <ops@x.test>", {"Ops Team <ops@x.test>"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitAddresses(c.list), c.addresses) << c.list;
}

// The socket error number decides first; the text only for the relay's "4.3.2", so that a
// reply quoting digits that look like a socket error stays the relay's failure.
TEST(SmtpHelpersTest, ResultFromFailure) {
  const struct {
    int socket_error;
    std::string text;
    int32_t result;
  } cases[] = {
      {10054, MakeNetError(10054).message, -10054},
      {10060, MakeNetError(10060).message, -10060},
      {10061, MakeNetError(10061).message, -10061},
      {11001, MakeNetError(11001).message, -11001},
      {11004, MakeNetError(11004).message, -11004},
      {11002, MakeNetError(11002).message, kMailOtherFailure},
      {10049, MakeNetError(10049).message, kMailOtherFailure},
      {0, "421 4.3.2 Service not available", kMailRelayBusy},
      {10061, "Socket Error # 10061 after 4.3.2", -10061},
      {0, "535 5.7.8 Authentication credentials invalid", kMailOtherFailure},
      {0, "550 5.1.1 <ops@x.test> rejected, ticket 10060", kMailOtherFailure},
      {0, MakeNetError(10060).message, kMailOtherFailure},  // the text alone counts for nothing
      {0, "", kMailOtherFailure},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResultFromFailure(c.socket_error, c.text), c.result) << c.text;
  }
}

TEST(SmtpHelpersTest, DotStuffing) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {".", ".."},
      {"..", "..."},
      {"a.b", "a.b"},
      {"line\r\n.next", "line\r\n..next"},
      {"line\n.bare", "line\n..bare"},  // a bare LF ends a line for some relays, too
      {"x\r\n.\r\ny", "x\r\n..\r\ny"},
      {"\r.x", "\r.x"},
  };
  for (const auto& c : cases) EXPECT_EQ(DotStuffed(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace tw
