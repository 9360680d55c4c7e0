// The activity log: one CSV file per day in the working directory, one line per entry.
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

// Appends the entry to the day's file unless its level is above Log.DebugLevel, and sets
// `file_name` to that file's name when the entry passes the filter. Never throws.
void LogEntry(Context& ctx, tLogRec rec, std::string& file_name);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_ACTIVITY_LOG_H_
