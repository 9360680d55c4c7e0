#include "snmp/exchange.h"

#include <gtest/gtest.h>

#include <vector>

#include "snmp/snmp.h"
#include "tests/snmp_messages.h"
#include "toolbelt/failure.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using snmp_test::GaugeAnswer;

std::string HostFault(const std::string& host) {
  try {
    CardHostName(host);
  } catch (const Fault& f) {
    return f.what();
  }
  return "";
}

// What users write in UPSHost: names and addresses of both kinds, IPv6 bare or in brackets as
// URLs have it; brackets with a port after them are refused by name.
TEST(ExchangeTest, HostAsWritten) {
  const struct {
    const char* written;
    const char* host;
  } cases[] = {
      {"10.0.0.9", "10.0.0.9"},
      {"ups-card", "ups-card"},
      {"fd00::9", "fd00::9"},
      {"[fd00::9]", "fd00::9"},
      {"::1", "::1"},
      {"[::1]", "::1"},
      {"fe80::9%eth0", "fe80::9%eth0"},
      {"[fe80::9%2]", "fe80::9%2"},
  };
  for (const auto& c : cases) EXPECT_EQ(CardHostName(c.written), c.host) << c.written;
  EXPECT_NE(HostFault("[fd00::9]:1161")
                .find("names a port: write the address alone and the "
                      "port in UPSPort"),
            std::string::npos);
  EXPECT_NE(HostFault("[fd00::9").find("has no closing bracket"), std::string::npos);
}

std::string AddressFault(const std::string& host) {
  FakeNetwork network;
  try {
    CardAddresses(network, host);
  } catch (const Fault& f) {
    return f.what();
  }
  return "";
}

// A link-local address needs its interface; without one it is refused by name, not with the
// stack's "invalid argument".
TEST(ExchangeTest, LinkLocalNeedsItsInterface) {
  for (const char* host : {"fe80::9", "[FE80::9]", "febf::1"}) {
    EXPECT_NE(AddressFault(host).find("is a link-local IPv6 address: add the interface it is on"),
              std::string::npos)
        << host;
  }
  for (const char* host : {"fe80::9%eth0", "[fe80::9%2]", "fec0::1", "fd00::9", "::1"}) {
    EXPECT_EQ(AddressFault(host), "") << host;
  }
}

// A name is looked up for both kinds: its IPv4 addresses first (as the card was always read),
// then its IPv6 ones.
TEST(ExchangeTest, AddressesOfTheCard) {
  FakeNetwork network;
  network.tcp_hosts["dual"] = {"fd00::9", "10.0.0.9", "fd00::a", "10.0.0.8"};
  network.tcp_hosts["six"] = {"fd00::9", "fd00::a"};
  network.hosts["four"] = "10.0.0.8";
  using List = std::vector<std::string>;
  const struct {
    const char* host;
    List addresses;
  } cases[] = {
      {"dual", {"10.0.0.9", "10.0.0.8", "fd00::9", "fd00::a"}},
      {"six", {"fd00::9", "fd00::a"}},
      {"four", {"10.0.0.8"}},
      {"[six]", {"fd00::9", "fd00::a"}},
      {"[fd00::b]", {"fd00::b"}},
      {"10.0.0.7", {"10.0.0.7"}},
  };
  for (const auto& c : cases) EXPECT_EQ(CardAddresses(network, c.host), c.addresses) << c.host;
  try {
    CardAddresses(network, "nowhere");
    ADD_FAILURE() << "an unknown name resolved";
  } catch (const Fault& f) {
    EXPECT_EQ(f.class_name(), "ESocketError");
  }
}

// A name whose IPv4 address has no agent (the port is closed) is read at its IPv6 address in
// the same query; without another address the query ends as a closed port.
TEST(ExchangeTest, NextAddressWhenAPortIsClosed) {
  FakeEnv env;
  env.network.tcp_hosts["dual"] = {"fd00::9", "10.0.0.9"};
  env.network.answers.push_back({"", "", 0, kWsaConnReset});
  env.network.answers.push_back({GaugeAnswer("public", 27), "fd00::9", 161, 0});
  EXPECT_EQ(SNMPSend(env.ctx, {kOidUpsTemperature, "public", "dual"}), "27");
  ASSERT_EQ(env.network.sent.size(), 2u);
  EXPECT_EQ(env.network.sent[0].to_ipv4, "10.0.0.9");
  EXPECT_EQ(env.network.sent[1].to_ipv4, "fd00::9");
  EXPECT_EQ(env.network.sent[0].payload, env.network.sent[1].payload);
  EXPECT_EQ(env.network.open_sockets, 0);

  env.network.sent.clear();
  env.network.answers.push_back({"", "", 0, kWsaConnReset});
  env.network.answers.push_back({"", "", 0, kWsaConnReset});
  EXPECT_EQ(SNMPQuery(env.ctx, {kOidUpsTemperature, "public", "dual"}).Outcome,
            tSNMPOutcome::kConnectionReset);
  EXPECT_EQ(env.network.sent.size(), 2u);
  env.network.answers.push_back({"", "", 0, kWsaConnReset});
  EXPECT_EQ(SNMPQuery(env.ctx, {kOidUpsTemperature, "public", "10.0.0.9"}).Outcome,
            tSNMPOutcome::kConnectionReset);
}

// The card on IPv6: the request goes out on an IPv6 socket, and the answer counts when it
// comes from the card's address however the platform spells it, and from the card's port.
TEST(ExchangeTest, CardOnIPv6) {
  const struct {
    const char* host;
    const char* from;
    uint16_t from_port;
    const char* text;
  } cases[] = {
      {"fd00::9", "fd00::9", 161, "27"},          {"[fd00::9]", "fd00:0:0:0:0:0:0:9", 161, "27"},
      {"FD00::9", "fd00::9", 161, "27"},          {"six", "fd00::9", 161, "27"},
      {"fe80::9%eth0", "fe80::9", 161, "27"},     {"fd00::9", "fd00::a", 161, ""},  // another host
      {"fd00::9", "fd00::9", 1161, ""},  // another port of the card
      {"fd00::9", "10.0.0.9", 161, ""},  // an IPv4 host
      {"::ffff:10.0.0.9", "10.0.0.9", 161, "27"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " answered from " + c.from);
    FakeEnv env;
    env.network.tcp_hosts["six"] = {"fd00::9"};
    env.network.answers.push_back({GaugeAnswer("public", 27), c.from, c.from_port, 0});
    const tSNMPRec rec{kOidUpsTemperature, "public", c.host};
    EXPECT_EQ(SNMPSend(env.ctx, rec), c.text);
    ASSERT_FALSE(env.network.sent.empty());  // the fake's IPv4 sockets refuse IPv6 addresses
    EXPECT_EQ(env.network.sent[0].to_port, 161);
    EXPECT_EQ(env.network.open_sockets, 0);
  }
}

}  // namespace
}  // namespace tw
