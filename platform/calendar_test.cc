#include "platform/calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tw {
namespace {

TEST(CalendarTest, KnownDaysAndTimes) {
  struct Case {
    CalendarTime t;
    double value;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2024, 2, 5, 13, 4, 5, 0}, 45327 + (13 * 3600 + 4 * 60 + 5) / 86400.0},
      {{2000, 2, 29, 12, 0, 0, 0}, 36585.5},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch the fraction still runs forward
      {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
      {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
  };
  for (const auto& c : cases) {
    TDateTime value = 0;
    ASSERT_TRUE(EncodeDateTime(c.t, &value)) << c.value;
    EXPECT_NEAR(value, c.value, 1e-9);
    CalendarTime back;
    ASSERT_TRUE(DecodeDateTime(c.value, &back));
    EXPECT_EQ(back.year, c.t.year);
    EXPECT_EQ(back.month, c.t.month);
    EXPECT_EQ(back.day, c.t.day);
    EXPECT_EQ(back.hour, c.t.hour);
    EXPECT_EQ(back.minute, c.t.minute);
    EXPECT_EQ(back.second, c.t.second);
  }
}

TEST(CalendarTest, DecodeRoundsToTheMillisecondAcrossMidnight) {
  CalendarTime t;
  ASSERT_TRUE(DecodeDateTime(45000.0 + 0.9999999999, &t));  // 8.6 microseconds before midnight
  EXPECT_EQ(t.day, 16);                                     // 45001 is 16 March 2023
  EXPECT_EQ(t.hour, 0);
  ASSERT_TRUE(DecodeDateTime(45000.0 + 1234.0 / 86400000.0, &t));
  EXPECT_EQ(t.second, 1);
  EXPECT_EQ(t.millisecond, 234);
}

TEST(CalendarTest, RejectsWhatIsNoDate) {
  CalendarTime t;
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300,
                     kMaxDateTime + 1, kMinDateTime - 1}) {
    EXPECT_FALSE(DecodeDateTime(bad, &t)) << bad;
  }
  TDateTime v = 0;
  for (CalendarTime bad :
       {CalendarTime{2023, 2, 29, 0, 0, 0, 0}, CalendarTime{2024, 13, 1, 0, 0, 0, 0},
        CalendarTime{2024, 1, 1, 24, 0, 0, 0}, CalendarTime{0, 1, 1, 0, 0, 0, 0},
        CalendarTime{2024, 1, 0, 0, 0, 0, 0}, CalendarTime{2024, 1, 1, 0, 0, 0, 1000}}) {
    EXPECT_FALSE(EncodeDateTime(bad, &v));
  }
}

TEST(CalendarTest, DayOfWeekSundayFirst) {
  EXPECT_EQ(DayOfWeek({2024, 2, 5, 0, 0, 0, 0}), 1);    // Monday
  EXPECT_EQ(DayOfWeek({1899, 12, 30, 0, 0, 0, 0}), 6);  // Saturday
  EXPECT_EQ(DayOfWeek({2026, 12, 13, 0, 0, 0, 0}), 0);  // Sunday
}

}  // namespace
}  // namespace tw
