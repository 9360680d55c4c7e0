// SNMPSend against Debian's snmpd listening on IPv6 loopback only ([::1]:161) inside the
// test's private network namespace: the card's address written bare or in brackets is read
// in versions 1, 2c and 3, and the IPv4 loopback, where nothing listens, is not.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/network.h"
#include "snmp/session.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/snmpd_process.h"
#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

TEST(SnmpdIPv6Test, ReadsTheCardOnIPv6) {
  TW_REQUIRE_PRIVATE_NETWORK();
  if (access(kSnmpd, X_OK) != 0) GTEST_SKIP() << "Debian's snmpd is not installed";
  if (access("/proc/self/net/udp6", R_OK) != 0) GTEST_SKIP() << "no IPv6 in this kernel";
  TempDir temp;
  const std::string dir = temp.path();
  ASSERT_TRUE(PrepareUpsAgent(dir,
                              "agentAddress udp6:[::1]:161\n"
                              "rocommunity6 public ::1/128\n"
                              "createUser shaaes SHA shaaes-auth-pass AES shaaes-priv-pass\n"
                              "rouser shaaes priv\n"));
  Snmpd snmpd;
  ASSERT_TRUE(snmpd.Start(dir)) << ReadLog(dir + "snmpd.log");

  std::unique_ptr<Network> net = NewSystemNetwork();
  std::unique_ptr<Clock> clock = NewSystemClock();
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  FakeEnv env;
  env.ctx.env.network = net.get();
  env.ctx.env.clock = clock.get();
  env.ctx.env.crypto = crypto.get();

  const struct {
    tSNMPSettings settings;
    const char* host;
  } cases[] = {
      {{"1", "", "", "", "", "", ""}, "::1"},
      {{"1", "", "", "", "", "", ""}, "[::1]"},
      {{"1", "", "", "", "", "", ""}, "0:0:0:0:0:0:0:1"},
      {{"2c", "", "", "", "", "", ""}, "[::1]"},
      {{"3", "shaaes", "SHA", "shaaes-auth-pass", "AES", "shaaes-priv-pass", ""}, "::1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " version " + c.settings.Version);
    SnmpSession session;
    ASSERT_TRUE(ConfigureSnmpSession(env.ctx, c.settings, &session));
    tSNMPRec rec{kOidUpsTemperature, "public", c.host, &session};
    const tSNMPResult r = SNMPRead(env.ctx, rec);
    EXPECT_EQ(r.Outcome, tSNMPOutcome::kValue);
    EXPECT_EQ(r.Text, "27");
    EXPECT_EQ(r.Retransmissions, 0);
    rec.OID = kOidUpsInputVoltage;
    EXPECT_EQ(SNMPSend(env.ctx, rec), "230");
  }

  // Nothing listens on the IPv4 loopback: the stack says so at once.
  EXPECT_EQ(SNMPQuery(env.ctx, {kOidUpsTemperature, "public", "127.0.0.1"}).Outcome,
            tSNMPOutcome::kConnectionReset);
  // The agent stopped: its IPv6 port is closed, and the stack says that too.
  snmpd.Stop();
  EXPECT_EQ(SNMPQuery(env.ctx, {kOidUpsTemperature, "public", "[::1]"}).Outcome,
            tSNMPOutcome::kConnectionReset);
}

}  // namespace
}  // namespace tw
