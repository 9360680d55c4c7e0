// SNMP community messages in BER (version 1, RFC 1157, and version 2c, RFC 1901): the
// GetRequest the service sends and a decoder for whatever comes back.
//
// The decoder reads with bounds everywhere. It never reads outside the datagram, whatever the
// lengths inside claim: an item whose length runs past the end decodes as empty text (a
// constructed item is read over what is there), and a header it cannot make sense of stops it.
#ifndef TEMPWARDEN_SNMP_BER_H_
#define TEMPWARDEN_SNMP_BER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tw {

constexpr uint8_t kBerInteger = 0x02;
constexpr uint8_t kBerOctetString = 0x04;
constexpr uint8_t kBerNull = 0x05;
constexpr uint8_t kBerObjectId = 0x06;
constexpr uint8_t kBerSequence = 0x30;
constexpr uint8_t kSnmpIpAddress = 0x40;
constexpr uint8_t kSnmpCounter = 0x41;
constexpr uint8_t kSnmpGauge = 0x42;
constexpr uint8_t kSnmpTimeTicks = 0x43;
constexpr uint8_t kSnmpOpaque = 0x44;
constexpr uint8_t kSnmpGetRequest = 0xA0;
constexpr uint8_t kSnmpGetResponse = 0xA2;
constexpr uint8_t kSnmpReport = 0xA8;
// Version 2c's exceptions in place of a value; they have no text.
constexpr uint8_t kSnmpNoSuchObject = 0x80;
constexpr uint8_t kSnmpNoSuchInstance = 0x81;
constexpr uint8_t kSnmpEndOfMibView = 0x82;

// One item as found: `length` is what the datagram holds of the content, `cut` tells that the
// item claimed more.
struct BerItem {
  uint8_t tag = 0;
  const uint8_t* content = nullptr;
  size_t length = 0;
  bool cut = false;
};

// Walks the items of one level, never past the end it was given.
class BerReader {
 public:
  BerReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  // The next item; false at the end and after a header that makes no sense (the reader then
  // stays at the end).
  bool Next(BerItem* item);

 private:
  bool Stop() {
    p_ = end_;
    return false;
  }

  const uint8_t* p_;
  const uint8_t* end_;
};

// The next item as an INTEGER whole (a signed 32-bit number, longer content keeps its low
// bits); false when it is another item or cut short.
bool BerReadInteger(BerReader& reader, int32_t* value);

// Tag, length (short form below 128, long form above), content.
std::string BerTlv(uint8_t tag, const std::string& content);

// One variable binding of an answer, both parts as text (see SnmpValueText).
struct tSNMPBinding {
  std::string OID;    // dotted decimal without a leading dot; empty when unreadable
  std::string Value;  // empty for types without text and for items cut short
  uint8_t Tag = 0;    // the value's type; 0 when there is no value
};

// A decoded message. Fields after the last one decoded keep their initial values.
struct tSNMPMessage {
  int32_t Version = 0;
  std::string Community;
  uint8_t PDUType = 0;  // the PDU's tag, e.g. kSnmpGetResponse
  int32_t RequestID = 0;
  int32_t ErrorStatus = 0;
  int32_t ErrorIndex = 0;
  std::vector<tSNMPBinding> Bindings;
};

// Content octets of the dotted object identifier `dotted` ("1.3.6.1..."): the first two arcs
// combined into 40 x first + second, every sub-identifier base 128 with the top bit on all
// octets but its last. False for text that is no identifier (fewer than two arcs, a first arc
// above 2, a second arc of 40 or more under 0 or 1, arcs beyond 32 bits, anything but digits
// and single dots).
bool EncodeObjectId(const std::string& dotted, std::string* content);

// The GetRequest for one object: SEQUENCE { version 0, community, GetRequest-PDU { request-id
// 0, error-status 0, error-index 0, SEQUENCE { SEQUENCE { OID, empty OCTET STRING } } } }.
// Lengths below 128 use the short form, longer ones the long form. False when `oid` is no
// identifier.
bool EncodeGetRequest(const std::string& community, const std::string& oid, std::string* datagram);

// The same with another version number (1 for version 2c) and request-id.
bool EncodeCommunityGetRequest(int32_t version, const std::string& community, int32_t request_id,
                               const std::string& oid, std::string* datagram);

// A GetRequest-PDU alone: request-id, error-status 0, error-index 0 and one binding of `oid`
// with an empty OCTET STRING, or no binding at all when `oid` is empty (the probe that
// discovers a version 3 engine). False when `oid` is no identifier.
bool EncodeGetPdu(int32_t request_id, const std::string& oid, std::string* pdu);

// One binding as it goes into an answer: the dotted identifier and the value's tag and
// content octets (see UnsignedContent, IntegerContent).
struct tSNMPVarBind {
  std::string OID;
  uint8_t Tag = kBerNull;
  std::string Content;
};

// Content of an INTEGER: big-endian two's complement in the fewest octets (0 is 00).
std::string IntegerContent(int32_t value);

// Content of a Gauge, Counter or TimeTicks: the unsigned value big-endian in the fewest
// octets, with a leading 00 when the top bit would otherwise read as a sign (so up to five
// octets: 4294967295 is 00 FF FF FF FF).
std::string UnsignedContent(uint32_t value);

// An answer as an agent sends it: SEQUENCE { version 0, community, GetResponse-PDU {
// request-id, error-status, error-index, SEQUENCE { SEQUENCE { OID, value } ... } } }, lengths
// as in EncodeGetRequest. False when an identifier of `bindings` is no identifier.
bool EncodeGetResponse(const std::string& community, int32_t request_id, int32_t error_status,
                       int32_t error_index, const std::vector<tSNMPVarBind>& bindings,
                       std::string* datagram);

// Decodes `size` octets at `data`. False when it is not an SNMP message whose header (outer
// SEQUENCE, version, community, PDU tag, request-id, error-status, error-index) reads whole;
// the bindings are then decoded as far as they make sense.
bool DecodeSnmpMessage(const uint8_t* data, size_t size, tSNMPMessage* message);
bool DecodeSnmpMessage(const std::string& datagram, tSNMPMessage* message);

// Decodes the PDU that `reader` is at (tags A0 to BF) into the PDU fields and bindings of
// `message`, as DecodeSnmpMessage does; the version and community are not touched.
bool DecodePduItem(BerReader& reader, tSNMPMessage* message);

// The text of a value by its type: INTEGER as signed 32-bit decimal; OCTET STRING and Opaque
// as the octets themselves; OBJECT IDENTIFIER dotted; IpAddress as the octets in decimal joined
// by "."; Counter, Gauge and TimeTicks as the unsigned content taken as a signed 32-bit number
// (4294967295 prints -1). Content longer than four octets keeps its low 32 bits. Every other
// type (NULL, the exception values 80 to 82, ...) has no text.
std::string SnmpValueText(uint8_t tag, const uint8_t* content, size_t length);

// Dotted text of object-identifier content; empty when the content is empty, ends inside a
// sub-identifier or holds one beyond 32 bits.
std::string ObjectIdText(const uint8_t* content, size_t length);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_BER_H_
