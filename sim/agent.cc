#include "sim/agent.h"

#include <vector>

#include "snmp/ber.h"
#include "snmp/snmp.h"

namespace tw {
namespace {

constexpr uint8_t kSnmpGetNextRequest = 0xA1;
constexpr uint8_t kSnmpSetRequest = 0xA3;
constexpr int kWsaMessageTooLong = 10040;
// Larger than any UDP datagram, so nothing arrives cut short.
constexpr size_t kReceiveBuffer = 65536;

enum class Object { kNone, kTemperature, kVoltage };

Object ObjectOf(const std::string& oid) {
  if (oid == kOidUpsTemperature) return Object::kTemperature;
  if (oid == kOidUpsInputVoltage) return Object::kVoltage;
  return Object::kNone;
}

// The service's decoder makes the most of a datagram cut short; an agent does not answer one.
// Any cut shows in the outer SEQUENCE, whose length then claims more than arrived.
bool WholeMessage(const std::string& datagram) {
  const auto* p = reinterpret_cast<const uint8_t*>(datagram.data());
  const size_t size = datagram.size();
  if (size < 2 || p[0] != kBerSequence) return false;
  size_t header = 2;
  size_t length = p[1];
  if (length >= 0x80) {
    const size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || size < 2 + octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | p[2 + i];
    header += octets;
  }
  return header + length == size;
}

AgentAnswer NoSuchName(const tSNMPMessage& request, size_t index, const std::string& oid) {
  AgentAnswer answer;
  answer.verdict = AgentVerdict::kNoSuchName;
  answer.note = "noSuchName " + (oid.empty() ? std::string("(unreadable)") : oid);
  std::vector<tSNMPVarBind> echo;
  for (const tSNMPBinding& b : request.Bindings) {
    // An identifier the decoder could not read cannot be echoed; the index still names it.
    if (!b.OID.empty()) echo.push_back({b.OID, kBerNull, std::string()});
  }
  EncodeGetResponse(request.Community, request.RequestID, kSnmpNoSuchName,
                    static_cast<int32_t>(index + 1), echo, &answer.reply);
  return answer;
}

}  // namespace

AgentAnswer AnswerRequest(const std::string& datagram, const std::string& community,
                          SimulatedUps& ups) {
  AgentAnswer answer;
  tSNMPMessage request;
  if (!WholeMessage(datagram) || !DecodeSnmpMessage(datagram, &request) || request.Version != 0) {
    answer.verdict = AgentVerdict::kNotSnmp;
    answer.note = "dropped: not an SNMP version 1 message";
    return answer;
  }
  if (request.Community != community) {
    answer.verdict = AgentVerdict::kWrongCommunity;
    answer.note = "dropped: community \"" + request.Community + "\" not accepted";
    return answer;
  }
  if (request.PDUType == kSnmpGetNextRequest || request.PDUType == kSnmpSetRequest) {
    return NoSuchName(request, 0,
                      request.Bindings.empty() ? std::string() : request.Bindings[0].OID);
  }
  if (request.PDUType != kSnmpGetRequest) {
    answer.verdict = AgentVerdict::kNotARequest;
    answer.note = "dropped: not a request";
    return answer;
  }
  // Every object is checked before any value is taken, so a refused request uses up no
  // scripted value.
  for (size_t i = 0; i < request.Bindings.size(); ++i) {
    if (ObjectOf(request.Bindings[i].OID) == Object::kNone) {
      return NoSuchName(request, i, request.Bindings[i].OID);
    }
  }
  std::vector<tSNMPVarBind> values;
  for (const tSNMPBinding& b : request.Bindings) {
    const bool temperature = ObjectOf(b.OID) == Object::kTemperature;
    const uint32_t value = temperature ? ups.NextTemperature() : ups.NextVoltage();
    values.push_back({b.OID, kSnmpGauge, UnsignedContent(value)});
    if (!answer.note.empty()) answer.note += ' ';
    answer.note += (temperature ? "temperature=" : "voltage=") + std::to_string(value);
  }
  answer.verdict = AgentVerdict::kAnswered;
  EncodeGetResponse(request.Community, request.RequestID, 0, 0, values, &answer.reply);
  return answer;
}

bool ServeAgent(UdpSocket& socket, const std::string& community, SimulatedUps& ups,
                uint32_t poll_ms, const std::function<bool()>& keep_going,
                const std::function<void(const std::string&)>& log, AgentCounts* counts,
                NetError* error) {
  while (keep_going()) {
    std::string datagram, from;
    uint16_t from_port = 0;
    NetError e;
    if (!socket.ReceiveFrom(kReceiveBuffer, poll_ms, &datagram, &from, &from_port, &e)) {
      if (e.code == kWsaTimedOut) continue;
      // Windows reports an earlier answer's ICMP port-unreachable on the next receive, even on
      // an unconnected socket; it concerns that client only.
      if (e.code == kWsaConnReset || e.code == kWsaMessageTooLong) continue;
      *error = e;
      return false;
    }
    const AgentAnswer answer = AnswerRequest(datagram, community, ups);
    std::string line = from + ":" + std::to_string(from_port) + " " + answer.note;
    if (answer.reply.empty()) {
      ++counts->dropped;
    } else {
      ++(answer.verdict == AgentVerdict::kAnswered ? counts->answered : counts->no_such_name);
      if (!socket.SendTo(from, from_port, answer.reply, &e)) {
        line += " (not sent: socket error " + std::to_string(e.code) + ")";
      }
    }
    if (log) log(line);
  }
  return true;
}

}  // namespace tw
