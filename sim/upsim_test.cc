// The simulated UPS as a program: started on loopback inside the test's private network
// namespace, read with the service's own SNMPSend over real sockets, stopped by SIGTERM
// through its PID.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/network.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

const std::string kProgram = std::string(TW_BINARY_DIR) + "/tempwarden-upsim";

// Each test listens on an address of its own (port 161 is where SNMPSend asks), so that the
// tests can run side by side with each other and with Debian's snmpd on 127.0.0.1.
constexpr char kScripted[] = "127.0.0.5";
constexpr char kCurve[] = "127.0.0.6";

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The program with its standard output and error in a file; killed at the end if still there.
class Upsim {
 public:
  ~Upsim() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Start(const std::vector<std::string>& switches, const std::string& output) {
    output_ = output;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> args = {kProgram};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 250; ++i) {  // up to 5 s
      if (FileText(output).find("listening on") != std::string::npos) return true;
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Sends SIGTERM and waits up to 5 s; the exit code, or -1 when it did not end.
  int Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return WaitExit(5000);
  }

  // Waits up to `ms` for the program to end; its exit code, or -1 when it did not end.
  int WaitExit(int ms) {
    for (int i = 0; i < ms / 20; ++i) {
      if (Exited()) return exit_code_;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  std::string Output() const { return FileText(output_); }

 private:
  // True once the program has ended (and been reaped); its exit code is then kept.
  bool Exited() {
    if (pid_ <= 0) return exit_code_ != -1;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }

  pid_t pid_ = -1;
  int exit_code_ = -1;
  std::string output_;
};

class UpsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = NewSystemNetwork();
    clock_ = NewSystemClock();
    env_.ctx.env.network = net_.get();
    env_.ctx.env.clock = clock_.get();
  }

  std::string Get(const char* address, const char* oid, const std::string& community) {
    return SNMPSend(env_.ctx, tSNMPRec{oid, community, address});
  }

  TempDir temp_;
  FakeEnv env_;
  std::unique_ptr<Network> net_;
  std::unique_ptr<Clock> clock_;
};

TEST_F(UpsimTest, AnswersTheServicesQueriesUntilTerminated) {
  TW_REQUIRE_PRIVATE_NETWORK();
  Upsim upsim;
  ASSERT_TRUE(upsim.Start({"--listen", std::string(kScripted) + ":161", "--temps", "25,29,31",
                           "--volts=230,0,230", "--community", "tw"},
                          temp_.path() + "out.txt"))
      << upsim.Output();

  EXPECT_EQ(Get(kScripted, kOidUpsTemperature, "tw"), "25");
  EXPECT_EQ(Get(kScripted, kOidUpsInputVoltage, "tw"), "230");
  EXPECT_EQ(Get(kScripted, kOidUpsTemperature, "tw"), "29");
  EXPECT_EQ(Get(kScripted, kOidUpsInputVoltage, "tw"), "0");
  EXPECT_EQ(Get(kScripted, kOidUpsTemperature, "tw"), "31");
  EXPECT_EQ(Get(kScripted, kOidUpsTemperature, "tw"), "31");
  EXPECT_EQ(Get(kScripted, kOidUpsInputVoltage, "tw"), "230");
  const tSNMPResult other = SNMPQuery(env_.ctx, tSNMPRec{"1.3.6.1.2.1.1.5.0", "tw", kScripted});
  EXPECT_EQ(other.Outcome, tSNMPOutcome::kNotProvided);
  EXPECT_EQ(other.ErrorStatus, 2);

  EXPECT_EQ(upsim.Terminate(), 0);
  const std::string out = upsim.Output();
  EXPECT_NE(out.find("listening on 127.0.0.5:161, community \"tw\""), std::string::npos) << out;
  EXPECT_NE(out.find(" temperature=29\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" noSuchName 1.3.6.1.2.1.1.5.0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("stopped; 7 answered, 1 noSuchName, 0 dropped"), std::string::npos) << out;

  // Stopped, its port is closed: the query hears so at once.
  EXPECT_EQ(SNMPQuery(env_.ctx, tSNMPRec{kOidUpsTemperature, "tw", kScripted}).Outcome,
            tSNMPOutcome::kConnectionReset);
}

TEST_F(UpsimTest, CurveAndMainsWithinTheirBoundsAndADuration) {
  TW_REQUIRE_PRIVATE_NETWORK();
  Upsim upsim;
  ASSERT_TRUE(upsim.Start(
      {"--listen", kCurve, "--mean", "20", "--swing", "5", "--noise", "0.5", "--mains", "120",
       "--mains-noise", "3", "--outage-every", "0", "--duration", "2", "--quiet"},
      temp_.path() + "out.txt"))
      << upsim.Output();
  const int temp = std::stoi(Get(kCurve, kOidUpsTemperature, "public"));
  EXPECT_GE(temp, 15);
  EXPECT_LE(temp, 25);
  const int volts = std::stoi(Get(kCurve, kOidUpsInputVoltage, "public"));
  EXPECT_GE(volts, 117);
  EXPECT_LE(volts, 123);
  EXPECT_EQ(upsim.WaitExit(5000), 0);
  EXPECT_EQ(upsim.Output().find(" temperature="), std::string::npos);  // quiet
}

TEST_F(UpsimTest, RefusesWhatItDoesNotUnderstand) {
  Upsim upsim;
  EXPECT_FALSE(upsim.Start({"--temps", "29.5"}, temp_.path() + "out.txt"));
  EXPECT_EQ(upsim.WaitExit(5000), 2);
  EXPECT_NE(upsim.Output().find("--temps: \"29.5\" is not a valid value"), std::string::npos)
      << upsim.Output();
}

}  // namespace
}  // namespace tw
