// The wake-up event of the service: raised by the service framework's request queue when a
// control request arrives (and kept raised once the service is to stop), and observed by every
// long wait of the service thread (the clock's waits, the network seam's socket waits), which
// end as soon as it is raised instead of running out their limits.
#ifndef TEMPWARDEN_PLATFORM_WAKE_EVENT_H_
#define TEMPWARDEN_PLATFORM_WAKE_EVENT_H_

#include <memory>

namespace tw {

class WakeEvent {
 public:
  virtual ~WakeEvent() = default;

  // Both may be called from any thread. The event stays raised until lowered.
  virtual void Raise() = 0;
  virtual void Lower() = 0;
  virtual bool Raised() const = 0;
};

// The platform's event (an eventfd on Linux, a manual-reset event object on Windows), which
// the platform's clock and network implementations can wait on beside their sockets.
std::unique_ptr<WakeEvent> NewSystemWakeEvent();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_WAKE_EVENT_H_
