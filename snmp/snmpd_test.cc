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

#include "toolbelt/fake_context.h"
#include "platform/network.h"
#include "tests/isolation.h"
#include "tests/temp_dir.h"
#include "snmp/snmp.h"

namespace tw {
namespace {

constexpr char kSnmpd[] = "/usr/sbin/snmpd";

// Answers "get" for the two objects from the files beside it; every other object is unknown,
// which an SNMPv1 agent reports as noSuchName.
bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return in && static_cast<bool>(out);
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// True once something listens on UDP 127.0.0.1:161 in this namespace.
bool AgentListening() {
  std::ifstream udp("/proc/self/net/udp");
  std::string line;
  while (std::getline(udp, line)) {
    if (line.find(" 0100007F:00A1 ") != std::string::npos) return true;
  }
  return false;
}

// snmpd in the foreground, stopped (and reaped) by its PID.
class Snmpd {
 public:
  ~Snmpd() { Stop(); }

  bool Start(const std::string& dir) {
    const std::string conf = dir + "snmpd.conf";
    const std::string persist = "SNMP_PERSISTENT_DIR=" + dir + "persist";
    std::vector<std::string> args = {kSnmpd,           "-f", "-C", "-c", conf, "-I", "-smux", "-Lf",
                                     dir + "snmpd.log"};
    std::vector<std::string> env = {persist, "MIBS="};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, kSnmpd, nullptr, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 500; ++i) {  // up to 10 s
      if (AgentListening()) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 250; ++i) {  // up to 5 s, then without mercy
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string ReadLog(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SnmpdTest, ReadsTheCardLikeARealAgent) {
  TW_REQUIRE_PRIVATE_NETWORK();
  if (access(kSnmpd, X_OK) != 0) GTEST_SKIP() << "Debian's snmpd is not installed";
  TempDir temp;
  const std::string dir = temp.path();
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(mkdir((dir + "persist").c_str(), 0700), 0);
  ASSERT_TRUE(CopyFile(TW_SOURCE_DIR "/tests/ups_pass_persist.sh", dir + "agent.sh"));
  ASSERT_EQ(chmod((dir + "agent.sh").c_str(), 0700), 0);
  ASSERT_TRUE(WriteText(dir + "temperature", "27\n"));
  ASSERT_TRUE(WriteText(dir + "voltage", "230\n"));
  ASSERT_TRUE(WriteText(dir + "snmpd.conf",
                        "agentAddress udp:127.0.0.1:161\n"
                        "rocommunity public 127.0.0.1\n"
                        "pass_persist .1.3.6.1.4.1.318.1.1.1 " +
                            dir + "agent.sh\n"));

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
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kErrorStatus);
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
