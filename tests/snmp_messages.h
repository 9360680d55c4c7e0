// Building SNMP datagrams by hand for the codec tests, the scripted agents and the fuzz corpus.
#ifndef TEMPWARDEN_TESTS_SNMP_MESSAGES_H_
#define TEMPWARDEN_TESTS_SNMP_MESSAGES_H_

#include <cstdint>
#include <initializer_list>
#include <string>

namespace tw {
namespace snmp_test {

inline std::string Bytes(std::initializer_list<int> octets) {
  std::string out;
  for (int o : octets) out.push_back(static_cast<char>(o));
  return out;
}

// Tag, short- or long-form length (as BER wants it), content.
inline std::string Tlv(int tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<char>(n));
  } else if (n < 0x100) {
    out += Bytes({0x81, static_cast<int>(n)});
  } else {
    out += Bytes({0x82, static_cast<int>(n >> 8), static_cast<int>(n & 0xFF)});
  }
  return out + content;
}

// The encoded identifiers of the two objects the service reads.
inline std::string TemperatureOid() {
  return Bytes(
      {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E, 0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00});
}
inline std::string VoltageOid() {
  return Bytes(
      {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E, 0x01, 0x01, 0x01, 0x03, 0x02, 0x01, 0x00});
}

inline std::string Integer(int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  return Tlv(0x02, Bytes({static_cast<int>(u >> 24), static_cast<int>((u >> 16) & 0xFF),
                          static_cast<int>((u >> 8) & 0xFF), static_cast<int>(u & 0xFF)}));
}

inline std::string Binding(const std::string& oid_content, const std::string& value_tlv) {
  return Tlv(0x30, Tlv(0x06, oid_content) + value_tlv);
}

// A whole message: version 0, community, PDU of `pdu_tag` with the given bindings.
inline std::string Message(const std::string& community, const std::string& bindings,
                           int32_t request_id = 0, int32_t error_status = 0, int pdu_tag = 0xA2) {
  const std::string pdu =
      Tlv(pdu_tag, Integer(request_id) + Integer(error_status) +
                       Integer(error_status != 0 ? 1 : 0) + Tlv(0x30, bindings));
  return Tlv(0x30, Tlv(0x02, Bytes({0})) + Tlv(0x04, community) + pdu);
}

// The usual answer: a Gauge for the temperature object.
inline std::string GaugeAnswer(const std::string& community, int value) {
  return Message(community, Binding(TemperatureOid(), Tlv(0x42, Bytes({value}))));
}

}  // namespace snmp_test
}  // namespace tw

#endif  // TEMPWARDEN_TESTS_SNMP_MESSAGES_H_
