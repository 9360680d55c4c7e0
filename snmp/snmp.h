// The SNMP query of the UPS's network management card: one GetRequest for one scalar object
// (version 1 or 2c with the community, version 3 through the SnmpSession), its value as text.
#ifndef TEMPWARDEN_SNMP_SNMP_H_
#define TEMPWARDEN_SNMP_SNMP_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "snmp/ber.h"
#include "toolbelt/settings.h"

namespace tw {

constexpr uint16_t kSnmpPort = 161;
constexpr uint32_t kSnmpAnswerWaitMs = 5000;
constexpr size_t kSnmpAnswerBuffer = 8192;

// The PowerNet objects the service reads.
constexpr char kOidUpsTemperature[] = "1.3.6.1.4.1.318.1.1.1.2.2.2.0";   // degrees Celsius
constexpr char kOidUpsInputVoltage[] = "1.3.6.1.4.1.318.1.1.1.3.2.1.0";  // volts AC

class SnmpSession;  // snmp/session.h

// The card's pace as the queries found it, kept from query to query by the session: how long
// its last accepted answer took from the first send of its round. A card busy on its serial
// link to the UPS may need seconds per request and handles them one after the other, so a
// resend earlier than that is not a recovery but more work queued before the next query.
struct tAgentPace {
  uint32_t LastAnswerMs = 0;
};

// One read request.
struct tSNMPRec {
  std::string OID;        // dotted decimal, no leading dot, instance suffix included
  std::string Community;  // sent as it is; may be empty (versions 1 and 2c)
  std::string Host;       // host name or dotted IPv4 address of the card
  // The version and, for version 3, the security and the engine learnt so far; owned by the
  // caller for as long as it polls. Null: version 1.
  SnmpSession* Session = nullptr;
  uint16_t Port = kSnmpPort;  // the agent's UDP port ("UPSPort")
  std::string Notes{};        // the Notes of the query's exception reports (usually empty)
};

// Reads rec.OID from rec.Host and returns its value text (SnmpValueText), or empty text when
// no usable answer came: no answer within 5000 ms, connection reset (the card's port is
// closed), a non-zero error-status, a type without text (version 2c's noSuchObject,
// noSuchInstance and endOfMibView included), or no host at all. Other failures (a name that
// does not resolve, any other socket error, an OID that is no identifier) are reported as
// "SNMPSend" at stage 0 and give empty text; in versions 2c and 3 they, and the reports of a
// version 3 agent that say what is wrong (unknown user, wrong digest, ...), also go to the
// activity log. Never throws. Blocks for at most the answer wait plus the name look-up: a
// version 3 query's discovery and time synchronisation included.
std::string SNMPSend(Context& ctx, tSNMPRec SNMPRec);

// What a query came to, for callers and tests that need more than the text.
enum class tSNMPOutcome {
  kValue,            // the answer held the object; Text is its value text (maybe empty)
  kNoSuchObject,     // error-status 0 but no binding for the object
  kNotProvided,      // the agent does not have the object: noSuchName (version 1),
                     // noSuchObject or noSuchInstance (versions 2c and 3)
  kErrorStatus,      // the agent answered with a non-zero error-status
  kNoAnswer,         // nothing acceptable within the wait
  kConnectionReset,  // the card's port is closed (ICMP port unreachable)
  kNoHost,           // an empty host: nothing is sent
  kNotConfigured,    // the session's settings were refused at start: nothing is sent
};

struct tSNMPResult {
  tSNMPOutcome Outcome = tSNMPOutcome::kNoAnswer;
  std::string Text;
  int32_t ErrorStatus = 0;
  int32_t Ignored = 0;          // datagrams that were not the answer and were passed over
  uint8_t Tag = 0;              // the value's type (kValue); 0 when none
  int32_t Retransmissions = 0;  // datagrams sent again within the wait
};

// SNMPSend with the whole result: the same reports, and a failure gives kNoAnswer.
tSNMPResult SNMPRead(Context& ctx, const tSNMPRec& rec);

// The query behind SNMPSend, without the report: throws Fault for the failures SNMPSend
// reports. The socket is released on every path.
//
// Only a GetResponse from the polled address and rec.Port that carries the request's version,
// community and request-id (always 0 in version 1, whose request octets stay as they were;
// random per request in version 2c) and a binding that names rec.OID counts as the answer;
// any other datagram is passed over and the wait goes on until 5000 ms after the send,
// measured on the clock's tick count, with the request sent again as AgentExchange says.
// When nothing came but a datagram from another port of the card's address, throws Fault
// ("ESNMPError") naming that port. Version 3: see SnmpSession::Query.
tSNMPResult SNMPQuery(Context& ctx, const tSNMPRec& rec);

// A request-id for versions 2c and 3: random, positive and not 0. Throws Fault ("ESNMPError")
// when the platform has no random numbers.
int32_t RandomRequestId(Context& ctx);

// Whether `message` has a binding that names `oid`.
bool NamesObject(const tSNMPMessage& message, const std::string& oid);

// The value text `message` gives for `oid` when it is the answer: empty unless error-status is
// 0, then the value of the first binding naming `oid`. noSuchName (error-status 2) and the
// exceptions noSuchObject and noSuchInstance come out as kNotProvided.
tSNMPResult AnswerResult(const tSNMPMessage& message, const std::string& oid);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_SNMP_H_
