#include "toolbelt/exception_report.h"

#include "platform/speaker.h"
#include "toolbelt/datetime.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
#include "toolbelt/numbers.h"
#include "toolbelt/syslog.h"

namespace tw {
namespace {

constexpr char kDefaultPattern[] = "E!{selfname}-{timestamp}.xml";
constexpr char kCrLf[] = "\r\n";
constexpr uint32_t kToneMs = 50;
constexpr uint32_t kTonesHz[] = {200, 400, 800, 1600};
constexpr int32_t kAnnouncementCode = 5003;

void ReplaceFirst(std::string& text, const std::string& what, const std::string& with) {
  const size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
}

std::string Element(const std::string& tag, const std::string& value) {
  return "<" + tag + ">" + value + "</" + tag + ">" + kCrLf;
}

void SaveReport(Context& ctx, const tExceptionRec& rec, std::string& file_name, int depth);

// A failure inside the writer is reported like any other, one level deeper; past the bound
// it is dropped so that a failure repeating on every attempt cannot recurse without end.
void ReportNested(Context& ctx, const std::string& function, int32_t trace, int depth) {
  if (depth >= kMaxNestedReports) return;
  try {
    const tExceptionRec nested = ExceptionRecForCurrent(ctx, function, trace);
    std::string ignored;
    SaveReport(ctx, nested, ignored, depth + 1);
  } catch (...) {
  }
}

// The figures for the report. They are read here without the usual self-report of the host
// facts, whose report would call this writer again; their failures go through ReportNested.
void TakeHostFigures(Context& ctx, tMemoryStatusRec& memory, tMachineUpTime& up, int depth) {
  try {
    ReadMemoryStatus(ctx, memory);
  } catch (...) {
    memory.Valid = false;
    ReportNested(ctx, "toolbelt.GetMemoryStatus", 100, depth);
  }
  try {
    ReadMachineUpTime(ctx, up);
  } catch (...) {
    ReportNested(ctx, "toolbelt.MachineUpTime", 0, depth);
  }
}

void SaveReport(Context& ctx, const tExceptionRec& rec, std::string& file_name, int depth) {
  int32_t trace = 100;
  std::string name;
  try {
    const tGlobalSettings& s = ctx.settings;
    if (s.SelfName.empty()) {
      file_name.clear();
      return;
    }
    const FormatSettings& fmt = ctx.fmt();
    tMemoryStatusRec memory;
    tMachineUpTime up;
    TakeHostFigures(ctx, memory, up, depth);

    std::string doc = std::string("<xml>") + kCrLf;
    trace = 230;
    doc += std::string("<Exception>") + kCrLf;
    trace = 300;
    doc +=
        Element("DateTime", FormatDateTime("YYYY-MM-DD HH:NN:SS.ZZZ", ctx.env.clock->Now(), fmt));
    trace = 305;
    doc += Element("MachineUpTime", up.UpTimeText);
    doc += Element(
        "UsedMemory",
        FormatGrouped(100.0 - memory.AvailVirtualPct, 2, fmt) + "% (" +
            FormatGrouped(static_cast<double>(memory.TotalVirtual - memory.AvailVirtual), 0, fmt) +
            ") ");
    trace = 310;
    doc += Element("SelfName", s.SelfName);
    trace = 315;
    doc += Element("Version", s.Version);
    trace = 320;
    doc += Element("Function", rec.Function + ":" + std::to_string(rec.Trace));
    doc += Element("Trace", std::to_string(rec.Trace));
    trace = 325;
    doc += Element("CallingFunction", rec.CallingFunction);
    trace = 330;
    doc += Element("HostName", s.HostName);
    trace = 340;
    doc += Element("ClassName", rec.ClassName);
    trace = 350;
    doc += Element("e.Message", rec.Message);
    trace = 360;
    doc += Element("SQL", rec.SQL);
    trace = 370;
    doc += Element("Notes", rec.Notes);
    doc += Element("Count", std::to_string(rec.Count));
    doc += std::string("</Exception>") + kCrLf;
    doc += std::string("</xml>") + kCrLf;

    trace = 380;
    name = ExceptionReportName(ctx, rec.FileName, ctx.env.clock->Now());
    trace = 420;
    // An unwritable report cannot be reported anywhere else; the signal and the announcement
    // still tell that something failed.
    WriteStringToFile(ctx, doc, s.ExePath + name, false);
    trace = 460;
    if (rec.Beep && ctx.env.speaker != nullptr) {
      for (const uint32_t hz : kTonesHz) ctx.env.speaker->Beep(hz, kToneMs);
    }
    trace = 480;
    tSyslogRec announcement;
    announcement.Code = kAnnouncementCode;
    announcement.Msg = "EXCEPTION:Func=" + rec.Function + " Trace=" + std::to_string(rec.Trace) +
                       " File=\"" + name + "\" SelfName" + s.SelfName + " Version=" + s.Version;
    announcement.Source = rec.Function;
    announcement.Port = 0;
    PostSyslogMsg(ctx, announcement, "");
    file_name = name;
  } catch (...) {
    ReportNested(ctx, "toolbelt.SaveExceptionRecAsXML", trace, depth);
    try {
      file_name = name;
    } catch (...) {
    }
  }
}

}  // namespace

std::string ExceptionReportName(const Context& ctx, const std::string& pattern, TDateTime now) {
  std::string name = pattern.empty() ? std::string(kDefaultPattern) : pattern;
  ReplaceFirst(name, "{selfname}", ctx.settings.SelfName);
  if (name.find("{timestamp}") != std::string::npos) {
    ReplaceFirst(name, "{timestamp}", FormatDateTime("yyyymmddhhnnsszzz", now, ctx.fmt()));
  }
  return name;
}

void SaveExceptionRecAsXML(Context& ctx, tExceptionRec rec, std::string& file_name) {
  SaveReport(ctx, rec, file_name, 0);
}

}  // namespace tw
