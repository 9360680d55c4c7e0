// Tells systemd how the service is doing, through its notification socket: READY=1 once the
// monitoring cycle's start phase is over (and again after a pause), EXTEND_TIMEOUT_USEC= while
// the start phase waits, STOPPING=1 when a stop is handled, WATCHDOG=1 for every keep-alive of
// the service thread (at half the period of WATCHDOG_USEC, at most 30 s apart), and STATUS=
// with the service's state. Where systemd did not start the program (NOTIFY_SOCKET unset)
// nothing is sent.
#ifndef TEMPWARDEN_SERVICE_SYSTEMD_STATUS_POSIX_H_
#define TEMPWARDEN_SERVICE_SYSTEMD_STATUS_POSIX_H_

#include <mutex>
#include <string>

#include "service/service_control.h"

namespace tw {

class SystemdStatus : public StatusSink {
 public:
  void Report(ServiceState state) override;
  void KeepAlive() override;
  void StatusText(const std::string& text) override;
  uint64_t KeepAliveIntervalMs() const override;
  void Ready() override;
  void ExtendStart(uint64_t ms) override;

 private:
  void Send(const std::string& message);

  mutable std::mutex mu_;
  std::string text_;    // the latest status line
  bool ready_ = false;  // READY=1 sent once: the start phase is over
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SYSTEMD_STATUS_POSIX_H_
