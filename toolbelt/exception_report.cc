#include "toolbelt/exception_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "platform/speaker.h"
#include "toolbelt/datetime.h"
#include "toolbelt/field_text.h"
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

// Values are escaped: messages and notes quote agents, relays and files, and such a text must
// not close its element or add one of its own.
std::string Element(const std::string& tag, const std::string& value) {
  return "<" + tag + ">" + XmlEscaped(value) + "</" + tag + ">" + kCrLf;
}

void SaveReport(Context& ctx, const tExceptionRec& rec, std::string& file_name, int depth);

constexpr char kTimestampField[] = "{timestamp}";
constexpr size_t kTimestampDigits = 17;  // "yyyymmddhhnnsszzz"
// A report's name, the time stamp followed by "-" and `serial` from the second on.
std::string ReportName(const Context& ctx, const std::string& pattern, TDateTime now, int serial) {
  std::string name = pattern.empty() ? std::string(kDefaultPattern) : pattern;
  ReplaceFirst(name, "{selfname}", ctx.settings.SelfName);
  if (name.find(kTimestampField) != std::string::npos) {
    std::string stamp = FormatDateTime("yyyymmddhhnnsszzz", now, ctx.fmt());
    if (serial > 1) stamp += "-" + std::to_string(serial);
    ReplaceFirst(name, kTimestampField, stamp);
  }
  return name;
}

// Two reports in one millisecond would get the same name and the second would replace the
// first; it gets "-2" after its time stamp instead (then "-3", and so on). A pattern without
// a time stamp names one file that every report replaces, as its author chose.
constexpr int kMaxSerial = 99;
std::string UnusedReportName(Context& ctx, const std::string& pattern, TDateTime now) {
  std::string name = ReportName(ctx, pattern, now, 1);
  const std::string& effective = pattern.empty() ? std::string(kDefaultPattern) : pattern;
  if (effective.find(kTimestampField) == std::string::npos) return name;
  for (int serial = 2; serial <= kMaxSerial; ++serial) {
    if (!ctx.env.files->IsPlainFile(ctx.settings.ExePath + name)) break;
    name = ReportName(ctx, pattern, now, serial);
  }
  return name;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

bool SameLetters(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The day number of a report name made from `head` + time stamp (+ "-" serial) + `tail`;
// false for any other name, which is no report of this service.
bool ReportDay(const std::string& name, const std::string& head, const std::string& tail,
               int64_t* day) {
  if (name.size() < head.size() + kTimestampDigits + tail.size() ||
      !SameLetters(name.substr(0, head.size()), head) ||
      !SameLetters(name.substr(name.size() - tail.size()), tail)) {
    return false;
  }
  const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
  const std::string stamp = middle.substr(0, kTimestampDigits);
  const std::string serial = middle.substr(kTimestampDigits);
  if (!AllDigits(stamp) ||
      (!serial.empty() && (serial[0] != '-' || !AllDigits(serial.substr(1))))) {
    return false;
  }
  CalendarTime t;
  t.year = std::stoi(stamp.substr(0, 4));
  t.month = std::stoi(stamp.substr(4, 2));
  t.day = std::stoi(stamp.substr(6, 2));
  TDateTime value = 0;
  if (!IsValidCalendarTime(t) || !EncodeDateTime(t, &value)) return false;
  *day = static_cast<int64_t>(std::floor(value));
  return true;
}

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
    // A fault met on every pass (an unresolvable host) would leave a report every time:
    // one an hour per function and message, the next one counting those held back.
    int32_t held_back = 0;
    if (!ctx.faults.reports.Admit(rec.Function + "\n" + rec.Message, ctx.env.clock->TickCount(),
                                  &held_back)) {
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
    doc += Element("Count", std::to_string(static_cast<int64_t>(rec.Count) + held_back));
    doc += std::string("</Exception>") + kCrLf;
    doc += std::string("</xml>") + kCrLf;

    trace = 380;
    name = UnusedReportName(ctx, rec.FileName, ctx.env.clock->Now());
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

void PurgeExceptionReports(Context& ctx, int32_t days) {
  int32_t trace = 100;
  Guarded(ctx, "toolbelt.PurgeExceptionReports", trace, [&] {
    const tGlobalSettings& s = ctx.settings;
    if (days < 0 || s.SelfName.empty()) return;
    const int64_t today = static_cast<int64_t>(std::floor(ctx.env.clock->Now()));
    std::vector<std::string> patterns = {s.ExceptionFileMask, kDefaultPattern};
    if (patterns[0].empty() || SameLetters(patterns[0], patterns[1])) patterns.pop_back();
    for (std::string pattern : patterns) {
      if (pattern.empty()) pattern = kDefaultPattern;
      ReplaceFirst(pattern, "{selfname}", s.SelfName);
      const size_t at = pattern.find(kTimestampField);
      if (at == std::string::npos) continue;
      const std::string head = pattern.substr(0, at);
      const std::string tail = pattern.substr(at + sizeof kTimestampField - 1);
      trace = 200;
      for (const std::string& name : ctx.env.files->FindFiles(s.ExePath + head + "*" + tail)) {
        int64_t day = 0;
        if (!ReportDay(name, head, tail, &day)) continue;
        if (day > today - days && day <= today) continue;
        trace = 300;
        ctx.env.files->RemoveFile(s.ExePath + name);  // one that will not go is left for tomorrow
      }
    }
  });
}

void SaveExceptionRecAsXML(Context& ctx, tExceptionRec rec, std::string& file_name) {
  SaveReport(ctx, rec, file_name, 0);
}

}  // namespace tw
