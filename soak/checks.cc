#include "soak/checks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/calendar.h"

namespace tw {
namespace {

constexpr char kDayHeader[] = "\"#\",\"TIME\",\"TEMP\"";
constexpr char kAnnualHeader[] = "\"#\",\"DATE\",\"AVG TEMP\"";
constexpr int kPoints = 288;
constexpr size_t kExamples = 5;  // cases named in a failure's detail

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Read(FileSystem& files, const std::string& name) {
  std::string data, error;
  files.ReadFile(name, &data, &error);
  return data;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseNumber(const std::string& s, double* value) {
  if (s.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size();
}

std::string DateText(int64_t day) {
  CalendarTime t;
  DecodeDateTime(static_cast<double>(day), &t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

std::string WindowText(int64_t window) {
  const int point = static_cast<int>(window % kPoints);
  char buf[16];
  std::snprintf(buf, sizeof buf, " %02d:%02d", point / 12, point % 12 * 5);
  return DateText(window / kPoints) + buf;
}

// Keeps the first few cases of a failure for its detail.
struct Cases {
  uint64_t count = 0;
  std::string text;
  void Add(const std::string& c) {
    if (count++ < kExamples) text += (text.empty() ? "" : "; ") + c;
  }
  void Finish(CheckResult* r, const std::string& what) const {
    if (count == 0) return;
    const std::string line =
        std::to_string(count) + " " + what + ": " + text + (count > kExamples ? "; ..." : "");
    r->detail = r->passed ? line : r->detail + " | " + line;
    r->passed = false;
  }
};

int DayOfYear(int64_t day) {
  CalendarTime t;
  DecodeDateTime(static_cast<double>(day), &t);
  return static_cast<int>(day - DaysFromCivil(t.year, 1, 1)) + 1;
}

}  // namespace

bool ParseDateStamp(const std::string& text, int64_t* day) {
  if (text.size() != 8 || !AllDigits(text)) return false;
  CalendarTime t;
  t.year = std::stoi(text.substr(0, 4));
  t.month = std::stoi(text.substr(4, 2));
  t.day = std::stoi(text.substr(6, 2));
  if (!IsValidCalendarTime(t)) return false;
  *day = DaysFromCivil(t.year, t.month, t.day);
  return true;
}

HistoryFile ParseHistoryFile(const std::string& text) {
  HistoryFile file;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i == 0 && line == kDayHeader) {
      file.header = true;
      continue;
    }
    const size_t c1 = line.find(',');
    const size_t c2 = c1 == std::string::npos ? c1 : line.find(',', c1 + 1);
    double temp = 0;
    if (c2 == std::string::npos || !AllDigits(line.substr(0, c1)) ||
        !ParseNumber(line.substr(c2 + 1), &temp)) {
      ++file.bad_lines;
      continue;
    }
    file.points.push_back(std::atoi(line.substr(0, c1).c_str()));
    file.temps.push_back(temp);
  }
  return file;
}

DailyFiles ReadDailyFiles(FileSystem& files) {
  DailyFiles daily;
  for (const std::string& name : files.FindFiles("APCUPSTempLog_*.csv")) {
    int64_t day = 0;
    const std::string stamp = name.substr(14, name.size() - 18);
    if (name.size() != 26 || !ParseDateStamp(stamp, &day)) continue;
    daily[day] = ParseHistoryFile(Read(files, name));
  }
  return daily;
}

CheckResult CheckDayFiles(FileSystem& files, const DailyFiles& daily) {
  CheckResult r{"daily files with their header and no duplicate points", true, ""};
  Cases no_header, duplicates, bad;
  uint64_t rows = 0;
  auto check = [&](const std::string& name, const HistoryFile& f) {
    rows += f.points.size();
    if (!f.header) no_header.Add(name);
    if (f.bad_lines > 0) bad.Add(name + " (" + std::to_string(f.bad_lines) + " lines)");
    std::vector<int> seen(kPoints + 1, 0);
    for (int p : f.points) {
      if (p < 0 || p >= kPoints) {
        bad.Add(name + " point " + std::to_string(p));
      } else if (seen[p]++ == 1) {
        duplicates.Add(name + " point " + std::to_string(p));
      }
    }
  };
  for (const auto& d : daily) check(DateText(d.first), d.second);
  for (const char* weekday : {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"}) {
    const std::string name = std::string("APCUPSTempLog_") + weekday + ".csv";
    if (files.IsPlainFile(name)) check(weekday, ParseHistoryFile(Read(files, name)));
  }
  r.detail = std::to_string(daily.size()) + " daily files, " + std::to_string(rows) +
             " rows (weekday files included)";
  bad.Finish(&r, "files with lines that are no rows");
  duplicates.Finish(&r, "duplicate points");
  no_header.Finish(&r, "files without the day header");
  if (daily.empty()) {
    r.passed = false;
    r.detail = "no daily file at all";
  }
  return r;
}

CheckResult CheckNoLostSamples(const DailyFiles& daily, const std::set<int64_t>& takeable) {
  CheckResult r{"no sample lost that the schedule could take", true, ""};
  Cases lost;
  const DailyFiles::const_iterator none = daily.end();
  int64_t cached_day = -1;
  DailyFiles::const_iterator file = none;
  std::vector<bool> present;
  for (int64_t w : takeable) {
    const int64_t day = w / kPoints;
    if (day != cached_day) {
      cached_day = day;
      file = daily.find(day);
      present.assign(kPoints, false);
      if (file != none) {
        for (int p : file->second.points) {
          if (p >= 0 && p < kPoints) present[p] = true;
        }
      }
    }
    if (!present[w % kPoints]) lost.Add(WindowText(w));
  }
  r.detail = std::to_string(takeable.size()) + " points the schedule could sample, all recorded";
  lost.Finish(&r, "of " + std::to_string(takeable.size()) + " points not recorded");
  return r;
}

CheckResult CheckNoZeroReadings(const DailyFiles& daily) {
  CheckResult r{"no failed query recorded as 0 degrees", true, "no row at 0"};
  Cases zeros;
  for (const auto& d : daily) {
    for (size_t i = 0; i < d.second.temps.size(); ++i) {
      if (d.second.temps[i] == 0) {
        zeros.Add(WindowText(d.first * kPoints + d.second.points[i]));
      }
    }
  }
  zeros.Finish(&r, "rows at 0 degrees");
  return r;
}

CheckResult CheckAnnualRows(FileSystem& files, const DailyFiles& daily) {
  CheckResult r{"one annual row per day with the right average", true, ""};
  std::map<int64_t, std::vector<double>> rows;  // day -> averages found
  Cases bad;
  for (const std::string& name : files.FindFiles("APCUPSTempLog_*.csv")) {
    const std::string year_text = name.substr(14, name.size() - 18);
    if (name.size() != 22 || !AllDigits(year_text)) continue;
    const int year = std::stoi(year_text);
    const std::vector<std::string> lines = Lines(Read(files, name));
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i == 0 && lines[i] == kAnnualHeader) continue;
      // "doy,d/m,avg"; the average may carry thousands separators, never here.
      const std::string& line = lines[i];
      const size_t c1 = line.find(','), slash = line.find('/'), c2 = line.find(',', c1 + 1);
      double avg = 0;
      if (c1 == std::string::npos || slash == std::string::npos || c2 == std::string::npos ||
          !ParseNumber(line.substr(c2 + 1), &avg)) {
        bad.Add(name + " line " + std::to_string(i + 1));
        continue;
      }
      const int doy = std::atoi(line.substr(0, c1).c_str());
      const int dom = std::atoi(line.substr(c1 + 1, slash - c1 - 1).c_str());
      const int month = std::atoi(line.substr(slash + 1, c2 - slash - 1).c_str());
      // The row of 31 December is written at the first roll-over of the new year.
      bool placed = false;
      for (int y : {year, year - 1}) {
        CalendarTime t;
        t.year = y;
        t.month = month;
        t.day = dom;
        if (!IsValidCalendarTime(t)) continue;
        const int64_t day = DaysFromCivil(y, month, dom);
        if (DayOfYear(day) != doy) continue;
        rows[day].push_back(avg);
        placed = true;
        break;
      }
      if (!placed) bad.Add(name + " line " + std::to_string(i + 1) + " names no date");
    }
  }

  Cases missing, duplicate, wrong, extra;
  int64_t last_with_rows = -1;
  for (const auto& d : daily) {
    if (!d.second.temps.empty()) last_with_rows = d.first;
  }
  uint64_t expected = 0;
  for (const auto& d : daily) {
    const std::vector<double>& temps = d.second.temps;
    if (temps.empty() || d.first == last_with_rows) continue;
    ++expected;
    const auto it = rows.find(d.first);
    if (it == rows.end()) {
      missing.Add(DateText(d.first));
      continue;
    }
    if (it->second.size() > 1)
      duplicate.Add(DateText(d.first) + " x" + std::to_string(it->second.size()));
    double sum = 0;
    for (double t : temps) sum += t;
    const double mean = sum / static_cast<double>(temps.size());
    // Rounded once to one decimal, the written value is within half a tenth of the mean.
    for (double avg : it->second) {
      if (std::fabs(avg - mean) > 0.05 + 1e-9) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s written %.1f, mean of %zu rows %.5f",
                      DateText(d.first).c_str(), avg, temps.size(), mean);
        wrong.Add(buf);
      }
    }
  }
  for (const auto& row : rows) {
    const auto d = daily.find(row.first);
    if (d == daily.end() || d->second.temps.empty()) extra.Add(DateText(row.first));
  }
  r.detail = std::to_string(expected) + " days, one annual row each, averages right";
  bad.Finish(&r, "unreadable annual lines");
  extra.Finish(&r, "annual rows for days without samples");
  wrong.Finish(&r, "wrong averages");
  duplicate.Finish(&r, "days with more than one annual row");
  missing.Finish(&r, "days without an annual row");
  return r;
}

CheckResult CheckActivityLogs(FileSystem& files, const DailyFiles& daily, int64_t last_day,
                              int purge_days) {
  CheckResult r{"activity logs within their window", true, ""};
  const int64_t first_kept = last_day - purge_days + 1;
  std::set<int64_t> logs;
  Cases outside, missing;
  for (const std::string& name : files.FindFiles("APC-*.CSV")) {
    int64_t day = 0;
    if (name.size() != 16 || !ParseDateStamp(name.substr(4, 8), &day)) {
      outside.Add(name + " (undated)");
      continue;
    }
    logs.insert(day);
    if (day < first_kept || day > last_day) outside.Add(name);
  }
  for (const auto& d : daily) {
    if (d.first >= first_kept && d.first <= last_day && !d.second.temps.empty() &&
        logs.count(d.first) == 0) {
      missing.Add(DateText(d.first));
    }
  }
  r.detail = std::to_string(logs.size()) + " daily logs, from " +
             (logs.empty() ? std::string("-") : DateText(*logs.begin())) + ", window starts " +
             DateText(first_kept);
  outside.Finish(&r, "logs outside the window");
  missing.Finish(&r, "days with samples but no log");
  return r;
}

CheckResult CheckExceptionReports(FileSystem& files, int64_t last_day, int purge_days,
                                  const std::vector<int64_t>& session_starts_local_ms) {
  CheckResult r{"exception reports within their window, none flooding", true, ""};
  const int64_t first_kept = last_day - purge_days + 1;
  struct Report {
    int64_t at_ms;
    std::string name;
  };
  std::map<std::string, std::vector<Report>> by_kind;  // function and message -> reports
  Cases outside, flood;
  size_t count = 0;
  for (const std::string& name : files.FindFiles("E!*.XML")) {
    ++count;
    // E!RAZIVED-yyyymmddhhnnsszzz.XML
    const size_t dash = name.rfind('-');
    const std::string stamp = dash == std::string::npos ? "" : name.substr(dash + 1, 17);
    int64_t day = 0;
    if (stamp.size() != 17 || !AllDigits(stamp) || !ParseDateStamp(stamp.substr(0, 8), &day)) {
      outside.Add(name + " (undated)");
      continue;
    }
    if (day < first_kept) outside.Add(name);
    const int64_t at_ms =
        day * 86400000 +
        ((std::stoi(stamp.substr(8, 2)) * 60 + std::stoi(stamp.substr(10, 2))) * 60 +
         std::stoi(stamp.substr(12, 2))) *
            int64_t{1000} +
        std::stoi(stamp.substr(14, 3));
    std::string function, message;
    for (const std::string& line : Lines(Read(files, name))) {
      if (line.rfind("<Function>", 0) == 0) function = line.substr(10, line.find(':') - 10);
      if (line.rfind("<e.Message>", 0) == 0) {
        message = line.substr(11, line.find("</e.Message>") - 11);  // first line only
      }
    }
    by_kind[function + " " + message].push_back({at_ms, name});
  }
  for (auto& kind : by_kind) {
    std::vector<Report>& reports = kind.second;
    std::sort(reports.begin(), reports.end(),
              [](const Report& a, const Report& b) { return a.at_ms < b.at_ms; });
    for (size_t i = 1; i < reports.size(); ++i) {
      const int64_t a = reports[i - 1].at_ms, b = reports[i].at_ms;
      if (b - a >= 3600000) continue;
      const bool restarted =
          std::any_of(session_starts_local_ms.begin(), session_starts_local_ms.end(),
                      [&](int64_t s) { return s > a && s <= b; });
      if (!restarted)
        flood.Add(reports[i].name + " after " + reports[i - 1].name + " (" + kind.first + ")");
    }
  }
  r.detail = std::to_string(count) + " reports of " + std::to_string(by_kind.size()) + " kinds";
  outside.Finish(&r, "reports outside the window");
  flood.Finish(&r, "reports within the hour of the same one");
  return r;
}

CheckResult CheckMemory(const MemoryFigures& early, const MemoryFigures& end) {
  CheckResult r{"no memory leak, open handles flat", true, ""};
  std::string problems;
  const bool heap_known = early.heap_kb >= 0 && end.heap_kb >= 0;
  const int64_t heap_growth = heap_known ? end.heap_kb - early.heap_kb : 0;
  const int64_t kept_growth = end.kept_kb - early.kept_kb;
  if (heap_known) {
    r.detail = "heap in use " + std::to_string(early.heap_kb) + " kB after a tenth, " +
               std::to_string(end.heap_kb) + " kB at the end (" + std::to_string(kept_growth) +
               " kB more kept by the run)";
    if (heap_growth - kept_growth > kHeapGrowthKb) {
      problems += "; the service's heap grew by " + std::to_string(heap_growth - kept_growth) +
                  " kB, more than " + std::to_string(kHeapGrowthKb);
    }
  }
  if (early.anon_kb >= 0 && end.anon_kb >= 0) {
    const int64_t growth = end.anon_kb - early.anon_kb;
    r.detail += (r.detail.empty() ? "" : "; ") + std::string("resident anonymous ") +
                std::to_string(early.anon_kb) + " then " + std::to_string(end.anon_kb) + " kB";
    if (growth > std::max<int64_t>(heap_growth, 0) + kAllocatorSlackKb) {
      problems += "; resident anonymous memory grew by " + std::to_string(growth) +
                  " kB, more than the heap's growth and " + std::to_string(kAllocatorSlackKb);
    }
  }
  r.detail += (r.detail.empty() ? "" : "; ") + std::string("handles ") +
              std::to_string(early.handles) + " then " + std::to_string(end.handles);
  if (early.handles != end.handles) {
    problems += "; " + std::to_string(end.handles - early.handles) + " more handles open";
  }
  if (!problems.empty()) {
    r.passed = false;
    r.detail = problems.substr(2) + " (" + r.detail + ")";
  }
  return r;
}

}  // namespace tw
