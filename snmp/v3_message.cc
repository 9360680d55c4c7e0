#include "snmp/v3_message.h"

namespace tw {
namespace {

std::string Integer(int32_t value) { return BerTlv(kBerInteger, IntegerContent(value)); }
std::string Octets(const std::string& value) { return BerTlv(kBerOctetString, value); }

// The octets that `tag` and the length of `content` take in front of it.
size_t HeaderSize(uint8_t tag, const std::string& content) {
  return BerTlv(tag, content).size() - content.size();
}

bool ReadOctets(BerReader& reader, std::string* value) {
  BerItem item;
  if (!reader.Next(&item) || item.tag != kBerOctetString || item.cut) return false;
  value->assign(reinterpret_cast<const char*>(item.content), item.length);
  return true;
}

}  // namespace

std::string EncodeScopedPdu(const std::string& context_engine_id, const std::string& context_name,
                            const std::string& pdu) {
  return BerTlv(kBerSequence, Octets(context_engine_id) + Octets(context_name) + pdu);
}

std::string EncodeV3Message(const tV3Message& message, size_t* auth_offset) {
  const tUsmParams& usm = message.Usm;
  const std::string before_auth =
      Octets(usm.EngineID) + Integer(usm.Boots) + Integer(usm.Time) + Octets(usm.User);
  const std::string usm_content = before_auth + Octets(usm.AuthParams) + Octets(usm.PrivParams);
  const std::string usm_sequence = BerTlv(kBerSequence, usm_content);
  const std::string header_data =
      BerTlv(kBerSequence, Integer(message.MsgID) + Integer(message.MaxSize) +
                               Octets(std::string(1, static_cast<char>(message.Flags))) +
                               Integer(message.SecurityModel));
  const std::string version = Integer(kSnmpVersion3);
  const std::string data =
      (message.Flags & kMsgFlagPriv) != 0 ? Octets(message.Data) : message.Data;
  const std::string body = version + header_data + Octets(usm_sequence) + data;
  if (auth_offset != nullptr) {
    *auth_offset = HeaderSize(kBerSequence, body) + version.size() + header_data.size() +
                   HeaderSize(kBerOctetString, usm_sequence) +
                   HeaderSize(kBerSequence, usm_content) + before_auth.size() +
                   HeaderSize(kBerOctetString, usm.AuthParams);
  }
  return BerTlv(kBerSequence, body);
}

bool DecodeV3Message(const uint8_t* data, size_t size, tV3Message* message, size_t* auth_offset) {
  *message = tV3Message();
  *auth_offset = 0;
  BerReader top(data, size);
  BerItem outer;
  if (!top.Next(&outer) || outer.tag != kBerSequence || outer.cut) return false;
  BerReader body(outer.content, outer.length);
  int32_t version = 0;
  if (!BerReadInteger(body, &version) || version != kSnmpVersion3) return false;

  BerItem header;
  if (!body.Next(&header) || header.tag != kBerSequence || header.cut) return false;
  BerReader fields(header.content, header.length);
  std::string flags;
  if (!BerReadInteger(fields, &message->MsgID) || !BerReadInteger(fields, &message->MaxSize) ||
      !ReadOctets(fields, &flags) || flags.size() != 1 ||
      !BerReadInteger(fields, &message->SecurityModel)) {
    return false;
  }
  message->Flags = static_cast<uint8_t>(flags[0]);

  BerItem security;
  if (!body.Next(&security) || security.tag != kBerOctetString || security.cut) return false;
  BerReader in_security(security.content, security.length);
  BerItem usm;
  if (!in_security.Next(&usm) || usm.tag != kBerSequence || usm.cut) return false;
  BerReader params(usm.content, usm.length);
  tUsmParams& p = message->Usm;
  if (!ReadOctets(params, &p.EngineID) || !BerReadInteger(params, &p.Boots) ||
      !BerReadInteger(params, &p.Time) || !ReadOctets(params, &p.User)) {
    return false;
  }
  BerItem auth;
  if (!params.Next(&auth) || auth.tag != kBerOctetString || auth.cut) return false;
  p.AuthParams.assign(reinterpret_cast<const char*>(auth.content), auth.length);
  *auth_offset = static_cast<size_t>(auth.content - data);
  if (!ReadOctets(params, &p.PrivParams)) return false;

  BerItem scoped;
  if (!body.Next(&scoped) || scoped.cut) return false;
  if ((message->Flags & kMsgFlagPriv) != 0) {
    if (scoped.tag != kBerOctetString) return false;
    message->Data.assign(reinterpret_cast<const char*>(scoped.content), scoped.length);
  } else {
    if (scoped.tag != kBerSequence) return false;
    // Kept as a whole encoding, as DecodeScopedPdu expects (and as EncodeV3Message takes it).
    message->Data = BerTlv(
        kBerSequence, std::string(reinterpret_cast<const char*>(scoped.content), scoped.length));
  }
  return true;
}

bool DecodeV3Message(const std::string& datagram, tV3Message* message, size_t* auth_offset) {
  return DecodeV3Message(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                         message, auth_offset);
}

bool DecodeScopedPdu(const std::string& data, tScopedPdu* scoped) {
  *scoped = tScopedPdu();
  BerReader top(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  BerItem sequence;
  if (!top.Next(&sequence) || sequence.tag != kBerSequence || sequence.cut) return false;
  BerReader fields(sequence.content, sequence.length);
  if (!ReadOctets(fields, &scoped->ContextEngineID) || !ReadOctets(fields, &scoped->ContextName)) {
    return false;
  }
  return DecodePduItem(fields, &scoped->Pdu);
}

}  // namespace tw
