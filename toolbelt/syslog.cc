#include "toolbelt/syslog.h"

#include <memory>

#include "platform/network.h"
#include "toolbelt/exception_report.h"
#include "toolbelt/failure.h"
#include "toolbelt/numbers.h"

namespace tw {
namespace {

constexpr char kLimitedBroadcast[] = "255.255.255.255";
constexpr int16_t kLastSequence = 32767;
constexpr char kSocketErrorClass[] = "EIdSocketError";
constexpr char kNetUnreachableText[] = "10051";

[[noreturn]] void ThrowNetError(const NetError& error) {
  throw Fault(kSocketErrorClass, error.message);
}

Network& NetworkOf(Context& ctx) {
  if (ctx.env.network == nullptr) ThrowNetError(MakeNetError(10050));  // network is down
  return *ctx.env.network;
}

std::unique_ptr<UdpSocket> OpenUdpOrThrow(Network& net) {
  NetError error;
  std::unique_ptr<UdpSocket> socket = net.OpenUdp(&error);
  if (!socket) ThrowNetError(error);
  return socket;
}

}  // namespace

std::string SyslogPayload(const Context& ctx, const tSyslogRec& rec) {
  const tGlobalSettings& s = ctx.settings;
  return "<" + std::to_string(rec.Code / 10000) + ">" + s.SelfName + ":" +
         ZeroPadded(s.SyslogSequence, 5) + " " + rec.Msg + " H=\"" + s.HostName +
         "\" (ID=" + ZeroPadded(rec.Code, 5) + ")";
}

void PostSyslogMsg(Context& ctx, tSyslogRec rec, const std::string& host) {
  int16_t& sequence = ctx.settings.SyslogSequence;
  sequence = sequence >= kLastSequence ? 0 : static_cast<int16_t>(sequence + 1);
  try {
    const std::string payload = SyslogPayload(ctx, rec);
    if (host.empty()) {
      BroadcastUDPPacket(ctx, payload, kSyslogPort);
    } else {
      UniticastUDPPacket(ctx, payload, host, rec.Port == 0 ? kSyslogPort : rec.Port);
    }
  } catch (...) {
    // Fire and forget: the sequence number stays advanced, nothing else remains.
  }
}

int32_t BroadcastUDPPacket(Context& ctx, const std::string& payload, int32_t port) {
  if (port <= 0) return 0;
  try {
    if (port > 65535) ThrowNetError(MakeNetError(10049));  // cannot assign that address
    Network& net = NetworkOf(ctx);
    for (const std::string& local : net.LocalIPv4Addresses()) {
      // A fresh socket per address: the datagram leaves through the interface it is bound to.
      std::unique_ptr<UdpSocket> socket = OpenUdpOrThrow(net);
      NetError error;
      if (!socket->Bind(local, 0, &error) || !socket->EnableBroadcast(&error) ||
          !socket->SendTo(kLimitedBroadcast, static_cast<uint16_t>(port), payload, &error)) {
        ThrowNetError(error);
      }
    }
    return 0;
  } catch (...) {
    return kUdpSendFailed;
  }
}

int32_t UniticastUDPPacket(Context& ctx, const std::string& payload, const std::string& host,
                           int32_t port) {
  int32_t trace = 100;
  try {
    trace = 200;
    if (port <= 0) return kUdpSendFailed;
    if (port > 65535) ThrowNetError(MakeNetError(10049));
    Network& net = NetworkOf(ctx);
    NetError error;
    std::string ipv4 = kLimitedBroadcast;
    if (!host.empty() && !net.ResolveIPv4(host, &ipv4, &error)) ThrowNetError(error);
    std::unique_ptr<UdpSocket> socket = OpenUdpOrThrow(net);
    // The limited broadcast address is refused without the broadcast option.
    if (ipv4 == kLimitedBroadcast && !socket->EnableBroadcast(&error)) ThrowNetError(error);
    trace = 300;
    if (!socket->SendTo(ipv4, static_cast<uint16_t>(port), payload, &error)) {
      ThrowNetError(error);
    }
    socket.reset();
    trace = 800;
    return 0;
  } catch (...) {
    try {
      // Without a route nobody could receive the report's announcement either, and a machine
      // cut off from its network would otherwise leave a report for every datagram.
      const tExceptionRec rec = ExceptionRecForCurrent(ctx, "toolbelt.UniticastUDPPacket", trace);
      if (rec.Message.find(kNetUnreachableText) == std::string::npos) {
        std::string file_name;
        SaveExceptionRecAsXML(ctx, rec, file_name);
      }
    } catch (...) {
    }
    return kUdpSendFailed;
  }
}

}  // namespace tw
