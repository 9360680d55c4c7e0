// The chart pages: a self-contained HTML page per temperature file that draws its rows as a
// line chart with the Google Charts library in the viewer's browser and reloads itself every
// `Refresh` seconds.
#ifndef TEMPWARDEN_UPS_CHART_H_
#define TEMPWARDEN_UPS_CHART_H_

#include <string>

#include "toolbelt/settings.h"
#include "ups/apc.h"

namespace tw {

constexpr char kChartLoaderUrl[] = "https://www.gstatic.com/charts/loader.js";

// The page for `csv_file` (a daily or an annual file; missing means a chart without rows).
// Header lines (those holding "#"), lines whose value column is no number and lines whose
// label could end the script's string (a quote, backslash, angle bracket or control
// character) are left out;
// values are written with "." whatever the regional decimal separator, so the page's script
// reads them. Field values of `chart` go in unescaped. Writes the activity-log entry 66065.
// A failure is reported ("APC.GoogleChartTemp", exception report and log entry 30000) and the
// page built so far is returned; an empty result means nothing worth writing. Never throws.
std::string GoogleChartTemp(Context& ctx, const std::string& csv_file, tGoogleChart chart);

// The day and annual settings of a page set, taken from the clock's current time; Period and
// EndPeriod stay as they are. Throw Fault("EConvertError") for an invalid clock reading.
void SetDayChart(Context& ctx, tGoogleChart& chart);
void SetAnnualChart(Context& ctx, tGoogleChart& chart);

enum class DayPageSet {
  kStartUp,      // the dated page, then the weekday page
  kAfterSample,  // the dated page, "APCUPSTempLog_Today.html", then the weekday page
};

// A daily file whose whole content the caller has in hand, having just read and appended to
// it.
struct tKnownDayFile {
  std::string Name;
  std::string Text;
};

// Draws the day pages of the current date from the dated daily file with the day settings,
// each by its own GoogleChartTemp call, each replacing its file as a whole. A page whose
// drawing failed is not written: the previous page stays. The file is read once for all the
// pages, or not at all when `known` (may be null) is that file. Never throws.
void WriteDayChartPages(Context& ctx, tGoogleChart chart, DayPageSet set,
                        const tKnownDayFile* known = nullptr);

// Draws "APCUPSTempLog_" + yyyy + ".html" from the annual file of the current year with the
// annual settings, under the same rule as the day pages. Never throws.
void WriteAnnualChartPage(Context& ctx, tGoogleChart chart);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_CHART_H_
