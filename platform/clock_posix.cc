#include <poll.h>
#include <sys/sysinfo.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/wake_event_posix.h"

namespace tw {
namespace {

class PosixClock : public Clock {
 public:
  double Now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    CalendarTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    TDateTime now = 0;
    EncodeDateTime(t, &now);
    return now;
  }

  void Sleep(uint32_t milliseconds) override {
    timespec req{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }

  uint32_t TickCount() override {
    // CLOCK_BOOTTIME keeps counting while the machine is suspended, as GetTickCount does.
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
    return static_cast<uint32_t>(ms);
  }

  uint64_t MonotonicMs() override {
    // CLOCK_BOOTTIME rather than CLOCK_MONOTONIC: the schedule is one of wall time elapsed,
    // so a night the machine spent suspended counts, and passes overdue after it run at once.
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  }

  bool Wait(uint32_t milliseconds, WakeEvent* wake) override {
    const int fd = WakeEventFd(wake);
    if (fd < 0) {
      if (wake != nullptr && wake->Raised()) return true;
      Sleep(milliseconds);
      return wake != nullptr && wake->Raised();
    }
    const uint64_t deadline = MonotonicMs() + milliseconds;
    for (;;) {
      const uint64_t now = MonotonicMs();
      const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
      pollfd p{fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, left);
      if (ready > 0) return true;
      if (ready == 0 || errno != EINTR) return wake->Raised();
    }
  }

  bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) override {
    // mktime applies the C library's zone rules (TZ) for the date being converted.
    tm fields{};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;
    errno = 0;
    const time_t seconds = mktime(&fields);
    if (seconds == static_cast<time_t>(-1) && errno != 0) return false;
    tm out{};
    if (gmtime_r(&seconds, &out) == nullptr) return false;
    utc->year = out.tm_year + 1900;
    utc->month = out.tm_mon + 1;
    utc->day = out.tm_mday;
    utc->hour = out.tm_hour;
    utc->minute = out.tm_min;
    utc->second = out.tm_sec;
    utc->millisecond = local.millisecond;
    return true;
  }
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<PosixClock>(); }

}  // namespace tw
