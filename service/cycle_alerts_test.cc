// The alerts inside the running cycle, where the schedule, the configuration file and the
// queries decide what they hear: mails handed to a scripted relay, log entries and syslog
// datagrams, under a fake clock. The alert decisions themselves are in alerts_test.cc.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "mail/fake_smtp_peer.h"
#include "service/alerts_fixture.h"
#include "service/cycle_fixture.h"

namespace tw {
namespace {

using alerts_test::Mail;

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

  std::vector<Mail> Mails() const { return alerts_test::Mails(*relay_); }
  std::vector<std::string> Subjects() const { return alerts_test::Subjects(*relay_); }
  int Entries(const std::string& code) const { return alerts_test::Entries(LogFile(), code); }
  // The card drops the queries with these indexes (0 is the first query of the run).
  void SilentQueries(std::set<int> silent) { silent_ = std::move(silent); }
  std::vector<std::string> SyslogTo(const std::string& code) const {
    return alerts_test::SyslogTo(env_.network, code);
  }
  bool SyslogHas(const std::string& text) const {
    return alerts_test::SyslogHas(env_.network, text);
  }
  void StopAfterPasses(int passes, int temp_sleep = 300) {
    control_.stop_at = start_ + ((passes - 1) * temp_sleep + 2) / 86400.0;
  }

  std::unique_ptr<FakeSmtpPeer> relay_;
};

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
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"APC UPS: High Temp Alarm!", "APC UPS: High Temp Alarm!"}));
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
// The silent queries by index, so that the test's name stays the same from build to build.
void PrintTo(const SilentCase& c, std::ostream* os) {
  const char* sep = "";
  for (int i : c.silent) {
    *os << sep << i;
    sep = ",";
  }
}

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
                         ::testing::Values(SilentCase{{2, 3}, 0, 0}, SilentCase{{2, 3, 4}, 1, 1},
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

TEST_F(AlertTest, NoUpsHostNoExtremes) {
  Config({{"UPSHost", ""}, {"AlarmTemp", "40"}});
  StopAfterPasses(3);
  Run();
  EXPECT_EQ(Entries("50400") + Entries("50500"), 0);
  EXPECT_NE(LogFile().find("[MinTemp=0][MinTempTimeStamp=30/12/1899]"), std::string::npos);
  EXPECT_TRUE(queries.empty());  // nothing is polled without a host
}

}  // namespace
}  // namespace tw
