#include <windows.h>

#include <cctype>

#include "platform/regional.h"

namespace tw {
namespace {

std::string LocaleText(LCTYPE type) {
  char buffer[256] = {};
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer) : std::string();
}

// Converts a Windows picture ("dd.MM.yyyy", "h:mm:ss tt") into the service's pattern
// letters: M is the month, m the minute (n), H the 24-hour clock, t the AM/PM marker;
// the separator characters become "/" and ":".
std::string ConvertPicture(const std::string& picture, char date_sep, char time_sep) {
  std::string out;
  for (size_t i = 0; i < picture.size(); ++i) {
    const char c = picture[i];
    if (c == '\'') {
      const size_t end = picture.find('\'', i + 1);
      const std::string quoted =
          picture.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      out += "\"" + quoted + "\"";
      if (end == std::string::npos) break;
      i = end;
    } else if (c == 'M') {
      out += 'm';
    } else if (c == 'm') {
      out += 'n';
    } else if (c == 'H') {
      out += 'h';
    } else if (c == 't') {
      while (i + 1 < picture.size() && picture[i + 1] == 't') ++i;
      out += "ampm";
    } else if (c == 'g') {
      // era designator: not printed
    } else if (c == date_sep && date_sep != 0) {
      out += '/';
    } else if (c == time_sep && time_sep != 0) {
      out += ':';
    } else {
      out += c;
    }
  }
  return out;
}

class Win32Regional : public Regional {
 public:
  Win32Regional() : settings_(FormatSettings::English()) {
    const std::string decimal = LocaleText(LOCALE_SDECIMAL);
    if (decimal.size() == 1) settings_.decimal_separator = decimal[0];
    settings_.thousand_separator = LocaleText(LOCALE_STHOUSAND);
    const std::string date_sep = LocaleText(LOCALE_SDATE);
    const std::string time_sep = LocaleText(LOCALE_STIME);
    if (date_sep.size() == 1) settings_.date_separator = date_sep[0];
    if (time_sep.size() == 1) settings_.time_separator = time_sep[0];
    const std::string short_date = LocaleText(LOCALE_SSHORTDATE);
    if (!short_date.empty()) {
      settings_.short_date_format =
          ConvertPicture(short_date, settings_.date_separator, settings_.time_separator);
    }
    const std::string long_time = LocaleText(LOCALE_STIMEFORMAT);
    if (!long_time.empty()) {
      settings_.long_time_format =
          ConvertPicture(long_time, settings_.date_separator, settings_.time_separator);
    }
    settings_.time_am = LocaleText(LOCALE_S1159);
    settings_.time_pm = LocaleText(LOCALE_S2359);
    // Windows numbers the days from Monday; the settings keep Sunday first.
    for (int i = 0; i < 7; ++i) {
      const int win = (i + 6) % 7;
      const std::string s = LocaleText(LOCALE_SABBREVDAYNAME1 + win);
      const std::string l = LocaleText(LOCALE_SDAYNAME1 + win);
      if (!s.empty()) settings_.short_day_names[i] = s;
      if (!l.empty()) settings_.long_day_names[i] = l;
    }
    for (int i = 0; i < 12; ++i) {
      const std::string s = LocaleText(LOCALE_SABBREVMONTHNAME1 + i);
      const std::string l = LocaleText(LOCALE_SMONTHNAME1 + i);
      if (!s.empty()) settings_.short_month_names[i] = s;
      if (!l.empty()) settings_.long_month_names[i] = l;
    }
  }

  const FormatSettings& Settings() override { return settings_; }

 private:
  FormatSettings settings_;
};

}  // namespace

std::unique_ptr<Regional> NewSystemRegional() { return std::make_unique<Win32Regional>(); }

}  // namespace tw
