#include "service/metrics_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace tw {
namespace {

tMetricsValues Sample() {
  tMetricsValues v;
  v.Ups = "ups1.example.org";
  v.Service = "VOZIvazure";
  v.Version = "1.2.0.0";
  v.TemperatureOID = "1.3.6.1.4.1.318.1.1.1.2.3.2.0";
  v.TemperatureScale = 0.1;
  v.HaveTemperature = true;
  v.Temperature = 27.5;
  v.HaveVoltage = true;
  v.Voltage = 231;
  v.PollLastSuccess = 1678881600.25;
  v.Failures.Timeout = 3;
  v.Failures.Refused = 1;
  v.Failures.NoNumber = 2;
  v.Alarm.NotAnswering = true;
  v.Alarm.OnBattery = true;
  v.Mail.LastSuccess = 1678881000;
  v.Mail.Failures = 4;
  v.Updated = 1678881601;
  return v;
}

TEST(MetricsTextTest, GoldenText) {
  const std::string l = "{ups=\"ups1.example.org\",service=\"VOZIvazure\"";
  EXPECT_EQ(
      MetricsText(Sample()),
      "# HELP tempwarden_ups_temperature_celsius Temperature the UPS card gave at the last query, "
      "in degrees Celsius (absent while the last query brought none).\n"
      "# TYPE tempwarden_ups_temperature_celsius gauge\n"
      "tempwarden_ups_temperature_celsius" +
          l +
          "} 27.5\n"
          "# HELP tempwarden_ups_input_voltage_volts Input line voltage the UPS card gave at the "
          "last "
          "query (absent while the last query brought none).\n"
          "# TYPE tempwarden_ups_input_voltage_volts gauge\n"
          "tempwarden_ups_input_voltage_volts" +
          l +
          "} 231\n"
          "# HELP tempwarden_poll_last_success_timestamp_seconds When a query of the UPS card last "
          "brought a reading, in Unix seconds (0: not yet).\n"
          "# TYPE tempwarden_poll_last_success_timestamp_seconds gauge\n"
          "tempwarden_poll_last_success_timestamp_seconds" +
          l +
          "} 1678881600.25\n"
          "# HELP tempwarden_poll_failures_total Queries of the UPS card that brought no reading "
          "since the service started, by cause.\n"
          "# TYPE tempwarden_poll_failures_total counter\n"
          "tempwarden_poll_failures_total" +
          l +
          ",cause=\"timeout\"} 3\n"
          "tempwarden_poll_failures_total" +
          l +
          ",cause=\"refused\"} 1\n"
          "tempwarden_poll_failures_total" +
          l +
          ",cause=\"no_number\"} 2\n"
          "tempwarden_poll_failures_total" +
          l +
          ",cause=\"not_provided\"} 0\n"
          "# HELP tempwarden_alarm_active 1 while the alarm holds, else 0.\n"
          "# TYPE tempwarden_alarm_active gauge\n"
          "tempwarden_alarm_active" +
          l +
          ",alarm=\"high_temperature\"} 0\n"
          "tempwarden_alarm_active" +
          l +
          ",alarm=\"not_answering\"} 1\n"
          "tempwarden_alarm_active" +
          l +
          ",alarm=\"not_provided\"} 0\n"
          "tempwarden_alarm_active" +
          l +
          ",alarm=\"on_battery\"} 1\n"
          "# HELP tempwarden_notification_last_success_timestamp_seconds When a notification was "
          "last delivered, by channel, in Unix seconds (0: not yet).\n"
          "# TYPE tempwarden_notification_last_success_timestamp_seconds gauge\n"
          "tempwarden_notification_last_success_timestamp_seconds" +
          l +
          ",channel=\"mail\"} "
          "1678881000\n"
          "tempwarden_notification_last_success_timestamp_seconds" +
          l +
          ",channel=\"webhook\"} 0\n"
          "# HELP tempwarden_notification_failures_total Notifications not delivered since the "
          "service started, by channel.\n"
          "# TYPE tempwarden_notification_failures_total counter\n"
          "tempwarden_notification_failures_total" +
          l +
          ",channel=\"mail\"} 4\n"
          "tempwarden_notification_failures_total" +
          l +
          ",channel=\"webhook\"} 0\n"
          "# HELP tempwarden_metrics_updated_timestamp_seconds When the service wrote this file, "
          "in "
          "Unix seconds.\n"
          "# TYPE tempwarden_metrics_updated_timestamp_seconds gauge\n"
          "tempwarden_metrics_updated_timestamp_seconds" +
          l +
          "} 1678881601\n"
          "# HELP tempwarden_build_info The version of the service; always 1.\n"
          "# TYPE tempwarden_build_info gauge\n"
          "tempwarden_build_info" +
          l +
          ",version=\"1.2.0.0\"} 1\n"
          "# HELP tempwarden_temperature_source_info The object read as the temperature and the "
          "scale applied to it; always 1.\n"
          "# TYPE tempwarden_temperature_source_info gauge\n"
          "tempwarden_temperature_source_info" +
          l +
          ",oid=\"1.3.6.1.4.1.318.1.1.1.2.3.2.0\","
          "scale=\"0.1\"} 1\n");
}

TEST(MetricsTextTest, AReadingThatIsMissingLeavesOnlyItsHelpAndType) {
  tMetricsValues v = Sample();
  v.HaveTemperature = false;
  v.HaveVoltage = false;
  const std::string text = MetricsText(v);
  EXPECT_NE(text.find("# TYPE tempwarden_ups_temperature_celsius gauge\n# HELP "
                      "tempwarden_ups_input_voltage_volts"),
            std::string::npos);
  EXPECT_NE(text.find("# TYPE tempwarden_ups_input_voltage_volts gauge\n# HELP "
                      "tempwarden_poll_last_success_timestamp_seconds"),
            std::string::npos);
  // Every line ends in "\n", none in "\r\n", and the file ends in one.
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

TEST(MetricsTextTest, LabelValues) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"10.0.0.9", "10.0.0.9"},
      {"a\"b", "a\\\"b"},
      {"c:\\ups", "c:\\\\ups"},
      {"two\nlines", "two\\nlines"},
      {"K\xC3\xBChlraum", "K\xC3\xBChlraum"},                    // UTF-8 stays
      {"K\xFChlraum", "K\xEF\xBF\xBDhlraum"},                    // Latin-1 is no UTF-8
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},          // cut short at the end
  };
  for (const auto& c : cases) EXPECT_EQ(PromLabelValue(c.in), c.out) << c.in;
}

TEST(MetricsTextTest, Numbers) {
  const struct {
    double in;
    const char* out;
  } cases[] = {
      {0, "0"},        {27.5, "27.5"},
      {-5, "-5"},      {0.1, "0.1"},
      {230, "230"},    {1765451234.123, "1765451234.123"},
      {1e21, "1e+21"}, {0.1 + 0.2, "0.30000000000000004"},
  };
  for (const auto& c : cases) EXPECT_EQ(PromNumber(c.in), c.out) << c.out;
  EXPECT_EQ(PromNumber(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(PromNumber(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(PromNumber(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

}  // namespace
}  // namespace tw
