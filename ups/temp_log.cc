#include "ups/temp_log.h"

#include <cmath>
#include <cstring>

#include "toolbelt/datetime.h"
#include "toolbelt/numbers.h"

namespace tw {

std::string TempLogFileName(const FormatSettings& fmt, TempLog which, TDateTime when,
                            const std::string& extension) {
  std::string stem;
  switch (which) {
    case TempLog::kDated:
      stem = FormatDateTime("yyyymmdd", when, fmt);
      break;
    case TempLog::kWeekday:
      stem = FormatDateTime("ddd", when, fmt);
      break;
    case TempLog::kToday:
      stem = "Today";
      break;
    case TempLog::kAnnual:
      stem = FormatDateTime("yyyy", when, fmt);
      break;
  }
  return "APCUPSTempLog_" + stem + extension;
}

int32_t TempLogPoint(TDateTime when) {
  CalendarTime t;
  if (!DecodeDateTime(when, &t)) return -1;
  return (t.hour * 3600 + t.minute * 60 + t.second) / (86400 / kPointsPerDay);
}

std::string SampleTimeText(const FormatSettings& fmt, TDateTime now) {
  // Half-way ties go to the even mark, as the platform's rounding does; in practice a clock
  // reading never lands exactly on one.
  const TDateTime mark = std::nearbyint(now * kPointsPerDay) / kPointsPerDay;
  return FormatDateTime("hh:nn", mark, fmt);
}

std::string SampleRow(const FormatSettings& fmt, int32_t point, TDateTime now, double temperature) {
  return std::to_string(point) + "," + SampleTimeText(fmt, now) + "," +
         FloatToStr(temperature, fmt) + "\r\n";
}

void ForEachLine(const std::string& text, const std::function<void(const std::string&)>& line) {
  size_t from = 0;
  const size_t n = text.size();
  const char* data = text.data();
  while (from < n) {
    // The line ends at its first CR or LF: the LF found first, then a CR looked for before it
    // (memchr scans many bytes at a time; a day's file is read at every pass).
    const void* lf = std::memchr(data + from, '\n', n - from);
    size_t end = lf == nullptr ? n : static_cast<size_t>(static_cast<const char*>(lf) - data);
    const void* cr = std::memchr(data + from, '\r', end - from);
    if (cr != nullptr) end = static_cast<size_t>(static_cast<const char*>(cr) - data);
    line(text.substr(from, end - from));
    if (end < n && text[end] == '\r') ++end;
    if (end < n && text[end] == '\n') ++end;
    from = end;
  }
}

bool SplitRow(const std::string& row, std::string* label, std::string* value) {
  const size_t first = row.find(',');
  if (first == std::string::npos) return false;
  const size_t second = row.find(',', first + 1);
  if (second == std::string::npos) return false;
  *label = row.substr(first + 1, second - first - 1);
  *value = row.substr(second + 1);
  return true;
}

}  // namespace tw
