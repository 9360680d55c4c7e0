// Names and line formats of the temperature history files and the pages drawn from them.
//
// The day has 288 five-minute points. Every CSV line ends with CR LF. A sample row is
// "point,time,temperature" (157,13:10,27); an annual row "day of year,day/month,average"
// (45,14/2,26.9). With a comma decimal separator the temperature itself holds a comma
// (157,13:10,27,5), so the value of a row is everything after its second comma.
#ifndef TEMPWARDEN_UPS_TEMP_LOG_H_
#define TEMPWARDEN_UPS_TEMP_LOG_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/calendar.h"
#include "platform/regional.h"

namespace tw {

constexpr int32_t kPointsPerDay = 288;

constexpr char kDayHeader[] = "\"#\",\"TIME\",\"TEMP\"\r\n";
constexpr char kAnnualHeader[] = "\"#\",\"DATE\",\"AVG TEMP\"\r\n";
constexpr char kLatestTempFile[] = "UPS-Temp.txt";
constexpr char kAnnualDiagFile[] = "AppendToAnnualFile.TXT";

// The history files of one moment: "APCUPSTempLog_" + yyyymmdd, ddd (the regional short day
// name), "Today" or yyyy, + the extension (".csv" or ".html").
enum class TempLog { kDated, kWeekday, kToday, kAnnual };

// Throws Fault("EConvertError") for a date-time that is no valid date.
std::string TempLogFileName(const FormatSettings& fmt, TempLog which, TDateTime when,
                            const std::string& extension);

// The five-minute point of the day, 0 (00:00:00 to 00:04:59) to 287, of the time rounded to
// the millisecond as every date text is, so that point and file date never disagree.
// -1 for a date-time that is no valid date.
int32_t TempLogPoint(TDateTime when);

// "hh:nn" (regional time separator) of the five-minute mark nearest to `now`: 13:07:40 is
// 13:10, 23:58 is 00:00. Throws Fault("EConvertError") for an invalid date-time.
std::string SampleTimeText(const FormatSettings& fmt, TDateTime now);

// point + "," + SampleTimeText + "," + the temperature in the general number form + CR LF.
std::string SampleRow(const FormatSettings& fmt, int32_t point, TDateTime now, double temperature);

// Calls `line` for every line of `text` without its line end; a line ends at CR LF, LF or
// CR, and a final line without an end counts too.
void ForEachLine(const std::string& text, const std::function<void(const std::string&)>& line);

// The label and value columns of a row: what lies between its first and second comma, and
// everything after the second comma. False when the row has fewer than two commas.
bool SplitRow(const std::string& row, std::string* label, std::string* value);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_TEMP_LOG_H_
