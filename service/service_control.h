// The part of a service framework that the service itself sees: control requests queued by
// the platform's control handler and handled on the service thread, the Terminated flag, and
// status reports. Platform independent; the hosts in service_host_*.cc drive it.
#ifndef TEMPWARDEN_SERVICE_SERVICE_CONTROL_H_
#define TEMPWARDEN_SERVICE_SERVICE_CONTROL_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/wake_event.h"

namespace tw {

enum class ControlCode { kStop, kPause, kContinue, kInterrogate, kShutdown };

enum class ServiceState {
  kStopped,
  kStartPending,
  kStopPending,
  kRunning,
  kContinuePending,
  kPausePending,
  kPaused,
};

// Receives every status report. The Windows host passes them to SetServiceStatus.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void Report(ServiceState state) = 0;
  // The watchdog ping and the status line, for managers that take them (systemd).
  virtual void KeepAlive() {}
  virtual void StatusText(const std::string& /*text*/) {}
  // The longest time between two pings: half the manager's watchdog period, at most 30 s.
  virtual uint64_t KeepAliveIntervalMs() const { return 30000; }
  // The start phase of the service is over: for managers that wait for it (systemd's
  // READY=1), the service runs only now.
  virtual void Ready() {}
  // The start phase goes on longer than the manager would wait: `ms` more from now.
  virtual void ExtendStart(uint64_t /*ms*/) {}
  // The last report: stopped, and whether the service ended in a failure (`exit_code` not 0)
  // that the manager's recovery settings should act on.
  virtual void ReportStopped(uint32_t exit_code) {
    (void)exit_code;
    Report(ServiceState::kStopped);
  }
};

// What the monitoring cycle uses of the framework.
class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // True once a stop or shutdown request has been handled.
  virtual bool Terminated() const = 0;
  // Handles every queued request without waiting for new ones. A pause blocks the calling
  // (service) thread here until continue, stop or shutdown arrives.
  virtual void ProcessRequests() = 0;

  // Tells the service manager that the service thread is alive (a watchdog ping). The cycle
  // calls it at every loop pass and at least every 30 s inside its long waits.
  virtual void KeepAlive() {}
  // A one-line status text for the service manager to show (the latest reading).
  virtual void SetStatusText(const std::string& /*text*/) {}
  // The cycle's start phase is over and the service works (StatusSink::Ready); and, during a
  // long start phase, how much longer it goes on (StatusSink::ExtendStart).
  virtual void StartPhaseDone() {}
  virtual void ExtendStart(uint64_t /*ms*/) {}

  // Raised while a request waits to be handled, and for good once a stop or shutdown has been
  // asked for: the cycle's waits end on it. Null when requests only arrive at ProcessRequests.
  virtual WakeEvent* RequestEvent() { return nullptr; }

  // Marks the run as ended by a failure: the service manager is told so when the service stops
  // (a service-specific exit code on Windows, the process exit status on Linux).
  virtual void SetExitCode(uint32_t /*code*/) {}
};

// The exit code of a monitoring cycle ended by a failure it could not recover from.
constexpr uint32_t kExitCycleFailed = 1;

// The request queue between the control handler (any thread) and the service thread.
class ControlQueue : public ServiceControl {
 public:
  // `requests` (may be null) is raised at every Post and lowered when ProcessRequests has
  // handled everything, except after a stop; `stop` (may be null) is raised by a stop or
  // shutdown Post at once, for the waits that only a stop should end (the network's).
  explicit ControlQueue(StatusSink* status, WakeEvent* requests = nullptr,
                        WakeEvent* stop = nullptr)
      : status_(status), requests_(requests), stop_(stop) {}

  // Called by the control handler: queues the code and wakes a paused service thread and
  // every wait on the wake-up events.
  void Post(ControlCode code);

  bool Terminated() const override;
  void ProcessRequests() override;
  void KeepAlive() override;                             // passed on to the status sink
  void SetStatusText(const std::string& text) override;  // likewise
  void StartPhaseDone() override;                        // likewise
  void ExtendStart(uint64_t ms) override;                // likewise
  WakeEvent* RequestEvent() override { return requests_; }
  void SetExitCode(uint32_t code) override;
  uint32_t exit_code() const;
  // Reports stopped, with the exit code set.
  void ReportStopped();

  ServiceState state() const;
  void SetState(ServiceState state);

  // Called with the service thread paused, once per pause, for tests and diagnostics.
  std::function<void()> on_paused;

 private:
  void Handle(ControlCode code, std::unique_lock<std::mutex>& lock);

  StatusSink* status_;
  WakeEvent* requests_;
  WakeEvent* stop_;
  uint32_t exit_code_ = 0;
  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::deque<ControlCode> queue_;
  bool terminated_ = false;
  ServiceState state_ = ServiceState::kStopped;
};

// The one service the program carries, as its framework sees it.
struct ServiceDefinition {
  std::string name;          // registered name, registry key name
  std::string display_name;  // shown by the service manager
  // The start handler; it may clear `started` to cancel the run (this service never does).
  std::function<void(bool& started)> start;
  // The execute handler; returning ends the service.
  std::function<void(ServiceControl& control)> execute;
  // The wake-up events the framework's request queue raises (see ControlQueue); may be null.
  WakeEvent* requests = nullptr;
  WakeEvent* stop = nullptr;
};

// The service thread, the same on every platform: report start pending, run the start
// handler, report running, run the execute handler, handle what is still queued, report
// stopped. An exception escaping a handler goes to `event_log` as
// "Service failed on start: <text>" (or "execute") and ends that step; one escaping the
// execute handler also sets the exit code kExitCycleFailed.
void RunServiceThread(const ServiceDefinition& service, ControlQueue& queue,
                      const std::function<void(const std::string&)>& event_log);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SERVICE_CONTROL_H_
