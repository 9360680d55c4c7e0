// SNMP version 3 messages (RFC 3412) with the user-based security model's parameters
// (RFC 3414): the header data, the USM parameters and the scoped PDU, plaintext or encrypted.
//
// The decoder reads with bounds as the version 1 decoder does, and is stricter: a message
// whose header or security parameters do not read whole is no message at all, because every
// field of them takes part in deciding whether the message is authentic.
#ifndef TEMPWARDEN_SNMP_V3_MESSAGE_H_
#define TEMPWARDEN_SNMP_V3_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "snmp/ber.h"

namespace tw {

constexpr int32_t kSnmpVersion3 = 3;
constexpr int32_t kUsmSecurityModel = 3;
constexpr uint8_t kMsgFlagAuth = 0x01;
constexpr uint8_t kMsgFlagPriv = 0x02;
constexpr uint8_t kMsgFlagReportable = 0x04;

// msgSecurityParameters of the USM.
struct tUsmParams {
  std::string EngineID;  // msgAuthoritativeEngineID
  int32_t Boots = 0;     // msgAuthoritativeEngineBoots
  int32_t Time = 0;      // msgAuthoritativeEngineTime
  std::string User;      // msgUserName
  std::string AuthParams;
  std::string PrivParams;  // the salt
};

// A whole message. `Data` is the scoped PDU's whole encoding when the message is not
// encrypted, and the ciphertext (the content of the encryptedPDU OCTET STRING) when it is.
struct tV3Message {
  int32_t MsgID = 0;
  int32_t MaxSize = 0;
  uint8_t Flags = 0;
  int32_t SecurityModel = kUsmSecurityModel;
  tUsmParams Usm;
  std::string Data;
};

// A scoped PDU, decoded.
struct tScopedPdu {
  std::string ContextEngineID;
  std::string ContextName;
  tSNMPMessage Pdu;  // PDU fields and bindings; Version and Community stay empty
};

// The message's octets. `auth_offset` receives where the authentication parameters' content
// starts, so that the digest can be put in after it was computed over the message with these
// octets as they are (zeros). Data is put in as it is when the priv flag is clear (it must
// then be a whole encoding), wrapped in an OCTET STRING when set.
std::string EncodeV3Message(const tV3Message& message, size_t* auth_offset);

// SEQUENCE { contextEngineID, contextName, pdu } with `pdu` a whole PDU encoding.
std::string EncodeScopedPdu(const std::string& context_engine_id, const std::string& context_name,
                            const std::string& pdu);

// Decodes a datagram: false unless it is a version 3 message whose header and USM parameters
// read whole (the scoped PDU is left in Data for DecodeScopedPdu). `auth_offset` receives the
// authentication parameters' content offset, meaningful when they are not empty.
bool DecodeV3Message(const uint8_t* data, size_t size, tV3Message* message, size_t* auth_offset);
bool DecodeV3Message(const std::string& datagram, tV3Message* message, size_t* auth_offset);

// Decodes a scoped PDU from the start of `data` (plaintext, which after decryption may carry
// trailing octets). False when its context fields or the PDU header do not read.
bool DecodeScopedPdu(const std::string& data, tScopedPdu* scoped);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_V3_MESSAGE_H_
