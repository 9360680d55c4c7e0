#include "platform/notify_socket.h"

namespace tw {

// The service control manager is told through SetServiceStatus by the service host instead.
bool NotifyServiceManager(const std::string&) { return false; }

uint64_t WatchdogPeriodUsec() { return 0; }

}  // namespace tw
