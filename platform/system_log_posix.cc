#include <cstdio>
#include <cstdlib>

#include "platform/system_log.h"

namespace tw {
namespace {

class StderrSystemLog : public SystemLog {
 public:
  void Error(const std::string& source, const std::string& text) noexcept override {
    // systemd sets JOURNAL_STREAM when standard error is the journal; the "<3>" prefix then
    // files the line at priority "err" instead of "info". A terminal gets the plain line.
    const char* prefix = std::getenv("JOURNAL_STREAM") != nullptr ? "<3>" : "";
    std::fprintf(stderr, "%s%s: %s\n", prefix, source.c_str(), text.c_str());
    std::fflush(stderr);
  }
};

}  // namespace

std::unique_ptr<SystemLog> NewSystemLog() { return std::make_unique<StderrSystemLog>(); }

}  // namespace tw
