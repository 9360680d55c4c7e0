#include "snmp/ber.h"

#include <gtest/gtest.h>

#include "tests/snmp_messages.h"

namespace tw {
namespace {

using snmp_test::Binding;
using snmp_test::Bytes;
using snmp_test::Message;
using snmp_test::TemperatureOid;
using snmp_test::Tlv;

TEST(BerTest, GetRequestWithCommunityPublic) {
  const std::string expected = Bytes({
      0x30, 0x2C,                                     // SEQUENCE, 44 octets: the message
      0x02, 0x01, 0x00,                               //   INTEGER version 0 (SNMPv1)
      0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  //   OCTET STRING community "public"
      0xA0, 0x1F,                                     //   GetRequest-PDU, 31 octets
      0x02, 0x01, 0x00,                               //     INTEGER request-id 0
      0x02, 0x01, 0x00,                               //     INTEGER error-status 0
      0x02, 0x01, 0x00,                               //     INTEGER error-index 0
      0x30, 0x14,                                     //     SEQUENCE, 20 octets: binding list
      0x30, 0x12,                                     //       SEQUENCE, 18 octets: one binding
      0x06, 0x0E,                                     //         OBJECT IDENTIFIER, 14 octets
      0x2B, 0x06, 0x01, 0x04, 0x01,                   //           1.3 (40*1+3) .6.1.4.1
      0x82, 0x3E,                                     //           .318 (2*128 + 62)
      0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00,       //           .1.1.1.2.2.2.0
      0x04, 0x00,                                     //         empty OCTET STRING, not NULL
  });
  std::string datagram;
  ASSERT_TRUE(EncodeGetRequest("public", "1.3.6.1.4.1.318.1.1.1.2.2.2.0", &datagram));
  EXPECT_EQ(datagram.size(), 46u);
  EXPECT_EQ(datagram, expected);
}

TEST(BerTest, GetRequestWithEmptyCommunity) {
  const std::string expected = Bytes({
      0x30, 0x26,                                // SEQUENCE, 38 octets: the message
      0x02, 0x01, 0x00,                          //   INTEGER version 0
      0x04, 0x00,                                //   OCTET STRING community, empty
      0xA0, 0x1F,                                //   GetRequest-PDU, 31 octets
      0x02, 0x01, 0x00,                          //     request-id 0
      0x02, 0x01, 0x00,                          //     error-status 0
      0x02, 0x01, 0x00,                          //     error-index 0
      0x30, 0x14,                                //     binding list, 20 octets
      0x30, 0x12,                                //       binding, 18 octets
      0x06, 0x0E,                                //         OBJECT IDENTIFIER, 14 octets
      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,  //           1.3.6.1.4.1.318
      0x01, 0x01, 0x01, 0x03, 0x02, 0x01, 0x00,  //           .1.1.1.3.2.1.0
      0x04, 0x00,                                //         empty OCTET STRING
  });
  std::string datagram;
  ASSERT_TRUE(EncodeGetRequest("", "1.3.6.1.4.1.318.1.1.1.3.2.1.0", &datagram));
  EXPECT_EQ(datagram.size(), 40u);
  EXPECT_EQ(datagram, expected);
}

TEST(BerTest, RequestLengthGrowsWithTheCommunityAndTurnsLongForm) {
  std::string datagram;
  for (size_t n : {1u, 12u, 89u}) {
    ASSERT_TRUE(EncodeGetRequest(std::string(n, 'c'), "1.3.6.1.4.1.318.1.1.1.2.2.2.0", &datagram));
    EXPECT_EQ(datagram.size(), 40 + n);
  }
  // 88 + 40 = 128: the outer length no longer fits the short form.
  ASSERT_TRUE(EncodeGetRequest(std::string(90, 'c'), "1.3.6.1.4.1.318.1.1.1.2.2.2.0", &datagram));
  EXPECT_EQ(datagram.substr(0, 3), Bytes({0x30, 0x81, 0x80}));
  EXPECT_EQ(datagram.substr(3, 5), Bytes({0x02, 0x01, 0x00, 0x04, 0x5A}));
  ASSERT_TRUE(EncodeGetRequest(std::string(300, 'c'), "1.3.6.1.4.1.318.1.1.1.2.2.2.0", &datagram));
  EXPECT_EQ(datagram.substr(0, 4), Bytes({0x30, 0x82, 0x01, 0x54}));  // 340 octets follow
  EXPECT_EQ(datagram.substr(7, 4), Bytes({0x04, 0x82, 0x01, 0x2C}));  // 300-octet community

  tSNMPMessage back;
  ASSERT_TRUE(DecodeSnmpMessage(datagram, &back));
  EXPECT_EQ(back.Community, std::string(300, 'c'));
  EXPECT_EQ(back.PDUType, kSnmpGetRequest);
  ASSERT_EQ(back.Bindings.size(), 1u);
  EXPECT_EQ(back.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
  EXPECT_EQ(back.Bindings[0].Value, "");
}

TEST(BerTest, ObjectIdentifiers) {
  struct Case {
    const char* dotted;
    bool valid;
    std::string content;
  };
  const Case cases[] = {
      {"1.3.6.1.4.1.318.1.1.1.2.2.2.0", true, TemperatureOid()},
      {"0.0", true, Bytes({0x00})},
      {"1.39", true, Bytes({0x4F})},
      {"2.100.3", true, Bytes({0x81, 0x34, 0x03})},  // 180 = 1*128 + 52
      {"1.3.127.128.16383.16384", true,
       Bytes({0x2B, 0x7F, 0x81, 0x00, 0xFF, 0x7F, 0x81, 0x80, 0x00})},
      {"1.3.4294967295", true, Bytes({0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F})},
      {"1.3.4294967296", false, ""},
      {"2.4294967215", true, Bytes({0x8F, 0xFF, 0xFF, 0xFF, 0x7F})},  // the largest first pair
      {"2.4294967216", false, ""},
      {"1", false, ""},
      {"", false, ""},
      {".1.3.6", false, ""},
      {"1.3.", false, ""},
      {"1..3", false, ""},
      {"3.1", false, ""},
      {"1.40", false, ""},
      {"1.3.a", false, ""},
      {"1.3.-6", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dotted);
    std::string content;
    ASSERT_EQ(EncodeObjectId(c.dotted, &content), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(content, c.content);
    const auto* p = reinterpret_cast<const uint8_t*>(content.data());
    EXPECT_EQ(ObjectIdText(p, content.size()), c.dotted);
  }
}

TEST(BerTest, ObjectIdTextOfBadContent) {
  const std::string cases[] = {
      "",                                                 // nothing
      Bytes({0x2B, 0x82}),                                // ends inside a sub-identifier
      Bytes({0x2B, 0x90, 0x80, 0x80, 0x80, 0x00}),        // beyond 32 bits
      Bytes({0x2B, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),  // six octets
  };
  for (const std::string& c : cases) {
    EXPECT_EQ(ObjectIdText(reinterpret_cast<const uint8_t*>(c.data()), c.size()), "");
  }
  const std::string top = Bytes({0x88, 0x37});  // 1079 = 2.999
  EXPECT_EQ(ObjectIdText(reinterpret_cast<const uint8_t*>(top.data()), top.size()), "2.999");
}

// Value texts by type: tag, content, text.
TEST(BerTest, ValueTextPerType) {
  struct Case {
    const char* name;
    int tag;
    std::string content;
    std::string text;
  };
  const Case cases[] = {
      {"INTEGER 27", 0x02, Bytes({0x1B}), "27"},
      {"INTEGER -1", 0x02, Bytes({0xFF}), "-1"},
      {"INTEGER 255", 0x02, Bytes({0x00, 0xFF}), "255"},
      {"INTEGER max", 0x02, Bytes({0x7F, 0xFF, 0xFF, 0xFF}), "2147483647"},
      {"INTEGER min", 0x02, Bytes({0x80, 0x00, 0x00, 0x00}), "-2147483648"},
      {"INTEGER five octets keep the low 32 bits", 0x02, Bytes({0x01, 0x00, 0x00, 0x00, 0x05}),
       "5"},
      {"INTEGER empty", 0x02, "", "0"},
      {"OCTET STRING", 0x04, "230", "230"},
      {"OCTET STRING empty", 0x04, "", ""},
      {"OCTET STRING binary", 0x04, Bytes({0x00, 0xFF, '\r', '\n'}),
       Bytes({0x00, 0xFF, '\r', '\n'})},
      {"Opaque", 0x44, Bytes({0x9F, 0x78}), Bytes({0x9F, 0x78})},
      {"OBJECT IDENTIFIER", 0x06, TemperatureOid(), "1.3.6.1.4.1.318.1.1.1.2.2.2.0"},
      {"IpAddress", 0x40, Bytes({10, 0, 0, 254}), "10.0.0.254"},
      {"Counter", 0x41, Bytes({0x01, 0x00}), "256"},
      {"Gauge 27", 0x42, Bytes({0x1B}), "27"},
      {"Gauge 255 without sign octet", 0x42, Bytes({0xFF}), "255"},
      {"Gauge 2147483648 prints negative", 0x42, Bytes({0x00, 0x80, 0x00, 0x00, 0x00}),
       "-2147483648"},
      {"Gauge 4294967295 prints -1", 0x42, Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {"TimeTicks", 0x43, Bytes({0x01, 0x00, 0x00}), "65536"},
      {"NULL", 0x05, "", ""},
      {"noSuchObject", 0x80, "", ""},
      {"noSuchInstance", 0x81, "", ""},
      {"endOfMibView", 0x82, "", ""},
      {"Counter64", 0x46, Bytes({0x01}), ""},
      {"BOOLEAN", 0x01, Bytes({0x01}), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto* p = reinterpret_cast<const uint8_t*>(c.content.data());
    EXPECT_EQ(SnmpValueText(static_cast<uint8_t>(c.tag), p, c.content.size()), c.text);
    // The same value inside a whole answer.
    tSNMPMessage m;
    ASSERT_TRUE(
        DecodeSnmpMessage(Message("public", Binding(TemperatureOid(), Tlv(c.tag, c.content))), &m));
    ASSERT_EQ(m.Bindings.size(), 1u);
    EXPECT_EQ(m.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
    EXPECT_EQ(m.Bindings[0].Value, c.text);
  }
}

// A GetResponse as a card sends it, annotated.
const std::string& CardAnswer() {
  static const std::string answer = Bytes({
      0x30, 0x2D,                                     // SEQUENCE, 45 octets
      0x02, 0x01, 0x00,                               //   version 0
      0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  //   community "public"
      0xA2, 0x20,                                     //   GetResponse-PDU, 32 octets
      0x02, 0x01, 0x00,                               //     request-id 0
      0x02, 0x01, 0x00,                               //     error-status 0
      0x02, 0x01, 0x00,                               //     error-index 0
      0x30, 0x15,                                     //     binding list, 21 octets
      0x30, 0x13,                                     //       binding, 19 octets
      0x06, 0x0E,                                     //         OID, 14 octets
      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,       //           1.3.6.1.4.1.318
      0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00,       //           .1.1.1.2.2.2.0
      0x42, 0x01, 0x1B,                               //         Gauge 27
  });
  return answer;
}

TEST(BerTest, DecodesTheCardsAnswer) {
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(CardAnswer(), &m));
  EXPECT_EQ(m.Version, 0);
  EXPECT_EQ(m.Community, "public");
  EXPECT_EQ(m.PDUType, kSnmpGetResponse);
  EXPECT_EQ(m.RequestID, 0);
  EXPECT_EQ(m.ErrorStatus, 0);
  EXPECT_EQ(m.ErrorIndex, 0);
  ASSERT_EQ(m.Bindings.size(), 1u);
  EXPECT_EQ(m.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
  EXPECT_EQ(m.Bindings[0].Value, "27");
}

// Each case changes the card's answer in one place: offset, new octet, what decodes.
TEST(BerTest, OneOctetMutations) {
  struct Case {
    const char* name;
    size_t offset;
    int octet;
    bool decodes;
    const char* value;  // of the one binding, when it decodes
  };
  const Case cases[] = {
      {"outer tag not SEQUENCE", 0, 0x31, false, ""},
      {"outer length claims more", 1, 0x7F, true, "27"},
      {"outer length indefinite", 1, 0x80, false, ""},
      {"outer length with five octets", 1, 0x85, false, ""},
      {"version not INTEGER", 2, 0x04, false, ""},
      {"community length runs past the end", 6, 0x70, false, ""},
      {"GetRequest instead of GetResponse", 13, 0xA0, true, "27"},
      {"PDU tag not context-specific", 13, 0x30, false, ""},
      {"request-id 5", 17, 0x05, true, "27"},
      {"error-status 2", 20, 0x02, true, "27"},
      {"error-index not INTEGER", 21, 0x05, false, ""},
      {"binding list not SEQUENCE", 24, 0x31, true, nullptr},
      {"OID tag changed", 28, 0x04, true, "27"},
      {"OID length runs past the end", 29, 0x40, true, ""},
      {"value type NULL", 44, 0x05, true, ""},
      {"value length runs past the end", 45, 0x02, true, ""},
      {"value length zero", 45, 0x00, true, "0"},
      {"value Counter", 44, 0x41, true, "27"},
      {"multi-octet tag", 44, 0x1F, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string datagram = CardAnswer();
    ASSERT_LT(c.offset, datagram.size());
    datagram[c.offset] = static_cast<char>(c.octet);
    tSNMPMessage m;
    ASSERT_EQ(DecodeSnmpMessage(datagram, &m), c.decodes);
    if (!c.decodes) continue;
    if (c.value == nullptr) {
      EXPECT_TRUE(m.Bindings.empty());
    } else {
      ASSERT_EQ(m.Bindings.size(), 1u);
      EXPECT_EQ(m.Bindings[0].Value, c.value);
    }
  }
}

TEST(BerTest, EveryTruncation) {
  const std::string& full = CardAnswer();
  for (size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    // A copy of exactly n octets, so that a read past its end shows under the sanitizers.
    std::unique_ptr<uint8_t[]> cut(new uint8_t[n == 0 ? 1 : n]);
    std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n), cut.get());
    tSNMPMessage m;
    const bool decodes = DecodeSnmpMessage(cut.get(), n, &m);
    // The header is whole from octet 24 on (the error-index ends there).
    EXPECT_EQ(decodes, n >= 24);
    for (const tSNMPBinding& b : m.Bindings) EXPECT_EQ(b.Value, "");
  }
}

// An item with its length in the long form of `octets` length octets, even where the short
// form would do.
std::string LongTlv(int tag, const std::string& content, int octets) {
  std::string out = Bytes({tag, 0x80 | octets});
  for (int i = octets - 1; i >= 0; --i) {
    out.push_back(static_cast<char>((content.size() >> (8 * i)) & 0xFF));
  }
  return out + content;
}

TEST(BerTest, LongFormLengthsAndManyBindings) {
  const std::string voltage =
      LongTlv(0x30, LongTlv(0x06, snmp_test::VoltageOid(), 1) + LongTlv(0x02, Bytes({1}), 3), 2);
  const std::string temperature =
      LongTlv(0x30, LongTlv(0x06, TemperatureOid(), 2) + LongTlv(0x04, "230", 4), 1);
  const std::string pdu = LongTlv(0x02, Bytes({0}), 1) + LongTlv(0x02, Bytes({0}), 2) +
                          LongTlv(0x02, Bytes({0}), 3) + LongTlv(0x30, voltage + temperature, 4);
  const std::string datagram = LongTlv(
      0x30, LongTlv(0x02, Bytes({0}), 4) + LongTlv(0x04, "public", 1) + LongTlv(0xA2, pdu, 2), 2);
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(datagram, &m));
  EXPECT_EQ(m.Community, "public");
  ASSERT_EQ(m.Bindings.size(), 2u);
  EXPECT_EQ(m.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.3.2.1.0");
  EXPECT_EQ(m.Bindings[0].Value, "1");
  EXPECT_EQ(m.Bindings[1].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
  EXPECT_EQ(m.Bindings[1].Value, "230");

  // A long-form length that claims more than the datagram holds cuts only that item.
  const std::string lying = Message(
      "public", Binding(TemperatureOid(), Bytes({0x04, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 'x'})));
  ASSERT_TRUE(DecodeSnmpMessage(lying, &m));
  ASSERT_EQ(m.Bindings.size(), 1u);
  EXPECT_EQ(m.Bindings[0].OID, "1.3.6.1.4.1.318.1.1.1.2.2.2.0");
  EXPECT_EQ(m.Bindings[0].Value, "");
}

TEST(BerTest, NestedGarbageStopsTheBindings) {
  const std::string bindings = Binding(TemperatureOid(), Tlv(0x42, Bytes({27}))) +
                               Bytes({0x05, 0x00}) +  // not a binding: the list ends here
                               Binding(TemperatureOid(), Tlv(0x42, Bytes({28})));
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(Message("public", bindings), &m));
  ASSERT_EQ(m.Bindings.size(), 1u);
  EXPECT_EQ(m.Bindings[0].Value, "27");

  // A binding that holds only garbage decodes as an empty pair.
  ASSERT_TRUE(DecodeSnmpMessage(Message("public", Tlv(0x30, Bytes({0xFF, 0xFF, 0xFF}))), &m));
  ASSERT_EQ(m.Bindings.size(), 1u);
  EXPECT_EQ(m.Bindings[0].OID, "");
  EXPECT_EQ(m.Bindings[0].Value, "");

  EXPECT_FALSE(DecodeSnmpMessage(std::string(), &m));
  EXPECT_FALSE(DecodeSnmpMessage(Bytes({0x30}), &m));
  EXPECT_FALSE(DecodeSnmpMessage(Bytes({0x30, 0x00}), &m));
}

TEST(BerTest, IntegerAndUnsignedContent) {
  struct Case {
    const char* name;
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {"integer 0", IntegerContent(0), Bytes({0x00})},
      {"integer 127", IntegerContent(127), Bytes({0x7F})},
      {"integer 128 needs a sign octet", IntegerContent(128), Bytes({0x00, 0x80})},
      {"integer -1", IntegerContent(-1), Bytes({0xFF})},
      {"integer -128", IntegerContent(-128), Bytes({0x80})},
      {"integer -129", IntegerContent(-129), Bytes({0xFF, 0x7F})},
      {"integer max", IntegerContent(2147483647), Bytes({0x7F, 0xFF, 0xFF, 0xFF})},
      {"integer min", IntegerContent(-2147483647 - 1), Bytes({0x80, 0x00, 0x00, 0x00})},
      {"unsigned 0", UnsignedContent(0), Bytes({0x00})},
      {"unsigned 27", UnsignedContent(27), Bytes({0x1B})},
      {"unsigned 230", UnsignedContent(230), Bytes({0x00, 0xE6})},
      {"unsigned 256", UnsignedContent(256), Bytes({0x01, 0x00})},
      {"unsigned 2147483648", UnsignedContent(2147483648u), Bytes({0x00, 0x80, 0x00, 0x00, 0x00})},
      {"unsigned max", UnsignedContent(4294967295u), Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(BerTest, GetResponseWithTwoGauges) {
  const std::string expected = Bytes({
      0x30, 0x44,                                     // SEQUENCE, 68 octets: the message
      0x02, 0x01, 0x00,                               //   INTEGER version 0
      0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  //   OCTET STRING community "public"
      0xA2, 0x37,                                     //   GetResponse-PDU, 55 octets
      0x02, 0x02, 0x01, 0x2C,                         //     INTEGER request-id 300
      0x02, 0x01, 0x00,                               //     INTEGER error-status 0
      0x02, 0x01, 0x00,                               //     INTEGER error-index 0
      0x30, 0x2B,                                     //     SEQUENCE, 43 octets: binding list
      0x30, 0x13,                                     //       SEQUENCE, 19 octets
      0x06, 0x0E,                                     //         OBJECT IDENTIFIER, 14 octets
      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,       //           1.3.6.1.4.1.318
      0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00,       //           .1.1.1.2.2.2.0
      0x42, 0x01, 0x1B,                               //         Gauge 27
      0x30, 0x14,                                     //       SEQUENCE, 20 octets
      0x06, 0x0E,                                     //         OBJECT IDENTIFIER, 14 octets
      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,       //           1.3.6.1.4.1.318
      0x01, 0x01, 0x01, 0x03, 0x02, 0x01, 0x00,       //           .1.1.1.3.2.1.0
      0x42, 0x02, 0x00, 0xE6,                         //         Gauge 230, sign octet first
  });
  std::string datagram;
  const std::vector<tSNMPVarBind> values = {
      {"1.3.6.1.4.1.318.1.1.1.2.2.2.0", kSnmpGauge, UnsignedContent(27)},
      {"1.3.6.1.4.1.318.1.1.1.3.2.1.0", kSnmpGauge, UnsignedContent(230)},
  };
  ASSERT_TRUE(EncodeGetResponse("public", 300, 0, 0, values, &datagram));
  EXPECT_EQ(datagram, expected);

  // What the service's decoder makes of it.
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(datagram, &m));
  EXPECT_EQ(m.PDUType, kSnmpGetResponse);
  EXPECT_EQ(m.RequestID, 300);
  ASSERT_EQ(m.Bindings.size(), 2u);
  EXPECT_EQ(m.Bindings[0].Value, "27");
  EXPECT_EQ(m.Bindings[1].OID, "1.3.6.1.4.1.318.1.1.1.3.2.1.0");
  EXPECT_EQ(m.Bindings[1].Value, "230");
}

TEST(BerTest, GetResponseRoundTrips) {
  // noSuchName for the second binding, the request's bindings echoed with NULL values, a long
  // community that makes the outer length take the long form.
  const std::string community(150, 'c');
  std::string datagram;
  const std::vector<tSNMPVarBind> echoed = {
      {"1.3.6.1.2.1.1.5.0", kBerNull, ""},
      {"1.3.6.1.4.1.9.0", kBerNull, ""},
  };
  ASSERT_TRUE(EncodeGetResponse(community, -5, 2, 2, echoed, &datagram));
  EXPECT_EQ(static_cast<uint8_t>(datagram[1]), 0x81);  // long form, one length octet
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(datagram, &m));
  EXPECT_EQ(m.Community, community);
  EXPECT_EQ(m.RequestID, -5);
  EXPECT_EQ(m.ErrorStatus, 2);
  EXPECT_EQ(m.ErrorIndex, 2);
  ASSERT_EQ(m.Bindings.size(), 2u);
  EXPECT_EQ(m.Bindings[1].OID, "1.3.6.1.4.1.9.0");
  EXPECT_EQ(m.Bindings[1].Value, "");

  EXPECT_FALSE(EncodeGetResponse("public", 0, 0, 0, {{"1.x", kBerNull, ""}}, &datagram));
  ASSERT_TRUE(EncodeGetResponse("", 0, 0, 0, {}, &datagram));
  EXPECT_EQ(datagram, Bytes({0x30, 0x12, 0x02, 0x01, 0x00, 0x04, 0x00, 0xA2, 0x0B, 0x02,
                             0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00}));
}

}  // namespace
}  // namespace tw
