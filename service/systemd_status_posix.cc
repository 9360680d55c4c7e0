#include "service/systemd_status_posix.h"

#include "platform/notify_socket.h"

namespace tw {

void SystemdStatus::Send(const std::string& message) {
  // Without NOTIFY_SOCKET nothing is sent; a failure to send is no reason to stop monitoring,
  // so its result is not looked at.
  (void)NotifyServiceManager(message);
}

void SystemdStatus::Report(ServiceState state) {
  std::string message;
  {
    std::lock_guard<std::mutex> lock(mu_);
    switch (state) {
      case ServiceState::kRunning:
        // Running before the start phase is over is the framework's word, not the service's:
        // systemd hears READY=1 from Ready(), and again here after a continue.
        if (!ready_) break;
        message = "READY=1";
        if (!text_.empty()) message += "\nSTATUS=" + text_;
        break;
      case ServiceState::kStopPending:
        message = "STOPPING=1";
        break;
      case ServiceState::kPaused:
        message = "STATUS=Paused";
        break;
      default:
        break;
    }
  }
  if (!message.empty()) Send(message);
}

void SystemdStatus::KeepAlive() { Send("WATCHDOG=1"); }

uint64_t SystemdStatus::KeepAliveIntervalMs() const {
  const uint64_t usec = WatchdogPeriodUsec();
  if (usec == 0) return 30000;
  const uint64_t half = usec / 2000 == 0 ? 1 : usec / 2000;
  return half > 30000 ? 30000 : half;
}

void SystemdStatus::Ready() {
  std::string message = "READY=1";
  {
    std::lock_guard<std::mutex> lock(mu_);
    ready_ = true;
    if (!text_.empty()) message += "\nSTATUS=" + text_;
  }
  Send(message);
}

void SystemdStatus::ExtendStart(uint64_t ms) {
  Send("EXTEND_TIMEOUT_USEC=" + std::to_string(ms * 1000));
}

void SystemdStatus::StatusText(const std::string& text) {
  // One line: a line break would start another assignment.
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    text_ = line;
  }
  Send("STATUS=" + line);
}

}  // namespace tw
