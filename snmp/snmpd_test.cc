// SNMPSend against Debian's snmpd standing in for the UPS's network management card. The test
// starts snmpd inside its private network namespace with a configuration of its own, serves
// the two PowerNet objects as Gauge32 through a pass_persist script that reads files the test
// rewrites between queries, and stops snmpd by its PID.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/network.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/snmpd_process.h"
#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

TEST(SnmpdTest, ReadsTheCardLikeARealAgent) {
  TW_REQUIRE_PRIVATE_NETWORK();
  if (access(kSnmpd, X_OK) != 0) GTEST_SKIP() << "Debian's snmpd is not installed";
  TempDir temp;
  const std::string dir = temp.path();
  ASSERT_TRUE(PrepareUpsAgent(dir,
                              "agentAddress udp:127.0.0.1:161\n"
                              "rocommunity public 127.0.0.1\n"));

  Snmpd snmpd;
  ASSERT_TRUE(snmpd.Start(dir)) << ReadLog(dir + "snmpd.log");

  std::unique_ptr<Network> net = NewSystemNetwork();
  std::unique_ptr<Clock> clock = NewSystemClock();
  FakeEnv env;
  env.ctx.env.network = net.get();
  env.ctx.env.clock = clock.get();
  tSNMPRec rec{kOidUpsTemperature, "public", "127.0.0.1"};

  EXPECT_EQ(SNMPSend(env.ctx, rec), "27");
  rec.OID = kOidUpsInputVoltage;
  EXPECT_EQ(SNMPSend(env.ctx, rec), "230");

  // pass_persist asks the script anew for every query, so a changed value shows at once.
  ASSERT_TRUE(WriteText(dir + "temperature", "31\n"));
  ASSERT_TRUE(WriteText(dir + "voltage", "0\n"));
  rec.OID = kOidUpsTemperature;
  EXPECT_EQ(SNMPSend(env.ctx, rec), "31");
  rec.OID = kOidUpsInputVoltage;
  EXPECT_EQ(SNMPSend(env.ctx, rec), "0");

  // An object the agent does not know: noSuchName (error-status 2), empty text.
  rec.OID = "1.3.6.1.4.1.318.1.1.1.9.9.9.0";
  tSNMPResult r = SNMPQuery(env.ctx, rec);
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNotProvided);
  EXPECT_EQ(r.ErrorStatus, 2);
  EXPECT_EQ(SNMPSend(env.ctx, rec), "");

  // A community the agent does not accept: it drops the request, and the query gives up after
  // the whole wait.
  rec = {kOidUpsTemperature, "private", "127.0.0.1"};
  const auto before = std::chrono::steady_clock::now();
  r = SNMPQuery(env.ctx, rec);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(r.Text, "");
  EXPECT_GE(waited, std::chrono::milliseconds(4900));

  // The agent stopped: its port is closed, the stack says so (connection reset) at once.
  snmpd.Stop();
  rec.Community = "public";
  EXPECT_EQ(SNMPQuery(env.ctx, rec).Outcome, tSNMPOutcome::kConnectionReset);
  EXPECT_EQ(SNMPSend(env.ctx, rec), "");
}

}  // namespace
}  // namespace tw
