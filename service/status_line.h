// The one-line status that the service manager shows for the running service (systemctl
// status): the latest reading of the UPS, as bracketed items.
#ifndef TEMPWARDEN_SERVICE_STATUS_LINE_H_
#define TEMPWARDEN_SERVICE_STATUS_LINE_H_

#include <string>

#include "toolbelt/settings.h"
#include "ups/apc.h"

namespace tw {

// "[UPSTemp=27][UPSInputVoltage=230][UPSState=OnLine]", numbers in the general number form.
std::string ReadingStatusLine(const Context& ctx, const tUPSAttributes& ups);

// What the service knows of its UPS, for the status line.
struct tServiceStatus {
  bool Configured = false;    // a UPSHost is set
  bool Answering = true;      // the card has not been counted as not answering
  TDateTime SilentSince = 0;  // its last answer (or the start, when it never answered)
  TDateTime ReadingAt = 0;    // when the last value came; 0: none yet
};

// The status line the service manager shows (systemctl status):
//   "No UPS configured (UPSHost is empty)"
//   "UPS not answering since <date-time>"
//   "Waiting for the first reading"
//   "[UPSTemp=27][UPSInputVoltage=230][UPSState=OnLine][At=<date-time>]"
std::string ServiceStatusLine(Context& ctx, const tUPSAttributes& ups,
                              const tServiceStatus& status);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_STATUS_LINE_H_
