#include "service/metrics.h"

#include <cmath>
#include <cstring>

#include "toolbelt/files.h"
#include "toolbelt/items.h"
#include "toolbelt/text_time.h"

namespace tw {
namespace {

// Days from the date-time origin (30 December 1899) to the Unix epoch.
constexpr double kUnixEpochDays = 25569.0;

}  // namespace

Metrics::Metrics(Context& ctx, const tServiceConfig& config, const tUPSAttributes& ups,
                 const Alerts& alerts)
    : ctx_(ctx), config_(config), ups_(ups), alerts_(alerts) {}

double Metrics::UnixNow() {
  const double utc = LocalTimeToGMT(ctx_, ctx_.env.clock->Now());
  // Whole milliseconds: the local-to-UTC conversion leaves a few ulps of noise.
  return std::round((utc - kUnixEpochDays) * 86400000.0) / 1000.0;
}

void Metrics::Reading(const tUpsObject& object, const tUpsReading& reading) {
  const bool temperature = std::strcmp(object.Name, kUpsTemperature.Name) == 0;
  bool& have = temperature ? values_.HaveTemperature : values_.HaveVoltage;
  double& value = temperature ? values_.Temperature : values_.Voltage;
  switch (reading.Kind) {
    case tReadingKind::kNumber:
      have = true;
      value = reading.Value;
      values_.PollLastSuccess = UnixNow();
      if (!temperature) {
        voltage_seen_ = true;
        last_voltage_ = reading.Value;
      }
      return;
    case tReadingKind::kNotANumber:
      have = false;
      ++values_.Failures.NoNumber;
      return;
    case tReadingKind::kNotProvided:
      have = false;
      ++values_.Failures.NotProvided;
      return;
    case tReadingKind::kSilent:
      break;
  }
  switch (reading.Outcome) {
    case tSNMPOutcome::kNoHost:
    case tSNMPOutcome::kNotConfigured:
      return;  // nothing was asked
    case tSNMPOutcome::kConnectionReset:
    case tSNMPOutcome::kErrorStatus:
      ++values_.Failures.Refused;
      break;
    default:
      ++values_.Failures.Timeout;
      break;
  }
  values_.HaveTemperature = false;
  values_.HaveVoltage = false;
}

void Metrics::DeliveryEnded(tNotificationChannel channel, bool delivered) {
  tMetricsValues::Channel& c =
      channel == tNotificationChannel::kMail ? values_.Mail : values_.Webhook;
  if (delivered) {
    c.LastSuccess = UnixNow();
  } else {
    ++c.Failures;
  }
  Write();
}

tMetricsValues Metrics::Values() {
  tMetricsValues v = values_;
  v.Ups = ups_.HostName;
  v.Service = ctx_.settings.SelfName;
  v.Version = ctx_.settings.Version;
  v.TemperatureOID = config_.TemperatureOID;
  v.TemperatureScale = config_.TemperatureScale;
  v.Alarm.HighTemperature = alerts_.high_temperature();
  v.Alarm.NotAnswering = alerts_.contact_lost();
  v.Alarm.NotProvided = alerts_.not_provided();
  v.Alarm.OnBattery = voltage_seen_ && last_voltage_ == 0;
  v.Updated = UnixNow();
  return v;
}

bool Metrics::Write() {
  if (config_.MetricsFile.empty()) return true;
  if (!marked_) {
    ctx_.env.files->MarkReadableByAll(config_.MetricsFile);
    marked_ = true;
  }
  if (WriteStringToFile(ctx_, MetricsText(Values()), config_.MetricsFile, false) == kWriteOk) {
    return true;
  }
  // A folder that is missing or not writable fails at every pass: named once an hour.
  int32_t held_back = 0;
  if (!not_written_.Admit(config_.MetricsFile, ctx_.env.clock->TickCount(), &held_back)) {
    return false;
  }
  tLogRec rec;
  rec.Code = kMetricsNotWrittenCode;
  Items items;
  items.Add("Function", "TVOZIvazure.WriteMetrics")
      .Add("Msg", "Metrics file not written")
      .Add("File", config_.MetricsFile);
  if (held_back > 0) items.Add("HeldBack", held_back);
  rec.Msg = items.str();
  std::string file;
  LogEntry(ctx_, rec, file);
  return false;
}

}  // namespace tw
