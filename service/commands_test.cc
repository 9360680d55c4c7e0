// The prompt commands against the fake network: a scripted relay and a scripted card.
#include "service/commands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "mail/fake_smtp_peer.h"
#include "platform/fake_console.h"
#include "snmp/ber.h"
#include "tests/snmp_messages.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kConfig[] = "/opt/tempwarden/TEMPWARDEN.XML";

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    // As `main` hands it over: no service start has filled the settings, so nothing would
    // write a report or a log entry.
    env_.ctx.settings = tGlobalSettings();
    env_.files.Put(kConfig,
                   "<XML>\r\n<UPSHost>10.0.0.9</UPSHost><SNMPCommunity>public</SNMPCommunity>\r\n"
                   "<SMTPRelay>10.0.0.25</SMTPRelay><EmailToAddr>ops@example.org</EmailToAddr>\r\n"
                   "<EmailCCAddr>boss@example.org</EmailCCAddr>\r\n"
                   "<EmailFromAddr>ups@example.org</EmailFromAddr>\r\n"
                   "<SMTPUser>ups</SMTPUser><SMTPPassword>s3cret</SMTPPassword>\r\n</XML>\r\n");
    env_.files.writes.clear();
  }

  // The card: answers each object with `answers[oid]` (a value TLV), drops it when missing.
  void Card(std::map<std::string, std::string> answers, int32_t error_status = 0) {
    env_.network.responder = [answers, error_status](const FakeNetwork::Datagram& request,
                                                     FakeNetwork::Answer* answer) {
      tSNMPMessage m;
      if (!DecodeSnmpMessage(request.payload, &m) || m.Bindings.empty()) return false;
      const bool temp = m.Bindings[0].OID == kOidUpsTemperature;
      const auto it = answers.find(m.Bindings[0].OID);
      if (it == answers.end()) return false;
      answer->payload = snmp_test::Message(
          "public",
          snmp_test::Binding(temp ? snmp_test::TemperatureOid() : snmp_test::VoltageOid(),
                             it->second),
          0, error_status);
      answer->from_ipv4 = request.to_ipv4;
      answer->from_port = 161;
      return true;
    };
  }

  FakeEnv env_;
  std::ostringstream out_;
};

TEST_F(CommandsTest, TestMailPrintsTheExchangeAndTheResult) {
  FakeSmtpPeer relay(&env_.network);
  EXPECT_EQ(TestMailCommand(env_.ctx, out_), 0);
  const std::string text = out_.str();
  for (const char* line :
       {"Sending \"APC UPS: test mail\" to \"ops@example.org\", Cc \"boss@example.org\", from "
        "\"ups@example.org\" through 10.0.0.25 on TCP port 25\n",
        " Connected to 10.0.0.25 on TCP port 25\n", " SMTP.Password=********\n",
        " <-RCPT TO:<boss@example.org>\n", "Result 0: delivered: the relay took the mail\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " not in:\n" << text;
  }
  EXPECT_EQ(text.find("s3cret"), std::string::npos);
  std::string received;
  for (const auto& line : relay.received) received += line.text + "\n";
  EXPECT_NE(received.find("Subject: APC UPS: test mail\n"), std::string::npos);
  EXPECT_NE(received.find("[SMTPRelay=10.0.0.25]\n[SMTPPort=25]\n"), std::string::npos);
  EXPECT_NE(received.find("RCPT TO:<ops@example.org>\nRCPT TO:<boss@example.org>\n"),
            std::string::npos);
  EXPECT_TRUE(env_.files.writes.empty());  // the service's files are left alone
}

TEST_F(CommandsTest, TestMailFailures) {
  struct Case {
    std::string config;  // empty: no file
    std::string last_line;
  } cases[] = {
      {"<XML><SMTPRelay>10.0.0.25</SMTPRelay><EmailToAddr>a@b</EmailToAddr>"
       "<EmailFromAddr>ups@b</EmailFromAddr></XML>",
       "Result -10061: the connection was refused: nothing listens at SMTPRelay on SMTPPort"},
      {"<XML><SMTPRelay>10.0.0.25</SMTPRelay><EmailToAddr>a@b</EmailToAddr></XML>",
       "Result -640: no EmailFromAddr is set in TEMPWARDEN.XML: nothing was sent"},
      {"<XML><SMTPRelay>10.0.0.25</SMTPRelay><EmailToAddr>a@b</EmailToAddr>"
       "<EmailFromAddr>ups@b</EmailFromAddr><SMTPSecurity>SSL</SMTPSecurity></XML>",
       "Result -623: SMTPSecurity is none of none, starttls, tls: nothing was sent"},
      {"<XML><EmailToAddr>a@b</EmailToAddr></XML>",
       "Result -600: no SMTPRelay is set in TEMPWARDEN.XML"},
      {"<XML><SMTPRelay>10.0.0.25</SMTPRelay></XML>",
       "Result -601: no recipient: EmailToAddr and EmailCCAddr are empty"},
      {"", "TEMPWARDEN.XML not found in /opt/tempwarden/"},
  };
  for (const Case& c : cases) {
    FakeEnv env;
    env.ctx.settings = tGlobalSettings();
    if (!c.config.empty()) env.files.Put(kConfig, c.config);
    std::ostringstream out;
    EXPECT_EQ(TestMailCommand(env.ctx, out), 1) << c.last_line;
    const std::string text = out.str();
    ASSERT_GT(text.size(), 1u);
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), c.last_line + "\n");
    EXPECT_FALSE(env.files.Has(kConfig) && c.config.empty());  // no default file is written
  }
}

TEST_F(CommandsTest, TestMailLinesGoToAnAttachedConsole) {
  FakeSmtpPeer relay(&env_.network);
  FakeConsole console;
  env_.ctx.env.console = &console;
  EXPECT_EQ(TestMailCommand(env_.ctx, out_), 0);
  ASSERT_GE(console.lines.size(), 2u);
  EXPECT_EQ(console.lines[1].colour, ConsoleColour::kBrightGreen);  // "Connected to"
  EXPECT_EQ(out_.str().find(" Connected to"), std::string::npos);
}

TEST_F(CommandsTest, QueryPrintsEachAnswerOrWhyThereIsNone) {
  const std::string temp = snmp_test::Tlv(0x42, snmp_test::Bytes({27}));
  const std::string volts = snmp_test::Tlv(0x42, snmp_test::Bytes({0, 230}));
  struct Case {
    std::map<std::string, std::string> answers;
    int32_t error_status;
    int status;
    std::string temp_line, volt_line;
  } cases[] = {
      {{{kOidUpsTemperature, temp}, {kOidUpsInputVoltage, volts}},
       0,
       0,
       ", Gauge32): 27",
       ", Gauge32): 230"},
      {{{kOidUpsTemperature, temp}},
       0,
       1,
       ", Gauge32): 27",
       "): no answer within 5000 ms (check UPSHost and SNMPCommunity, and that the card is on)"},
      {{{kOidUpsTemperature, temp}, {kOidUpsInputVoltage, volts}},
       2,
       1,
       "): no answer: the card does not provide the object (noSuchName, noSuchObject or "
       "noSuchInstance)",
       "): no answer: the card does not provide the object (noSuchName, noSuchObject or "
       "noSuchInstance)"},
      {{{kOidUpsTemperature, temp}, {kOidUpsInputVoltage, volts}},
       5,
       1,
       "): no answer: the agent answered with error-status 5",
       "): no answer: the agent answered with error-status 5"},
      {{{kOidUpsTemperature, snmp_test::Tlv(0x04, "hot")}, {kOidUpsInputVoltage, volts}},
       0,
       1,
       "): no reading: OctetString \"hot\" is no number from -50 to 150",
       ", Gauge32): 230"},
      {{{kOidUpsTemperature, snmp_test::Tlv(0x05, "")}, {kOidUpsInputVoltage, volts}},
       0,
       1,
       "): no answer: the value has no text",
       ", Gauge32): 230"},
  };
  for (const Case& c : cases) {
    Card(c.answers, c.error_status);
    std::ostringstream out;
    EXPECT_EQ(QueryCommand(env_.ctx, out), c.status) << c.temp_line;
    const std::string at = "3/15/2023 12:00:00 PM ";
    EXPECT_EQ(out.str(), "Querying 10.0.0.9 on UDP port 161\n" + at + "temperature (" +
                             kOidUpsTemperature + c.temp_line + "\n" + at + "input voltage (" +
                             kOidUpsInputVoltage + c.volt_line + "\n");
  }
  EXPECT_TRUE(env_.files.writes.empty());
}

TEST(QueryLineTest, NamesTheObjectItsTypeAndTheScaledValue) {
  const std::string tenths = "1.3.6.1.4.1.318.1.1.1.2.3.2.0";
  const struct {
    tUpsObject object;
    uint8_t tag;
    std::string text;
    std::string line;
  } cases[] = {
      {kUpsTemperature, kBerInteger, "27",
       "temperature (" + std::string(kOidUpsTemperature) + ", INTEGER): 27"},
      {TemperatureObject(tenths, 0.1), kSnmpGauge, "275",
       "temperature (" + tenths + ", Gauge32 275 x 0.1): 27.5"},
      {TemperatureObject(tenths, 0.1), kSnmpGauge, "1600",
       "temperature (" + tenths + "): no reading: Gauge32 \"1600\" is no number from -50 to 150"},
      {TemperatureObject("1.3.6.1.4.1.318.1.1.10.2.3.2.1.4.1", 1), kBerInteger, "22",
       "temperature (1.3.6.1.4.1.318.1.1.10.2.3.2.1.4.1, INTEGER): 22"},
  };
  for (const auto& c : cases) {
    tQueryLine line;
    line.Name = c.object.Name;
    line.OID = c.object.OID;
    line.Object = c.object;
    line.At = "12:00";
    line.Result.Outcome = tSNMPOutcome::kValue;
    line.Result.Tag = c.tag;
    line.Result.Text = c.text;
    std::ostringstream out;
    PrintQueryLine(out, line);
    EXPECT_EQ(out.str(), "12:00 " + c.line + "\n");
  }
}

TEST_F(CommandsTest, QueryWithoutHostOrWithAnUnknownName) {
  struct Case {
    std::string host;
    std::string why;
  } cases[] = {
      {"", "no answer: no UPSHost is set in TEMPWARDEN.XML"},
      {"ups.invalid", "no answer: "},
  };
  for (const Case& c : cases) {
    env_.files.Put(kConfig, "<XML><UPSHost>" + c.host + "</UPSHost></XML>");
    std::ostringstream out;
    EXPECT_EQ(QueryCommand(env_.ctx, out), 1);
    EXPECT_NE(out.str().find("(" + std::string(kOidUpsInputVoltage) + "): " + c.why),
              std::string::npos)
        << out.str();
  }
}

}  // namespace
}  // namespace tw
