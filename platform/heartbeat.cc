#include "platform/heartbeat.h"

#include "platform/notify_socket.h"

namespace tw {
namespace {

class NotifyHeartbeat : public Heartbeat {
 public:
  explicit NotifyHeartbeat(uint64_t interval_ms) : interval_ms_(interval_ms) {}
  uint64_t IntervalMs() const override { return interval_ms_; }
  // A ping that cannot be sent is no reason to stop monitoring; the manager acts on silence.
  void Beat() override { (void)NotifyServiceManager("WATCHDOG=1"); }

 private:
  uint64_t interval_ms_;
};

}  // namespace

std::unique_ptr<Heartbeat> NewSystemHeartbeat() {
  const uint64_t usec = WatchdogPeriodUsec();
  if (usec == 0) return nullptr;
  // Half the period, as systemd recommends; at least a millisecond.
  const uint64_t interval_ms = usec / 2000;
  return std::make_unique<NotifyHeartbeat>(interval_ms == 0 ? 1 : interval_ms);
}

}  // namespace tw
