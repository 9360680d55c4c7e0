#include "soak/soak_clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_env.h"
#include "tests/clock_contract.h"

namespace tw {
namespace {

int64_t Ms(int y, int mo, int d, int h, int mi, int s = 0) {
  CalendarTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  return CalendarToMs(t);
}

constexpr int64_t kHour = 3600000;

TEST(BerlinTimeTest, OffsetFollowsTheEuRule) {
  struct Case {
    int64_t utc;
    int offset_hours;
  } cases[] = {
      {Ms(2028, 1, 1, 12, 0), 1},
      {Ms(2028, 3, 26, 0, 59, 59), 1},  // last Sunday of March 2028 is the 26th
      {Ms(2028, 3, 26, 1, 0), 2},
      {Ms(2028, 7, 1, 12, 0), 2},
      {Ms(2028, 10, 29, 0, 59, 59), 2},  // last Sunday of October 2028 is the 29th
      {Ms(2028, 10, 29, 1, 0), 1},
      {Ms(2027, 3, 28, 1, 0), 2},  // 2027: 28 March and 31 October
      {Ms(2027, 10, 31, 0, 30), 2},
      {Ms(2027, 10, 31, 1, 30), 1},
      {Ms(2029, 2, 28, 23, 0), 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BerlinLocalMs(c.utc) - c.utc, c.offset_hours * kHour) << MsToCalendar(c.utc).month;
  }
  EXPECT_EQ(NextBerlinChange(Ms(2028, 1, 1, 0, 0)), Ms(2028, 3, 26, 1, 0));
  EXPECT_EQ(NextBerlinChange(Ms(2028, 3, 26, 1, 0)), Ms(2028, 10, 29, 1, 0));
  EXPECT_EQ(NextBerlinChange(Ms(2028, 11, 1, 0, 0)), Ms(2029, 3, 25, 1, 0));
}

TEST(BerlinTimeTest, LocalToUtcTakesTheRuleOfThatDate) {
  struct Case {
    int64_t local, utc;
  } cases[] = {
      {Ms(2028, 2, 29, 12, 0), Ms(2028, 2, 29, 11, 0)},
      {Ms(2028, 8, 1, 12, 0), Ms(2028, 8, 1, 10, 0)},
      {Ms(2028, 3, 26, 1, 59), Ms(2028, 3, 26, 0, 59)},
      {Ms(2028, 3, 26, 2, 30), Ms(2028, 3, 26, 1, 30)},  // skipped hour: winter time
      {Ms(2028, 3, 26, 3, 0), Ms(2028, 3, 26, 1, 0)},
      {Ms(2028, 10, 29, 2, 30), Ms(2028, 10, 29, 0, 30)},  // twice: summer time
      {Ms(2028, 10, 29, 3, 0), Ms(2028, 10, 29, 2, 0)},
  };
  SoakClock clock(0);
  for (const Case& c : cases) {
    EXPECT_EQ(BerlinUtcMs(c.local), c.utc);
    CalendarTime utc;
    ASSERT_TRUE(clock.LocalToUtc(MsToCalendar(c.local), &utc));
    EXPECT_EQ(CalendarToMs(utc), c.utc);
  }
}

TEST(SoakClockTest, StepsMoveTheWallClockButNotTheCounter) {
  SoakClock clock(Ms(2028, 6, 1, 10, 0));  // 12:00 local
  clock.Sleep(1500);
  EXPECT_EQ(clock.MonotonicMs(), 1500u);
  EXPECT_EQ(clock.TickCount(), 1500u);
  std::vector<std::pair<int64_t, int64_t>> jumps;
  clock.on_local_jump = [&](int64_t a, int64_t b) { jumps.push_back({a, b}); };
  clock.StepWall(-kHour);
  EXPECT_EQ(clock.LocalMs(), Ms(2028, 6, 1, 11, 0, 1) + 500);
  EXPECT_EQ(clock.MonotonicMs(), 1500u);
  ASSERT_EQ(jumps.size(), 1u);
  EXPECT_EQ(jumps[0].first - jumps[0].second, kHour);
  EXPECT_DOUBLE_EQ(clock.Now(), static_cast<double>(clock.LocalMs()) / kMsPerDay);
}

TEST(SoakClockTest, ReportsSummerTimeChangesAtTheirInstant) {
  SoakClock clock(Ms(2028, 10, 29, 0, 0));  // 02:00 local summer time
  std::vector<std::pair<int64_t, int64_t>> jumps;
  std::vector<uint64_t> fired;
  clock.on_local_jump = [&](int64_t a, int64_t b) { jumps.push_back({a, b}); };
  clock.At(30 * 60000, [&] { fired.push_back(clock.MonotonicMs()); });
  clock.At(90 * 60000, [&] { fired.push_back(clock.MonotonicMs()); });
  clock.Advance(2 * kHour);
  ASSERT_EQ(jumps.size(), 1u);
  EXPECT_EQ(jumps[0].first, Ms(2028, 10, 29, 3, 0));
  EXPECT_EQ(jumps[0].second, Ms(2028, 10, 29, 2, 0));
  EXPECT_EQ(fired, (std::vector<uint64_t>{30 * 60000u, 90 * 60000u}));
  EXPECT_EQ(clock.LocalMs(), Ms(2028, 10, 29, 3, 0));
}

// The simulated year's clock keeps the waits' contract, its timers playing the requests.
class SimulatedYearClock {
 public:
  static constexpr bool kSimulated = true;
  Clock& clock() { return clock_; }
  WakeEvent& event() { return event_; }
  void RaiseAfter(uint32_t milliseconds) {
    clock_.At(clock_.MonotonicMs() + milliseconds, [this] { event_.Raise(); });
  }

 private:
  SoakClock clock_{Ms(2028, 3, 1, 12, 0)};
  FakeWakeEvent event_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(SoakClockContract, ClockContract, SimulatedYearClock);

}  // namespace
}  // namespace tw
