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

// Writes the report for `rec` into ExePath, every value escaped ("&", "<", ">", '"', see
// XmlEscaped) and line breaks kept, named after rec.FileName (or the default pattern
// "E!{selfname}-{timestamp}.xml"); a second report in the same millisecond gets "-2" after its
// time stamp (then "-3"...), up to "-99", which is replaced. Of the reports with the same
// Function and Message only one an hour is written (measured on the clock's tick count): the
// others are held back entirely (no file, no tones, no announcement, `file_name` empty) and
// the next one written adds their number to its Count; plays 200, 400, 800 and
// 1600 Hz for 50 ms each through ctx.env.speaker when rec.Beep is set (no speaker, no tones);
// then broadcasts the syslog announcement 5003. Sets `file_name` to the name written (no
// directory). Skipped entirely, with `file_name` empty, while settings.SelfName is empty.
// A failure of the writer itself is reported as "toolbelt.SaveExceptionRecAsXML" (within
// kMaxNestedReports) and `file_name` then holds the name reached so far. Never throws.
void SaveExceptionRecAsXML(Context& ctx, tExceptionRec rec, std::string& file_name);

// Deletes from ExePath the reports whose time stamp lies before the last `days` dates (today
// included), under the names that ExceptionFileMask and the default pattern give; files
// that do not carry such a name are not this service's and stay. Days below 0 deletes
// nothing. Never throws; a failure is reported as "toolbelt.PurgeExceptionReports".
void PurgeExceptionReports(Context& ctx, int32_t days);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_
