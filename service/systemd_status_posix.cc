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
