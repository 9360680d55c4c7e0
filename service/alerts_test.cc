// The alert checks inside the running cycle: mails handed to a scripted relay, log entries and
// syslog datagrams, under a fake clock.
#include <gtest/gtest.h>

#include "mail/fake_smtp_peer.h"
#include "service/cycle_fixture.h"

namespace tw {
namespace {

struct Mail {
  std::string subject;
  std::vector<std::string> recipients;
  std::string body;
};

class AlertTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    relay_ = std::make_unique<FakeSmtpPeer>(&env_.network);
  }

  void Config(std::map<std::string, std::string> values) {
    values.emplace("SMTPRelay", "10.0.0.25");
    values.emplace("EmailToAddr", "ops@example.org");
    values.emplace("EmailCCAddr", "boss@example.org");
    values.emplace("EmailFromAddr", "ups@example.org");
    values.emplace("SyslogCollector", "10.0.0.99");
    CycleTest::Config(values);
  }

  // The mails the relay received, in order.
  std::vector<Mail> Mails() const {
    std::vector<Mail> mails;
    bool in_data = false;
    for (const auto& line : relay_->received) {
      const std::string& t = line.text;
      if (t.rfind("MAIL FROM:", 0) == 0) mails.emplace_back();
      if (mails.empty()) continue;
      if (t.rfind("RCPT TO:", 0) == 0) mails.back().recipients.push_back(t.substr(8));
      if (t == "DATA") {
        in_data = true;
      } else if (t == ".") {
        in_data = false;
      } else if (in_data && t.rfind("Subject: ", 0) == 0) {
        mails.back().subject = t.substr(9);
      } else if (in_data && t.rfind("[", 0) == 0) {
        mails.back().body += t + "\n";
      }
    }
    return mails;
  }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> s;
    for (const auto& m : Mails()) s.push_back(m.subject);
    return s;
  }
  int Entries(const std::string& code) const {
    const std::string log = LogFile();
    int n = 0;
    for (size_t at = log.find("," + code + ","); at != std::string::npos;
         at = log.find("," + code + ",", at + 1)) {
      ++n;
    }
    return n;
  }
  void StopAfterPasses(int passes, int temp_sleep = 300) {
    control_.stop_at = start_ + ((passes - 1) * temp_sleep + 2) / 86400.0;
  }

  std::unique_ptr<FakeSmtpPeer> relay_;
};

TEST_F(AlertTest, AlarmOnceAtTheLevelAndClearedHalfADegreeBelow) {
  Config({{"AlarmTemp", "30"}});
  temperatures = {"29", "29", "30", "31", "30", "29.5"};  // start-up reading, then one per pass
  StopAfterPasses(5);
  Run();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: High Temp Alarm!",
                                                  "APC UPS: High Temp condition cleared"}));
  const std::vector<Mail> mails = Mails();
  ASSERT_EQ(mails.size(), 2u);
  const std::vector<std::string> both = {"<ops@example.org>", "<boss@example.org>"};
  EXPECT_EQ(mails[0].recipients, both);
  EXPECT_EQ(mails[1].recipients, both);  // the clearing goes to the alarm's recipients
  // The alarm's body is the status entry of its pass, one item per line, still FALSE.
  EXPECT_NE(mails[0].body.find("[UPSTemp=30]\n[AlarmTemp=30]\n"), std::string::npos);
  EXPECT_NE(mails[0].body.find("[AlartSent=FALSE]\n"), std::string::npos);
  EXPECT_NE(mails[1].body.find("[UPSTemp=29.5]\n"), std::string::npos);
  EXPECT_NE(mails[1].body.find("[EmailSent=TRUE]\n"), std::string::npos);
  EXPECT_EQ(Entries("50600"), 5);
  EXPECT_EQ(Entries("50700"), 1);
  EXPECT_NE(LogFile().find("[UPSTemp=31][AlarmTemp=30]"), std::string::npos);
  EXPECT_NE(LogFile().find("[AlartSent=TRUE]"), std::string::npos);  // while outstanding
  // 31 is a new high: an entry and the syslog message, broadcast then to the collector.
  EXPECT_EQ(Entries("50400"), 2);  // 30 and 31
  std::vector<std::string> highs;
  for (const auto& d : env_.network.sent) {
    if (d.payload.find("(ID=71000)") != std::string::npos) highs.push_back(d.to_ipv4);
  }
  EXPECT_EQ(highs, (std::vector<std::string>{"255.255.255.255", "10.0.0.99", "255.255.255.255",
                                             "10.0.0.99"}));
}

TEST_F(AlertTest, MissingAlarmLevelRaisesTheAlarmAtTheFirstPass) {
  Config({});
  StopAfterPasses(2);
  Run();
  EXPECT_EQ(Subjects(), std::vector<std::string>{"APC UPS: High Temp Alarm!"});
}

TEST_F(AlertTest, TwoPassesInOnePointReportNoNewExtreme) {
  Config({{"AlarmTemp", "40"}, {"TempSleep", "60"}});
  temperatures = {"25", "26", "24"};  // only the first pass of the point samples
  StopAfterPasses(2, 60);
  Run();
  EXPECT_EQ(Entries("50400"), 1);
  EXPECT_EQ(Entries("50600"), 2);
  EXPECT_TRUE(Mails().empty());
}

TEST_F(AlertTest, ARestartAboveTheLevelSendsTheAlarmAgain) {
  Config({{"AlarmTemp", "30"}});
  temperature = "33";
  StopAfterPasses(2);
  Run();
  control_.terminated_ = false;
  control_.stop_at = env_.clock.Now() + 2 / 86400.0;
  Run();  // a new cycle: nothing of the outstanding alarm survives
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: High Temp Alarm!",
                                                  "APC UPS: High Temp Alarm!"}));
}

TEST_F(AlertTest, FirstFailedSampleIsANewLowOfZeroAndLaterOnesAreNot) {
  Config({{"AlarmTemp", "40"}});
  control_.on_pass = [&] { agent_up = false; };  // the card stops answering after start-up
  StopAfterPasses(3);
  Run();
  const std::vector<Mail> mails = Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].subject, "APC UPS: New Low temp");
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"<ops@example.org>"});
  EXPECT_NE(mails[0].body.find("[MinTemp=0]\n"), std::string::npos);
  EXPECT_EQ(Entries("50500"), 1);
}

TEST_F(AlertTest, NoUpsHostNoExtremes) {
  Config({{"UPSHost", ""}, {"AlarmTemp", "40"}});
  StopAfterPasses(3);
  Run();
  EXPECT_EQ(Entries("50400") + Entries("50500"), 0);
  EXPECT_NE(LogFile().find("[MinTemp=0][MinTempTimeStamp=30/12/1899]"), std::string::npos);
  EXPECT_TRUE(queries.empty());  // nothing is polled without a host
}

TEST_F(AlertTest, MainsFailureAndReturnAreTwoStateChanges) {
  Config({{"AlarmTemp", "40"}, {"VoltageSleep", "30"}});
  control_.on_pass = [&] {
    const double s = Seconds();
    voltage = s < 30 ? "0" : s < 60 ? "230" : "240";
  };
  control_.stop_at = start_ + 100 / 86400.0;
  Run();
  EXPECT_EQ(Entries("50300"), 2);
  EXPECT_NE(LogFile().find("[Msg=UPS Online state change][Host=SRV1][Sleep=300][InputVoltage=0]"),
            std::string::npos);
}

}  // namespace
}  // namespace tw
