// Regional settings used side by side in the tests, without installing system locales.
#ifndef TEMPWARDEN_TESTS_TEST_SETTINGS_H_
#define TEMPWARDEN_TESTS_TEST_SETTINGS_H_

#include "platform/regional.h"

namespace tw {

// English with day-first dates, as on a British machine.
inline FormatSettings EnglishSettings() {
  FormatSettings s = FormatSettings::English();
  s.short_date_format = "dd/mm/yyyy";
  s.long_time_format = "hh:nn:ss";
  return s;
}

// German: comma decimal, dot thousands and dot dates.
inline FormatSettings GermanSettings() {
  FormatSettings s = FormatSettings::English();
  s.decimal_separator = ',';
  s.thousand_separator = ".";
  s.date_separator = '.';
  s.time_separator = ':';
  s.short_date_format = "dd/mm/yyyy";
  s.long_time_format = "hh:nn:ss";
  s.short_day_names = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
  s.long_day_names = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                      "Donnerstag", "Freitag", "Samstag"};
  s.short_month_names = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                         "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
  return s;
}

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_TEST_SETTINGS_H_
