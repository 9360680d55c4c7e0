// The phone-home report: the UPS's state as a syslog message (code 72000) broadcast on every
// local network and sent to the collector host, and the request text it stands for in
// "Debug-apc.PhoneHome.txt". No HTTP request is made.
#ifndef TEMPWARDEN_UPS_PHONE_HOME_H_
#define TEMPWARDEN_UPS_PHONE_HOME_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"
#include "ups/apc.h"

namespace tw {

constexpr char kPhoneHomeDebugFile[] = "Debug-apc.PhoneHome.txt";
constexpr int32_t kPhoneHomeCode = 72000;

// The texts of one report. `server` is a host followed by a path ("host/path"); the host part
// runs up to its first "/", the path part from there on.
struct tPhoneHomeTexts {
  std::string HostPart;
  std::string Request;  // path + "?HostName=..." with every space written "%20"
  std::string Summary;  // "PhoneHome: HOST=\"...\", STATE=\"...\", TEMP=..., ..."
};
tPhoneHomeTexts PhoneHomeTexts(Context& ctx, const std::string& server, const tUPSAttributes& ups);

// Writes the debug file (host part + request), then posts the summary twice: broadcast, then
// to `collector_host` (the "PhoneHomeCollector" setting). A failure leaves the activity-log
// entry 30000 and no exception report. Never throws.
void PhoneHome(Context& ctx, const std::string& phone_home_server, const tUPSAttributes& ups,
               const std::string& collector_host);

// The message of that log entry: "[Function=apc.PhoneHome][ClassName=...][Message=...]
// [Trace=...][" + notes + "]", the message with its first CR LF removed.
std::string PhoneHomeFailureMsg(const std::string& class_name, const std::string& message,
                                int32_t trace, const std::string& notes);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_PHONE_HOME_H_
