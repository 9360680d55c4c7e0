// Formatting of the shared date-time value with pattern letters.
//
// Letters are case-insensitive: yy / yyyy year; m, mm month (minutes when right after an hour),
// mmm / mmmm month name; d, dd day, ddd / dddd weekday name, ddddd short date; h, hh hour
// (12-hour clock when the pattern holds ampm, am/pm or a/p); n, nn minute; s, ss second;
// z, zzz millisecond; t short time, tt long time; c short date and, unless midnight, long
// time; "/" the date separator and ":" the time separator of the settings; text in single or
// double quotes is copied as is; any other character is copied unchanged.
#ifndef TEMPWARDEN_TOOLBELT_DATETIME_H_
#define TEMPWARDEN_TOOLBELT_DATETIME_H_

#include <string>

#include "platform/calendar.h"
#include "platform/regional.h"

namespace tw {

// Throws Fault("EConvertError") for a value that is no valid date-time (NaN, out of range).
std::string FormatDateTime(const std::string& pattern, TDateTime value,
                           const FormatSettings& settings);

// Encodes a date (and time); throws Fault("EConvertError") for invalid fields.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeDateTimeOrThrow(int year, int month, int day, int hour, int minute, int second,
                                int millisecond);

// Decodes a date-time; throws Fault("EConvertError") when it is not valid.
CalendarTime DecodeOrThrow(TDateTime value);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_DATETIME_H_
