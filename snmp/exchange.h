// One exchange of datagrams with the card's agent, shared by every SNMP version: the socket,
// connected to the agent's address and port 161, and the one answer wait of 5000 ms that
// starts with the first send and holds however many datagrams go back and forth.
#ifndef TEMPWARDEN_SNMP_EXCHANGE_H_
#define TEMPWARDEN_SNMP_EXCHANGE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/network.h"
#include "toolbelt/settings.h"

namespace tw {

class AgentExchange {
 public:
  // Resolves `host`, opens the socket and connects it. Throws Fault ("ESocketError") when the
  // name does not resolve or the socket fails.
  AgentExchange(Context& ctx, const std::string& host);

  const std::string& ipv4() const { return ipv4_; }

  // Sends one datagram to the agent; the first send starts the wait. False when the stack
  // reports the agent's port closed (connection reset); throws Fault for other failures.
  bool Send(const std::string& payload);

  enum class Got { kDatagram, kTimeout, kReset };
  // The next datagram from the agent's address and port 161 within what is left of the wait.
  // Datagrams from anywhere else are counted in ignored() and passed over. Throws Fault for
  // socket failures other than timeout and connection reset.
  Got Receive(std::string* payload);

  // Counts a datagram from the agent that the caller passed over.
  void Ignore() { ++ignored_; }
  int32_t ignored() const { return ignored_; }

 private:
  Context& ctx_;
  std::string ipv4_;
  std::unique_ptr<UdpSocket> socket_;
  bool started_ = false;
  uint32_t sent_at_ = 0;
  int32_t ignored_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_EXCHANGE_H_
