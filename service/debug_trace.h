// The monitoring cycle's trace: the stage it has reached, kept in the Trace of one activity-log
// record for the run, the debug trace file that shows the stages, and the activity-log entries
// written with that record. The schedule and the alerts share the record, so that a failure
// report names the stage that either of them reached last.
#ifndef TEMPWARDEN_SERVICE_DEBUG_TRACE_H_
#define TEMPWARDEN_SERVICE_DEBUG_TRACE_H_

#include <cstdint>
#include <string>

#include "toolbelt/activity_log.h"
#include "toolbelt/settings.h"

namespace tw {

constexpr char kTraceName[] = "TVOZIvazure.ServiceExecute";
constexpr char kDebugTraceFile[] = "D!Tempwarden.TXT";

// Appends (or, with `replace`, replaces the file by) a debug trace line: the date-time text of
// now, then `tail`, then CR LF.
void DebugTraceLine(Context& ctx, const std::string& tail, bool replace = false);

// Sets rec.Trace to `stage` and writes the line " Function=" kTraceName " LogRec.Trace=" stage.
void DebugTraceStage(Context& ctx, tLogRec& rec, int32_t stage, bool replace = false);

// Writes the activity-log entry `code` with `msg` through `rec` (its Trace stays as it is).
void LogThrough(Context& ctx, tLogRec& rec, int32_t code, const std::string& msg);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_DEBUG_TRACE_H_
