#include "soak/soak_clock.h"

#include <algorithm>
#include <utility>

namespace tw {
namespace {

constexpr int64_t kMsPerHour = 3600000;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// 01:00 UTC on the last Sunday of `month` in `year`.
int64_t LastSundayOneUtc(int year, int month) {
  const int days_in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int last = days_in[month - 1];  // March and October only: no leap-year case
  int64_t day = DaysFromCivil(year, month, last);
  CalendarTime t;
  t.year = year;
  t.month = month;
  t.day = last;
  day -= DayOfWeek(t);
  return day * kMsPerDay + kMsPerHour;
}

}  // namespace

int64_t CalendarToMs(const CalendarTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * kMsPerDay +
         ((t.hour * 60 + t.minute) * 60 + t.second) * int64_t{1000} + t.millisecond;
}

CalendarTime MsToCalendar(int64_t ms) {
  const int64_t day = FloorDiv(ms, kMsPerDay);
  int64_t rest = ms - day * kMsPerDay;
  CalendarTime t;
  DecodeDateTime(static_cast<double>(day), &t);
  t.millisecond = static_cast<int>(rest % 1000);
  rest /= 1000;
  t.second = static_cast<int>(rest % 60);
  rest /= 60;
  t.minute = static_cast<int>(rest % 60);
  t.hour = static_cast<int>(rest / 60);
  return t;
}

bool BerlinSummerTime(int64_t utc_ms) {
  const int year = MsToCalendar(utc_ms).year;
  return utc_ms >= LastSundayOneUtc(year, 3) && utc_ms < LastSundayOneUtc(year, 10);
}

int64_t BerlinLocalMs(int64_t utc_ms) {
  return utc_ms + (BerlinSummerTime(utc_ms) ? 2 : 1) * kMsPerHour;
}

int64_t BerlinUtcMs(int64_t local_ms) {
  const int64_t summer = local_ms - 2 * kMsPerHour;
  return BerlinSummerTime(summer) ? summer : local_ms - kMsPerHour;
}

int64_t NextBerlinChange(int64_t utc_ms) {
  const int year = MsToCalendar(utc_ms).year;
  for (int y = year; y <= year + 1; ++y) {
    for (int month : {3, 10}) {
      const int64_t change = LastSundayOneUtc(y, month);
      if (change > utc_ms) return change;
    }
  }
  return LastSundayOneUtc(year + 2, 3);  // not reached
}

bool SoakClock::LocalToUtc(const CalendarTime& local, CalendarTime* utc) {
  if (!IsValidCalendarTime(local)) return false;
  *utc = MsToCalendar(BerlinUtcMs(CalendarToMs(local)));
  return true;
}

void SoakClock::At(uint64_t elapsed_ms, std::function<void()> fn) {
  timers_.emplace(elapsed_ms, std::move(fn));
}

void SoakClock::StepWall(int64_t delta_ms) {
  const int64_t before = LocalMs();
  step_ms_ += delta_ms;
  if (on_local_jump) on_local_jump(before, LocalMs());
}

int64_t SoakClock::LocalMs() const {
  const int64_t utc = WallUtcMs();
  if (utc < offset_from_ || utc >= offset_until_) {
    offset_from_ = utc;
    offset_until_ = NextBerlinChange(utc);
    offset_ms_ = BerlinLocalMs(utc) - utc;
  }
  return utc + offset_ms_;
}

void SoakClock::Advance(uint64_t milliseconds) {
  const uint64_t target = elapsed_ms_ + milliseconds;
  for (;;) {
    uint64_t next = target;
    const auto timer = timers_.begin();
    if (timer != timers_.end() && timer->first < next) next = std::max(timer->first, elapsed_ms_);
    // The next summer-time change, in elapsed time.
    LocalMs();  // brings offset_until_ up to date
    const int64_t change = offset_until_;
    const uint64_t change_at = elapsed_ms_ + static_cast<uint64_t>(change - WallUtcMs());
    if (change_at <= next) {
      const int64_t last = BerlinLocalMs(change - 1) + 1;
      elapsed_ms_ = change_at;
      if (on_local_jump) on_local_jump(last, LocalMs());
      continue;
    }
    elapsed_ms_ = next;
    if (timer != timers_.end() && timer->first <= elapsed_ms_) {
      std::function<void()> fn = std::move(timer->second);
      timers_.erase(timer);
      fn();
      continue;
    }
    if (elapsed_ms_ >= target) return;
  }
}

bool SoakClock::Wait(uint32_t milliseconds, WakeEvent* wake) {
  if (wake == nullptr) {
    Advance(milliseconds);
    return false;
  }
  if (wake->Raised()) return true;
  const uint64_t end = elapsed_ms_ + milliseconds;
  while (elapsed_ms_ < end) {
    // One timer time at a time: a timer may raise the event, which ends the wait there.
    uint64_t next = end;
    if (!timers_.empty() && timers_.begin()->first < next) {
      next = std::max(timers_.begin()->first, elapsed_ms_);
    }
    Advance(next - elapsed_ms_);
    if (wake->Raised()) return true;
  }
  return false;
}

}  // namespace tw
