#include "toolbelt/activity_log.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "toolbelt/datetime.h"
#include "toolbelt/failure.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
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
  return "[Function=toolbelt.LogEntry][Note=New day][Version=" + ctx.settings.Version + "]" +
         "[MemoryLoad=" + std::to_string(memory.MemoryLoad) + "%]" +
         "[AvailPhysical=" + FloatToStr(memory.AvailPhysicalPct, fmt) + "%]" +
         "[TotalPhysical=" + FormatGrouped(static_cast<double>(memory.TotalPhysical), 0, fmt) +
         "bytes]";
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
    WriteStringToFile(ctx, LogLine(ctx, now, code_text, rec.Msg), name, true);
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
    std::vector<std::string> kept_dates;
    // No name can carry a date before the first day of year 1, however many days are kept.
    for (int64_t i = 0; i < days && today - i >= kFirstCalendarDay; ++i) {
      trace = 110;
      kept_dates.push_back(
          FormatDateTime("yyyymmdd", static_cast<TDateTime>(today - i), ctx.fmt()));
    }
    for (const std::string& found : names) {
      const std::string upper = UpperCase(found);
      // The search already matched the family; the check keeps a name that the platform
      // matched some other way (a short 8.3 alias on Windows) from being deleted.
      if (upper.compare(0, family.size(), family) != 0 ||
          (!ext.empty() && upper.find(ext) == std::string::npos)) {
        continue;
      }
      const bool dated =
          std::any_of(kept_dates.begin(), kept_dates.end(),
                      [&](const std::string& d) { return upper.find(d) != std::string::npos; });
      trace = 200;
      if (dated) continue;
      ctx.env.files->RemoveFile(found);  // a file that will not go is left for tomorrow
      ++rc.Count;
      trace = 300;
    }
  });
}

}  // namespace tw
