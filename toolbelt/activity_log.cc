#include "toolbelt/activity_log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <unordered_set>

#include "platform/system_log.h"
#include "toolbelt/datetime.h"
#include "toolbelt/exception_report.h"
#include "toolbelt/failure.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
#include "toolbelt/items.h"
#include "toolbelt/numbers.h"
#include "toolbelt/text_time.h"

namespace tw {
namespace {

constexpr size_t kTagWidth = 10;
constexpr int64_t kFirstCalendarDay = -693593;  // 1 January 0001

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The day number of a date-time (its whole part). A clock value that is no date at all
// fails here rather than turning into an arbitrary day.
int64_t DayOf(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > 1e7) {
    throw Fault("EInvalidOp", "Invalid floating point operation");
  }
  return static_cast<int64_t>(std::trunc(value));
}

std::string NewDayMessage(Context& ctx) {
  tMemoryStatusRec memory;
  GetMemoryStatus(ctx, memory);
  const FormatSettings& fmt = ctx.fmt();
  return Items()
      .Add("Function", "toolbelt.LogEntry")
      .Add("Note", "New day")
      .Add("Version", ctx.settings.Version)
      .Add("MemoryLoad", std::to_string(memory.MemoryLoad) + "%")
      .Add("AvailPhysical", FloatToStr(memory.AvailPhysicalPct, fmt) + "%")
      .Add("TotalPhysical",
           FormatGrouped(static_cast<double>(memory.TotalPhysical), 0, fmt) + "bytes")
      .str();
}

std::string LogLine(Context& ctx, TDateTime now, const std::string& code_text,
                    const std::string& msg) {
  std::string tag = ctx.settings.Log.Tag.substr(0, kTagWidth);
  tag.resize(kTagWidth, ' ');
  std::string message = msg;
  std::replace(message.begin(), message.end(), '"', '\'');
  return FormatDateTime("HH:NN:SS.ZZZ", now, ctx.fmt()) + ",\"[" + FormattedTime(ctx, -1) +
         "]\",\"" + tag + "\"," + code_text + ",\"" + message + "\"\r\n";
}

// The name of one of the family's dated files, `family` + "yyyymmdd" + "." + `ext` (letter
// case ignored): the only names the log itself writes. Anything else that shares the prefix
// (notes, copies, other programs' files) is not the service's to delete.
bool IsDatedName(const std::string& upper, const std::string& family, const std::string& ext) {
  const size_t date_at = family.size();
  const std::string suffix = ext.empty() ? std::string() : "." + ext;
  if (upper.size() != date_at + 8 + suffix.size() || upper.compare(0, date_at, family) != 0 ||
      upper.compare(date_at + 8, std::string::npos, suffix) != 0) {
    return false;
  }
  const std::string date = upper.substr(date_at, 8);
  if (!std::all_of(date.begin(), date.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
    return false;
  }
  CalendarTime t;
  t.year = std::stoi(date.substr(0, 4));
  t.month = std::stoi(date.substr(4, 2));
  t.day = std::stoi(date.substr(6, 2));
  return IsValidCalendarTime(t);
}

// A log that cannot be written cannot say so itself: the system log hears of it instead,
// once an hour, with the number of entries lost since it last heard.
void NoteLostEntry(Context& ctx, const std::string& file, const std::string& line) noexcept {
  try {
    tFaultMemory& faults = ctx.faults;
    if (faults.lost_log_entries < INT32_MAX) ++faults.lost_log_entries;
    int32_t held_back = 0;
    if (ctx.env.system_log == nullptr ||
        !faults.log_failures.Admit("activity log", ctx.env.clock->TickCount(), &held_back)) {
      return;
    }
    const bool bare = file.find_first_of(ctx.env.files->PathDelimiters()) == std::string::npos;
    std::string entry = line;
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
    const std::string source = ctx.settings.SelfName.empty() ? "tempwarden" : ctx.settings.SelfName;
    ctx.env.system_log->Error(
        source, "The activity log \"" + (bare ? ctx.settings.ExePath : std::string()) + file +
                    "\" cannot be written (read-only or full?); " +
                    std::to_string(faults.lost_log_entries) +
                    " entries lost since the last notice, the latest: " + entry);
    faults.lost_log_entries = 0;
  } catch (...) {
    // Out of memory: the entry is lost, as it was going to be.
  }
}

}  // namespace

void LogEntry(Context& ctx, tLogRec rec, std::string& file_name) {
  int32_t trace = 100;
  bool locked_here = false;
  tLog& log = ctx.settings.Log;
  try {
    if (log.FilePrefix.empty()) log.FilePrefix = ctx.env.host->ModulePath();
    const std::string code_text = ZeroPadded(rec.Code, 5);
    const int level =
        std::isdigit(static_cast<unsigned char>(code_text[0])) ? code_text[0] - '0' : 0;
    const TDateTime now = ctx.env.clock->Now();

    if (log.PurgeDays > 0 && DayOf(now) != log.LastDay) {
      tRC ignored;
      PurgeYYYYMMDDFiles(ctx, kLogPurgePrefix, kLogPurgeExtension, log.PurgeDays, ignored);
      PurgeExceptionReports(ctx, log.PurgeDays);
      log.LastDay = DayOf(now);
      tLogRec new_day;
      new_day.Code = kNewDayCode;
      new_day.Msg = NewDayMessage(ctx);
      std::string new_day_file;
      LogEntry(ctx, new_day, new_day_file);
    }

    if (level > log.DebugLevel) return;
    trace = 120;
    const std::string name =
        log.FilePrefix + "-" + FormatDateTime("yyyymmdd", now, ctx.fmt()) + ".CSV";
    file_name = name;

    trace = 180;
    Clock& clock = *ctx.env.clock;
    const uint32_t wait_start = clock.TickCount();
    while (log.Busy && static_cast<uint32_t>(clock.TickCount() - wait_start) < kLogLockWaitMs) {
      clock.Sleep(kLogLockPollMs);
    }
    if (log.Busy) return;  // the entry is lost, as promised to a caller that cannot wait

    log.Busy = true;
    locked_here = true;
    const std::string line = LogLine(ctx, now, code_text, rec.Msg);
    if (WriteStringToFile(ctx, line, name, true) == kWriteFailed) NoteLostEntry(ctx, name, line);
    log.Busy = false;
    locked_here = false;
  } catch (...) {
    if (locked_here) log.Busy = false;
    ReportCurrentException(ctx, "toolbelt.LogEntry", trace);
  }
}

void PurgeYYYYMMDDFiles(Context& ctx, const std::string& prefix, const std::string& extension,
                        int32_t days, tRC& rc) {
  rc = tRC();
  int32_t trace = 100;
  Guarded(ctx, "toolbelt.PurgeYYYYMMDDFiles", trace, [&] {
    if (days < 0) return;
    const std::string family = UpperCase(prefix);
    const std::string ext = UpperCase(extension);
    const std::vector<std::string> names = ctx.env.files->FindFiles(family + "*" + ext);
    if (names.empty()) return;

    const int64_t today = DayOf(ctx.env.clock->Now());
    // A name that holds a kept date anywhere is kept. The window and the folder hold a year's
    // dates and names each: a lookup per stretch of a name, not a search per kept date, keeps
    // the daily purge from growing with their product.
    std::unordered_set<std::string> kept_dates;
    std::set<size_t> kept_lengths;
    // No name can carry a date before the first day of year 1, however many days are kept.
    for (int64_t i = 0; i < days && today - i >= kFirstCalendarDay; ++i) {
      trace = 110;
      const std::string date =
          FormatDateTime("yyyymmdd", static_cast<TDateTime>(today - i), ctx.fmt());
      kept_dates.insert(date);
      kept_lengths.insert(date.size());
    }
    for (const std::string& found : names) {
      const std::string upper = UpperCase(found);
      // The search matched more than the dated names (and on Windows short 8.3 aliases too).
      if (!IsDatedName(upper, family, ext)) continue;
      bool dated = false;
      for (const size_t length : kept_lengths) {
        for (size_t at = 0; !dated && at + length <= upper.size(); ++at) {
          dated = kept_dates.count(upper.substr(at, length)) > 0;
        }
      }
      trace = 200;
      if (dated) continue;
      ctx.env.files->RemoveFile(found);  // a file that will not go is left for tomorrow
      ++rc.Count;
      trace = 300;
    }
  });
}

}  // namespace tw
