// The shared date-time value and its calendar arithmetic. A date-time is a double counting days
// since 30 December 1899 00:00; its whole part is the day number and its fraction the time of
// day. For negative values the fraction still counts forward from midnight (-1.25 is
// 29 December 1899 06:00).
#ifndef TEMPWARDEN_PLATFORM_CALENDAR_H_
#define TEMPWARDEN_PLATFORM_CALENDAR_H_

#include <cstdint>

namespace tw {

using TDateTime = double;

// A broken-down calendar time; month 1..12, day 1..31, millisecond 0..999.
struct CalendarTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The range of representable date-times: 1 January 0001 to 31 December 9999 23:59:59.999.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958465.99999999;

// False when a field is out of range (month 13, 30 February, hour 24, year 0 ...).
bool IsValidCalendarTime(const CalendarTime& t);

// Encodes a valid calendar time; `*out` is untouched and false returned otherwise.
bool EncodeDateTime(const CalendarTime& t, TDateTime* out);

// Decodes a date-time, rounded to the millisecond. False for NaN, infinities and values
// outside kMinDateTime..kMaxDateTime.
bool DecodeDateTime(TDateTime value, CalendarTime* out);

// Day of the week of a valid calendar date, 0 = Sunday.
int DayOfWeek(const CalendarTime& t);

// Days since 30 December 1899 of a proleptic Gregorian date (no range check).
int64_t DaysFromCivil(int year, int month, int day);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_CALENDAR_H_
