// The service manager's notification socket (systemd's sd_notify protocol, written here so that
// the program needs no libsystemd and none of the compression and crypto libraries it maps).
#ifndef TEMPWARDEN_PLATFORM_NOTIFY_SOCKET_H_
#define TEMPWARDEN_PLATFORM_NOTIFY_SOCKET_H_

#include <cstdint>
#include <string>

namespace tw {

// Sends `message` (newline-separated assignments such as "READY=1\nSTATUS=...") as one datagram
// to the unix socket named by NOTIFY_SOCKET: a path, or an abstract name when it starts with '@'.
// Returns true when the datagram was sent; false when NOTIFY_SOCKET is unset, malformed or the
// send failed (no service manager listens, which is not a fault). Never throws. On Windows there
// is no such socket and it returns false.
bool NotifyServiceManager(const std::string& message);

// The watchdog period the service manager asks this process for, in microseconds
// (WATCHDOG_USEC; when WATCHDOG_PID is set it must name this process). 0 when none is asked
// for or the value is not a positive number; always 0 on Windows.
uint64_t WatchdogPeriodUsec();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_NOTIFY_SOCKET_H_
