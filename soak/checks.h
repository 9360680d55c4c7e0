// The checks of the simulated year over the files the service left: the history files, the
// activity logs and the exception reports. Each check reads through the file-system seam (in
// its working directory) and says what it found, so that a failing run names what failed.
#ifndef TEMPWARDEN_SOAK_CHECKS_H_
#define TEMPWARDEN_SOAK_CHECKS_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tw {

struct CheckResult {
  std::string name;
  bool passed = true;
  std::string detail;  // what was counted, or what failed (the first few cases)
};

// One daily (or weekday) history file, parsed.
struct HistoryFile {
  bool header = false;        // the day header is its first line
  std::vector<int> points;    // the point column of every row, in file order
  std::vector<double> temps;  // the temperature column of every row
  int bad_lines = 0;          // lines that are neither the header nor a row
};

// Day number (days since 30 December 1899) -> its daily file "APCUPSTempLog_yyyymmdd.csv".
using DailyFiles = std::map<int64_t, HistoryFile>;

HistoryFile ParseHistoryFile(const std::string& text);
DailyFiles ReadDailyFiles(FileSystem& files);

// Every daily file and weekday file starts with the day header, and no point appears twice.
CheckResult CheckDayFiles(FileSystem& files, const DailyFiles& daily);

// Every five-minute window the service could sample (day number x 288 + point) has its row.
CheckResult CheckNoLostSamples(const DailyFiles& daily, const std::set<int64_t>& takeable);

// No row records 0 degrees: the simulated UPS never reports it, so a 0 is a failed query
// written down as a reading.
CheckResult CheckNoZeroReadings(const DailyFiles& daily);

// Every day with rows that was followed by a later day with rows has exactly one row in the
// annual files, with the average of its daily file rounded once to one decimal; no other day
// has one.
CheckResult CheckAnnualRows(FileSystem& files, const DailyFiles& daily);

// The dated activity logs "APC-yyyymmdd.CSV" lie within the `purge_days` window that ends on
// day `last_day`, and every day of that window on which the service sampled has one.
CheckResult CheckActivityLogs(FileSystem& files, const DailyFiles& daily, int64_t last_day,
                              int purge_days);

// Exception reports "E!*.XML" lie within the activity log's window, and the same function
// and message is reported at most once an hour (a service start in between allows one more).
CheckResult CheckExceptionReports(FileSystem& files, int64_t last_day, int purge_days,
                                  const std::vector<int64_t>& session_starts_local_ms);

// "yyyymmdd" -> day number; false when the text is no such date.
bool ParseDateStamp(const std::string& text, int64_t* day);

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_CHECKS_H_
