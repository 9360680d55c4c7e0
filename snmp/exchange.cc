#include "snmp/exchange.h"

#include "snmp/snmp.h"
#include "toolbelt/failure.h"

namespace tw {
namespace {

[[noreturn]] void ThrowSocketError(const NetError& error) {
  throw Fault("ESocketError", error.message);
}

}  // namespace

AgentExchange::AgentExchange(Context& ctx, const std::string& host) : ctx_(ctx) {
  NetError error;
  if (!ctx.env.network->ResolveIPv4(host, &ipv4_, &error)) ThrowSocketError(error);
  socket_ = ctx.env.network->OpenUdp(&error);
  if (!socket_) ThrowSocketError(error);
  // Connected, so that the stack reports an ICMP port-unreachable on the next receive (as a
  // connection reset, 10054) on every platform, instead of letting the wait run out.
  if (!socket_->Connect(ipv4_, kSnmpPort, &error)) ThrowSocketError(error);
}

bool AgentExchange::Send(const std::string& payload) {
  if (!started_) {
    started_ = true;
    sent_at_ = ctx_.env.clock->TickCount();
  }
  NetError error;
  if (socket_->SendTo(ipv4_, kSnmpPort, payload, &error)) return true;
  if (error.code != kWsaConnReset) ThrowSocketError(error);
  return false;
}

AgentExchange::Got AgentExchange::Receive(std::string* payload) {
  for (;;) {
    const uint32_t elapsed = ctx_.env.clock->TickCount() - sent_at_;  // wraps safely
    if (elapsed >= kSnmpAnswerWaitMs) return Got::kTimeout;
    std::string from;
    uint16_t from_port = 0;
    NetError error;
    if (!socket_->ReceiveFrom(kSnmpAnswerBuffer, kSnmpAnswerWaitMs - elapsed, payload, &from,
                              &from_port, &error)) {
      // A stop of the service ends the wait early: no answer, and nothing to report.
      if (error.code == kWsaTimedOut || error.code == kWsaInterrupted) return Got::kTimeout;
      if (error.code == kWsaConnReset) return Got::kReset;
      ThrowSocketError(error);
    }
    if (from == ipv4_ && from_port == kSnmpPort) return Got::kDatagram;
    ++ignored_;
  }
}

}  // namespace tw
