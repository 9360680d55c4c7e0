#include "ups/phone_home.h"

#include "toolbelt/activity_log.h"
#include "toolbelt/failure.h"
#include "toolbelt/field_text.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
#include "toolbelt/items.h"
#include "toolbelt/numbers.h"
#include "toolbelt/syslog.h"

namespace tw {
namespace {

void ReplaceSpaces(std::string* text) {
  for (size_t at = text->find(' '); at != std::string::npos; at = text->find(' ', at + 3)) {
    text->replace(at, 1, "%20");
  }
}

}  // namespace

tPhoneHomeTexts PhoneHomeTexts(Context& ctx, const std::string& server, const tUPSAttributes& ups) {
  const FormatSettings& fmt = ctx.fmt();
  tPhoneHomeTexts texts;
  const size_t slash = server.find('/');
  texts.HostPart = server.substr(0, slash);
  const std::string path = slash == std::string::npos ? std::string() : server.substr(slash);
  const std::string temp = FloatToStr(ups.InternalTemp, fmt);
  texts.Request = path + "?HostName=" + GetHostName(ctx) + "&UPSHostName=" + ups.HostName +
                  "&UPSState=" + ups.UPSState + "&UPSTemp=" + temp + "&Temp=" + temp +
                  "&PollPeriod=" + std::to_string(ups.PollPeriod) +
                  "&Version=" + ctx.settings.Version;
  ReplaceSpaces(&texts.Request);
  texts.Summary = "PhoneHome: HOST=\"" + ups.HostName + "\", STATE=\"" + ups.UPSState +
                  "\", TEMP=" + temp + ", MAX TEMP=" + FloatToStr(ups.MaxTemp, fmt) +
                  ", InputVoltage=" + FloatToStr(ups.InputVoltage, fmt);
  return texts;
}

std::string PhoneHomeFailureMsg(const std::string& class_name, const std::string& message,
                                int32_t trace, const std::string& notes) {
  std::string text = message;
  const size_t crlf = text.find("\r\n");
  if (crlf != std::string::npos) text.erase(crlf, 2);
  return Items()
      .Add("Function", "apc.PhoneHome")
      .Add("ClassName", class_name)
      .Add("Message", LogFieldText(text))
      .Add("Trace", trace)
      .Append("[" + notes + "]")  // the notes carry their own key
      .str();
}

void PhoneHome(Context& ctx, const std::string& phone_home_server, const tUPSAttributes& ups,
               const std::string& collector_host) {
  int32_t trace = 100;
  std::string notes;
  try {
    trace = 120;
    const tPhoneHomeTexts texts = PhoneHomeTexts(ctx, phone_home_server, ups);
    trace = 130;
    WriteStringToFile(ctx, texts.HostPart + texts.Request, kPhoneHomeDebugFile, false);
    trace = 140;
    notes = "Host=" + texts.HostPart + ",sRequest=" + texts.Request;
    trace = 200;
    tSyslogRec rec;
    rec.Code = kPhoneHomeCode;
    rec.Msg = texts.Summary;
    rec.Source = "apc.PhoneHome";
    rec.Extra = 0;
    rec.Port = kSyslogPort;
    trace = 240;
    PostSyslogMsg(ctx, rec, "");
    PostSyslogMsg(ctx, rec, collector_host);
  } catch (...) {
    try {
      const tExceptionRec failure = ExceptionRecForCurrent(ctx, "apc.PhoneHome", trace);
      tLogRec entry;
      entry.Code = kFailureSummaryCode;
      entry.Trace = trace;
      entry.Msg = PhoneHomeFailureMsg(failure.ClassName, failure.Message, trace, notes);
      std::string log_file;
      LogEntry(ctx, entry, log_file);
    } catch (...) {
      // Out of memory while logging: the caller carries on without the entry.
    }
  }
}

}  // namespace tw
