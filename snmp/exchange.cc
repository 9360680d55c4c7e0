#include "snmp/exchange.h"

#include <cstdlib>
#include <vector>

#include "snmp/snmp.h"
#include "toolbelt/failure.h"

namespace tw {
namespace {

constexpr size_t kResends = sizeof kSnmpResendAfterMs / sizeof kSnmpResendAfterMs[0];

[[noreturn]] void ThrowSocketError(const NetError& error) {
  throw Fault("ESocketError", error.message);
}

// fe80::/10 written without "%zone".
bool LinkLocalWithoutZone(const std::string& address) {
  if (!IsIPv6Address(address) || address.find('%') != std::string::npos) return false;
  const size_t colon = address.find(':');
  if (colon == 0 || colon > 4) return false;
  const unsigned long group = std::strtoul(address.substr(0, colon).c_str(), nullptr, 16);
  return (group & 0xFFC0) == 0xFE80;
}

}  // namespace

std::string CardHostName(const std::string& host) {
  if (host.size() < 2 || host.front() != '[') return host;
  const size_t close = host.find(']');
  if (close == std::string::npos) {
    throw Fault("ESocketError", "UPSHost \"" + host + "\" has no closing bracket");
  }
  if (close + 1 != host.size()) {
    // "[fd00::9]:1161": the port has a setting of its own, and two places for it would
    // disagree sooner or later.
    throw Fault("ESocketError", "UPSHost \"" + host +
                                    "\" names a port: write the address alone and the port in "
                                    "UPSPort");
  }
  return host.substr(1, close - 1);
}

std::vector<std::string> CardAddresses(Network& network, const std::string& host) {
  const std::string name = CardHostName(host);
  if (LinkLocalWithoutZone(name)) {
    // The stack cannot tell which link is meant and refuses with a bare "invalid argument".
    throw Fault("ESocketError", "UPSHost \"" + host +
                                    "\" is a link-local IPv6 address: add the interface it is "
                                    "on, as in " +
                                    name + "%eth0 (Linux) or " + name + "%12 (Windows)");
  }
  NetError error;
  std::vector<std::string> found;
  if (!network.ResolveTcp(name, &found, &error)) ThrowSocketError(error);
  // A name with both kinds is read on IPv4 first, as it always was.
  std::vector<std::string> addresses;
  for (const bool ipv6 : {false, true}) {
    for (const std::string& address : found) {
      if (IsIPv6Address(address) == ipv6) addresses.push_back(address);
    }
  }
  return addresses;
}

AgentExchange::AgentExchange(Context& ctx, const std::string& host, uint16_t port, tAgentPace* pace)
    : ctx_(ctx), pace_(pace), port_(port) {
  addresses_ = CardAddresses(*ctx.env.network, host);
  Open();
}

void AgentExchange::Open() {
  NetError error;
  address_ = addresses_[next_address_++];
  socket_ = ctx_.env.network->OpenUdpFor(address_, &error);
  if (!socket_) ThrowSocketError(error);
  // An ICMP port-unreachable comes back as a connection reset on the next receive (10054) on
  // every platform, instead of letting the wait run out; the socket stays unconnected so that
  // an agent answering from another port can be named.
  if (!socket_->ReportClosedPorts(&error)) ThrowSocketError(error);
}

bool AgentExchange::NextAddress() {
  if (next_address_ >= addresses_.size()) return false;
  Open();
  // The round starts again on the new address, its datagram unchanged.
  round_at_ = ctx_.env.clock->TickCount();
  resends_ = 0;
  while (!Transmit()) {
    if (next_address_ >= addresses_.size()) return false;
    Open();
  }
  return true;
}

std::string AgentExchange::OtherPortNote() const {
  if (other_port_ == 0) return std::string();
  return " (an answer came from port " + std::to_string(other_port_) + ")";
}

bool AgentExchange::Transmit() {
  NetError error;
  if (socket_->SendTo(address_, port_, round_payload_, &error)) return true;
  if (error.code != kWsaConnReset) ThrowSocketError(error);
  return false;
}

bool AgentExchange::Send(const std::string& payload) {
  const uint32_t now = ctx_.env.clock->TickCount();
  if (!started_) {
    started_ = true;
    sent_at_ = now;
  }
  round_at_ = now;
  resends_ = 0;
  round_payload_ = payload;
  return Transmit() || NextAddress();
}

uint32_t AgentExchange::ResendDueMs(size_t index) const {
  // An answer within the first resend's time says nothing about the card's pace (a lost
  // datagram and its resend look the same); a slower one moves every resend back by it.
  const uint32_t pace = pace_ != nullptr ? pace_->LastAnswerMs : 0;
  return kSnmpResendAfterMs[index] + (pace > kSnmpResendAfterMs[0] ? pace : 0);
}

void AgentExchange::Accepted() {
  if (pace_ != nullptr) pace_->LastAnswerMs = ctx_.env.clock->TickCount() - round_at_;
}

AgentExchange::Got AgentExchange::Receive(std::string* payload) {
  bool timed_out = false;
  for (;;) {
    const uint32_t now = ctx_.env.clock->TickCount();
    const uint32_t elapsed = now - sent_at_;  // wraps safely
    if (elapsed >= kSnmpAnswerWaitMs) return Got::kTimeout;
    uint32_t wait = kSnmpAnswerWaitMs - elapsed;
    if (resends_ < kResends) {
      const uint32_t in_round = now - round_at_;
      const uint32_t due = ResendDueMs(resends_);
      // A receive that timed out before the clock shows the resend due (a clock of coarse
      // ticks) resends all the same.
      if (in_round >= due || timed_out) {
        timed_out = false;
        ++resends_;
        ++retransmissions_;
        if (!Transmit() && !NextAddress()) return Got::kReset;
        continue;
      }
      if (due - in_round < wait) wait = due - in_round;
    } else if (timed_out) {
      return Got::kTimeout;
    }
    std::string from;
    uint16_t from_port = 0;
    NetError error;
    if (!socket_->ReceiveFrom(kSnmpAnswerBuffer, wait, payload, &from, &from_port, &error)) {
      // A stop of the service ends the wait early: no answer, and nothing to report.
      if (error.code == kWsaInterrupted) return Got::kTimeout;
      if (error.code == kWsaConnReset) {
        // Nothing listens there: the name's next address, if it has one, gets the round.
        if (NextAddress()) continue;
        return Got::kReset;
      }
      if (error.code != kWsaTimedOut) ThrowSocketError(error);
      timed_out = true;
      continue;
    }
    const bool card = SameAddress(from, address_);
    if (card && from_port == port_) return Got::kDatagram;
    if (card) other_port_ = from_port;
    ++ignored_;
  }
}

}  // namespace tw
