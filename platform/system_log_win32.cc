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
    // The program's message table (service/tempwarden_messages.mc, registered by /install for
    // the service name too) formats 0xC0000001, an error, as its one insertion string.
    constexpr DWORD kErrorMessage = 0xC0000001;
    ReportEventA(log, EVENTLOG_ERROR_TYPE, 0, kErrorMessage, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
  }
};

}  // namespace

std::unique_ptr<SystemLog> NewSystemLog() { return std::make_unique<EventSystemLog>(); }

}  // namespace tw
