#include "ups/history.h"

#include <cmath>
#include <utility>

#include "toolbelt/datetime.h"
#include "toolbelt/failure.h"
#include "toolbelt/files.h"
#include "toolbelt/number_text.h"
#include "toolbelt/numbers.h"
#include "toolbelt/text_time.h"
#include "ups/chart.h"
#include "ups/kept_rows.h"
#include "ups/temp_log.h"

namespace tw {
namespace {

constexpr char kAnnualFunction[] = "APC.AppendToAnnualFile";

int32_t DayOfTheYear(const CalendarTime& t) {
  return static_cast<int32_t>(DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(t.year, 1, 1) +
                              1);
}

// Collects the diagnostic lines of one annual append; each is written as it happens, so the
// file shows how far a run got even when it fails.
class AnnualDiagnostics {
 public:
  explicit AnnualDiagnostics(Context& ctx) : ctx_(ctx) {}

  void Start(const std::string& rest) { Write(rest, false); }
  void Add(const std::string& rest) { Write(rest, true); }

 private:
  void Write(const std::string& rest, bool append) {
    const std::string line = StringOfString(ctx_, ctx_.env.clock->Now()) +
                             " Function=" + kAnnualFunction + rest + "\r\n";
    WriteStringToFile(ctx_, line, kAnnualDiagFile, append);
  }
  Context& ctx_;
};

std::string ReadWholeFile(Context& ctx, const std::string& name) {
  std::string text;
  std::string error;
  if (!ctx.env.files->ReadFile(name, &text, &error)) throw Fault("EInOutError", error);
  return text;
}

// True when `text` holds a sample row (a line that starts with its point number); the day
// header alone is none.
bool HoldsRows(const std::string& text) {
  bool rows = false;
  ForEachLine(text, [&](const std::string& line) {
    rows = rows || (!line.empty() && line[0] >= '0' && line[0] <= '9');
  });
  return rows;
}

// True when the annual text has a row for the day with this day-of-year and "d/m" label.
bool HasAnnualRow(const std::string& text, int32_t day_of_year, const std::string& label) {
  bool found = false;
  const std::string number = std::to_string(day_of_year);
  ForEachLine(text, [&](const std::string& line) {
    std::string row_label, value;
    found = found || (line.compare(0, number.size() + 1, number + ",") == 0 &&
                      SplitRow(line, &row_label, &value) && row_label == label);
  });
  return found;
}

// The first sample of a date starts its day: the daily file does not exist yet or holds no
// sample row. Looking at the file rather than at the point makes the roll-over happen on any
// schedule and after a stop over midnight, and only once a day however often the service
// restarts.
// `read` receives the file as read (an empty name when it was not); what `read_before` (may be
// null) holds of it is not read again.
bool DayNotStarted(Context& ctx, TDateTime now, const tKnownDayFile* read_before,
                   tKnownDayFile* read) {
  const std::string daily = TempLogFileName(ctx.fmt(), TempLog::kDated, now, ".csv");
  if (read_before != nullptr && read_before->Name == daily) {
    *read = *read_before;
    return !HoldsRows(read->Text);
  }
  if (!FileExists(ctx, daily)) return true;
  std::string text, error;
  if (!ctx.env.files->ReadFile(daily, &text, &error)) return false;  // kept: no row wiped
  const bool started = HoldsRows(text);
  read->Name = daily;
  read->Text = std::move(text);
  return !started;
}

}  // namespace

void AppendToAnnualFile(Context& ctx, TDateTime day) {
  int32_t trace = 100;
  Guarded(ctx, kAnnualFunction, trace, [&] {
    const FormatSettings& fmt = ctx.fmt();
    AnnualDiagnostics diag(ctx);
    const std::string daily = TempLogFileName(fmt, TempLog::kDated, day, ".csv");
    diag.Start(" Version=" + ctx.settings.Version + " LogRec.Trace=100 sDailyFile=" + daily);
    if (!FileExists(ctx, daily)) {
      diag.Add(" Trace=100 " + daily + " doesnt exist.");
      return;
    }
    const std::string year = std::to_string(Year(ctx, day));
    trace = 300;
    diag.Add(" Trace=300 sYear=" + year);
    trace = 400;
    diag.Add(" Trace=400 sDailyFile=" + daily);
    const std::string text = ReadWholeFile(ctx, daily);
    trace = 500;
    double sum = 0;
    int32_t count = 0;
    ForEachLine(text, [&](const std::string& line) {
      if (line.find("INPUT") != std::string::npos) return;
      trace = 800;
      std::string label;
      std::string value_text;
      double value = 0;
      // The header's "TEMP" and any line that is no row are not samples of 0 degrees.
      if (!SplitRow(line, &label, &value_text)) return;
      trace = 820;
      if (!TryStrToFloat(ctx, value_text, &value)) return;
      sum += value;
      ++count;
    });
    trace = 600;
    diag.Add(" Trace=600 rInput=" + FloatToStr(sum, fmt));
    const std::string annual = TempLogFileName(fmt, TempLog::kAnnual, ctx.env.clock->Now(), ".csv");
    if (!FileExists(ctx, annual)) {
      diag.Add(" Trace=600 Year=" + year);
      WriteStringToFile(ctx, kAnnualHeader, annual, false);
    }
    trace = 900;
    const CalendarTime d = DecodeOrThrow(day);
    const int32_t day_of_year = DayOfTheYear(d);
    diag.Add(" Trace=900 IntToStr(DateUtils.DayOfTheYear(Date))=" + std::to_string(day_of_year) +
             " Outputfile=" + annual);
    if (count == 0) throw Fault("EInvalidOp", "Invalid floating point operation");
    const std::string label = std::to_string(d.day) + "/" + std::to_string(d.month);
    std::string annual_text, error;
    if (ctx.env.files->ReadFile(annual, &annual_text, &error) &&
        HasAnnualRow(annual_text, day_of_year, label)) {
      diag.Add(" Trace=900 the row of " + label + " is there already.");
      return;
    }
    // Values near the double's limit can add up to infinity; "INF" is no average.
    if (!std::isfinite(sum)) throw Fault("EOverflow", "Floating point overflow");
    const std::string row = std::to_string(day_of_year) + "," + std::to_string(d.day) + "/" +
                            std::to_string(d.month) + "," + FormatGrouped(sum / count, 1, fmt) +
                            "\r\n";
    WriteStringToFile(ctx, row, annual, true);
  });
}

int32_t RecordTemperature(Context& ctx, double temperature, tGoogleChart chart,
                          const std::function<void()>& after_temp_file,
                          const tKnownDayFile* read_before) {
  int32_t point = -1;
  int32_t trace = 100;
  Guarded(ctx, "APC.RecordTemperatureSample", trace, [&] {
    const FormatSettings& fmt = ctx.fmt();
    Clock& clock = *ctx.env.clock;
    WriteStringToFile(ctx, FloatToStr(temperature, fmt), kLatestTempFile, false);
    trace = 200;
    if (after_temp_file) after_temp_file();
    trace = 300;
    const int32_t now_point = TempLogPoint(clock.Now());
    if (now_point < 0) throw Fault("EConvertError", "Invalid date-time of the clock");
    point = now_point;
    // The dated file as read here and then appended to: the pages are drawn from it.
    tKnownDayFile dated;
    if (DayNotStarted(ctx, clock.Now(), read_before, &dated)) {
      dated.Name.clear();
      trace = 400;
      AppendToAnnualFile(ctx, clock.Now() - 1);
      WriteStringToFile(ctx, kDayHeader, TempLogFileName(fmt, TempLog::kDated, clock.Now(), ".csv"),
                        false);
      WriteStringToFile(ctx, kDayHeader,
                        TempLogFileName(fmt, TempLog::kWeekday, clock.Now(), ".csv"), false);
      WriteAnnualChartPage(ctx, chart);
    }
    trace = 500;
    for (const TempLog file : {TempLog::kDated, TempLog::kToday, TempLog::kWeekday}) {
      const TDateTime now = clock.Now();
      const std::string name = TempLogFileName(fmt, file, now, ".csv");
      // A file held by another program keeps its row for the next write that gets through.
      std::string written;
      const bool appended = AppendRowKeeping(ctx, SampleRow(fmt, point, now, temperature), name,
                                             &written) == kWriteOk;
      if (file != TempLog::kDated) continue;
      if (appended && name == dated.Name) {
        dated.Text += written;
      } else {
        dated.Name.clear();
      }
    }
    trace = 600;
    WriteDayChartPages(ctx, chart, DayPageSet::kAfterSample, dated.Name.empty() ? nullptr : &dated);
  });
  return point;
}

bool PointRecorded(Context& ctx, TDateTime now, tKnownDayFile* read) {
  if (read != nullptr) read->Name.clear();
  const std::string daily = TempLogFileName(ctx.fmt(), TempLog::kDated, now, ".csv");
  std::string text, error;
  if (!ctx.env.files->ReadFile(daily, &text, &error)) return false;
  const std::string prefix = std::to_string(TempLogPoint(now)) + ",";
  bool found = false;
  ForEachLine(text, [&](const std::string& line) {
    found = found || line.compare(0, prefix.size(), prefix) == 0;
  });
  if (read != nullptr) {
    read->Name = daily;
    read->Text = std::move(text);
  }
  return found;
}

}  // namespace tw
