// One exchange of datagrams with the card's agent, shared by every SNMP version: the socket,
// the agent's address and port, and the one answer wait of 5000 ms that starts with the first
// send and holds however many rounds (request and answer) go back and forth.
//
// A round's datagram is sent again, the same octets, 1000 ms and 2500 ms after the round began
// while nothing acceptable came, and never after the wait ended: one lost datagram costs a
// second, not a sample. Each round (a version 3 discovery, synchronisation, request) gets the
// same schedule from its own start, so a card that takes two seconds per datagram is still
// read within the wait. Once the card's last accepted answer took longer than the first resend
// (tAgentPace), the resends come that much later: a card that needs four seconds per request
// and works through them one by one then gets each request once, instead of three times with
// the next query queued behind the copies, while a fast card on a lossy path keeps the resends.
#ifndef TEMPWARDEN_SNMP_EXCHANGE_H_
#define TEMPWARDEN_SNMP_EXCHANGE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/network.h"
#include "snmp/snmp.h"
#include "toolbelt/settings.h"

namespace tw {

// When a round's datagram goes out again, counted from the round's first send.
constexpr uint32_t kSnmpResendAfterMs[] = {1000, 2500};

// The card's host as written in "UPSHost": a name, a dotted IPv4 address, or an IPv6 address
// bare ("fd00::9", "fe80::9%eth0") or in brackets ("[fd00::9]"), as URLs write it. Returns it
// without the brackets; throws Fault ("ESocketError") for brackets that do not close or that
// are followed by more (a port belongs in "UPSPort").
std::string CardHostName(const std::string& host);

// The addresses the card is queried on, in the order they are tried: an address text gives
// itself; a name is looked up for IPv4 and IPv6 alike and gives its IPv4 addresses, then its
// IPv6 ones, each kind in the resolver's order. Throws Fault ("ESocketError") when the name
// does not resolve.
std::vector<std::string> CardAddresses(Network& network, const std::string& host);

class AgentExchange {
 public:
  // Resolves `host` (CardAddresses) and opens a socket of the first address's family,
  // unconnected (datagrams from another port of the agent's address are seen and named) but
  // told to report a closed port. When the stack reports the port closed at an address, the
  // round goes on at the next address, if any (a name whose IPv4 address has no agent, and
  // whose IPv6 one has). Throws Fault ("ESocketError") when the name does not resolve or the
  // socket fails.
  // `pace` (may be null: no pace kept) is read for the resend times and renewed by Accepted.
  AgentExchange(Context& ctx, const std::string& host, uint16_t port, tAgentPace* pace = nullptr);

  // The agent's address (IPv4 or IPv6) now, for failure texts.
  const std::string& address() const { return address_; }

  // Begins a round: sends `payload` to the agent and keeps it for the resends. The first send
  // starts the wait. False when the stack reports the agent's port closed (connection reset)
  // at every address left; throws Fault for other failures.
  bool Send(const std::string& payload);

  enum class Got { kDatagram, kTimeout, kReset };
  // The next datagram from the agent's address (compared by SameAddress) and port within what is
  // left of the wait, resending the round's datagram when it is due. Datagrams from anywhere else
  // are counted in ignored() and passed over; one from another port of the agent's address is
  // remembered in other_port(). Throws Fault for socket failures other than timeout and connection
  // reset. Returns kTimeout at the latest after the round's last resend has had its wait, whatever
  // the clock says, so a clock that does not move cannot hold it.
  Got Receive(std::string* payload);

  // Counts a datagram from the agent that the caller passed over.
  void Ignore() { ++ignored_; }
  // The caller took the datagram Receive gave as the round's answer: its time from the round's
  // first send becomes the card's pace.
  void Accepted();
  int32_t ignored() const { return ignored_; }
  int32_t retransmissions() const { return retransmissions_; }
  // The last port other than the agent's from which its address sent something; 0 if none.
  uint16_t other_port() const { return other_port_; }
  // " (an answer came from port N)" when other_port() is set, else empty: for failure texts.
  std::string OtherPortNote() const;

 private:
  bool Transmit();
  // Opens the socket for the next address; throws Fault as the constructor.
  void Open();
  // Moves the round to the next address and sends its datagram there; false when no address
  // is left that takes it.
  bool NextAddress();

  // When the round's resend `index` is due, from the round's first send.
  uint32_t ResendDueMs(size_t index) const;

  Context& ctx_;
  tAgentPace* pace_;
  std::vector<std::string> addresses_;
  size_t next_address_ = 0;
  std::string address_;
  uint16_t port_;
  std::unique_ptr<UdpSocket> socket_;
  bool started_ = false;
  uint32_t sent_at_ = 0;   // the first send of the exchange
  uint32_t round_at_ = 0;  // the first send of the current round
  size_t resends_ = 0;     // of the current round
  std::string round_payload_;
  int32_t ignored_ = 0;
  int32_t retransmissions_ = 0;
  uint16_t other_port_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_EXCHANGE_H_
