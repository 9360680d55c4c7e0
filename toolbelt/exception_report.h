// Exception reports: the XML-like file that every caught failure leaves beside the executable.
#ifndef TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_
#define TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_

#include <string>

#include "toolbelt/failure.h"
#include "toolbelt/settings.h"

namespace tw {

// Writes the report for `rec` into ExePath, named after rec.FileName (or the default pattern
// "E!{selfname}-{timestamp}.xml"), and sets `file_name` to the name written (no directory).
// Skipped entirely, with `file_name` empty, while settings.SelfName is empty. Never throws.
void SaveExceptionRecAsXML(Context& ctx, tExceptionRec rec, std::string& file_name);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_EXCEPTION_REPORT_H_
