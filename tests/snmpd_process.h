// Debian's snmpd as the card's agent for the gtest suites: started in the foreground inside
// the test's private network namespace with a configuration of the test's own, stopped (and
// reaped) by its PID.
#ifndef TEMPWARDEN_TESTS_SNMPD_PROCESS_H_
#define TEMPWARDEN_TESTS_SNMPD_PROCESS_H_

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tw {

constexpr char kSnmpd[] = "/usr/sbin/snmpd";

inline bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return in && static_cast<bool>(out);
}

inline bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// The card's agent in `dir` (with its trailing "/"): the UPS objects through
// tests/ups_pass_persist.sh, reading 27 degrees and 230 V from the files "temperature" and
// "voltage", and snmpd.conf of `conf_lines` and the pass_persist line. False when a file
// could not be written.
inline bool PrepareUpsAgent(const std::string& dir, const std::string& conf_lines) {
  return !dir.empty() && mkdir((dir + "persist").c_str(), 0700) == 0 &&
         CopyFile(TW_SOURCE_DIR "/tests/ups_pass_persist.sh", dir + "agent.sh") &&
         chmod((dir + "agent.sh").c_str(), 0700) == 0 && WriteText(dir + "temperature", "27\n") &&
         WriteText(dir + "voltage", "230\n") &&
         WriteText(dir + "snmpd.conf",
                   conf_lines + "pass_persist .1.3.6.1.4.1.318.1.1.1 " + dir + "agent.sh\n");
}

// True once something listens on UDP 127.0.0.1:161 or [::1]:161 in this namespace.
inline bool AgentListening() {
  const struct {
    const char* table;
    const char* local;
  } ends[] = {{"/proc/self/net/udp", " 0100007F:00A1 "},
              {"/proc/self/net/udp6", " 00000000000000000000000001000000:00A1 "}};
  for (const auto& end : ends) {
    std::ifstream udp(end.table);
    std::string line;
    while (std::getline(udp, line)) {
      if (line.find(end.local) != std::string::npos) return true;
    }
  }
  return false;
}

// snmpd in the foreground, stopped (and reaped) by its PID.
class Snmpd {
 public:
  ~Snmpd() { Stop(); }

  // `keep_state`: snmpd reads its persistent directory back at start (its engine ID stays,
  // its boots count up), through a configuration path of the test's directory and that one.
  bool Start(const std::string& dir, bool keep_state = false) {
    const std::string conf = dir + "snmpd.conf";
    const std::string persist = "SNMP_PERSISTENT_DIR=" + dir + "persist";
    std::vector<std::string> args = {kSnmpd,           "-f", "-C", "-c", conf, "-I", "-smux", "-Lf",
                                     dir + "snmpd.log"};
    std::vector<std::string> env = {persist, "MIBS="};
    if (keep_state) {
      args = {kSnmpd, "-f", "-I", "-smux", "-Lf", dir + "snmpd.log"};
      env.push_back("SNMPCONFPATH=" + dir + ":" + dir + "persist");
    }
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

inline std::string ReadLog(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_SNMPD_PROCESS_H_
