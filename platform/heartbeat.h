// The service manager's watchdog as the waits of the service thread see it. A wait that may
// last longer than IntervalMs (an SNMP answer, an SMTP or TLS exchange, the start-up wait, a
// pause) is cut into pieces no longer than that, and Beat is called between them, so that a
// healthy service is never taken for a hung one; a thread that really hangs stops beating.
#ifndef TEMPWARDEN_PLATFORM_HEARTBEAT_H_
#define TEMPWARDEN_PLATFORM_HEARTBEAT_H_

#include <cstdint>
#include <memory>

namespace tw {

class Heartbeat {
 public:
  virtual ~Heartbeat() = default;
  // The longest time between two beats, in milliseconds: half the watchdog's period.
  virtual uint64_t IntervalMs() const = 0;
  // Tells the manager that the service thread is alive. Called from the service thread only.
  virtual void Beat() = 0;
};

// The watchdog systemd asks this process for (WATCHDOG_USEC, for this process when
// WATCHDOG_PID is set), pinged with "WATCHDOG=1" on the notify socket. Null when no watchdog
// is asked for, and always on Windows, whose service control manager has none.
std::unique_ptr<Heartbeat> NewSystemHeartbeat();

// The longest wait between two keep-alives: the heartbeat's interval when there is one,
// never more than `longest_ms`.
inline uint64_t KeepAliveIntervalMs(const Heartbeat* heartbeat, uint64_t longest_ms) {
  if (heartbeat == nullptr || heartbeat->IntervalMs() == 0) return longest_ms;
  return heartbeat->IntervalMs() < longest_ms ? heartbeat->IntervalMs() : longest_ms;
}

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_HEARTBEAT_H_
