// Tells systemd how the service is doing, through its notification socket: READY=1 when the
// service runs (after the start handler, and again after a pause), STOPPING=1 when a stop is
// handled, WATCHDOG=1 for every keep-alive of the service thread, and STATUS= with the latest
// reading. Where systemd did not start the program (NOTIFY_SOCKET unset) nothing is sent.
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

 private:
  void Send(const std::string& message);

  mutable std::mutex mu_;
  std::string text_;  // the latest status line
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SYSTEMD_STATUS_POSIX_H_
