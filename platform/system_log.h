// The system's own log: where the service says what it cannot write anywhere else (its
// activity log refused). Standard error on Linux, which is the journal when systemd runs the
// service; the Windows event log.
#ifndef TEMPWARDEN_PLATFORM_SYSTEM_LOG_H_
#define TEMPWARDEN_PLATFORM_SYSTEM_LOG_H_

#include <memory>
#include <string>

namespace tw {

class SystemLog {
 public:
  virtual ~SystemLog() = default;

  // Writes `text` as one error message of `source` (the service's name). Callers limit how
  // often; a message that cannot be written is dropped. Never throws.
  virtual void Error(const std::string& source, const std::string& text) noexcept = 0;
};

std::unique_ptr<SystemLog> NewSystemLog();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SYSTEM_LOG_H_
