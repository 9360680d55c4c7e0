// The alert decisions, driven event by event without the cycle: mails handed to a scripted
// relay, log entries and syslog datagrams, under a fake clock. How the cycle's schedule and
// queries feed the alerts is in cycle_alerts_test.cc.
#include "service/alerts.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "mail/fake_smtp_peer.h"
#include "mail/smtp.h"
#include "service/alerts_fixture.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using alerts_test::Mail;

constexpr int kPassSeconds = 300;

class AlertsTest : public ::testing::Test {
 protected:
  AlertsTest() {
    env_.regional.mutable_settings().short_date_format = "dd/mm/yyyy";
    env_.regional.mutable_settings().long_time_format = "hh:nn:ss";
    config_.AlarmTemp = 30;
    config_.SMTPRelay = "10.0.0.25";
    config_.EmailToAddr = "ops@example.org";
    config_.EmailCCAddr = "boss@example.org";
    config_.EmailFromAddr = "ups@example.org";
    config_.SyslogCollector = "10.0.0.99";
    ups_.HostName = "10.0.0.9";
    snmp_.Host = "10.0.0.9";
    alerts_test::RelayUpWhen(&env_.network, [this] { return relay_up_; });
  }

  // The start-up temperature query (15 March 2023, 12:00:00) with a reading of `t`.
  void Startup(double t) {
    alerts_.CardAnswer(true);
    ups_.InternalTemp = t;
    alerts_.StartupTemperature(true);
  }
  void SilentStartup() {
    alerts_.CardAnswer(false);
    alerts_.StartupTemperature(false);
  }
  // A temperature pass `seconds` after the previous event whose sample read `t`.
  void Pass(double t, int seconds = kPassSeconds) {
    env_.clock.Advance(uint64_t{1000} * seconds);
    ups_.InternalTemp = t;
    alerts_.SampledTemperature(true);
    alerts_.CardAnswer(true);
    alerts_.TemperaturePass();
  }
  void SilentPass() {
    env_.clock.Advance(uint64_t{1000} * kPassSeconds);
    alerts_.SampledTemperature(false);
    alerts_.CardAnswer(false);
    alerts_.TemperaturePass();
  }
  // The start-up voltage reading, then one voltage pass per further reading.
  void Voltages(const std::vector<double>& volts) {
    for (size_t i = 0; i < volts.size(); ++i) {
      ups_.InputVoltage = volts[i];
      ups_.UPSState = volts[i] == 0 ? "On_Battery" : "OnLine";
      if (i == 0) {
        alerts_.StartupVoltage();
      } else {
        alerts_.VoltageReading();
      }
    }
  }

  std::string LogFile() const { return env_.files.Get("/opt/tempwarden/APC-20230315.CSV"); }
  int Entries(const std::string& code) const { return alerts_test::Entries(LogFile(), code); }
  std::vector<Mail> Mails() const { return alerts_test::Mails(relay_); }
  std::vector<std::string> Subjects() const { return alerts_test::Subjects(relay_); }
  std::vector<std::string> SyslogTo(const std::string& code) const {
    return alerts_test::SyslogTo(env_.network, code);
  }

  FakeEnv env_;
  FakeSmtpPeer relay_{&env_.network};
  bool relay_up_ = true;
  tServiceConfig config_;
  tUPSAttributes ups_;
  tSNMPRec snmp_;
  tLogRec trace_;
  Alerts alerts_{env_.ctx, config_, ups_, snmp_, trace_};
};

const std::vector<std::string> kBoth = {"<ops@example.org>", "<boss@example.org>"};
const std::vector<std::string> kBothWays = {"255.255.255.255", "10.0.0.99"};

TEST_F(AlertsTest, AlarmOnceAtTheLevelAndClearedHalfADegreeBelow) {
  Startup(29);
  for (double t : {29.0, 30.0, 31.0, 30.0, 29.5}) Pass(t);
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: High Temp Alarm!",
                                                  "APC UPS: High Temp condition cleared"}));
  const std::vector<Mail> mails = Mails();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].recipients, kBoth);
  EXPECT_EQ(mails[1].recipients, kBoth);  // the clearing goes to the alarm's recipients
  // The alarm's body is the status entry of its pass, one item per line, still FALSE.
  EXPECT_NE(mails[0].body.find("[UPSTemp=30]\n[AlarmTemp=30]\n"), std::string::npos);
  EXPECT_NE(mails[0].body.find("[AlartSent=FALSE]\n"), std::string::npos);
  EXPECT_NE(mails[1].body.find("[UPSTemp=29.5]\n"), std::string::npos);
  EXPECT_NE(mails[1].body.find("[EmailSent=TRUE]\n"), std::string::npos);
  EXPECT_EQ(Entries("50600"), 5);
  EXPECT_EQ(Entries("50700"), 1);
  EXPECT_NE(LogFile().find("[UPSTemp=31][AlarmTemp=30]"), std::string::npos);
  EXPECT_NE(LogFile().find("[AlartSent=TRUE]"), std::string::npos);  // while outstanding
  EXPECT_EQ(alerts_.alarm_sent_at(), 0);
  // 31 is a new high: an entry and the syslog message, broadcast then to the collector.
  EXPECT_EQ(Entries("50400"), 2);  // 30 and 31
  EXPECT_EQ(SyslogTo("71000"), (std::vector<std::string>{"255.255.255.255", "10.0.0.99",
                                                         "255.255.255.255", "10.0.0.99"}));
}

// One run: the start-up reading, then one pass per further reading.
struct TemperatureCase {
  const char* name;
  double alarm_temp;
  std::vector<double> temps;
  std::vector<std::string> subjects;
  int highs, lows;
};
void PrintTo(const TemperatureCase& c, std::ostream* os) { *os << c.name; }

class AlertsTemperatureTest : public AlertsTest,
                              public ::testing::WithParamInterface<TemperatureCase> {};

TEST_P(AlertsTemperatureTest, MailsAndExtremes) {
  const TemperatureCase& c = GetParam();
  config_.AlarmTemp = c.alarm_temp;
  Startup(c.temps.front());
  for (size_t i = 1; i < c.temps.size(); ++i) Pass(c.temps[i]);
  EXPECT_EQ(Subjects(), c.subjects) << c.name;
  EXPECT_EQ(Entries("50400"), c.highs) << c.name;
  EXPECT_EQ(Entries("50500"), c.lows) << c.name;
  EXPECT_EQ(Entries("50600"), static_cast<int>(c.temps.size()) - 1) << c.name;
}

const char kAlarm[] = "APC UPS: High Temp Alarm!";
const char kCleared[] = "APC UPS: High Temp condition cleared";
const char kLow[] = "APC UPS: New Low temp";

INSTANTIATE_TEST_SUITE_P(
    Passes, AlertsTemperatureTest,
    ::testing::Values(
        TemperatureCase{"at the level", 30, {29, 30}, {kAlarm}, 1, 0},
        TemperatureCase{
            "cleared at half a degree below", 30, {29, 30, 29.5}, {kAlarm, kCleared}, 1, 0},
        TemperatureCase{"kept just above it", 30, {29, 30, 29.6, 30.5}, {kAlarm}, 2, 0},
        // "AlarmTemp" missing, empty or invalid reads as 0.
        TemperatureCase{"level 0", 0, {0, 0}, {kAlarm}, 0, 0},
        TemperatureCase{"new low", 40, {25, 24, 24, 23.5}, {kLow, kLow}, 0, 2},
        TemperatureCase{"equal to the extremes", 40, {25, 25, 26, 24, 26, 24}, {kLow}, 1, 1}),
    [](const ::testing::TestParamInfo<TemperatureCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p != '\0'; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
      }
      return name;
    });

TEST_F(AlertsTest, ANewLowGoesToTheFirstRecipientOnly) {
  config_.AlarmTemp = 40;
  Startup(25);
  Pass(24);
  const std::vector<Mail> mails = Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"<ops@example.org>"});
  EXPECT_EQ(mails[0].body.rfind("[Msg=New Low temp]\n[Host=SRV1]\n[TempSleep=300]\n", 0), 0u);
  EXPECT_TRUE(SyslogTo("71000").empty());
}

TEST_F(AlertsTest, RelayDownWhenTheAlarmComesIsRetriedUntilDelivered) {
  Startup(29);
  // The relay refuses connections at the first, second and fourth pass.
  const std::vector<std::pair<double, bool>> passes = {{31, false}, {31, false}, {31, true},
                                                       {29, false}, {29, true},  {29, true}};
  for (const auto& [t, up] : passes) {
    relay_up_ = up;
    Pass(t);
  }
  EXPECT_EQ(Subjects(), (std::vector<std::string>{kAlarm, kCleared}));
  // The status entries tell the truth: no alarm counts as sent before it was delivered, and
  // it stays outstanding until its clearing was delivered.
  EXPECT_EQ(alerts_test::AlarmSentFlags(LogFile()),
            (std::vector<std::string>{"FALSE", "FALSE", "FALSE", "TRUE", "TRUE", "FALSE"}));
  EXPECT_EQ(Entries("50700"), 2);  // tried at the fourth pass, delivered at the fifth
  EXPECT_EQ(Entries("50800"), 3);
  const std::string failed =
      "[Msg=Alert mail not delivered][Host=SRV1][Subject=APC UPS: High Temp Alarm!]"
      "[Result=-10061][SMTPRelay=10.0.0.25]";
  EXPECT_NE(LogFile().find(",50800,\"" + failed + "\"\r\n"), std::string::npos);
  EXPECT_NE(LogFile().find("[Subject=APC UPS: High Temp condition cleared][Result=-10061]"),
            std::string::npos);
  // The second channel: one datagram per failure, to the collector only.
  EXPECT_EQ(SyslogTo("71002"), (std::vector<std::string>{"10.0.0.99", "10.0.0.99", "10.0.0.99"}));
  EXPECT_TRUE(alerts_test::SyslogHas(env_.network,
                                     "APC UPS: alert mail not delivered: APC UPS: High Temp "
                                     "Alarm! Result=-10061 SMTPRelay=10.0.0.25"));
}

TEST_F(AlertsTest, TheRelaysRefusalIsCarriedInTheEntry) {
  relay_.replies["RCPT"] = "550 5.1.1 <ops@example.org>: Recipient address rejected";
  Startup(29);
  Pass(31);
  EXPECT_NE(LogFile().find("[Subject=APC UPS: High Temp Alarm!][Result=-550]"
                           "[SMTPRelay=10.0.0.25][Reply=550 5.1.1 <ops@example.org>: Recipient "
                           "address rejected / 550 5.1.1 <ops@example.org>: Recipient address "
                           "rejected]\"\r\n"),
            std::string::npos)
      << LogFile();
}

TEST_F(AlertsTest, NoTokenIsNamedWithTheEndpointsItems) {
  relay_.replies["EHLO"] = "250-fake.relay\r\n250 AUTH XOAUTH2";
  config_.SMTPUser = "ups@example.org";
  config_.SMTPAuth = "xoauth2";
  config_.OAuthClientID = "app-1";
  config_.OAuthClientSecret = "s3cret";  // and no OAuthTokenURL
  Startup(29);
  Pass(31);
  EXPECT_NE(LogFile().find("[Subject=APC UPS: High Temp Alarm!][Result=-630][SMTPRelay=10.0.0.25]"
                           "[Reply=settings: OAuthTokenURL is empty][OAuthError=settings]"
                           "[OAuthErrorDescription=OAuthTokenURL is empty]\"\r\n"),
            std::string::npos)
      << LogFile();
}

TEST_F(AlertsTest, ALongRefusalIsCutInTheEntryAndQuitsReplyLeftOut) {
  // A 450 of 64 KiB at every MAIL FROM: 324 lines of 200 characters, 65448 bytes with their
  // line ends, just inside what the reply reader takes; and a 421 to QUIT.
  std::string reply;
  for (int i = 0; i < 324; ++i) {
    const std::string number = std::to_string(i);
    reply += (i == 0 ? "" : "\r\n") + std::string(i == 323 ? "450 " : "450-") + "4.7.1 line " +
             number + " " + std::string(200 - 16 - number.size(), 'x');
  }
  relay_.replies["MAIL"] = reply;
  relay_.replies["QUIT"] = "421 4.3.2 Closing";
  Startup(29);
  for (int i = 0; i < 12 * 24; ++i) Pass(31);  // a day at the default TempSleep, each pass retried
  const std::string day = LogFile() + env_.files.Get("/opt/tempwarden/APC-20230316.CSV");
  EXPECT_EQ(alerts_test::Entries(day, "50800"), 12 * 24);
  const std::string x(183, 'x');
  const std::string kept = "[Reply=450-4.7.1 line 0 " + x + " / 450-4.7.1 line 1 " + x +
                           " / 450-4.7.1 line 2 " + x + " / 450-4.7.1 line 3 " + x +
                           " / 450-4.7.1 line 4 " + x + " / (319 more lines)]\"\r\n";
  EXPECT_NE(LogFile().find("[Result=-699][SMTPRelay=10.0.0.25]" + kept), std::string::npos)
      << LogFile().substr(0, 4000);
  EXPECT_EQ(day.find("4.3.2 Closing"), std::string::npos);
  // The day's log, the status entries included: each failure costs about 1.3 KB, not 64.
  EXPECT_LT(day.size(), 512u * 1024) << day.size();
}

TEST_F(AlertsTest, WithoutARelayAnOutstandingAlarmIsNamedOnceADay) {
  config_.SMTPRelay.clear();
  Startup(29);
  for (int i = 0; i < 12 * 24 + 2; ++i) Pass(31);  // a day and two passes
  EXPECT_EQ(Subjects(), std::vector<std::string>());
  const std::string all = LogFile() + env_.files.Get("/opt/tempwarden/APC-20230316.CSV");
  EXPECT_EQ(alerts_test::Entries(all, "50800"), 2);  // at the first pass and a day later
  EXPECT_EQ(SyslogTo("71002"), (std::vector<std::string>{"10.0.0.99", "10.0.0.99"}));
  EXPECT_NE(all.find("[Result=-600][SMTPRelay=]\""), std::string::npos);
}

TEST_F(AlertsTest, UndeliveredContactMailsAreRetriedAtEveryPass) {
  Startup(29);
  relay_up_ = false;
  for (int i = 0; i < kSilentQueries; ++i) alerts_.CardAnswer(false);
  EXPECT_EQ(Subjects(), std::vector<std::string>());
  SilentPass();  // still down
  relay_up_ = true;
  SilentPass();  // delivered now, once
  SilentPass();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: not answering"}));
  for (const Mail& m : Mails()) EXPECT_EQ(m.recipients, kBoth);
  EXPECT_EQ(Entries("40900"), 1);  // the entry and the datagrams are not repeated
  EXPECT_EQ(SyslogTo("71003"), kBothWays);
  EXPECT_EQ(Entries("50800"), 2);

  // A newer contact mail replaces an undelivered older one.
  relay_up_ = false;
  alerts_.CardAnswer(true);
  for (int i = 0; i < kSilentQueries; ++i) alerts_.CardAnswer(false);
  relay_up_ = true;
  SilentPass();
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"APC UPS: not answering", "APC UPS: not answering"}));
}

TEST_F(AlertsTest, WithoutAReadingOnlyTheStatusEntryIsWritten) {
  Startup(29);
  Pass(31);
  SilentPass();  // the temperature stays 31: no second alarm, no clearing, no new low
  ups_.InternalTemp = 0;
  SilentPass();  // nor from a value that is no reading
  EXPECT_EQ(Subjects(), std::vector<std::string>{kAlarm});
  EXPECT_EQ(Entries("50500") + Entries("50700"), 0);
  EXPECT_EQ(Entries("50600"), 3);
  EXPECT_GT(alerts_.alarm_sent_at(), 0);
}

TEST_F(AlertsTest, AStartupWithoutReadingTakesTheExtremesFromTheFirstReading) {
  config_.AlarmTemp = 40;
  SilentStartup();
  Pass(25, 1);
  EXPECT_EQ(Entries("50400") + Entries("50500"), 0);
  EXPECT_NE(LogFile().find("[UPSTemp=25][AlarmTemp=40][MinTemp=25]"
                           "[MinTempTimeStamp=15/03/2023 12:00:01][MaxTemp=25]"),
            std::string::npos);
}

TEST_F(AlertsTest, AnnounceSendsTheEntryTheDatagramsThenTheMail) {
  Alerts::Announcement a;
  a.log_code = 50400;
  a.msg = "[Msg=One][Two=2]";
  a.syslog_code = 71000;
  a.syslog_msg = "one two";
  a.subject = "Subject";
  a.recipients = Alerts::Announcement::Recipients::kTo;
  EXPECT_EQ(alerts_.Announce(a), kMailSent);
  EXPECT_NE(LogFile().find(",50400,\"[Msg=One][Two=2]\"\r\n"), std::string::npos);
  EXPECT_EQ(SyslogTo("71000"), kBothWays);
  ASSERT_FALSE(relay_.received.empty());
  EXPECT_EQ(relay_.received.front().datagrams_sent, 2u);  // the mail after both datagrams
  EXPECT_EQ(Mails()[0].body, "[Msg=One]\n[Two=2]\n");
  // Nothing asked for, nothing sent.
  EXPECT_EQ(alerts_.Announce(Alerts::Announcement()), kMailSent);
  EXPECT_EQ(env_.network.sent.size(), 2u);
  EXPECT_EQ(Mails().size(), 1u);
}

// The card's answers to a run of queries, true for an answer.
struct AnswerCase {
  std::vector<bool> answers;
  int lost, back;
};
void PrintTo(const AnswerCase& c, std::ostream* os) {
  for (bool answered : c.answers) *os << (answered ? 'A' : '-');
}

class AlertsAnswerTest : public AlertsTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AlertsAnswerTest, NotAnsweringAfterThreeQueriesInARow) {
  for (bool answered : GetParam().answers) alerts_.CardAnswer(answered);
  EXPECT_EQ(Entries("40900"), GetParam().lost);
  EXPECT_EQ(Entries("50900"), GetParam().back);
  EXPECT_EQ(static_cast<int>(Mails().size()), GetParam().lost + GetParam().back);
  EXPECT_EQ(alerts_.contact_lost(), GetParam().lost > GetParam().back);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AlertsAnswerTest,
    ::testing::Values(AnswerCase{{true, false, false, true}, 0, 0},
                      AnswerCase{{false, false, false}, 1, 0},
                      AnswerCase{{false, false, false, true}, 1, 1},
                      AnswerCase{{false, false, false, false, true}, 1, 1},
                      AnswerCase{{false, false, false, true, false, false, false, true}, 2, 2},
                      AnswerCase{{true, false, false, false, false}, 1, 0}));

TEST_F(AlertsTest, NotAnsweringAndAnsweringAgainAreAnnouncedEveryWay) {
  Startup(29);
  Pass(29, 91);  // the last answer, at 12:01:31
  for (int i = 0; i < kSilentQueries; ++i) alerts_.CardAnswer(false);
  alerts_.CardAnswer(true);
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"APC UPS: not answering", "APC UPS: answering again"}));
  for (const Mail& m : Mails()) EXPECT_EQ(m.recipients, kBoth) << m.subject;
  EXPECT_NE(LogFile().find(",40900,\"[Msg=APC UPS not answering][Host=SRV1]"
                           "[UPSAttributes.HostName=10.0.0.9][LastAnswer=15/03/2023 12:01:31]"
                           "[TempSleep=300]"),
            std::string::npos);
  EXPECT_EQ(SyslogTo("71003"), kBothWays);
  EXPECT_EQ(SyslogTo("71004"), kBothWays);
  EXPECT_TRUE(alerts_test::SyslogHas(env_.network, "APC UPS: not answering 10.0.0.9"));
}

// A card without the probe: the missing object is announced once every way, and again when
// it comes back; silence in between changes nothing.
TEST_F(AlertsTest, AMissingObjectIsAnnouncedOnceAndWhenItIsBack) {
  Startup(29);
  tUpsReading missing;
  missing.Kind = tReadingKind::kNotProvided;
  missing.Type = "noSuchInstance";
  tUpsReading number;
  number.Kind = tReadingKind::kNumber;
  number.Value = 28;
  for (int i = 0; i < 3; ++i) alerts_.ObjectReading(kUpsTemperature, missing);
  alerts_.ObjectReading(kUpsTemperature, tUpsReading());  // silence
  alerts_.ObjectReading(kUpsInputVoltage, number);        // another object
  alerts_.ObjectReading(kUpsTemperature, number);
  alerts_.ObjectReading(kUpsTemperature, number);
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"APC UPS: temperature not provided by the card",
                                                  "APC UPS: temperature provided by the card "
                                                  "again"}));
  for (const Mail& m : Mails()) EXPECT_EQ(m.recipients, kBoth) << m.subject;
  EXPECT_EQ(Entries("40920"), 1);
  EXPECT_EQ(Entries("50920"), 1);
  EXPECT_NE(LogFile().find(",40920,\"[Msg=APC UPS temperature not provided by the card]"
                           "[Host=SRV1][UPSAttributes.HostName=10.0.0.9]"
                           "[OID=1.3.6.1.4.1.318.1.1.1.2.2.2.0][Answer=noSuchInstance]"),
            std::string::npos)
      << LogFile();
  EXPECT_EQ(SyslogTo("71005"), kBothWays);
  EXPECT_EQ(SyslogTo("71006"), kBothWays);
  EXPECT_TRUE(alerts_test::SyslogHas(env_.network,
                                     "APC UPS: temperature not provided by the card 10.0.0.9"));
}

// Answers that are no number: one entry for the first of a run and the first after a number,
// with the text made safe for the log.
TEST_F(AlertsTest, AnswersThatAreNoNumberAreLoggedOncePerRun) {
  tUpsReading text;
  text.Kind = tReadingKind::kNotANumber;
  text.Type = "OctetString";
  text.Text = "hot\r\n[Code=10000]" + std::string(300, 'x');
  tUpsReading number;
  number.Kind = tReadingKind::kNumber;
  for (const tUpsReading* r : {&text, &text, &number, &text, &text}) {
    alerts_.ObjectReading(kUpsTemperature, *r);
  }
  EXPECT_EQ(Entries("40910"), 2);
  const std::string item =
      "[Type=OctetString][Text=hot  (Code=10000)" + std::string(183, 'x') + "]";
  EXPECT_NE(LogFile().find(item), std::string::npos) << LogFile();
  EXPECT_TRUE(Subjects().empty());
}

TEST_F(AlertsTest, NoHostPolledNoCardToLose) {
  snmp_.Host.clear();
  for (int i = 0; i < 2 * kSilentQueries; ++i) alerts_.CardAnswer(false);
  EXPECT_EQ(Entries("40900"), 0);
  EXPECT_FALSE(alerts_.contact_lost());
}

// Voltage readings: the start-up one, then one per pass.
struct VoltageCase {
  std::vector<double> volts;
  int changes;
};
void PrintTo(const VoltageCase& c, std::ostream* os) {
  for (size_t i = 0; i < c.volts.size(); ++i) *os << (i == 0 ? "" : " to ") << c.volts[i];
}

class AlertsVoltageTest : public AlertsTest, public ::testing::WithParamInterface<VoltageCase> {};

TEST_P(AlertsVoltageTest, StateChangesBetweenMainsAndBattery) {
  Voltages(GetParam().volts);
  EXPECT_EQ(Entries("50300"), GetParam().changes);
  EXPECT_EQ(alerts_.prev_input_voltage(), GetParam().volts.back());
  EXPECT_TRUE(Mails().empty());
}

INSTANTIATE_TEST_SUITE_P(Readings, AlertsVoltageTest,
                         ::testing::Values(VoltageCase{{230, 0, 230, 240, 240}, 2},
                                           VoltageCase{{0, 230}, 1},  // start-up on battery
                                           VoltageCase{{230, 226}, 0}, VoltageCase{{0, 0}, 0},
                                           VoltageCase{{230, 115}, 0}, VoltageCase{{230, 114.9}, 1},
                                           VoltageCase{{230, 345}, 0},
                                           VoltageCase{{230, 345.1}, 1}));

TEST_F(AlertsTest, MainsFailureIsLoggedWithTheNewReading) {
  Voltages({230, 0});
  EXPECT_NE(LogFile().find("[Msg=UPS Online state change][Host=SRV1][Sleep=300][InputVoltage=0]"),
            std::string::npos);
}

}  // namespace
}  // namespace tw
