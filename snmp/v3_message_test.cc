#include "snmp/v3_message.h"

#include <gtest/gtest.h>

#include "tests/snmp_messages.h"

namespace tw {
namespace {

using snmp_test::Bytes;

// A discovery probe as it goes on the wire, annotated.
const std::string kDiscovery = Bytes({
    0x30, 0x3D,                          // SEQUENCE, 61 octets
    0x02, 0x01, 0x03,                    // msgVersion 3
    0x30, 0x10,                          // msgGlobalData, 16 octets
    0x02, 0x04, 0x12, 0x34, 0x56, 0x78,  //   msgID 0x12345678
    0x02, 0x02, 0x20, 0x00,              //   msgMaxSize 8192
    0x04, 0x01, 0x04,                    //   msgFlags: reportable
    0x02, 0x01, 0x03,                    //   msgSecurityModel USM
    0x04, 0x10,                          // msgSecurityParameters, 16 octets
    0x30, 0x0E,                          //   SEQUENCE, 14 octets
    0x04, 0x00,                          //     engine ID ""
    0x02, 0x01, 0x00,                    //     boots 0
    0x02, 0x01, 0x00,                    //     time 0
    0x04, 0x00,                          //     user ""
    0x04, 0x00,                          //     auth params ""
    0x04, 0x00,                          //     priv params ""
    0x30, 0x14,                          // scoped PDU, 20 octets
    0x04, 0x00,                          //   context engine ID ""
    0x04, 0x00,                          //   context name ""
    0xA0, 0x0E,                          //   GetRequest-PDU, 14 octets
    0x02, 0x04, 0x12, 0x34, 0x56, 0x78,  //     request-id
    0x02, 0x01, 0x00,                    //     error-status
    0x02, 0x01, 0x00,                    //     error-index
    0x30, 0x00,                          //     no bindings
});

TEST(V3MessageTest, DiscoveryProbeGoldenBytes) {
  std::string pdu;
  ASSERT_TRUE(EncodeGetPdu(0x12345678, "", &pdu));
  tV3Message m;
  m.MsgID = 0x12345678;
  m.MaxSize = 8192;
  m.Flags = kMsgFlagReportable;
  m.Data = EncodeScopedPdu("", "", pdu);
  EXPECT_EQ(EncodeV3Message(m, nullptr), kDiscovery);

  tV3Message back;
  size_t auth_offset = 99;
  ASSERT_TRUE(DecodeV3Message(kDiscovery, &back, &auth_offset));
  EXPECT_EQ(back.MsgID, 0x12345678);
  EXPECT_EQ(back.MaxSize, 8192);
  EXPECT_EQ(back.Flags, kMsgFlagReportable);
  EXPECT_EQ(back.Data, m.Data);
  EXPECT_EQ(auth_offset, 39u);  // the content of the empty auth params: just past 04 00
  tScopedPdu scoped;
  ASSERT_TRUE(DecodeScopedPdu(back.Data, &scoped));
  EXPECT_EQ(scoped.Pdu.PDUType, kSnmpGetRequest);
  EXPECT_EQ(scoped.Pdu.RequestID, 0x12345678);
  EXPECT_TRUE(scoped.Pdu.Bindings.empty());
}

// Every field round-trips, and the auth offset points at the digest, in short and long forms.
TEST(V3MessageTest, RoundTripAndAuthOffset) {
  for (size_t user_size : {4u, 200u}) {
    tV3Message m;
    m.MsgID = 77;
    m.MaxSize = 65507;
    m.Flags = kMsgFlagAuth | kMsgFlagPriv | kMsgFlagReportable;
    m.Usm = {"\x80\x00\x1f\x88\x04", 3,         123456, std::string(user_size, 'u'),
             std::string(12, 'A'),   "saltsalt"};
    m.Data = std::string(150, 'c');  // ciphertext
    size_t offset = 0;
    const std::string wire = EncodeV3Message(m, &offset);
    EXPECT_EQ(wire.substr(offset, 12), std::string(12, 'A'));
    tV3Message back;
    size_t back_offset = 0;
    ASSERT_TRUE(DecodeV3Message(wire, &back, &back_offset));
    EXPECT_EQ(back_offset, offset);
    EXPECT_EQ(back.MsgID, 77);
    EXPECT_EQ(back.Flags, m.Flags);
    EXPECT_EQ(back.Usm.EngineID, m.Usm.EngineID);
    EXPECT_EQ(back.Usm.Boots, 3);
    EXPECT_EQ(back.Usm.Time, 123456);
    EXPECT_EQ(back.Usm.User, m.Usm.User);
    EXPECT_EQ(back.Usm.PrivParams, "saltsalt");
    EXPECT_EQ(back.Data, m.Data);
  }
}

// Cut short anywhere, or with one octet of the header changed, a message either decodes to
// something or is refused; never a read past its end (the sanitizer build watches).
TEST(V3MessageTest, TruncationsAndMutations) {
  for (size_t n = 0; n < kDiscovery.size(); ++n) {
    tV3Message m;
    size_t offset = 0;
    EXPECT_FALSE(DecodeV3Message(kDiscovery.substr(0, n), &m, &offset)) << n;
  }
  const struct {
    size_t at;
    char octet;
  } refused[] = {
      {4, 0x01},   // version 1
      {0, 0x31},   // not a SEQUENCE
      {5, 0x04},   // header data not a SEQUENCE
      {18, 0x02},  // flags of two octets
      {23, 0x30},  // security parameters not an OCTET STRING
      {41, 0x04},  // scoped PDU not a SEQUENCE while unencrypted
  };
  for (const auto& r : refused) {
    std::string bad = kDiscovery;
    bad[r.at] = r.octet;
    tV3Message m;
    size_t offset = 0;
    EXPECT_FALSE(DecodeV3Message(bad, &m, &offset)) << r.at;
  }
  for (size_t at = 0; at < kDiscovery.size(); ++at) {
    for (int octet : {0x00, 0x7F, 0x80, 0xFF}) {
      std::string bad = kDiscovery;
      bad[at] = static_cast<char>(octet);
      tV3Message m;
      size_t offset = 0;
      if (DecodeV3Message(bad, &m, &offset)) {
        tScopedPdu scoped;
        DecodeScopedPdu(m.Data, &scoped);
      }
    }
  }
}

TEST(V3MessageTest, ScopedPduWithTrailingOctetsAfterDecryption) {
  std::string pdu;
  ASSERT_TRUE(EncodeGetPdu(5, "1.3.6.1.4.1.318.1.1.1.2.2.2.0", &pdu));
  tScopedPdu scoped;
  ASSERT_TRUE(DecodeScopedPdu(EncodeScopedPdu("engine", "ctx", pdu) + "pad", &scoped));
  EXPECT_EQ(scoped.ContextEngineID, "engine");
  EXPECT_EQ(scoped.ContextName, "ctx");
  ASSERT_EQ(scoped.Pdu.Bindings.size(), 1u);
  EXPECT_EQ(scoped.Pdu.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
  EXPECT_FALSE(DecodeScopedPdu("garbage", &scoped));
}

}  // namespace
}  // namespace tw
