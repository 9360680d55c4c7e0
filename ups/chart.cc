#include "ups/chart.h"

#include <algorithm>
#include <vector>

#include "toolbelt/activity_log.h"
#include "toolbelt/datetime.h"
#include "toolbelt/exception_report.h"
#include "toolbelt/failure.h"
#include "toolbelt/files.h"
#include "toolbelt/items.h"
#include "toolbelt/number_text.h"
#include "toolbelt/numbers.h"
#include "toolbelt/text_time.h"
#include "ups/temp_log.h"

namespace tw {
namespace {

constexpr char kChartFunction[] = "APC.GoogleChartTemp";
constexpr char kCrLf[] = "\r\n";

void AppendPageHead(Context& ctx, const tGoogleChart& chart, std::string* page) {
  const FormatSettings& fmt = ctx.fmt();
  const std::string lines[] = {
      "<!DOCTYPE html>",
      "<html>",
      "  <!--",
      "    FUNCTION: APC.GoogleChartTemp",
      "    CREATED: " + StringOfString(ctx, ctx.env.clock->Now()),
      "    VERSION: " + ctx.settings.Version,
      "    SELFNAME: " + ctx.settings.SelfName,
      "    PERIOD: " + FloatToStr(chart.Period, fmt),
      "    STARTPERIOD: " + FormatDateTime("dd/mm/yy", chart.EndPeriod - chart.Period, fmt),
      "    ENDPERIOD: " + FormatDateTime("dd/mm/yy", chart.EndPeriod, fmt),
      "  -->",
      "",
      "  <head>",
      "    <title>Ferrin UPS Temps</title>",
      "    <meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
      "    <meta http-equiv=\"Content-Language\" content=\"en-au\">",
  };
  for (const std::string& line : lines) page->append(line).append(kCrLf);
  if (chart.Refresh != 0) {
    *page += "    <meta http-equiv=\"refresh\" content=\"" + std::to_string(chart.Refresh) + "\">" +
             kCrLf;
  }
  const char* const script[] = {
      "    <script type=\"text/javascript\">",
      "      google.charts.load('current',{packages:['corechart']});",
      "      google.charts.setOnLoadCallback(drawBasic);",
      "",
      "      function drawBasic() {",
      "        var data=new google.visualization.DataTable();",
      "        data.addColumn('string','X');",
      "        data.addColumn('number','Temp');",
      "        data.addRows([",
  };
  *page += std::string("    <script type=\"text/javascript\" src=\"") + kChartLoaderUrl +
           "\"></script>" + kCrLf;
  for (const char* line : script) page->append(line).append(kCrLf);
}

std::string PageTail(const tGoogleChart& chart) {
  const std::string lines[] = {
      "        ]);",
      "",
      "        var options={",
      "          title:'" + chart.Title + "',",
      "          curveType:'line',",
      "          legend:{position:'bottom'},",
      "          hAxis:{",
      "            title:'" + chart.HAxisTitle + "'",
      "          },",
      "          vAxis:{",
      "            title:'" + chart.VAxisTitle + "'",
      "          },",
      "          backgroundColor:'#f1f8e9'",
      "        };",
      "",
      "        var chart=new google.visualization.LineChart(document.getElementById('chart_div'));",
      "",
      "        chart.draw(data,options);",
      "      }",
      "    </script>",
      "  </head>",
      "",
      "  <body>",
      "  <div id=\"chart_div\" style=\"width:900px; height:1200px;\"></div>",
      "  </body>",
      "</html>",
  };
  std::string tail;
  tail.reserve(1024);
  for (const std::string& line : lines) tail.append(line).append(kCrLf);
  return tail;
}

// A label goes into the script as a quoted string and the page as text: one that could end
// either (an edited file, say) would stop the whole chart from drawing.
bool PlainLabel(const std::string& label) {
  for (const char c : label) {
    if (c == '\'' || c == '\\' || c == '<' || c == '>' || static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
  }
  return true;
}

// Appends "          ['13:10',27]," and a line end for the row 157,13:10,27; false, appending
// nothing, for a line that is no row.
bool AppendChartRow(Context& ctx, const std::string& line, std::string* rows) {
  std::string label;
  std::string value;
  double number = 0;
  if (!SplitRow(line, &label, &value) || !PlainLabel(label) ||
      !TryStrToFloat(ctx, value, &number)) {
    return false;
  }
  // The value keeps its written digits ("27.0" stays "27.0"); only the mark becomes the one
  // the script understands.
  std::replace(value.begin(), value.end(), ctx.fmt().decimal_separator, '.');
  rows->append("          ['").append(label).append("',").append(value).append("],").append(kCrLf);
  return true;
}

// Appends the rows of the lines of `text` (no "#" header) from `from` to `to`, both at the start
// of a line.
void AppendChartRows(Context& ctx, const std::string& text, size_t from, size_t to,
                     std::string* rows) {
  if (from >= to) return;
  ForEachLine(from == 0 && to == text.size() ? text : text.substr(from, to - from),
              [&](const std::string& line) {
                if (line.find('#') == std::string::npos) AppendChartRow(ctx, line, rows);
              });
}

// The script rows of a file's `text`. The rows of what the last page was drawn from are taken
// from ctx.chart_rows where `text` starts with it, so that only the lines added since are read;
// a line ends at its line feed, so the lines of that part are the same in the longer text. The
// part up to the last line feed is remembered for the next page.
std::string ChartRows(Context& ctx, const std::string& text) {
  tChartRowMemory& memory = ctx.chart_rows;
  const char separator = ctx.fmt().decimal_separator;
  std::string rows;
  size_t from = 0;
  if (memory.decimal_separator == separator && !memory.text.empty() &&
      text.compare(0, memory.text.size(), memory.text) == 0) {
    rows = memory.rows;
    from = memory.text.size();
  }
  const size_t last_feed = text.rfind('\n');
  const size_t complete = last_feed == std::string::npos ? 0 : last_feed + 1;
  AppendChartRows(ctx, text, from, complete, &rows);
  if (complete > from) {
    memory.decimal_separator = 0;  // stays unusable should a copy run out of memory
    memory.text.assign(text, 0, complete);
    memory.rows = rows;
    memory.decimal_separator = separator;
  }
  AppendChartRows(ctx, text, std::max(from, complete), text.size(), &rows);
  return rows;
}

// The failure path of the page: report, then the log entry that names the report.
void ReportPageFailure(Context& ctx, int32_t trace, const std::string& notes) noexcept {
  try {
    const tExceptionRec rec = ExceptionRecForCurrent(ctx, kChartFunction, trace);
    std::string report_file;
    SaveExceptionRecAsXML(ctx, rec, report_file);
    std::string message = rec.Message;
    for (size_t at = message.find(kCrLf); at != std::string::npos; at = message.find(kCrLf, at)) {
      message.replace(at, 2, " ");
    }
    tLogRec entry;
    entry.Code = kFailureSummaryCode;
    entry.Trace = trace;
    entry.Msg = Items()
                    .Add("Function", kChartFunction)
                    .Add("Version", ctx.settings.Version)
                    .Add("Classname", rec.ClassName)
                    .Add("Message", message)
                    .Add("Trace", trace)
                    .Add("Filename", report_file)
                    .Add("Notes", notes)
                    .str();
    std::string log_file;
    LogEntry(ctx, entry, log_file);
  } catch (...) {
    // Out of memory while reporting: the caller still gets the page built so far.
  }
}

// A temperature file as a page finds it: read once for all the pages drawn from it, and its
// rows turned into the script's rows once too (the day's three pages differ in name only).
struct CsvSource {
  std::string name;
  bool exists = false;
  bool read = false;
  std::string text;   // when read
  std::string error;  // when not
  // The script's rows of `text`, once the first page has made them all.
  mutable std::string rows;
  mutable bool rows_made = false;
};

CsvSource ReadCsvSource(Context& ctx, const std::string& csv_file) {
  CsvSource source;
  source.name = csv_file;
  source.exists = FileExists(ctx, csv_file);
  if (source.exists) source.read = ctx.env.files->ReadFile(csv_file, &source.text, &source.error);
  return source;
}

// The page for `csv` into `page`; true when it is complete. A failure is reported and
// leaves the page built so far.
bool BuildChartPage(Context& ctx, const CsvSource& csv, const tGoogleChart& chart,
                    std::string* out) {
  std::string& page = *out;
  std::string notes;
  int32_t trace = 100;
  try {
    trace = 300;
    tLogRec entry;
    entry.Code = 66065;
    entry.Trace = trace;
    entry.Msg = Items()
                    .Add("Function", kChartFunction)
                    .Add("Period", FloatToStr(chart.Period, ctx.fmt()))
                    .str();
    std::string log_file;
    LogEntry(ctx, entry, log_file);
    trace = 500;
    // Head and tail take about 2 kB; a row of the script about twice its line in the file.
    page.reserve(page.size() + 2048 + (csv.exists ? 2 * csv.text.size() : 0));
    AppendPageHead(ctx, chart, &page);
    trace = 600;
    notes = "kInputFile=" + csv.name;
    trace = 620;
    if (csv.exists) {
      trace = 630;
      if (!csv.read) throw Fault("EInOutError", csv.error);
      if (!csv.rows_made) {
        csv.rows = ChartRows(ctx, csv.text);
        csv.rows_made = true;
      }
      page += csv.rows;
      trace = 700;
    }
    trace = 800;
    page += PageTail(chart);
    return true;
  } catch (...) {
    ReportPageFailure(ctx, trace, notes);
    return false;
  }
}

// Replaces `html` with the page for `csv_file` only when the page is complete: a page that
// failed half-way (its file unreadable) would show the reader a chart cut off after its rows
// began, so the last complete page stays instead.
void WriteCompletePage(Context& ctx, const CsvSource& csv, const tGoogleChart& chart,
                       const std::string& html) {
  std::string page;
  if (BuildChartPage(ctx, csv, chart, &page)) WriteStringToFile(ctx, page, html, false);
}

}  // namespace

std::string GoogleChartTemp(Context& ctx, const std::string& csv_file, tGoogleChart chart) {
  std::string page;
  BuildChartPage(ctx, ReadCsvSource(ctx, csv_file), chart, &page);
  return page;
}

void SetDayChart(Context& ctx, tGoogleChart& chart) {
  const FormatSettings& fmt = ctx.fmt();
  const TDateTime now = ctx.env.clock->Now();
  chart.Title = FormatDateTime(fmt.short_date_format, now, fmt) + ": 24 hour UPS Temps at " +
                FormatDateTime(fmt.long_time_format, now, fmt);
  chart.HAxisTitle = "Time";
  chart.VAxisTitle = "Temp";
  chart.Refresh = 300;
}

void SetAnnualChart(Context& ctx, tGoogleChart& chart) {
  const FormatSettings& fmt = ctx.fmt();
  const TDateTime now = ctx.env.clock->Now();
  chart.Title = "Annual Temprature " + FormatDateTime(fmt.short_date_format, now - 1, fmt) +
                " at " + FormatDateTime(fmt.long_time_format, now, fmt);
  chart.HAxisTitle = "Date";
  chart.VAxisTitle = "Temp";
  chart.Refresh = 3600;
}

void WriteDayChartPages(Context& ctx, tGoogleChart chart, DayPageSet set,
                        const tKnownDayFile* known) {
  const int32_t trace = 100;
  Guarded(ctx, "APC.WriteDayChartPages", trace, [&] {
    SetDayChart(ctx, chart);
    const FormatSettings& fmt = ctx.fmt();
    // The pages differ in name only: the day's file is read once for all of them.
    const std::string dated = TempLogFileName(fmt, TempLog::kDated, ctx.env.clock->Now(), ".csv");
    CsvSource csv;
    if (known != nullptr && known->Name == dated) {
      csv.name = dated;
      csv.exists = csv.read = true;
      csv.text = known->Text;
    } else {
      csv = ReadCsvSource(ctx, dated);
    }
    std::vector<TempLog> pages = {TempLog::kDated, TempLog::kWeekday};
    if (set == DayPageSet::kAfterSample) pages.insert(pages.begin() + 1, TempLog::kToday);
    for (const TempLog page : pages) {
      const std::string html = TempLogFileName(fmt, page, ctx.env.clock->Now(), ".html");
      WriteCompletePage(ctx, csv, chart, html);
    }
  });
}

void WriteAnnualChartPage(Context& ctx, tGoogleChart chart) {
  const int32_t trace = 100;
  Guarded(ctx, "APC.WriteAnnualChartPage", trace, [&] {
    SetAnnualChart(ctx, chart);
    const TDateTime now = ctx.env.clock->Now();
    const std::string csv = TempLogFileName(ctx.fmt(), TempLog::kAnnual, now, ".csv");
    const std::string html = TempLogFileName(ctx.fmt(), TempLog::kAnnual, now, ".html");
    WriteCompletePage(ctx, ReadCsvSource(ctx, csv), chart, html);
  });
}

}  // namespace tw
