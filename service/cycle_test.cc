#include "service/cycle.h"

#include <gtest/gtest.h>

#include "service/cycle_fixture.h"

namespace tw {
namespace {

TEST_F(CycleTest, DefaultSchedulesKeepThePhaseOfTheStart) {
  Config({});
  Run();
  std::vector<long> expected;
  for (long t = 1; t < 3600; t += 300) expected.push_back(t);
  EXPECT_EQ(PassTimes(), expected);
  EXPECT_EQ(Count(false), 1 + 120);  // start-up reading, then every 30 s
  EXPECT_EQ(Count(true), 1 + 12);    // every pass falls into a new point and samples
}

TEST_F(CycleTest, TempSleepDecidesHowManyPointsGetASample) {
  struct Case {
    const char* temp_sleep;
    size_t passes;
    int samples;
  } cases[] = {{"600", 6, 6}, {"60", 60, 12}, {"0", 12, 12}, {"abc", 12, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.temp_sleep);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.Set(start_);
    control_.terminated_ = false;
    Config({{"TempSleep", c.temp_sleep}});
    Run();
    EXPECT_EQ(PassTimes().size(), c.passes);
    EXPECT_EQ(Count(true), 1 + c.samples);
  }
}

TEST_F(CycleTest, APauseIsCaughtUpOnConsecutiveSeconds) {
  Config({});
  control_.stop_at = start_ + 2000 / 86400.0;
  bool paused = false;
  control_.on_pass = [&] {
    if (!paused && Seconds() >= 400) {
      paused = true;
      env_.clock.Advance(20 * 60 * 1000);  // the service thread stood still for 20 minutes
    }
  };
  Run();
  const std::vector<long> passes = PassTimes();
  ASSERT_EQ(passes.size(), 7u);
  // The passes due at 601, 901, 1201 and 1501 run one per loop pass after the pause.
  EXPECT_GT(passes[2], 1600);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(passes[i], passes[2] + (i - 2));
  EXPECT_EQ(passes[6], 1801);  // then the phase of the start again
}

TEST_F(CycleTest, StartupWaitOnlyForAVoltageFileOfExactlyZero) {
  struct Case {
    const char* file;
    double first_reading_at;  // seconds after the start
    const char* retry;
  } cases[] = {{"0", 600, "[StartupRetry=10]"},
               {"0.0", 0, "[StartupRetry=0]"},
               {"0\r\n", 0, "[StartupRetry=0]"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.Set(start_);
    control_.terminated_ = false;
    control_.stop_at = start_ + 605 / 86400.0;
    Config({});
    env_.files.Put("/opt/tempwarden/UPS-Input-Voltage.txt", c.file);
    Run();
    ASSERT_FALSE(queries.empty());
    EXPECT_NEAR(queries[0].at, c.first_reading_at, 0.01);
    EXPECT_NE(LogFile().find(c.retry), std::string::npos) << LogFile();
  }
}

TEST_F(CycleTest, AStopQueuedBeforeTheStartupWaitEndsTheServiceAtOnce) {
  Config({});
  env_.files.Put("/opt/tempwarden/UPS-Input-Voltage.txt", "0");
  control_.stop_at = start_;  // a stop is queued from the start
  Run();
  EXPECT_EQ(env_.clock.waited_ms(), 0u);
  EXPECT_TRUE(queries.empty());  // no reading, no pass
}

// Answers that are no reading (text, out of range) are taken as silence: at start-up the
// voltage counts as 0 as an empty answer always has, the service runs on, and the first such
// answer (and the first after a number) is logged once with the object, type and text.
TEST_F(CycleTest, AnswersThatAreNoNumberAreNoReading) {
  Config({});
  env_.files.Put("/opt/tempwarden/UPS-Input-Voltage.txt", "231");
  voltage = "abc\r\n[Code=10000]";
  control_.stop_at = start_ + 100 / 86400.0;
  control_.on_pass = [&] {
    if (Seconds() >= 40) voltage = "230";
    if (Seconds() >= 70) voltage = "9999";  // beyond any mains
  };
  MonitoringCycle cycle(env_.ctx, control_);
  cycle.Run();
  EXPECT_FALSE(PassTimes().empty());  // the service ran on
  EXPECT_EQ(cycle.ups().InputVoltage, 230);
  EXPECT_EQ(cycle.ups().UPSState, "OnLine");
  EXPECT_EQ(env_.files.Get("/opt/tempwarden/UPS-Input-Voltage.txt"), "230");
  const std::string log = LogFile();
  EXPECT_EQ(log.find("EConvertError"), std::string::npos) << log;
  const std::string first =
      "[Msg=APC UPS answer is no input voltage reading][Host=" + env_.ctx.settings.HostName +
      "][UPSAttributes.HostName=10.0.0.9][OID=1.3.6.1.4.1.318.1.1.1.3.2.1.0][Type=OctetString]"
      "[Text=abc  (Code=10000)]";
  EXPECT_NE(log.find(first), std::string::npos) << log;
  // Once per run of bad answers: the start-up one and the pass at 31 s make one entry, the
  // out-of-range ones after the number another.
  size_t entries = 0;
  for (size_t at = log.find("answer is no input voltage"); at != std::string::npos;
       at = log.find("answer is no input voltage", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u) << log;
  EXPECT_NE(log.find("[Type=OctetString][Text=9999]"), std::string::npos) << log;
}

TEST_F(CycleTest, AStopDuringTheLoopEndsItWithinALoopPass) {
  Config({{"VoltageSleep", "1"}});
  control_.stop_at = start_ + 1000.5 / 86400.0;  // queued between two loop passes
  Run();
  ASSERT_FALSE(queries.empty());
  EXPECT_LT(queries.back().at, 1001.5);  // no pass after the request was handled
  EXPECT_LT(Seconds(), 1002.5);          // the cycle returned at once
}

TEST_F(CycleTest, DebugTraceOfAPassWithoutSample) {
  Config({{"TempSleep", "60"}});
  control_.stop_at = start_ + 62 / 86400.0;  // two passes in the same point
  Run();
  const std::string trace = env_.files.Get("/opt/tempwarden/D!Tempwarden.TXT");
  const std::string p = "15/03/2023 12:01:01 Function=TVOZIvazure.ServiceExecute";
  EXPECT_EQ(trace.substr(0, trace.find("\r\n", trace.find("LogRec.Trace=1290")) + 2),
            p + " LogRec.Trace=1100\r\n" + p + " LogRec.Trace=1110\r\n" + p +
                " LogRec.Trace=1230\r\n" + p + "sPhoneHomeServer not set. LogRec.Trace=1250\r\n" +
                p + " iTempLogPoint=144 Trunc(Frac(now)*288)=144. LogRec.Trace=1270\r\n" + p +
                " LogRec.Trace=1290\r\n");
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

// The SNMP version comes from the settings read at start: 2c polls with version number 1 in
// its requests; version 3 settings that cannot work are reported at start, by key, and the
// card is then not polled at all (no silent fall-back to the community in clear).
TEST_F(CycleTest, SnmpVersionFromTheSettingsReadAtStart) {
  Config({{"SNMPVersion", "2c"}});
  Run();
  ASSERT_FALSE(env_.network.sent.empty());
  size_t snmp = 0;
  for (const auto& d : env_.network.sent) {
    if (d.to_port != 161) continue;
    ++snmp;
    EXPECT_EQ(d.payload.substr(2, 3), std::string("\x02\x01\x01", 3));  // version 2c
  }
  EXPECT_GT(snmp, 0u);

  FakeEnv fresh;
  std::swap(env_.files, fresh.files);
  env_.network.sent.clear();
  queries.clear();
  env_.clock.Set(start_);
  control_.terminated_ = false;
  Config({{"SNMPVersion", "3"}, {"SNMPUser", "ups"}, {"SNMPAuthPassword", "pw1234"}});
  Run();
  EXPECT_TRUE(queries.empty());
  EXPECT_NE(LogFile().find("[Function=SNMPSettings][ClassName=EConfigError][Message="
                           "SNMPAuthPassword is shorter than 8 characters]"),
            std::string::npos)
      << LogFile();
  EXPECT_EQ(LogFile().find("pw1234"), std::string::npos);
}

}  // namespace
}  // namespace tw
