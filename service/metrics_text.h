// The metrics file's text in the Prometheus text exposition format (version 0.0.4), as the
// text-file collectors of node_exporter and windows_exporter read it: UTF-8 without a
// byte-order mark, "\n" line ends and a final one, "# HELP" and "# TYPE" for every metric,
// no sample time stamps (the collectors refuse files that carry them).
#ifndef TEMPWARDEN_SERVICE_METRICS_TEXT_H_
#define TEMPWARDEN_SERVICE_METRICS_TEXT_H_

#include <cstdint>
#include <string>

namespace tw {

// What the file says. Times are Unix seconds; 0 means "not yet".
struct tMetricsValues {
  std::string Ups;      // label "ups": the UPS host as configured
  std::string Service;  // label "service": the service name, which differs between instances
  std::string Version;  // of the program
  std::string TemperatureOID;
  double TemperatureScale = 1;
  bool HaveTemperature = false;  // the sample is absent while the last query brought none
  double Temperature = 0;
  bool HaveVoltage = false;
  double Voltage = 0;
  double PollLastSuccess = 0;
  // Queries of the card that brought no reading, by cause.
  struct PollFailures {
    uint64_t Timeout = 0;      // no answer within the wait
    uint64_t Refused = 0;      // port closed (ICMP port unreachable), or an error-status
    uint64_t NoNumber = 0;     // an answer that is no number in the object's range
    uint64_t NotProvided = 0;  // the card lacks the object
  } Failures;
  struct Alarms {
    bool HighTemperature = false;
    bool NotAnswering = false;
    bool NotProvided = false;
    bool OnBattery = false;
  } Alarm;
  struct Channel {
    double LastSuccess = 0;
    uint64_t Failures = 0;
  } Mail, Webhook;
  double Updated = 0;
};

// A label value as the exposition format wants it: backslash, double quote and line feed
// escaped, and any byte sequence that is not UTF-8 replaced by U+FFFD, so that a host name in
// another code page cannot make the collector refuse the whole file.
std::string PromLabelValue(const std::string& text);

// A sample value: the shortest decimal form that reads back as the same double, "." as the
// decimal mark whatever the regional settings; "NaN", "+Inf", "-Inf".
std::string PromNumber(double value);

std::string MetricsText(const tMetricsValues& values);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_METRICS_TEXT_H_
