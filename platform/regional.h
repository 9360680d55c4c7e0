// The regional-settings seam: separators, date and time formats and day and month names of
// the account the service runs under. Every date, time and number text of the service is
// formatted with these, so the files follow the regional settings as an administrator expects.
#ifndef TEMPWARDEN_PLATFORM_REGIONAL_H_
#define TEMPWARDEN_PLATFORM_REGIONAL_H_

#include <array>
#include <memory>
#include <string>

namespace tw {

// Formats use the pattern letters of toolbelt/datetime.h: "/" stands for the date separator and
// ":" for the time separator.
struct FormatSettings {
  char decimal_separator = '.';
  std::string thousand_separator = ",";  // may be empty or a multi-byte sequence
  char date_separator = '/';
  char time_separator = ':';
  std::string short_date_format = "m/d/yyyy";
  std::string long_time_format = "h:nn:ss ampm";
  std::string time_am = "AM";
  std::string time_pm = "PM";
  std::array<std::string, 7> short_day_names;     // Sunday first
  std::array<std::string, 7> long_day_names;      // Sunday first
  std::array<std::string, 12> short_month_names;  // January first
  std::array<std::string, 12> long_month_names;   // January first

  // United States English: the settings of a default English Windows installation.
  static FormatSettings English();
};

class Regional {
 public:
  virtual ~Regional() = default;
  // The current settings; the reference stays valid for the life of this object.
  virtual const FormatSettings& Settings() = 0;
};

// Reads the platform's regional settings once, when created.
std::unique_ptr<Regional> NewSystemRegional();

// A Regional that hands out fixed settings (for tests and tools).
class FixedRegional : public Regional {
 public:
  explicit FixedRegional(FormatSettings settings) : settings_(std::move(settings)) {}
  const FormatSettings& Settings() override { return settings_; }
  FormatSettings& mutable_settings() { return settings_; }

 private:
  FormatSettings settings_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_REGIONAL_H_
