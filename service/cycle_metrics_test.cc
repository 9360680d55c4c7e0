// The metrics file and the chosen temperature object inside the running cycle, under a fake
// clock, against the scripted card of cycle_fixture.h and a scripted relay.
#include <gtest/gtest.h>

#include <memory>

#include "mail/fake_smtp_peer.h"
#include "service/alerts_fixture.h"
#include "service/cycle_fixture.h"

namespace tw {
namespace {

constexpr char kDir[] = "/var/lib/prometheus/node-exporter";
constexpr char kProm[] = "/var/lib/prometheus/node-exporter/tempwarden.prom";
constexpr char kLabels[] = "{ups=\"10.0.0.9\",service=\"VOZIvazure\"";

// upsHighPrecBatteryTemperature.0, 1.3.6.1.4.1.318.1.1.1.2.3.2.0: tenths of a degree.
constexpr char kTenthsOid[] = "1.3.6.1.4.1.318.1.1.1.2.3.2.0";
std::string TenthsOidBytes() {
  return snmp_test::Bytes({0x2B, 0x06, 0x01, 0x04, 0x01,                // 1.3 .6.1.4.1
                           0x82, 0x3E,                                  // .318
                           0x01, 0x01, 0x01, 0x02, 0x03, 0x02, 0x00});  // .1.1.1.2.3.2.0
}

class MetricsCycleTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    relay_ = std::make_unique<FakeSmtpPeer>(&env_.network);
    env_.files.AddDirectory(kDir);
  }
  void Config(std::map<std::string, std::string> values) {
    values.emplace("MetricsFile", kProm);
    values.emplace("TempSleep", "60");
    values.emplace("AlarmTemp", "40");
    values.emplace("SMTPRelay", "10.0.0.25");
    values.emplace("EmailToAddr", "ops@example.org");
    values.emplace("EmailFromAddr", "ups@example.org");
    CycleTest::Config(values);
  }
  std::string Prom() const { return env_.files.Get(kProm); }
  // The sample line of `metric` with the further labels `labels` ("" for none), or "".
  std::string Line(const std::string& metric, const std::string& labels = "") const {
    const std::string head = metric + kLabels + labels + "} ";
    const std::string text = Prom();
    const size_t at = text.find("\n" + head);
    if (at == std::string::npos) return "";
    return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
  }
  std::string Value(const std::string& metric, const std::string& labels = "") const {
    const std::string line = Line(metric, labels);
    return line.empty() ? "(absent)" : line.substr(line.rfind(' ') + 1);
  }
  int Writes() const {
    int n = 0;
    for (const auto& w : env_.files.writes) n += w.path == kProm;
    return n;
  }
  int Entries(const std::string& code) const { return alerts_test::Entries(LogFile(), code); }
  void AlarmThrough(const std::string& relay);

  std::unique_ptr<FakeSmtpPeer> relay_;
};

TEST_F(MetricsCycleTest, WrittenAfterEveryPassWithTheLastReadings) {
  Config({});
  temperatures = {"25", "26", "27"};
  voltage = "231";
  control_.stop_at = start_ + 125 / 86400.0;  // temperature passes at 1, 61, 121 s
  Run();
  // The start-up reading 25, the sample of the first pass 26; the passes at 61 and 121 s fall
  // into the same five-minute point and take no sample.
  EXPECT_EQ(Value("tempwarden_ups_temperature_celsius"), "26");
  EXPECT_EQ(Value("tempwarden_ups_input_voltage_volts"), "231");
  // One write per temperature pass and per voltage pass (the start-up queries write none).
  EXPECT_EQ(Writes(), static_cast<int>(PassTimes().size()) + Count(false) - 1);
  EXPECT_EQ(PassTimes().size(), 3u);
  for (const char* alarm : {"high_temperature", "not_answering", "not_provided", "on_battery"}) {
    EXPECT_EQ(Value("tempwarden_alarm_active", std::string(",alarm=\"") + alarm + "\""), "0")
        << alarm;
  }
  // 15 March 2023 12:00:00 local time, UTC here, plus the seconds run.
  EXPECT_EQ(Value("tempwarden_poll_last_success_timestamp_seconds"), "1678881721");
  EXPECT_EQ(Value("tempwarden_metrics_updated_timestamp_seconds"), "1678881721");
  EXPECT_EQ(Value("tempwarden_poll_failures_total", ",cause=\"timeout\""), "0");
  EXPECT_NE(Line("tempwarden_temperature_source_info",
                 ",oid=\"1.3.6.1.4.1.318.1.1.1.2.2.2.0\",scale=\"1\""),
            "");
  EXPECT_EQ(Entries("40400"), 0);
}

TEST_F(MetricsCycleTest, ACardThatFallsSilentLosesItsReadingsAndRaisesNotAnswering) {
  Config({{"VoltageSleep", "10"}});
  control_.on_pass = [this] { agent_up = Seconds() < 30; };
  control_.stop_at = start_ + 90 / 86400.0;
  Run();
  EXPECT_EQ(Value("tempwarden_ups_temperature_celsius"), "(absent)");
  EXPECT_EQ(Value("tempwarden_ups_input_voltage_volts"), "(absent)");
  EXPECT_EQ(Value("tempwarden_alarm_active", ",alarm=\"not_answering\""), "1");
  EXPECT_NE(Value("tempwarden_poll_failures_total", ",cause=\"timeout\""), "0");
  // The last answer, not the last query.
  const double last = std::stod(Value("tempwarden_poll_last_success_timestamp_seconds"));
  EXPECT_LT(last, 1678881600 + 31);
  // The "not answering" mail went out and counts as a delivery.
  EXPECT_NE(Value("tempwarden_notification_last_success_timestamp_seconds", ",channel=\"mail\""),
            "0");
}

// The alarm mail (20 degrees reached) tried through `relay` at the passes of 1 and 61 s.
void MetricsCycleTest::AlarmThrough(const std::string& relay) {
  Config({{"AlarmTemp", "20"}, {"SMTPRelay", relay}});
  control_.stop_at = start_ + 65 / 86400.0;
  Run();
  EXPECT_EQ(Value("tempwarden_alarm_active", ",alarm=\"high_temperature\""), "1");
  EXPECT_EQ(Value("tempwarden_notification_failures_total", ",channel=\"webhook\""), "0");
  EXPECT_EQ(Value("tempwarden_notification_last_success_timestamp_seconds", ",channel=\"webhook\""),
            "0");
}

TEST_F(MetricsCycleTest, ADeliveredMailCountsAsTheChannelsLastSuccess) {
  AlarmThrough("10.0.0.25");
  EXPECT_EQ(Value("tempwarden_notification_last_success_timestamp_seconds", ",channel=\"mail\""),
            "1678881601");
  EXPECT_EQ(Value("tempwarden_notification_failures_total", ",channel=\"mail\""), "0");
}

TEST_F(MetricsCycleTest, NoRelayIsNoDeliveryAttempt) {
  AlarmThrough("");
  EXPECT_EQ(Value("tempwarden_notification_failures_total", ",channel=\"mail\""), "0");
}

TEST_F(MetricsCycleTest, AMissingFolderIsNamedOnceAndTheServiceGoesOn) {
  Config({{"MetricsFile", "/var/lib/nowhere/tempwarden.prom"}, {"VoltageSleep", "5"}});
  control_.stop_at = start_ + 1800 / 86400.0;
  Run();
  EXPECT_EQ(Entries("40400"), 1);
  EXPECT_NE(LogFile().find("[Msg=Metrics file not written][File=/var/lib/nowhere/tempwarden.prom]"),
            std::string::npos);
  EXPECT_EQ(PassTimes().size(), 30u);  // every pass ran
}

TEST_F(MetricsCycleTest, NoMetricsFileWritesNothing) {
  CycleTest::Config({{"TempSleep", "60"}});
  control_.stop_at = start_ + 125 / 86400.0;
  Run();
  EXPECT_EQ(Writes(), 0);
  for (const auto& w : env_.files.writes) EXPECT_EQ(w.path.find(".prom"), std::string::npos);
}

// A card whose tenths object answers 275: history, status and metrics say 27.5.
TEST_F(MetricsCycleTest, TheChosenTemperatureObjectAndScale) {
  auto card = env_.network.responder;
  env_.network.responder = [card](const FakeNetwork::Datagram& request,
                                  FakeNetwork::Answer* answer) {
    tSNMPMessage m;
    if (!DecodeSnmpMessage(request.payload, &m) || m.Bindings.empty()) return false;
    if (m.Bindings[0].OID != kTenthsOid) return card(request, answer);
    answer->payload = snmp_test::Message(
        "public",
        snmp_test::Binding(TenthsOidBytes(), snmp_test::Tlv(0x42, snmp_test::Bytes({0x01, 0x13}))),
        m.RequestID);
    answer->from_ipv4 = request.to_ipv4;
    answer->from_port = 161;
    return true;
  };
  Config({{"TemperatureOID", std::string(".") + kTenthsOid}, {"TemperatureScale", "0.1"}});
  control_.stop_at = start_ + 65 / 86400.0;
  Run();
  EXPECT_EQ(Value("tempwarden_ups_temperature_celsius"), "27.5");
  EXPECT_NE(Line("tempwarden_temperature_source_info",
                 std::string(",oid=\"") + kTenthsOid + "\",scale=\"0.1\""),
            "");
  EXPECT_NE(env_.files.Get("/opt/tempwarden/UPS-Temp.txt").find("27.5"), std::string::npos);
  EXPECT_NE(env_.files.Get("/opt/tempwarden/APCUPSTempLog_20230315.csv").find("27.5"),
            std::string::npos);
  const std::string log = LogFile();
  EXPECT_NE(log.find(std::string("[StartupRetry=0][TemperatureOID=") + kTenthsOid +
                     "][TemperatureScale=0.1]"),
            std::string::npos);
  EXPECT_NE(log.find("[UPSTemp=27.5]"), std::string::npos);
}

TEST_F(MetricsCycleTest, TheStartEntryOfTheDefaultObjectIsAsItWas) {
  Config({});
  control_.stop_at = start_ + 5 / 86400.0;
  Run();
  const std::string log = LogFile();
  EXPECT_NE(log.find("[StartupRetry=0]"), std::string::npos) << log;
  EXPECT_EQ(log.find("TemperatureOID"), std::string::npos);
}

// An OID that is no numeric identifier, or a scale that is no number above 0: named (40200),
// and the default used.
TEST_F(MetricsCycleTest, UnusableTemperatureSettingsFallBack) {
  Config({{"TemperatureOID", "upsAdvBatteryTemperature.0"}, {"TemperatureScale", "-1"}});
  control_.stop_at = start_ + 5 / 86400.0;
  Run();
  const std::string log = LogFile();
  EXPECT_NE(log.find("[Key=TemperatureOID][Value=upsAdvBatteryTemperature.0][Used=1.3.6.1.4.1."
                     "318.1.1.1.2.2.2.0]"),
            std::string::npos);
  EXPECT_NE(log.find("[Key=TemperatureScale][Value=-1][Used=1]"), std::string::npos);
  EXPECT_EQ(Value("tempwarden_ups_temperature_celsius"), "25");
}

}  // namespace
}  // namespace tw
