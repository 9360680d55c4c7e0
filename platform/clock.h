// The clock seam: local wall time, sleeping, the machine's millisecond tick count and the
// conversion of a local calendar time to UTC. The service asks this interface for "now" and
// for every wait, so a test clock can run a whole day without sleeping.
#ifndef TEMPWARDEN_PLATFORM_CLOCK_H_
#define TEMPWARDEN_PLATFORM_CLOCK_H_

#include <cstdint>
#include <memory>

#include "platform/calendar.h"
#include "platform/wake_event.h"

namespace tw {

class Clock {
 public:
  virtual ~Clock() = default;

  // Current local date-time: days since 30 December 1899, the fraction being the time of day.
  virtual double Now() = 0;

  // Blocks the calling thread for about `milliseconds` (a test clock advances instead).
  virtual void Sleep(uint32_t milliseconds) = 0;

  // Milliseconds since the machine started, modulo 2^32 (wraps after about 49.7 days).
  virtual uint32_t TickCount() = 0;

  // Milliseconds of a clock that only moves forward, at a steady rate, whatever is done to the
  // wall clock (an administrator's correction, NTP, the change to or from daylight saving
  // time). Due times are kept on it. Never wraps: every clock says how, since the tick count
  // would wrap under a service that runs for 49.7 days.
  virtual uint64_t MonotonicMs() = 0;

  // Waits up to `milliseconds`, or until `wake` is raised (null: the full time). True when the
  // wait ended because `wake` is raised, also when it was raised before the call. The default
  // sleeps the full time unless `wake` is raised already.
  virtual bool Wait(uint32_t milliseconds, WakeEvent* wake) {
    if (wake != nullptr && wake->Raised()) return true;
    Sleep(milliseconds);
    return wake != nullptr && wake->Raised();
  }

  // Converts a local calendar time to UTC with the daylight-saving rule in force on that
  // date (not today's). Returns false when the platform cannot convert it.
  virtual bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) = 0;
};

// The platform's real clock.
std::unique_ptr<Clock> NewSystemClock();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_CLOCK_H_
