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

// The process's memory and handles at one moment of a run; -1: unknown on this platform.
struct MemoryFigures {
  int64_t heap_kb = -1;  // held from the allocator (ProcessStats::heap_in_use_kb)
  int64_t anon_kb = -1;  // resident anonymous memory
  int64_t handles = -1;
  int64_t kept_kb = 0;  // of the heap, what the run itself keeps for its checks (file copies)
};

// A leak of one allocation per temperature pass (32 bytes at least, glibc's smallest chunk)
// adds some 3 MB over the nine tenths of a year after the first, one per hour 250 kB: the
// heap the service holds (heap less kept) may grow by this much after the first tenth.
constexpr int64_t kHeapGrowthKb = 64;
// glibc hands freed memory back to the system only when more than 128 kB lie free at the top
// of the heap (M_TRIM_THRESHOLD), and grows it by 128 kB beyond a request (M_TOP_PAD): the
// resident anonymous memory may exceed the heap's growth by this much.
constexpr int64_t kAllocatorSlackKb = 256;

// Memory and handles after the first tenth of a run (`early`) and at its end: the handles are
// as many, the service's heap grew by at most kHeapGrowthKb, the resident anonymous memory by
// at most the heap's growth plus kAllocatorSlackKb. Figures unknown at either moment are not
// held to anything.
CheckResult CheckMemory(const MemoryFigures& early, const MemoryFigures& end);

// "yyyymmdd" -> day number; false when the text is no such date.
bool ParseDateStamp(const std::string& text, int64_t* day);

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_CHECKS_H_
