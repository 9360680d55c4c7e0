// The tests' SMTP relay (tests/smtp_server.py on Debian's aiosmtpd) as a child process:
// started with the switches a test needs, watched through its standard output, stopped by
// its PID. Use only inside a private network namespace.
#ifndef TEMPWARDEN_TESTS_SMTP_RELAY_PROCESS_H_
#define TEMPWARDEN_TESTS_SMTP_RELAY_PROCESS_H_

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace tw {

class SmtpRelayProcess {
 public:
  SmtpRelayProcess() = default;
  SmtpRelayProcess(const SmtpRelayProcess&) = delete;
  SmtpRelayProcess& operator=(const SmtpRelayProcess&) = delete;
  ~SmtpRelayProcess() { Stop(); }

  // Starts the relay with the extra `switches`; false when it did not report that it
  // listens within the wait limit. `script`: another server of tests/ that takes the same
  // transcript switches and reports "READY <port>" the same way.
  bool Start(const std::vector<std::string>& switches,
             const std::string& script = "smtp_server.py") {
    int out[2];
    if (pipe(out) != 0) return false;
    std::vector<std::string> args = {"/usr/bin/python3",
                                     std::string(TW_SOURCE_DIR) + "/tests/" + script,
                                     "--transcript",
                                     dir_.path() + "transcript.txt",
                                     "--raw",
                                     dir_.path() + "raw.bin"};
    args.insert(args.end(), switches.begin(), switches.end());
    const std::string err_path = dir_.path() + "stderr.txt";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      FILE* err = std::fopen(err_path.c_str(), "w");
      if (err != nullptr) dup2(fileno(err), STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    const std::string ready = ReadLine();
    if (ready.rfind("READY ", 0) != 0) return false;
    port_ = static_cast<uint16_t>(std::stoi(ready.substr(6)));
    return true;
  }

  uint16_t port() const { return port_; }

  // Waits until the relay reports that a connection has ended.
  bool WaitClosed() { return ReadLine() == "CLOSED"; }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (out_ >= 0) {
      close(out_);
      out_ = -1;
    }
  }

  // Every line of both sides, "C: " for the client, "S: " for the relay.
  std::vector<std::string> Transcript() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_.path() + "transcript.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  // The client's bytes as they arrived.
  std::string Raw() const { return FileText("raw.bin"); }
  std::string Errors() const { return FileText("stderr.txt"); }

 private:
  static constexpr int kWaitLimitMs = 10000;

  std::string FileText(const std::string& name) const {
    std::ifstream in(dir_.path() + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // One line of the relay's standard output; empty when none came within the wait limit.
  std::string ReadLine() {
    std::string line;
    while (out_ >= 0) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, kWaitLimitMs) <= 0) return std::string();
      char c;
      if (read(out_, &c, 1) != 1) return std::string();
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  TempDir dir_;
  pid_t pid_ = -1;
  int out_ = -1;
  uint16_t port_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_SMTP_RELAY_PROCESS_H_
