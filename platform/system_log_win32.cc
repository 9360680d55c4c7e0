#include <windows.h>

#include <cstdio>

#include "platform/system_log.h"

namespace tw {
namespace {

class EventSystemLog : public SystemLog {
 public:
  void Error(const std::string& source, const std::string& text) noexcept override {
    // Standard error as well, for a service run in a console.
    std::fprintf(stderr, "%s: %s\n", source.c_str(), text.c_str());
    std::fflush(stderr);
    HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
    if (log == nullptr) return;
    const char* strings[] = {text.c_str()};
    ReportEventA(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
  }
};

}  // namespace

std::unique_ptr<SystemLog> NewSystemLog() { return std::make_unique<EventSystemLog>(); }

}  // namespace tw
