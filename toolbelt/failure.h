// The failure convention: no operation lets a failure escape. Each catches what goes wrong at
// its outermost level, fills a tExceptionRec and hands it to SaveExceptionRecAsXML, then
// returns normally with whatever its results held at that moment.
#ifndef TEMPWARDEN_TOOLBELT_FAILURE_H_
#define TEMPWARDEN_TOOLBELT_FAILURE_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

struct tExceptionRec {
  std::string Function;   // trace name, e.g. "toolbelt.LogEntry"
  std::string ClassName;  // class of the caught exception
  std::string Message;
  int32_t Trace = 0;  // the function's trace stage when it failed
  std::string SQL;
  std::string CallingFunction;
  std::string Notes;
  std::string FileName;  // report file pattern; empty means the default
  bool Beep = false;
  int32_t Count = 0;
};

// A failure raised by the service's own code, carrying the class name its reports show
// (for example "EConvertError" or "ESocketError") and, for a socket failure, the Windows
// socket error number, so that callers decide on the number and not on the message text
// (which may quote a peer's words).
class Fault : public std::runtime_error {
 public:
  Fault(std::string class_name, const std::string& message, int socket_error = 0)
      : std::runtime_error(message),
        class_name_(std::move(class_name)),
        socket_error_(socket_error) {}
  const std::string& class_name() const { return class_name_; }
  // 0 when the failure is no socket error.
  int socket_error() const { return socket_error_; }

 private:
  std::string class_name_;
  int socket_error_;
};

// The class name a report shows for `e`: a Fault's own, otherwise the demangled type name.
std::string ClassNameOf(const std::exception& e);

// The record the convention fills for the exception being handled (call only inside a catch
// block): Function, class name, message, stage, notes, ExceptionFileMask, beep set. Never throws
// unless memory runs out.
tExceptionRec ExceptionRecForCurrent(const Context& ctx, const std::string& function, int32_t trace,
                                     const std::string& notes = std::string());

// Writes the report for the exception being handled (call only inside a catch block) under
// the convention: Function, class name, message, stage, ExceptionFileMask, beep set.
// Returns the record it reported. Never throws.
tExceptionRec ReportCurrentException(Context& ctx, const std::string& function, int32_t trace,
                                     const std::string& notes = std::string()) noexcept;

// The one-line failure summary of the activity log: "[Function=...][ClassName=...]
// [Message=...][Trace=...][FileName=...][Notes=...]" (without the line breaks), the message
// with its first CR LF removed and then cleaned as LogFieldText does (it may quote a peer).
std::string FailureSummary(const tExceptionRec& rec);

// The event code of failure summaries in the activity log.
constexpr int32_t kFailureSummaryCode = 30000;

// As ReportCurrentException, then writes the record's FailureSummary to the activity log
// with code 30000: the convention of the service shell, the monitoring cycle, the chart page
// and the phone-home report. Never throws.
tExceptionRec ReportAndLogCurrentException(Context& ctx, const std::string& function, int32_t trace,
                                           const std::string& notes = std::string()) noexcept;

// Runs `body` under the convention: any exception it raises is reported as `function` at the
// stage `trace` holds when it is caught. Returns true when the body completed.
template <typename Body>
bool Guarded(Context& ctx, const char* function, const int32_t& trace, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    ReportCurrentException(ctx, function, trace);
    return false;
  }
}

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_FAILURE_H_
