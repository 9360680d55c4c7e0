// The syslog sender: one line of text per event, broadcast on every local network or sent to
// one named host, fire and forget.
#ifndef TEMPWARDEN_TOOLBELT_SYSLOG_H_
#define TEMPWARDEN_TOOLBELT_SYSLOG_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

struct tSyslogRec {
  int32_t Code = 0;  // event code: priority Code / 10000, ID the code itself
  std::string Msg;
  std::string Source;  // carried, not sent
  int32_t Extra = 0;   // carried, not sent
  int32_t Port = 0;    // 0 means 514; broadcasts always go to 514
};

// Sends the message; an empty `host` broadcasts it. Never throws, never reports.
void PostSyslogMsg(Context& ctx, tSyslogRec rec, const std::string& host);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SYSLOG_H_
