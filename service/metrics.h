// The metrics file ("MetricsFile"): what the cycle and the alerts know, written after every
// temperature pass, voltage pass and alert delivery for a Prometheus exporter's text-file
// collector to pick up. The file is replaced whole (a temporary name the collectors do not
// read, "*.prom.tw-new", then a rename), is readable by every account, and is never followed
// through a link. A file that cannot be written is named in the activity log (40400) once an
// hour at most; the service goes on without it.
#ifndef TEMPWARDEN_SERVICE_METRICS_H_
#define TEMPWARDEN_SERVICE_METRICS_H_

#include <string>

#include "service/alerts.h"
#include "service/metrics_text.h"
#include "service/notification_outcomes.h"
#include "service/ups_reading.h"
#include "toolbelt/config.h"
#include "toolbelt/settings.h"
#include "toolbelt/throttle.h"
#include "ups/apc.h"

namespace tw {

constexpr int32_t kMetricsNotWrittenCode = 40400;

// Runs on the service thread only; `config`, `ups` and `alerts` are the cycle's and outlive it.
class Metrics : public NotificationOutcomes {
 public:
  Metrics(Context& ctx, const tServiceConfig& config, const tUPSAttributes& ups,
          const Alerts& alerts);

  // What a query of `object` came to. A reading replaces the object's value; no reading
  // removes it, and silence (or a refusal) removes both values: a card that stopped answering
  // has no current temperature. Queries of no host, or of settings that were refused, are
  // not counted.
  void Reading(const tUpsObject& object, const tUpsReading& reading);

  // Counts the delivery and writes the file.
  void DeliveryEnded(tNotificationChannel channel, bool delivered) override;

  // Writes the file (nothing when "MetricsFile" is empty). False when it could not.
  bool Write();

  // The values the next Write puts in the file, alarms and times as of now.
  tMetricsValues Values();

 private:
  double UnixNow();

  Context& ctx_;
  const tServiceConfig& config_;
  const tUPSAttributes& ups_;
  const Alerts& alerts_;
  tMetricsValues values_;
  bool voltage_seen_ = false;
  double last_voltage_ = 0;  // kept through silence: the state of the mains is as last seen
  bool marked_ = false;      // the file's path marked readable by all
  Throttle not_written_{kOneHourMs};
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_METRICS_H_
