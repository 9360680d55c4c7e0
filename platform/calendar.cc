#include "platform/calendar.h"

#include <cmath>

namespace tw {
namespace {

constexpr int64_t kMsPerDay = 86400000;
// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kUnixEpochToDelphi = 25569;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Howard Hinnant's days_from_civil / civil_from_days, relative to 1970-01-01.
int64_t UnixDaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromUnixDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
  return UnixDaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
         kUnixEpochToDelphi;
}

bool IsValidCalendarTime(const CalendarTime& t) {
  return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour < 24 && t.minute >= 0 &&
         t.minute < 60 && t.second >= 0 && t.second < 60 && t.millisecond >= 0 &&
         t.millisecond < 1000;
}

bool EncodeDateTime(const CalendarTime& t, TDateTime* out) {
  if (!IsValidCalendarTime(t)) return false;
  const double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day));
  const double time =
      (((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond) / kMsPerDay;
  // Before the epoch the fraction still runs forward from midnight, so it is subtracted.
  *out = days >= 0 ? days + time : days - time;
  return true;
}

bool DecodeDateTime(TDateTime value, CalendarTime* out) {
  if (!std::isfinite(value) || value < kMinDateTime || value > kMaxDateTime + 1e-9) return false;
  const int64_t total_ms = std::llround(value * kMsPerDay);
  int64_t days = total_ms / kMsPerDay;  // truncates toward zero, as the day number does
  int64_t ms = total_ms % kMsPerDay;
  if (ms < 0) ms = -ms;
  if (days > static_cast<int64_t>(kMaxDateTime)) return false;
  CivilFromUnixDays(days - kUnixEpochToDelphi, &out->year, &out->month, &out->day);
  out->hour = static_cast<int>(ms / 3600000);
  out->minute = static_cast<int>(ms / 60000 % 60);
  out->second = static_cast<int>(ms / 1000 % 60);
  out->millisecond = static_cast<int>(ms % 1000);
  return true;
}

int DayOfWeek(const CalendarTime& t) {
  const int64_t unix_days =
      UnixDaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
  // 1970-01-01 was a Thursday.
  return static_cast<int>(((unix_days % 7) + 7 + 4) % 7);
}

}  // namespace tw
