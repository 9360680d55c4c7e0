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

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_STATUS_LINE_H_
