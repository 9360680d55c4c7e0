#include "toolbelt/failure.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "toolbelt/activity_log.h"
#include "toolbelt/exception_report.h"
#include "toolbelt/field_text.h"
#include "toolbelt/items.h"

namespace tw {

std::string ClassNameOf(const std::exception& e) {
  if (const auto* fault = dynamic_cast<const Fault*>(&e)) return fault->class_name();
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

tExceptionRec ExceptionRecForCurrent(const Context& ctx, const std::string& function, int32_t trace,
                                     const std::string& notes) {
  tExceptionRec rec;
  rec.Function = function;
  rec.Trace = trace;
  rec.Notes = notes;
  rec.Beep = true;
  rec.FileName = ctx.settings.ExceptionFileMask;
  try {
    throw;
  } catch (const std::exception& e) {
    rec.ClassName = ClassNameOf(e);
    rec.Message = e.what();
  } catch (...) {
    rec.ClassName = "Exception";
    rec.Message = "Unknown exception";
  }
  return rec;
}

tExceptionRec ReportCurrentException(Context& ctx, const std::string& function, int32_t trace,
                                     const std::string& notes) noexcept {
  tExceptionRec rec;
  try {
    rec = ExceptionRecForCurrent(ctx, function, trace, notes);
    std::string file_name;
    SaveExceptionRecAsXML(ctx, rec, file_name);
    ctx.faults.last_report = file_name;
  } catch (...) {
    // Out of memory while reporting: nothing more can be done without risking the caller.
  }
  return rec;
}

std::string FailureSummary(const tExceptionRec& rec) {
  std::string message = rec.Message;
  const size_t crlf = message.find("\r\n");
  if (crlf != std::string::npos) message.erase(crlf, 2);
  return Items()
      .Add("Function", rec.Function)
      .Add("ClassName", rec.ClassName)
      .Add("Message", LogFieldText(message))
      .Add("Trace", rec.Trace)
      .Add("FileName", rec.FileName)
      .Add("Notes", rec.Notes)
      .str();
}

tExceptionRec ReportAndLogCurrentException(Context& ctx, const std::string& function, int32_t trace,
                                           const std::string& notes) noexcept {
  tExceptionRec rec = ReportCurrentException(ctx, function, trace, notes);
  try {
    tLogRec entry;
    entry.Code = kFailureSummaryCode;
    entry.Trace = trace;
    entry.Msg = FailureSummary(rec);
    std::string log_file;
    LogEntry(ctx, entry, log_file);
  } catch (...) {
    // Out of memory while building the summary: the report above is all there is.
  }
  return rec;
}

}  // namespace tw
