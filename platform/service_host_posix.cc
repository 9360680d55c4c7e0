#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "platform/service_account_posix.h"
#include "platform/systemd_notify_posix.h"
#include "platform/systemd_posix.h"
#include "platform/systemd_unit_posix.h"

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

// A unit of that name written here before, or shipped by the package in systemd's own unit
// directories (which a unit in /etc would silently override).
bool UnitInstalled(const std::string& unit_file, const std::string& name) {
  struct stat st {};
  if (::stat(unit_file.c_str(), &st) == 0) return true;
  if (UnitDirectoryRedirected()) return false;
  for (const char* dir : {"/usr/lib/systemd/system/", "/lib/systemd/system/"}) {
    if (::stat((dir + name + ".service").c_str(), &st) == 0) return true;
  }
  return false;
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
    const std::string unit_file = dir + service.name + ".service";
    const std::string key_file = dir + service.name + ".key";
    if (UnitInstalled(unit_file, service.name)) {
      *error_text = "The specified service already exists.";
      return false;
    }
    SystemdUnit unit;
    unit.description = service.display_name;
    unit.executable = OwnExecutable();
    unit.directory = unit.executable.substr(0, std::max<size_t>(unit.executable.rfind('/'), 1));
    unit.user = kServiceUser;
    unit.key_file = key_file;
    std::string text;
    if (!SystemdUnitText(unit, &text, error_text)) return false;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!EnsureServiceAccount(unit.user, unit.directory, &uid, &gid, error_text)) return false;
    // The service's registry key: a file beside the unit, which the start handler rewrites
    // as the service's user.
    { std::ofstream key(key_file, std::ios::app); }
    if (::chown(key_file.c_str(), uid, gid) != 0 ||
        !GiveDirectoryTo(unit.directory, unit.executable, uid, gid, error_text)) {
      if (error_text->empty()) *error_text = key_file + ": " + std::strerror(errno);
      ::unlink(key_file.c_str());
      return false;
    }
    std::ofstream out(unit_file);
    out << text;
    out.close();
    if (!out) {
      *error_text = std::strerror(errno);
      ::unlink(unit_file.c_str());
      ::unlink(key_file.c_str());
      return false;
    }
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

  std::string UninstallNote(const ServiceDefinition&) override {
    const std::string exe = OwnExecutable();
    return std::string("The user \"") + kServiceUser + "\" and the files in " +
           exe.substr(0, std::max<size_t>(exe.rfind('/'), 1)) + " are left in place.";
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

    SystemdStatus systemd;
    ControlQueue queue(&systemd, service.requests, service.stop);
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
