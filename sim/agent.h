// The simulated UPS's SNMP version 1 agent: it serves the two PowerNet objects the service
// reads, as Gauge32 values from a SimulatedUps, and behaves towards everything else as a
// network card's agent does: noSuchName for other objects, silence for a community it does
// not accept and for what is not a version 1 request.
#ifndef TEMPWARDEN_SIM_AGENT_H_
#define TEMPWARDEN_SIM_AGENT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/network.h"
#include "sim/ups_model.h"

namespace tw {

constexpr int32_t kSnmpNoSuchName = 2;

// What became of one datagram.
enum class AgentVerdict {
  kAnswered,        // a GetResponse with the values
  kNoSuchName,      // a GetResponse with error-status noSuchName
  kNotSnmp,         // not a version 1 message: dropped
  kWrongCommunity,  // dropped, as a card does (it would send an authenticationFailure trap)
  kNotARequest,     // a response or trap: dropped
};

struct AgentAnswer {
  AgentVerdict verdict = AgentVerdict::kNotSnmp;
  std::string reply;  // the datagram to send back; empty when dropped
  std::string note;   // one line for the agent's log, e.g. "temperature=27"
};

// Answers one request datagram. GetRequest: the values in the order asked, request-id echoed;
// when any object is not one of the two, noSuchName with the 1-based index of the first such
// binding and the bindings echoed with NULL values, and no scripted value is used up.
// GetNextRequest and SetRequest: noSuchName for the first binding (nothing follows the two
// objects in this agent's view, and nothing is writable). Reads with bounds; never throws.
AgentAnswer AnswerRequest(const std::string& datagram, const std::string& community,
                          SimulatedUps& ups);

// Counts of what the agent did.
struct AgentCounts {
  uint64_t answered = 0;
  uint64_t no_such_name = 0;
  uint64_t dropped = 0;
};

// Receives on `socket` and answers each datagram to its sender, until `keep_going` returns
// false; it is asked at least every `poll_ms` milliseconds. `log`, when set, gets one line per
// datagram. Returns false with the error when the socket fails.
bool ServeAgent(UdpSocket& socket, const std::string& community, SimulatedUps& ups,
                uint32_t poll_ms, const std::function<bool()>& keep_going,
                const std::function<void(const std::string&)>& log, AgentCounts* counts,
                NetError* error);

}  // namespace tw

#endif  // TEMPWARDEN_SIM_AGENT_H_
