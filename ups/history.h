// The temperature history: one sample per five-minute point appended to the dated daily
// file, "APCUPSTempLog_Today.csv" and the weekday file, the latest reading in "UPS-Temp.txt",
// and at the first sample of a date (its daily file missing or without a sample row) the
// roll-over: the previous day's average into the annual file (once), fresh headers for the
// daily and weekday files and a new annual page.
//
// Files are written only through WriteStringToFile, each opened and closed within one write;
// a write that fails is not examined and the remaining writes still happen.
#ifndef TEMPWARDEN_UPS_HISTORY_H_
#define TEMPWARDEN_UPS_HISTORY_H_

#include <cstdint>
#include <functional>

#include "toolbelt/settings.h"
#include "ups/apc.h"
#include "ups/chart.h"

namespace tw {

// True when the daily file of `now`'s date already holds a row for `now`'s five-minute point:
// a restart within the point, or a wall clock set back, must not write that point twice.
// An unreadable or missing file holds none. `read` (may be null) receives the file as read, or
// an empty name. Never throws.
bool PointRecorded(Context& ctx, TDateTime now, tKnownDayFile* read = nullptr);

// Records `temperature` at the clock's current time: replaces "UPS-Temp.txt", calls
// `after_temp_file` (may be empty), works out the point, rolls the day over at the first
// sample of the date,
// appends the sample row to the daily, Today and weekday files and redraws the day pages.
// `read_before` (may be null) is the daily file as PointRecorded read it in the same pass;
// when it is the file of the date, it is not read again.
// Returns the point, or -1 when a failure (reported as "APC.RecordTemperatureSample") came
// before it was worked out. Never throws.
int32_t RecordTemperature(Context& ctx, double temperature, tGoogleChart chart,
                          const std::function<void()>& after_temp_file,
                          const tKnownDayFile* read_before = nullptr);

// Appends the average of the daily file of `day` to the annual file of the current year
// (created with its header when missing) unless that file has a row for `day` already, and
// leaves the diagnostic lines of this run in
// "AppendToAnnualFile.TXT". Only lines whose value is a number count, so the day header is no
// sample. A missing daily file gives no row; a file without any sample, or one that cannot be
// read, gives no row and an exception report "APC.AppendToAnnualFile". Never throws.
void AppendToAnnualFile(Context& ctx, TDateTime day);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_HISTORY_H_
