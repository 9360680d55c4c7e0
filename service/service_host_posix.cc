#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include "service/service_host.h"
#include "service/systemd_status_posix.h"

namespace tw {
namespace {

class PosixServiceHost : public ServiceHost {
 public:
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
      RunServiceThread(service, queue,
                       [&](const std::string& text) { WriteEventLog(service.name, text); });
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

std::unique_ptr<ServiceHost> NewSystemServiceHost() { return std::make_unique<PosixServiceHost>(); }

}  // namespace tw
