// History rows that could not be appended because another program holds the file (a
// spreadsheet that opened the CSV locks it on Windows). They are kept in ctx.faults and
// written in front of the next row that reaches the file, so the lock costs no row, up to
// one day of rows.
#ifndef TEMPWARDEN_UPS_KEPT_ROWS_H_
#define TEMPWARDEN_UPS_KEPT_ROWS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

// One day of five-minute rows, and one day on the tick count: a row older than that, or
// beyond that number, is dropped, oldest first.
constexpr size_t kMaxKeptRows = 288;
constexpr uint32_t kMaxKeptRowAgeMs = 24u * kOneHourMs;

// The activity-log code of "a row was kept" (level 4, warning).
constexpr int32_t kKeptRowCode = 40300;

// Appends `row` to `file` (created when missing) after the rows kept for it, in one write.
// When that write fails, `row` is kept too, and the activity log hears of it once per file
// per hour (code kKeptRowCode, with the number of rows kept). Rows kept for other files get
// another try as well, so that yesterday's daily file receives its rows when it is free.
// Returns kWriteOk or kWriteFailed; on success `written` (may be null) receives what reached
// `file`: its kept rows and `row`. Never throws.
int32_t AppendRowKeeping(Context& ctx, const std::string& row, const std::string& file,
                         std::string* written = nullptr);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_KEPT_ROWS_H_
