// The activity log: one CSV file per day in the working directory, one line per entry.
//
// A line holds five comma-separated fields and ends in CR LF:
//   14:03:07.123,"[14:03:07.123]","RAZ-IVED  ",50100,"[Function=...]"
// the time of day, the time again a moment later in brackets, the tag padded or cut to ten
// characters, the code with at least five digits and the message with every double quote
// turned into a single quote. The first entry of a new day purges old dated logs and writes a
// "New day" entry (69990) before itself.
#ifndef TEMPWARDEN_TOOLBELT_ACTIVITY_LOG_H_
#define TEMPWARDEN_TOOLBELT_ACTIVITY_LOG_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

// An entry request. `Code` is a five-digit event code whose first digit is its level on the
// syslog severity scale; `Trace` is the caller's trace stage (not written).
struct tLogRec {
  int32_t Code = 0;
  int32_t Trace = 0;
  std::string Msg;
};

// The result of one purge run.
struct tRC {
  int32_t Code = 0;
  std::string Msg;
  int32_t Count = 0;  // files the run tried to delete
};

constexpr int32_t kNewDayCode = 69990;

// How long an entry waits for the write lock (Log.Busy) before it is dropped, and the pause
// between two looks; measured on ctx.env.clock.
constexpr uint32_t kLogLockWaitMs = 3000;
constexpr uint32_t kLogLockPollMs = 100;

// Appends the entry to the day's file unless its level is above Log.DebugLevel, and sets
// `file_name` to that file's name when the entry passes the filter. The first call on a new
// day (with Log.PurgeDays above 0) purges the dated logs first and writes the New-day entry.
// The day change purges the exception reports of the same window too.
// The entry is on disk when this returns unless it was filtered, the file could not be
// written or the lock stayed busy. An entry that cannot be written is told to the system log
// (ctx.env.system_log, when set) at most once an hour, with the count of those lost. Never throws;
// a failure is reported as "toolbelt.LogEntry".
void LogEntry(Context& ctx, tLogRec rec, std::string& file_name);

// Deletes, in the working directory, every file named prefix + "yyyymmdd" + "." + extension
// (letter case ignored, a valid date) whose date is not one of the last `days` dates (today
// included). Other names of the family ("APC-notes.csv") are not the log's and stay. Days 0
// deletes every dated file of the family; below 0 nothing. Never throws; a failure is
// reported as "toolbelt.PurgeYYYYMMDDFiles" and what was deleted stays deleted.
void PurgeYYYYMMDDFiles(Context& ctx, const std::string& prefix, const std::string& extension,
                        int32_t days, tRC& rc);

// The families the daily purge looks after: the activity logs only. Report spreadsheets
// ("Report*xls") are not this service's files; purging them would delete a user's files that
// merely share the prefix.
constexpr char kLogPurgePrefix[] = "APC-";
constexpr char kLogPurgeExtension[] = "csv";

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_ACTIVITY_LOG_H_
