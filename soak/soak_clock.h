// The clock of the simulated year: a fake clock that keeps three times apart. Elapsed time (the
// monotonic counter) only moves forward, when the clock is advanced or asked to sleep. The
// machine's wall clock in UTC follows it, except where it is stepped (an NTP correction, a
// wrong hardware clock). Local time is the wall clock in Europe/Berlin: UTC+1, and UTC+2 from
// the last Sunday of March to the last Sunday of October, both changes at 01:00 UTC.
//
// Timers fire at given elapsed times while the clock is advanced, so a scenario can take the
// agent off the air or stop the service at an exact moment while the code under test sleeps.
#ifndef TEMPWARDEN_SOAK_SOAK_CLOCK_H_
#define TEMPWARDEN_SOAK_SOAK_CLOCK_H_

#include <cstdint>
#include <functional>
#include <map>

#include "platform/clock.h"

namespace tw {

constexpr int64_t kMsPerDay = 86400000;

// Milliseconds since 30 December 1899 00:00 of a calendar time (no range check).
int64_t CalendarToMs(const CalendarTime& t);
CalendarTime MsToCalendar(int64_t ms);

// Whether Berlin keeps summer time at this UTC instant (EU rule).
bool BerlinSummerTime(int64_t utc_ms);
// Berlin local time of a UTC instant.
int64_t BerlinLocalMs(int64_t utc_ms);
// The UTC instant of a Berlin local time. A local time that occurs twice (the hour before the
// end of summer time) is taken as summer time; one that does not occur (the hour skipped in
// March) is taken as winter time, as Windows does.
int64_t BerlinUtcMs(int64_t local_ms);
// The next change of the Berlin UTC offset after `utc_ms`.
int64_t NextBerlinChange(int64_t utc_ms);

class SoakClock : public Clock {
 public:
  // The wall clock starts at `start_utc_ms`, the elapsed counter at 0.
  explicit SoakClock(int64_t start_utc_ms) : start_utc_ms_(start_utc_ms) {}

  double Now() override { return static_cast<double>(LocalMs()) / kMsPerDay; }
  void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
  uint32_t TickCount() override { return static_cast<uint32_t>(elapsed_ms_); }
  bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) override;

  // Milliseconds since the start, never stepped, never wrapped.
  uint64_t MonotonicMs() override { return elapsed_ms_; }
  // Advances like Sleep, but stops at the timer that raises `wake`.
  bool Wait(uint32_t milliseconds, WakeEvent* wake) override;
  int64_t WallUtcMs() const { return start_utc_ms_ + static_cast<int64_t>(elapsed_ms_) + step_ms_; }
  int64_t LocalMs() const;

  // Moves elapsed time on, firing the timers that fall due on the way (in order, each at its
  // exact time) and reporting the changes of local time at the summer-time changes.
  void Advance(uint64_t milliseconds);
  void AdvanceTo(uint64_t elapsed_ms) {
    if (elapsed_ms > elapsed_ms_) Advance(elapsed_ms - elapsed_ms_);
  }
  // Steps the wall clock by `delta_ms` (negative: back).
  void StepWall(int64_t delta_ms);

  // Runs `fn` when the elapsed time reaches `elapsed_ms` (at once on the next advance when it
  // already has). Timers at the same time run in the order they were set.
  void At(uint64_t elapsed_ms, std::function<void()> fn);

  // Told of every jump of local time, from a step or a summer-time change: the local time just
  // before and just after it.
  std::function<void(int64_t local_before_ms, int64_t local_after_ms)> on_local_jump;

 private:
  int64_t start_utc_ms_;
  uint64_t elapsed_ms_ = 0;
  int64_t step_ms_ = 0;
  std::multimap<uint64_t, std::function<void()>> timers_;
  // The Berlin offset holds from `offset_from_` until the next change at `offset_until_`;
  // working it out anew for every reading would cost more than the year's file work.
  mutable int64_t offset_from_ = 1;
  mutable int64_t offset_until_ = 0;
  mutable int64_t offset_ms_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_SOAK_CLOCK_H_
