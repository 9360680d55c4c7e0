#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/service_host.h"
#include "platform/systemd_posix.h"

namespace tw {
namespace {

std::string OwnExecutable() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

bool SystemdRuns() {
  struct stat st {};
  return !UnitDirectoryRedirected() && ::stat("/run/systemd/system", &st) == 0;
}

// Quotes a path for a unit file's ExecStart= line.
std::string UnitQuoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void RunSystemctl(const std::string& args) {
  const std::string command = "systemctl " + args + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    // The unit is written; enabling is a convenience the administrator can repeat.
  }
}

class PosixServiceHost : public ServiceHost {
 public:
  bool Install(const ServiceDefinition& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit = dir + service.name + ".service";
    struct stat st {};
    if (::stat(unit.c_str(), &st) == 0) {
      *error_text = "The specified service already exists.";
      return false;
    }
    const std::string exe = OwnExecutable();
    const std::string work = exe.substr(0, exe.rfind('/') + 1);
    std::ofstream out(unit);
    out << "[Unit]\n"
        << "Description=" << service.display_name << "\n"
        << "After=network-online.target\n"
        << "Wants=network-online.target\n\n"
        << "[Service]\n"
        << "Type=simple\n"
        << "ExecStart=" << UnitQuoted(exe) << "\n"
        << "WorkingDirectory=" << UnitQuoted(work) << "\n"
        << "KillSignal=SIGTERM\n"
        << "TimeoutStopSec=30\n\n"
        << "[Install]\n"
        << "WantedBy=multi-user.target\n";
    out.close();
    if (!out) {
      *error_text = std::strerror(errno);
      ::unlink(unit.c_str());
      return false;
    }
    // The service's registry key: an empty key file beside the unit.
    std::ofstream key(dir + service.name + ".key", std::ios::app);
    if (SystemdRuns()) {
      RunSystemctl("daemon-reload");
      RunSystemctl("enable " + service.name + ".service");
    }
    return true;
  }

  bool Uninstall(const ServiceDefinition& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit = dir + service.name + ".service";
    struct stat st {};
    if (::stat(unit.c_str(), &st) != 0) {
      *error_text = "The specified service does not exist as an installed service.";
      return false;
    }
    if (SystemdRuns()) RunSystemctl("disable " + service.name + ".service");
    if (::unlink(unit.c_str()) != 0) {
      *error_text = std::strerror(errno);
      return false;
    }
    ::unlink((dir + service.name + ".key").c_str());
    if (SystemdRuns()) RunSystemctl("daemon-reload");
    return true;
  }

  bool Dispatch(const ServiceDefinition& service, std::string* error_text) override {
    (void)error_text;
    Run(service);
    return true;
  }

  void RunInConsole(const ServiceDefinition& service) override { Run(service); }

  void ShowMessage(const ServiceDefinition&, const std::string& text, bool is_error,
                   bool) override {
    std::FILE* out = is_error ? stderr : stdout;
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
  }

  void WriteEventLog(const std::string& service_name, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", service_name.c_str(), text.c_str());
    std::fflush(stderr);
  }

 private:
  // The control signals are blocked in every thread and taken by this (the dispatcher)
  // thread with sigwaitinfo, which only queues them: no work happens in signal context. The
  // dispatcher sleeps until a signal comes; when the service thread has finished it sends the
  // dispatcher a signal of its own to end the wait.
  void Run(const ServiceDefinition& service) {
    const int done_signal = SIGRTMIN + 1;
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, done_signal}) sigaddset(&set, s);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);

    ControlQueue queue(nullptr, service.requests, service.stop);
    std::atomic<bool> done{false};
    const pthread_t dispatcher = pthread_self();
    std::thread worker([&] {
      RunServiceThread(service, queue, [&](const std::string& text) {
        WriteEventLog(service.name, text);
      });
      done = true;
      pthread_kill(dispatcher, done_signal);
    });
    while (!done) {
      const int sig = sigwaitinfo(&set, nullptr);
      if (sig == SIGTERM || sig == SIGINT) queue.Post(ControlCode::kStop);
      if (sig == SIGUSR1) queue.Post(ControlCode::kPause);
      if (sig == SIGUSR2) queue.Post(ControlCode::kContinue);
      if (sig == SIGHUP) queue.Post(ControlCode::kInterrogate);
    }
    worker.join();
    // A wake-up signal not yet taken would otherwise be delivered once the mask is restored.
    const timespec no_wait{0, 0};
    while (sigtimedwait(&set, nullptr, &no_wait) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    exit_status_ = queue.exit_code() == 0 ? 0 : 1;
  }

  int exit_status_ = 0;

 public:
  int ExitStatus() const override { return exit_status_; }
};

}  // namespace

std::unique_ptr<ServiceHost> NewSystemServiceHost() {
  return std::make_unique<PosixServiceHost>();
}

}  // namespace tw
