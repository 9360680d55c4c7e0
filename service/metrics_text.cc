#include "service/metrics_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "service/notification_outcomes.h"

namespace tw {
namespace {

// The length of the UTF-8 sequence at `i`, or 0 when none starts there (overlong forms,
// surrogates and code points above U+10FFFF included).
size_t Utf8Sequence(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

// Writes one metric: its help and type lines, then the samples the caller adds.
class Writer {
 public:
  Writer(const tMetricsValues& v)
      : base_("ups=\"" + PromLabelValue(v.Ups) + "\",service=\"" + PromLabelValue(v.Service) +
              "\"") {}

  void Metric(const char* name, const char* type, const char* help) {
    name_ = name;
    out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  // A sample of the current metric; `labels` are further labels, already formed.
  void Sample(double value, const std::string& labels = std::string()) {
    out_ += name_ + "{" + base_ + (labels.empty() ? "" : "," + labels) + "} " + PromNumber(value) +
            "\n";
  }
  std::string str() const { return out_; }

 private:
  std::string base_;
  std::string name_;
  std::string out_;
};

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + PromLabelValue(value) + "\"";
}

}  // namespace

const char* ChannelName(tNotificationChannel channel) {
  return channel == tNotificationChannel::kMail ? "mail" : "webhook";
}

std::string PromLabelValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8Sequence(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n == 1) {
      const char c = text[i];
      if (c == '\\') {
        out += "\\\\";
      } else if (c == '"') {
        out += "\\\"";
      } else if (c == '\n') {
        out += "\\n";
      } else {
        out += c;
      }
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

std::string PromNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  if (std::strtod(text, nullptr) != value) std::snprintf(text, sizeof text, "%.17g", value);
  std::string out = text;
  // The C library's decimal mark follows LC_NUMERIC; the format's is always ".".
  for (char& c : out) {
    if (c == ',') c = '.';
  }
  return out;
}

std::string MetricsText(const tMetricsValues& v) {
  Writer w(v);
  w.Metric("tempwarden_ups_temperature_celsius", "gauge",
           "Temperature the UPS card gave at the last query, in degrees Celsius (absent while "
           "the last query brought none).");
  if (v.HaveTemperature) w.Sample(v.Temperature);
  w.Metric("tempwarden_ups_input_voltage_volts", "gauge",
           "Input line voltage the UPS card gave at the last query (absent while the last query "
           "brought none).");
  if (v.HaveVoltage) w.Sample(v.Voltage);
  w.Metric("tempwarden_poll_last_success_timestamp_seconds", "gauge",
           "When a query of the UPS card last brought a reading, in Unix seconds (0: not yet).");
  w.Sample(v.PollLastSuccess);
  w.Metric("tempwarden_poll_failures_total", "counter",
           "Queries of the UPS card that brought no reading since the service started, by cause.");
  w.Sample(static_cast<double>(v.Failures.Timeout), "cause=\"timeout\"");
  w.Sample(static_cast<double>(v.Failures.Refused), "cause=\"refused\"");
  w.Sample(static_cast<double>(v.Failures.NoNumber), "cause=\"no_number\"");
  w.Sample(static_cast<double>(v.Failures.NotProvided), "cause=\"not_provided\"");
  w.Metric("tempwarden_alarm_active", "gauge", "1 while the alarm holds, else 0.");
  w.Sample(v.Alarm.HighTemperature ? 1 : 0, "alarm=\"high_temperature\"");
  w.Sample(v.Alarm.NotAnswering ? 1 : 0, "alarm=\"not_answering\"");
  w.Sample(v.Alarm.NotProvided ? 1 : 0, "alarm=\"not_provided\"");
  w.Sample(v.Alarm.OnBattery ? 1 : 0, "alarm=\"on_battery\"");
  w.Metric("tempwarden_notification_last_success_timestamp_seconds", "gauge",
           "When a notification was last delivered, by channel, in Unix seconds (0: not yet).");
  w.Sample(v.Mail.LastSuccess, "channel=\"mail\"");
  w.Sample(v.Webhook.LastSuccess, "channel=\"webhook\"");
  w.Metric("tempwarden_notification_failures_total", "counter",
           "Notifications not delivered since the service started, by channel.");
  w.Sample(static_cast<double>(v.Mail.Failures), "channel=\"mail\"");
  w.Sample(static_cast<double>(v.Webhook.Failures), "channel=\"webhook\"");
  w.Metric("tempwarden_metrics_updated_timestamp_seconds", "gauge",
           "When the service wrote this file, in Unix seconds.");
  w.Sample(v.Updated);
  w.Metric("tempwarden_build_info", "gauge", "The version of the service; always 1.");
  w.Sample(1, Label("version", v.Version));
  w.Metric("tempwarden_temperature_source_info", "gauge",
           "The object read as the temperature and the scale applied to it; always 1.");
  w.Sample(1,
           Label("oid", v.TemperatureOID) + "," + Label("scale", PromNumber(v.TemperatureScale)));
  return w.str();
}

}  // namespace tw
