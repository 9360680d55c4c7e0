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

constexpr int32_t kSyslogPort = 514;
constexpr int32_t kUdpSendFailed = -2;

// Advances settings.SyslogSequence (32767 wraps to 0) and sends the message; an empty `host`
// broadcasts it to port 514, otherwise it goes to `host` at rec.Port (0: 514). Never throws,
// never reports: a report would itself announce itself through here.
void PostSyslogMsg(Context& ctx, tSyslogRec rec, const std::string& host);

// The datagram's text for `rec` with the current sequence number:
// "<" priority ">" SelfName ":" sequence " " Msg " H=\"" HostName "\" (ID=" code ")",
// no line end.
std::string SyslogPayload(const Context& ctx, const tSyslogRec& rec);

// Sends `payload` to 255.255.255.255 at `port` once through every local IPv4 address, each
// from a socket bound to that address with the broadcast option set. Returns 0 when done (also
// when there was nothing to do: port 0 or less, no address), -2 after a failure, which ends the
// round. Writes no report.
int32_t BroadcastUDPPacket(Context& ctx, const std::string& payload, int32_t port);

// Sends `payload` once to `host` (a name or dotted address; empty means 255.255.255.255) at
// `port`. Returns 0 when sent, -2 when not: a port outside 1..65535, a name that does not
// resolve, a refused send. A failure is reported as "toolbelt.UniticastUDPPacket" unless its
// message holds "10051" (network unreachable).
int32_t UniticastUDPPacket(Context& ctx, const std::string& payload, const std::string& host,
                           int32_t port);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SYSLOG_H_
