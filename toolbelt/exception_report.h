// Exception reports: the XML-like file that every caught failure leaves beside the executable,
// with a four-tone signal and a syslog announcement.
#ifndef TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_
#define TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_

#include <string>

#include "toolbelt/failure.h"
#include "toolbelt/settings.h"

namespace tw {

// How many reports about the report writer's own failures may nest below the report asked
// for. A failure that repeats on every attempt (a broken speaker, unreadable memory figures)
// thus leaves at most one extra report instead of recursing without end.
constexpr int kMaxNestedReports = 1;

// Writes the report for `rec` into ExePath, named after rec.FileName (or the default pattern
// "E!{selfname}-{timestamp}.xml"), replacing a file of that name; plays 200, 400, 800 and
// 1600 Hz for 50 ms each through ctx.env.speaker when rec.Beep is set (no speaker, no tones);
// then broadcasts the syslog announcement 5003. Sets `file_name` to the name written (no
// directory). Skipped entirely, with `file_name` empty, while settings.SelfName is empty.
// A failure of the writer itself is reported as "toolbelt.SaveExceptionRecAsXML" (within
// kMaxNestedReports) and `file_name` then holds the name reached so far. Never throws.
void SaveExceptionRecAsXML(Context& ctx, tExceptionRec rec, std::string& file_name);

// The report file name for a pattern: the first "{selfname}" replaced by SelfName, then the
// first "{timestamp}" by `now` as "yyyymmddhhnnsszzz"; an empty pattern means the default.
std::string ExceptionReportName(const Context& ctx, const std::string& pattern, TDateTime now);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_
