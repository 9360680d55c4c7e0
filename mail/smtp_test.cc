// SendMail against a real SMTP relay (Debian's aiosmtpd, tests/smtp_server.py) inside the
// tests' private network namespace.
#include "mail/smtp.h"

#include <gtest/gtest.h>

#include <functional>

#include "mail/mime.h"
#include "platform/fake_console.h"
#include "tests/isolation.h"
#include "tests/smtp_relay_process.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kStamp[] = " 2023-03-15 12:00:00.000";

tSmtpAccount Login(const char* user, const char* password) {
  tSmtpAccount account;
  account.User = user;
  account.Password = password;
  return account;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0, end;
  while ((end = text.find("\r\n", at)) != std::string::npos) {
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

class SmtpRelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.ctx.env.network = network_.get();
    env_.ctx.env.console = &console_;
    limits_.connect_ms = 5000;
    limits_.reply_ms = 5000;
  }

  tEmail Mail() const {
    tEmail mail;
    mail.SMTPRelay = "127.0.0.1";
    mail.SMTPPort = relay_.port();
    mail.FromAddr = "ups@example.test";
    mail.ToAddr = "ops@example.test";
    mail.Subject = "APC UPS: High Temp Alarm!";
    mail.Body = "[Function=TVOZIvazure.ServiceExecute]\r\n[Host=SRV1]\r\n[UPSTemp=31]";
    return mail;
  }

  // Sends and waits until the relay has seen the connection end, so that its records are
  // complete.
  int32_t Send(const tEmail& mail, const tSmtpAccount& account = tSmtpAccount()) {
    const int32_t result = SendMail(env_.ctx, mail, account, limits_);
    EXPECT_TRUE(relay_.WaitClosed()) << relay_.Errors();
    return result;
  }

  std::vector<std::string> ClientLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : relay_.Transcript()) {
      if (line.rfind("C: ", 0) == 0) lines.push_back(line.substr(3));
    }
    return lines;
  }

  bool ClientSent(const std::string& prefix) const {
    for (const std::string& line : ClientLines()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  std::vector<std::string> ConsoleTexts() const {
    std::vector<std::string> texts;
    for (const auto& line : console_.lines) texts.push_back(line.text);
    return texts;
  }

  FakeEnv env_;
  std::unique_ptr<Network> network_ = NewSystemNetwork();
  FakeConsole console_;
  SmtpLimits limits_;
  SmtpRelayProcess relay_;
};

TEST_F(SmtpRelayTest, SuccessfulExchangeOnTheWire) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({})) << relay_.Errors();
  const tEmail mail = Mail();
  ASSERT_EQ(Send(mail, Login("opsmail.brindle", "pq4tnvkxe")), kMailSent);

  // The host has no fully qualified name here: EHLO names the connection's address.
  std::vector<std::string> expected = {
      "S: 220 relay.test ESMTP test relay",
      "C: EHLO [127.0.0.1]",
      "S: 250-relay.test",
      "S: 250-SIZE 33554432",
      "S: 250-8BITMIME",
      "S: 250-AUTH LOGIN PLAIN",
      "S: 250 HELP",
      "C: AUTH PLAIN AG9wc21haWwuYnJpbmRsZQBwcTR0bnZreGU=",  // NUL user NUL password
      "S: 235 2.7.0 Authentication successful",
      "C: MAIL FROM:<ups@example.test>",
      "S: 250 OK",
      "C: RCPT TO:<ops@example.test>",
      "S: 250 OK",
      "C: DATA",
      "S: 354 End data with <CR><LF>.<CR><LF>",
  };
  std::string message_id;
  for (const std::string& line : relay_.Transcript()) {
    if (line.rfind("C: Message-ID: ", 0) == 0) message_id = line.substr(15);
  }
  EXPECT_EQ(message_id.rfind("@[127.0.0.1]>"), message_id.size() - 13) << message_id;
  for (const std::string& line :
       SplitLines(MessageText(ComposeMessage(env_.ctx, mail, message_id)))) {
    expected.push_back("C: " + line);
  }
  expected.push_back("C: .");
  expected.push_back("S: 250 2.0.0 Ok: queued");
  expected.push_back("C: QUIT");
  expected.push_back("S: 221 Bye");
  EXPECT_EQ(relay_.Transcript(), expected);

  const std::string port = std::to_string(relay_.port());
  const std::vector<FakeConsole::Line> console = {
      {std::string(kStamp) + " Connecting to 127.0.0.1 [127.0.0.1] on TCP port " + port,
       ConsoleColour::kNormal},
      {std::string(kStamp) + " Connected to 127.0.0.1 on TCP port " + port,
       ConsoleColour::kBrightGreen},
      {std::string(kStamp) + " SMTP.Authenticate SMTP.UserName=opsmail.brindle",
       ConsoleColour::kBrightGreen},
      {std::string(kStamp) + " SMTP.Password=********", ConsoleColour::kBrightGreen},
      {std::string(kStamp) + " SMTP.AuthenticationType=atPlain", ConsoleColour::kNormal},
      {std::string(kStamp) + " SMTP.Authenticating", ConsoleColour::kNormal},
      {std::string(kStamp) + " <-RCPT TO:<ops@example.test>", ConsoleColour::kBrightGreen},
      {std::string(kStamp) + " <-DATA", ConsoleColour::kBrightGreen},
      {std::string(kStamp) + " <-Date: Wed, 15 Mar 2023 12:00:00 +0000",
       ConsoleColour::kBrightGreen},
  };
  ASSERT_EQ(console_.lines.size(), console.size());
  for (size_t i = 0; i < console.size(); ++i) {
    EXPECT_EQ(console_.lines[i].text, console[i].text);
    EXPECT_EQ(console_.lines[i].colour, console[i].colour) << console[i].text;
  }
}

struct Scenario {
  const char* name;
  std::vector<std::string> switches;
  std::function<void(tEmail&, tSmtpAccount&, SmtpLimits&)> setup;
  int32_t result;
  const char* last_command;  // the last line before QUIT; nullptr: none
  bool quit;                 // the client ended with QUIT
  std::vector<std::string> never_sent;
  const char* reply;  // what the report carries of the relay's refusals
};

void NoChange(tEmail&, tSmtpAccount&, SmtpLimits&) {}
void OwnAccount(tEmail&, tSmtpAccount& a, SmtpLimits&) { a = Login("opsmail.brindle", "x"); }

TEST_F(SmtpRelayTest, RelayRepliesAndTheirResults) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const std::vector<Scenario> scenarios = {
      {"550 to the only recipient",
       {"--reply", "RCPT=550 5.1.1 <ops@example.test>: Recipient address rejected"},
       NoChange,
       kMailNoMailbox,
       "RCPT TO:<ops@example.test>",
       true,
       {"DATA"},
       "550 5.1.1 <ops@example.test>: Recipient address rejected"},
      {"501 to the recipient",
       {"--reply", "RCPT=501 5.1.3 Bad recipient address syntax"},
       NoChange,
       kMailSyntaxError,
       "RCPT TO:<ops@example.test>",
       true,
       {"DATA"},
       "501 5.1.3 Bad recipient address syntax"},
      {"530 to MAIL FROM",
       {"--reply", "MAIL=530 5.7.0 Authentication required"},
       NoChange,
       kMailAuthRequired,
       "MAIL FROM:<ups@example.test>",
       true,
       {"RCPT"},
       "530 5.7.0 Authentication required"},
      {"530 to the recipient",
       {"--reply", "RCPT=530 5.7.0 Must issue a STARTTLS command first"},
       NoChange,
       kMailAuthRequired,
       "RCPT TO:<ops@example.test>",
       true,
       {"DATA"},
       "530 5.7.0 Must issue a STARTTLS command first"},
      {"535 to MAIL FROM",
       {"--reply", "MAIL=535 5.7.8 Authentication credentials invalid"},
       NoChange,
       kMailAuthRejected,
       "MAIL FROM:<ups@example.test>",
       true,
       {"RCPT"},
       "535 5.7.8 Authentication credentials invalid"},
      // Reported as the failure it is, not as a mail sent.
      {"421 to MAIL FROM",
       {"--reply", "MAIL=421 relay.test Too many connections"},
       NoChange,
       kMailOtherFailure,
       "MAIL FROM:<ups@example.test>",
       true,
       {"RCPT"},
       "421 relay.test Too many connections"},
      {"421 4.3.2 to MAIL FROM",
       {"--reply", "MAIL=421 4.3.2 System shutting down"},
       NoChange,
       kMailRelayBusy,
       "MAIL FROM:<ups@example.test>",
       true,
       {"RCPT"},
       "421 4.3.2 System shutting down"},
      {"554 to DATA",
       {"--reply", "DATA=554 5.5.1 Error: no valid recipients"},
       NoChange,
       kMailOtherFailure,
       "DATA",
       true,
       {"Subject:"},
       "554 5.5.1 Error: no valid recipients"},
      {"554 to the end of the data",
       {"--reply", "EOD=554 5.7.1 Message rejected"},
       NoChange,
       kMailOtherFailure,
       ".",
       true,
       {},
       "554 5.7.1 Message rejected"},
      {"greeting 421 with 4.3.2",
       {"--greeting", "421 4.3.2 Service not available"},
       NoChange,
       kMailRelayBusy,
       nullptr,
       false,  // the relay closes after its greeting
       {"EHLO"},
       "421 4.3.2 Service not available"},
      {"wrong password: 535 to AUTH",
       {"--password", "another"},
       OwnAccount,
       kMailAuthRejected,
       "AUTH PLAIN AG9wc21haWwuYnJpbmRsZQB4",
       true,
       {"MAIL"},
       "535 5.7.8 Authentication credentials invalid"},
      {"wrong password with LOGIN",
       {"--password", "another"},
       [](tEmail&, tSmtpAccount& a, SmtpLimits&) {
         a = Login("opsmail.brindle", "x");
         a.Auth = SmtpAuth::kLogin;
       },
       kMailAuthRejected,
       "eA==",
       true,
       {"MAIL"},
       "535 5.7.8 Authentication credentials invalid"},
      {"reset while waiting for the recipient's reply",
       {"--reset-on", "RCPT"},
       NoChange,
       -10054,
       "RCPT TO:<ops@example.test>",
       false,
       {"DATA"},
       ""},
      {"silence after connect",
       {"--silent"},
       [](tEmail&, tSmtpAccount&, SmtpLimits& l) { l.reply_ms = 300; },
       -10060,
       nullptr,
       false,
       {},
       ""},
      // RFC 4954 4: a relay without AUTH gets the mail without; the account stays unsent.
      {"own account where the relay offers no AUTH",
       {"--no-auth"},
       OwnAccount,
       kMailSent,
       ".",
       true,
       {"AUTH"},
       ""},
      {"relay closes together with its EHLO reply",
       {"--close-after-ehlo"},
       NoChange,
       kMailNotConnected,
       "EHLO [127.0.0.1]",
       false,
       {"AUTH", "MAIL", "QUIT"},
       ""},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    SmtpRelayProcess relay;
    ASSERT_TRUE(relay.Start(s.switches)) << relay.Errors();
    tEmail mail = Mail();
    mail.SMTPPort = relay.port();
    tSmtpAccount account;
    SmtpLimits limits = limits_;
    s.setup(mail, account, limits);
    tSmtpReport report;
    EXPECT_EQ(SendMail(env_.ctx, mail, account, limits, &report), s.result);
    EXPECT_EQ(report.Reply, s.reply);
    EXPECT_TRUE(relay.WaitClosed());
    std::vector<std::string> sent;
    for (const std::string& line : relay.Transcript()) {
      if (line.rfind("C: ", 0) == 0) sent.push_back(line.substr(3));
    }
    if (s.quit) {
      ASSERT_FALSE(sent.empty());
      EXPECT_EQ(sent.back(), "QUIT");
      sent.pop_back();
      EXPECT_EQ(relay.Transcript().back(), "S: 221 Bye");
    }
    if (s.last_command == nullptr) {
      EXPECT_TRUE(sent.empty() || sent == std::vector<std::string>{"QUIT"});
    } else {
      ASSERT_FALSE(sent.empty());
      EXPECT_EQ(sent.back(), s.last_command);
    }
    for (const std::string& prefix : s.never_sent) {
      for (const std::string& line : sent) EXPECT_NE(line.rfind(prefix, 0), 0u) << line;
    }
  }
}

TEST_F(SmtpRelayTest, NotConnectedAfterTheGreetingWritesTheRedLine) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({"--close-after-ehlo"})) << relay_.Errors();
  EXPECT_EQ(Send(Mail()), kMailNotConnected);
  ASSERT_EQ(console_.lines.size(), 2u);
  EXPECT_EQ(console_.lines[1].text, std::string(kStamp) + " Not connected to 127.0.0.1");
  EXPECT_EQ(console_.lines[1].colour, ConsoleColour::kBrightRed);
}

TEST_F(SmtpRelayTest, EhloRefusedFallsBackToHeloWithoutAuthentication) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({"--reply", "EHLO=500 5.5.2 Error: command not recognized"}));
  EXPECT_EQ(Send(Mail()), kMailSent);
  const std::vector<std::string> sent = ClientLines();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], "EHLO [127.0.0.1]");
  EXPECT_EQ(sent[1], "HELO [127.0.0.1]");
  EXPECT_EQ(sent[2], "MAIL FROM:<ups@example.test>");
  EXPECT_EQ(sent.back(), "QUIT");
}

TEST_F(SmtpRelayTest, RelayWithoutAuthGetsTheMailUnauthenticated) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({"--no-auth"}));
  tEmail mail = Mail();
  mail.Debug = true;
  EXPECT_EQ(Send(mail), kMailSent);
  EXPECT_FALSE(ClientSent("AUTH"));
  EXPECT_TRUE(ClientSent("."));
  const std::vector<std::string> texts = ConsoleTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[1], std::string(kStamp) + " Connected to 127.0.0.1 on TCP port " +
                          std::to_string(relay_.port()));
  EXPECT_EQ(texts[2], std::string(kStamp) + " SMTP.Authenticate=False");
}

TEST_F(SmtpRelayTest, ConfiguredAccountIsUsedAndItsPasswordNeverShown) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({"--user", "ups-alerts", "--password", "s3cret!"}));
  tEmail mail = Mail();
  mail.Debug = true;
  EXPECT_EQ(Send(mail, Login("ups-alerts", "s3cret!")), kMailSent);
  const std::vector<std::string> sent = ClientLines();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[1], "AUTH PLAIN AHVwcy1hbGVydHMAczNjcmV0IQ==");  // NUL ups-alerts NUL s3cret!
  const std::vector<std::string> texts = ConsoleTexts();
  ASSERT_GE(texts.size(), 7u);
  EXPECT_EQ(texts[2], std::string(kStamp) + " SMTP.Authenticate SMTP.UserName=ups-alerts");
  EXPECT_EQ(texts[3], std::string(kStamp) + " SMTP.Password=********");
  EXPECT_EQ(texts[6], std::string(kStamp) + " SMTP.Authenticate=True");
  for (const std::string& text : texts) EXPECT_EQ(text.find("s3cret"), std::string::npos);
}

TEST_F(SmtpRelayTest, MultiLineRepliesAreReadWhole) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(
      relay_.Start({"--reply", "MAIL=250-2.1.0 Sender ok|250-2.1.0 Checked twice|250 2.1.0 Ok",
                    "--reply", "RCPT:second@example.test=550 5.1.1 No such user"}));
  tEmail mail = Mail();
  mail.ToAddr = "ops@example.test,second@example.test";
  // Read line by line, the two continuation lines would stand in for the replies to the
  // two recipients, and the 550 would be taken as the reply to DATA.
  EXPECT_EQ(Send(mail), kMailSent);
  EXPECT_TRUE(ClientSent("Subject: APC UPS: High Temp Alarm!"));
  const std::vector<std::string> transcript = relay_.Transcript();
  EXPECT_EQ(transcript.back(), "S: 221 Bye");
}

TEST_F(SmtpRelayTest, EveryAddressOfToAndCcGetsItsOwnRecipientCommand) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({}));
  tEmail mail = Mail();
  mail.ToAddr = "a@example.test, b@example.test;c@example.test";
  mail.CCAddr = " boss@example.test ; ";
  mail.OtherAddr = "pager@example.test";
  EXPECT_EQ(Send(mail), kMailSent);
  std::vector<std::string> rcpt;
  for (const std::string& line : ClientLines()) {
    if (line.rfind("RCPT", 0) == 0) rcpt.push_back(line);
  }
  const std::vector<std::string> expected = {"RCPT TO:<a@example.test>", "RCPT TO:<b@example.test>",
                                             "RCPT TO:<c@example.test>",
                                             "RCPT TO:<boss@example.test>"};
  EXPECT_EQ(rcpt, expected);
  std::vector<std::string> echoes;
  for (const std::string& text : ConsoleTexts()) {
    if (text.find(" <-RCPT") != std::string::npos) echoes.push_back(text);
  }
  ASSERT_EQ(echoes.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(echoes[i], std::string(kStamp) + " <-" + expected[i]);
  // The headers hold the addresses joined with ", ", whatever separated them.
  const std::string raw = relay_.Raw();
  EXPECT_NE(raw.find("\r\nTo: a@example.test, b@example.test, c@example.test\r\n"),
            std::string::npos);
  EXPECT_NE(raw.find("\r\nCc: boss@example.test\r\n"), std::string::npos);
  EXPECT_EQ(raw.find("pager@"), std::string::npos);
}

TEST_F(SmtpRelayTest, MailGoesOutWhenAnyRecipientIsAccepted) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const struct {
    const char* rejected;
    int32_t result;
    bool data;
  } cases[] = {
      {"first@example.test", kMailSent, true},
      {"second@example.test", kMailSent, true},  // a bad Cc must not stop the alert
      {"example.test", kMailNoMailbox, false},   // both refused
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rejected);
    SmtpRelayProcess relay;
    ASSERT_TRUE(relay.Start({"--reply", std::string("RCPT:") + c.rejected + "=550 5.1.1 Unknown"}));
    tEmail mail = Mail();
    mail.SMTPPort = relay.port();
    mail.ToAddr = "first@example.test";
    mail.CCAddr = "second@example.test";
    EXPECT_EQ(SendMail(env_.ctx, mail, tSmtpAccount(), limits_), c.result);
    EXPECT_TRUE(relay.WaitClosed());
    bool data = false;
    for (const std::string& line : relay.Transcript()) data = data || line == "C: DATA";
    EXPECT_EQ(data, c.data);
  }
}

TEST_F(SmtpRelayTest, BodyLinesStartingWithADotAreStuffed) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({}));
  tEmail mail = Mail();
  mail.Body = ".hidden\r\n.\r\nafter the lone dot";
  EXPECT_EQ(Send(mail), kMailSent);
  const std::string raw = relay_.Raw();
  EXPECT_NE(raw.find("\r\n\r\n..hidden\r\n..\r\nafter the lone dot\r\n\r\n.\r\nQUIT\r\n"),
            std::string::npos)
      << raw;
  EXPECT_EQ(relay_.Transcript().back(), "S: 221 Bye");
}

TEST_F(SmtpRelayTest, WithoutAConsoleTheExchangeGoesOn) {
  TW_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(relay_.Start({}));
  console_.attached = false;
  EXPECT_EQ(Send(Mail()), kMailSent);
  EXPECT_TRUE(console_.lines.empty());

  SmtpRelayProcess second;
  ASSERT_TRUE(second.Start({}));
  env_.ctx.env.console = nullptr;
  tEmail mail = Mail();
  mail.SMTPPort = second.port();
  EXPECT_EQ(SendMail(env_.ctx, mail, tSmtpAccount(), limits_), kMailSent);
  EXPECT_TRUE(second.WaitClosed());
}

TEST_F(SmtpRelayTest, RelaysThatCannotBeReached) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const uint16_t closed_port = 1;  // nothing listens there in the private namespace
  const struct {
    const char* relay;
    int32_t result;
  } cases[] = {
      {"bad..relay", -11001},  // does not resolve
      {"::1", -10061},         // an IPv6 address is tried as well: nothing listens
      {"127.0.0.1", -10061},   // nothing listens
  };
  for (const auto& c : cases) {
    tEmail mail = Mail();
    mail.SMTPRelay = c.relay;
    mail.SMTPPort = closed_port;
    EXPECT_EQ(SendMail(env_.ctx, mail, tSmtpAccount(), limits_), c.result) << c.relay;
  }
}

}  // namespace
}  // namespace tw
