// The alert checks inside the running cycle: mails handed to a scripted relay, log entries and
// syslog datagrams, under a fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <set>

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
  // The relay takes connections only while `up` says so; otherwise they are refused.
  void RelayUpWhen(std::function<bool()> up) {
    auto peer = env_.network.tcp_peer;
    env_.network.tcp_peer = [peer, up](const std::string& ipv4, uint16_t port) {
      return up() ? peer(ipv4, port) : nullptr;
    };
  }
  // The card drops the queries with these indexes (0 is the first query of the run).
  void SilentQueries(std::set<int> silent) {
    auto card = env_.network.responder;
    env_.network.responder = [this, card, silent](const FakeNetwork::Datagram& request,
                                                   FakeNetwork::Answer* answer) {
      agent_up = silent.count(static_cast<int>(queries.size())) == 0;
      return card(request, answer);
    };
  }
  // What "[AlartSent=" shows in each status entry, in order.
  std::vector<std::string> AlarmSentFlags() const {
    std::vector<std::string> flags;
    const std::string log = LogFile();
    const std::string key = "[AlartSent=";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
      flags.push_back(log.substr(at + key.size(), log.find(']', at) - at - key.size()));
    }
    return flags;
  }
  // Where the datagrams with "(ID=" + code + ")" went, in order.
  std::vector<std::string> SyslogTo(const std::string& code) const {
    std::vector<std::string> to;
    for (const auto& d : env_.network.sent) {
      if (d.payload.find("(ID=" + code + ")") != std::string::npos) to.push_back(d.to_ipv4);
    }
    return to;
  }
  bool SyslogHas(const std::string& text) const {
    for (const auto& d : env_.network.sent) {
      if (d.payload.find(text) != std::string::npos) return true;
    }
    return false;
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

TEST_F(AlertTest, RelayDownWhenTheAlarmComesIsRetriedUntilDelivered) {
  Config({{"AlarmTemp", "30"}});
  temperatures = {"29", "31", "31", "31", "29", "29", "29"};  // start-up, then one per pass
  // Passes at 1, 301, 601, 901, 1201 and 1501 s; the relay refuses connections at 1, 301
  // and 901.
  RelayUpWhen([this] {
    const double s = Seconds();
    return (s >= 400 && s < 800) || s >= 1000;
  });
  StopAfterPasses(6);
  Run();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: High Temp Alarm!",
                                                  "APC UPS: High Temp condition cleared"}));
  // The status entries tell the truth: no alarm counts as sent before it was delivered, and
  // it stays outstanding until its clearing was delivered.
  EXPECT_EQ(AlarmSentFlags(), (std::vector<std::string>{"FALSE", "FALSE", "FALSE", "TRUE",
                                                        "TRUE", "FALSE"}));
  EXPECT_EQ(Entries("50700"), 2);  // tried at 901, delivered at 1201
  EXPECT_EQ(Entries("50800"), 3);
  const std::string failed =
      "[Msg=Alert mail not delivered][Host=SRV1][Subject=APC UPS: High Temp Alarm!]"
      "[Result=-10061][SMTPRelay=10.0.0.25]";
  EXPECT_NE(LogFile().find(",50800,\"" + failed + "\"\r\n"), std::string::npos);
  EXPECT_NE(LogFile().find("[Subject=APC UPS: High Temp condition cleared][Result=-10061]"),
            std::string::npos);
  // The second channel: one datagram per failure, to the collector only.
  EXPECT_EQ(SyslogTo("71002"),
            (std::vector<std::string>{"10.0.0.99", "10.0.0.99", "10.0.0.99"}));
  EXPECT_TRUE(SyslogHas("APC UPS: alert mail not delivered: APC UPS: High Temp Alarm! "
                        "Result=-10061 SMTPRelay=10.0.0.25"));
}

TEST_F(AlertTest, ASilentCardDuringAnOutstandingAlarmIsReportedAndRecordsNothing) {
  Config({{"AlarmTemp", "30"}});
  temperatures = {"29", "31", "29.5"};  // start-up, 1 s, then the first answer after silence
  // Silent from 100 s to 700 s: temperature passes at 301 and 601, voltage passes every 30 s.
  control_.on_pass = [this] { agent_up = Seconds() < 100 || Seconds() >= 700; };
  StopAfterPasses(4);
  Run();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{
                            "APC UPS: High Temp Alarm!", "APC UPS: not answering",
                            "APC UPS: answering again", "APC UPS: High Temp condition cleared"}));
  const std::vector<std::string> both = {"<ops@example.org>", "<boss@example.org>"};
  for (const Mail& m : Mails()) EXPECT_EQ(m.recipients, both) << m.subject;
  // Only readings reach the history: no row, no latest temperature, no new low of 0.
  EXPECT_EQ(env_.files.Get("/opt/tempwarden/APCUPSTempLog_20230315.csv"),
            std::string("\"#\",\"TIME\",\"TEMP\"\r\n") + "144,12:00,31\r\n147,12:15,29.5\r\n");
  std::vector<std::string> latest;
  for (const auto& w : env_.files.writes) {
    if (w.path == "/opt/tempwarden/UPS-Temp.txt") latest.push_back(w.data);
  }
  EXPECT_EQ(latest, (std::vector<std::string>{"31", "29.5"}));
  EXPECT_EQ(Entries("50500"), 0);
  EXPECT_EQ(Entries("50600"), 4);  // the status entry is still written at every pass
  EXPECT_EQ(Entries("50700"), 1);
  EXPECT_EQ(Entries("40900"), 1);
  EXPECT_EQ(Entries("50900"), 1);
  EXPECT_NE(LogFile().find(",40900,\"[Msg=APC UPS not answering][Host=SRV1]"
                           "[UPSAttributes.HostName=10.0.0.9][LastAnswer=15/03/2023 12:01:31]"
                           "[TempSleep=300]"),
            std::string::npos);
  const std::vector<std::string> both_ways = {"255.255.255.255", "10.0.0.99"};
  EXPECT_EQ(SyslogTo("71003"), both_ways);
  EXPECT_EQ(SyslogTo("71004"), both_ways);
  EXPECT_TRUE(SyslogHas("APC UPS: not answering 10.0.0.9"));
}

// Queries by index: 0 and 1 at start-up (temperature, voltage), 2 and 3 at 1 s
// (temperature pass, voltage pass), then a voltage query every 30 s up to 9 at 181 s.
struct SilentCase {
  std::set<int> silent;
  int lost, back;
};

class LostContactTest : public AlertTest, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(LostContactTest, NotAnsweringAfterThreeQueriesInARow) {
  Config({{"AlarmTemp", "40"}});
  SilentQueries(GetParam().silent);
  control_.stop_at = start_ + 200 / 86400.0;
  Run();
  ASSERT_EQ(queries.size(), 10u);
  EXPECT_EQ(Entries("40900"), GetParam().lost);
  EXPECT_EQ(Entries("50900"), GetParam().back);
  EXPECT_EQ(static_cast<int>(Mails().size()), GetParam().lost + GetParam().back);
}

INSTANTIATE_TEST_SUITE_P(Silences, LostContactTest,
                         ::testing::Values(SilentCase{{2, 3}, 0, 0},
                                           SilentCase{{2, 3, 4}, 1, 1},
                                           SilentCase{{0, 1, 2}, 1, 1},  // start-up counts
                                           SilentCase{{2, 3, 4, 5, 6, 7}, 1, 1},
                                           SilentCase{{2, 3, 4, 6, 7, 8}, 2, 2},
                                           SilentCase{{3, 4, 5, 6, 7, 8, 9}, 1, 0}));

TEST_F(AlertTest, ASilentPointIsSampledAtTheNextPassInIt) {
  Config({{"AlarmTemp", "40"}, {"TempSleep", "60"}});
  SilentQueries({2});  // the first pass's temperature query
  StopAfterPasses(3, 60);
  Run();
  EXPECT_EQ(Count(true), 3);  // start-up, 1 s without answer, 61 s; none at 121 s
  EXPECT_EQ(env_.files.Get("/opt/tempwarden/APCUPSTempLog_20230315.csv"),
            std::string("\"#\",\"TIME\",\"TEMP\"\r\n") + "144,12:00,25\r\n");
  EXPECT_EQ(Entries("50600"), 3);
}

TEST_F(AlertTest, AStartupWithoutReadingTakesTheExtremesFromTheFirstReading) {
  Config({{"AlarmTemp", "40"}});
  SilentQueries({0});
  temperature = "25";
  StopAfterPasses(1);
  Run();
  EXPECT_EQ(Entries("50400") + Entries("50500"), 0);
  EXPECT_NE(LogFile().find("[UPSTemp=25][AlarmTemp=40][MinTemp=25]"
                           "[MinTempTimeStamp=15/03/2023 12:00:01][MaxTemp=25]"),
            std::string::npos);
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
