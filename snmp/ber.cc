#include "snmp/ber.h"

#include <charconv>
#include <utility>

namespace tw {
namespace {

void AppendLength(size_t length, std::string* out) {
  if (length < 0x80) {
    out->push_back(static_cast<char>(length));
    return;
  }
  std::string octets;
  for (size_t n = length; n > 0; n >>= 8)
    octets.insert(octets.begin(), static_cast<char>(n & 0xFF));
  out->push_back(static_cast<char>(0x80 | octets.size()));
  *out += octets;
}

std::string Tlv(uint8_t tag, const std::string& content) { return BerTlv(tag, content); }

using Item = BerItem;
using Reader = BerReader;

// Big-endian content, keeping the low 32 bits; `sign_extend` for INTEGER's two's complement.
uint32_t Bits32(const uint8_t* content, size_t length, bool sign_extend) {
  uint32_t value = sign_extend && length > 0 && (content[0] & 0x80) != 0 ? 0xFFFFFFFFu : 0u;
  for (size_t i = 0; i < length; ++i) value = (value << 8) | content[i];
  return value;
}

bool HeaderInteger(Reader& reader, int32_t* value) { return BerReadInteger(reader, value); }

}  // namespace

std::string BerTlv(uint8_t tag, const std::string& content) {
  std::string out;
  out.reserve(content.size() + 6);  // tag, and a length of up to five octets
  out.push_back(static_cast<char>(tag));
  AppendLength(content.size(), &out);
  out += content;
  return out;
}

bool BerReader::Next(BerItem* item) {
  const size_t left = static_cast<size_t>(end_ - p_);
  if (left < 2) return Stop();
  const uint8_t tag = p_[0];
  if ((tag & 0x1F) == 0x1F) return Stop();  // multi-octet tags have no place in SNMP
  size_t header = 2;
  size_t length = p_[1];
  if (length >= 0x80) {
    const size_t octets = length & 0x7F;
    // 0x80 is the indefinite form, which SNMP does not use; more than four octets could not
    // describe a datagram anyway.
    if (octets == 0 || octets > 4 || left < 2 + octets) return Stop();
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | p_[2 + i];
    header += octets;
  }
  const size_t available = left - header;
  item->tag = tag;
  item->content = p_ + header;
  item->cut = length > available;
  item->length = item->cut ? available : length;
  p_ = item->cut ? end_ : p_ + header + length;
  return true;
}

bool BerReadInteger(BerReader& reader, int32_t* value) {
  BerItem item;
  if (!reader.Next(&item) || item.tag != kBerInteger || item.cut) return false;
  *value = static_cast<int32_t>(Bits32(item.content, item.length, true));
  return true;
}

namespace {

// Appends the base-128 octets of one sub-identifier, the high bit set on all but the last.
void AppendSubIdentifier(uint32_t sub, std::string* content) {
  char groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<char>(sub & 0x7F);
    sub >>= 7;
  } while (sub != 0);
  while (n > 1) content->push_back(static_cast<char>(groups[--n] | 0x80));
  content->push_back(groups[0]);
}

}  // namespace

bool EncodeObjectId(const std::string& dotted, std::string* content) {
  // The first two arcs make one sub-identifier; every later arc is written as it is read.
  std::string encoded;
  uint32_t first = 0;
  size_t arcs = 0;
  uint64_t arc = 0;
  bool digits = false;
  for (size_t i = 0; i <= dotted.size(); ++i) {
    if (i == dotted.size() || dotted[i] == '.') {
      if (!digits) return false;
      const auto value = static_cast<uint32_t>(arc);
      if (arcs == 0) {
        if (value > 2) return false;
        first = value;
      } else if (arcs == 1) {
        if ((first < 2 && value >= 40) || (first == 2 && value > 0xFFFFFFFFu - 80)) return false;
        AppendSubIdentifier(first * 40 + value, &encoded);
      } else {
        AppendSubIdentifier(value, &encoded);
      }
      ++arcs;
      arc = 0;
      digits = false;
    } else if (dotted[i] >= '0' && dotted[i] <= '9') {
      arc = arc * 10 + static_cast<uint64_t>(dotted[i] - '0');
      if (arc > 0xFFFFFFFFull) return false;
      digits = true;
    } else {
      return false;
    }
  }
  if (arcs < 2) return false;
  *content = std::move(encoded);
  return true;
}

bool EncodeGetPdu(int32_t request_id, const std::string& oid, std::string* pdu) {
  std::string binding;
  if (!oid.empty()) {
    std::string oid_content;
    if (!EncodeObjectId(oid, &oid_content)) return false;
    const std::string placeholder = Tlv(kBerOctetString, std::string());  // 04 00, not NULL
    binding = Tlv(kBerSequence, Tlv(kBerObjectId, oid_content) + placeholder);
  }
  const std::string zero = Tlv(kBerInteger, std::string(1, '\0'));
  *pdu = Tlv(kSnmpGetRequest, Tlv(kBerInteger, IntegerContent(request_id)) + zero + zero +
                                  Tlv(kBerSequence, binding));
  return true;
}

bool EncodeCommunityGetRequest(int32_t version, const std::string& community, int32_t request_id,
                               const std::string& oid, std::string* datagram) {
  std::string pdu;
  if (oid.empty() || !EncodeGetPdu(request_id, oid, &pdu)) return false;
  *datagram = Tlv(kBerSequence, Tlv(kBerInteger, IntegerContent(version)) +
                                    Tlv(kBerOctetString, community) + pdu);
  return true;
}

bool EncodeGetRequest(const std::string& community, const std::string& oid, std::string* datagram) {
  return EncodeCommunityGetRequest(0, community, 0, oid, datagram);
}

std::string IntegerContent(int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  std::string content;
  for (int shift = 24; shift >= 0; shift -= 8) {
    content.push_back(static_cast<char>((bits >> shift) & 0xFF));
  }
  // A leading octet is redundant while it only repeats the sign of the next one.
  while (content.size() > 1) {
    const auto first = static_cast<uint8_t>(content[0]);
    const auto next = static_cast<uint8_t>(content[1]);
    if (!((first == 0x00 && (next & 0x80) == 0) || (first == 0xFF && (next & 0x80) != 0))) break;
    content.erase(0, 1);
  }
  return content;
}

std::string UnsignedContent(uint32_t value) {
  std::string content;
  for (int shift = 24; shift >= 0; shift -= 8) {
    content.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
  while (content.size() > 1 && content[0] == '\0' &&
         (static_cast<uint8_t>(content[1]) & 0x80) == 0) {
    content.erase(0, 1);
  }
  if ((static_cast<uint8_t>(content[0]) & 0x80) != 0) content.insert(content.begin(), '\0');
  return content;
}

bool EncodeGetResponse(const std::string& community, int32_t request_id, int32_t error_status,
                       int32_t error_index, const std::vector<tSNMPVarBind>& bindings,
                       std::string* datagram) {
  std::string list;
  for (const tSNMPVarBind& b : bindings) {
    std::string oid_content;
    if (!EncodeObjectId(b.OID, &oid_content)) return false;
    list += Tlv(kBerSequence, Tlv(kBerObjectId, oid_content) + Tlv(b.Tag, b.Content));
  }
  const std::string pdu = Tlv(kSnmpGetResponse, Tlv(kBerInteger, IntegerContent(request_id)) +
                                                    Tlv(kBerInteger, IntegerContent(error_status)) +
                                                    Tlv(kBerInteger, IntegerContent(error_index)) +
                                                    Tlv(kBerSequence, list));
  *datagram = Tlv(kBerSequence,
                  Tlv(kBerInteger, IntegerContent(0)) + Tlv(kBerOctetString, community) + pdu);
  return true;
}

namespace {

void AppendDecimal(uint64_t value, std::string* text) {
  char digits[20];
  text->append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

}  // namespace

std::string ObjectIdText(const uint8_t* content, size_t length) {
  std::string text;
  text.reserve(4 * length + 2);  // a dot and at most three digits an octet, the first arc more
  uint64_t sub = 0;
  size_t octets = 0;
  bool first = true;
  for (size_t i = 0; i < length; ++i) {
    sub = (sub << 7) | (content[i] & 0x7F);
    if (++octets > 5 || sub > 0xFFFFFFFFull) return std::string();
    if ((content[i] & 0x80) != 0) continue;
    if (first) {
      const uint64_t top = sub < 40 ? 0 : (sub < 80 ? 1 : 2);
      AppendDecimal(top, &text);
      text.push_back('.');
      AppendDecimal(sub - top * 40, &text);
      first = false;
    } else {
      text.push_back('.');
      AppendDecimal(sub, &text);
    }
    sub = 0;
    octets = 0;
  }
  if (octets != 0) return std::string();  // ends inside a sub-identifier
  return text;
}

std::string SnmpValueText(uint8_t tag, const uint8_t* content, size_t length) {
  switch (tag) {
    case kBerInteger:
      return std::to_string(static_cast<int32_t>(Bits32(content, length, true)));
    case kBerOctetString:
    case kSnmpOpaque:
      return std::string(reinterpret_cast<const char*>(content), length);
    case kBerObjectId:
      return ObjectIdText(content, length);
    case kSnmpIpAddress: {
      std::string text;
      for (size_t i = 0; i < length; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(content[i]);
      }
      return text;
    }
    case kSnmpCounter:
    case kSnmpGauge:
    case kSnmpTimeTicks:
      return std::to_string(static_cast<int32_t>(Bits32(content, length, false)));
    default:
      return std::string();
  }
}

bool DecodeSnmpMessage(const uint8_t* data, size_t size, tSNMPMessage* message) {
  *message = tSNMPMessage();
  Reader top(data, size);
  Item outer;
  if (!top.Next(&outer) || outer.tag != kBerSequence) return false;
  Reader body(outer.content, outer.length);
  if (!HeaderInteger(body, &message->Version)) return false;
  Item community;
  if (!body.Next(&community) || community.tag != kBerOctetString || community.cut) return false;
  message->Community.assign(reinterpret_cast<const char*>(community.content), community.length);
  return DecodePduItem(body, message);
}

bool DecodePduItem(BerReader& reader, tSNMPMessage* message) {
  Item pdu;
  // Context-specific and constructed: A0 to BF.
  if (!reader.Next(&pdu) || (pdu.tag & 0xE0) != 0xA0) return false;
  message->PDUType = pdu.tag;
  Reader fields(pdu.content, pdu.length);
  if (!HeaderInteger(fields, &message->RequestID) ||
      !HeaderInteger(fields, &message->ErrorStatus) ||
      !HeaderInteger(fields, &message->ErrorIndex)) {
    return false;
  }
  Item list;
  if (!fields.Next(&list) || list.tag != kBerSequence) return true;
  Reader bindings(list.content, list.length);
  Item binding;
  while (bindings.Next(&binding) && binding.tag == kBerSequence) {
    Reader parts(binding.content, binding.length);
    tSNMPBinding out;
    Item name, value;
    if (parts.Next(&name)) {
      if (name.tag == kBerObjectId && !name.cut) out.OID = ObjectIdText(name.content, name.length);
      if (parts.Next(&value) && !value.cut) {
        out.Value = SnmpValueText(value.tag, value.content, value.length);
        out.Tag = value.tag;
      }
    }
    message->Bindings.push_back(std::move(out));
  }
  return true;
}

bool DecodeSnmpMessage(const std::string& datagram, tSNMPMessage* message) {
  return DecodeSnmpMessage(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                           message);
}

}  // namespace tw
