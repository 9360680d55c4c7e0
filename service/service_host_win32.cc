#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "install/install.h"
#include "platform/win32_error.h"
#include "service/service_host.h"
#include "tempwarden_messages.h"

namespace tw {
namespace {

// Reports every state to the service control manager, with the check point rule: a repeated
// pending state counts up, anything else starts again at 0.
class ScmStatus : public StatusSink {
 public:
  void set_handle(SERVICE_STATUS_HANDLE handle) { handle_ = handle; }

  void Report(ServiceState state) override { Send(state, 0); }

  // A failure ends the service as "stopped with a service-specific error", which the service
  // manager's recovery actions treat as a failure to act on; a plain stop does not.
  void ReportStopped(uint32_t exit_code) override { Send(ServiceState::kStopped, exit_code); }

 private:
  void Send(ServiceState state, uint32_t exit_code) {
    if (handle_ == nullptr) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = ToWin32(state);
    status.dwControlsAccepted =
        state == ServiceState::kStartPending
            ? 0
            : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWin32ExitCode = exit_code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exit_code;
    status.dwWaitHint = 5000;
    const bool pending =
        state == ServiceState::kStartPending || state == ServiceState::kStopPending ||
        state == ServiceState::kPausePending || state == ServiceState::kContinuePending;
    check_point_ = pending && state == last_ ? check_point_ + 1 : 0;
    status.dwCheckPoint = check_point_;
    last_ = state;
    SetServiceStatus(handle_, &status);
  }

  static DWORD ToWin32(ServiceState s) {
    switch (s) {
      case ServiceState::kStopped:
        return SERVICE_STOPPED;
      case ServiceState::kStartPending:
        return SERVICE_START_PENDING;
      case ServiceState::kStopPending:
        return SERVICE_STOP_PENDING;
      case ServiceState::kRunning:
        return SERVICE_RUNNING;
      case ServiceState::kContinuePending:
        return SERVICE_CONTINUE_PENDING;
      case ServiceState::kPausePending:
        return SERVICE_PAUSE_PENDING;
      case ServiceState::kPaused:
        return SERVICE_PAUSED;
    }
    return SERVICE_STOPPED;
  }

  SERVICE_STATUS_HANDLE handle_ = nullptr;
  ServiceState last_ = ServiceState::kStopped;
  DWORD check_point_ = 0;
};

class Win32ServiceHost;

// The service manager calls ServiceMain and the control handler without a context argument,
// so the one running service is reachable through this pointer while it is dispatched.
Win32ServiceHost* g_dispatching = nullptr;

class Win32ServiceHost : public ServiceHost {
 public:
  bool Dispatch(const ServiceDefinition& service, std::string* error_text) override {
    service_ = &service;
    g_dispatching = this;
    char name[256] = {};
    lstrcpynA(name, service.name.c_str(), sizeof name);
    SERVICE_TABLE_ENTRYA table[] = {{name, &Win32ServiceHost::ServiceMain}, {nullptr, nullptr}};
    const bool ok = StartServiceCtrlDispatcherA(table) != FALSE;
    if (!ok) *error_text = Win32ErrorText(GetLastError());
    g_dispatching = nullptr;
    return ok;
  }

  void RunInConsole(const ServiceDefinition& service) override {
    service_ = &service;
    ControlQueue queue(nullptr, service.requests, service.stop);
    console_queue_ = &queue;
    SetConsoleCtrlHandler(&Win32ServiceHost::ConsoleHandler, TRUE);
    std::thread worker([&] {
      RunServiceThread(service, queue,
                       [&](const std::string& text) { WriteEventLog(service.name, text); });
    });
    worker.join();
    SetConsoleCtrlHandler(&Win32ServiceHost::ConsoleHandler, FALSE);
    console_queue_ = nullptr;
    exit_status_ = queue.exit_code() == 0 ? 0 : 1;
  }

  int ExitStatus() const override { return exit_status_; }

  void ShowMessage(const ServiceDefinition& service, const std::string& text, bool is_error,
                   bool silent) override {
    if (is_error) {
      std::fprintf(stderr, "%s\n", text.c_str());
      std::fflush(stderr);
      if (silent) FileEvent(service.display_name, text);
    }
    if (!silent) {
      MessageBoxA(nullptr, text.c_str(), service.display_name.c_str(),
                  MB_OK | (is_error ? MB_ICONERROR : MB_ICONINFORMATION));
    }
  }

  void WriteEventLog(const std::string& service_name, const std::string& text) override {
    (void)service_name;  // events are filed under the event source, the display name
    FileEvent(service_ != nullptr ? service_->display_name : std::string(kEventSource), text);
  }

 private:
  // Each instance's events go to its own source, which /install registered under the
  // instance's display name.
  static void FileEvent(const std::string& source_name, const std::string& text) {
    HANDLE source = RegisterEventSourceA(nullptr, source_name.c_str());
    if (source == nullptr) return;
    const char* strings[] = {text.c_str()};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, TW_MSG_ERROR, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }

  static void WINAPI ServiceMain(DWORD, LPSTR*) {
    Win32ServiceHost* self = g_dispatching;
    if (self == nullptr) return;
    ScmStatus status;
    ControlQueue queue(&status, self->service_->requests, self->service_->stop);
    self->scm_queue_ = &queue;
    status.set_handle(
        RegisterServiceCtrlHandlerA(self->service_->name.c_str(), &Win32ServiceHost::Handler));
    RunServiceThread(*self->service_, queue, [self](const std::string& text) {
      self->WriteEventLog(self->service_->name, text);
    });
    self->scm_queue_ = nullptr;
    self->exit_status_ = queue.exit_code() == 0 ? 0 : 1;
  }

  // Runs on the dispatcher thread: it only queues the code for the service thread.
  static void WINAPI Handler(DWORD control) {
    Win32ServiceHost* self = g_dispatching;
    ControlQueue* queue = self == nullptr ? nullptr : self->scm_queue_.load();
    if (queue == nullptr) return;
    switch (control) {
      case SERVICE_CONTROL_STOP:
        queue->Post(ControlCode::kStop);
        break;
      case SERVICE_CONTROL_SHUTDOWN:
        queue->Post(ControlCode::kShutdown);
        break;
      case SERVICE_CONTROL_PAUSE:
        queue->Post(ControlCode::kPause);
        break;
      case SERVICE_CONTROL_CONTINUE:
        queue->Post(ControlCode::kContinue);
        break;
      case SERVICE_CONTROL_INTERROGATE:
        queue->Post(ControlCode::kInterrogate);
        break;
      default:
        break;
    }
  }

  static BOOL WINAPI ConsoleHandler(DWORD) {
    Win32ServiceHost* self = g_console;
    ControlQueue* queue = self == nullptr ? nullptr : self->console_queue_.load();
    if (queue != nullptr) queue->Post(ControlCode::kStop);
    return TRUE;
  }

  const ServiceDefinition* service_ = nullptr;
  int exit_status_ = 0;
  std::atomic<ControlQueue*> scm_queue_{nullptr};
  std::atomic<ControlQueue*> console_queue_{nullptr};

 public:
  static Win32ServiceHost* g_console;
};

Win32ServiceHost* Win32ServiceHost::g_console = nullptr;

}  // namespace

std::unique_ptr<ServiceHost> NewSystemServiceHost() {
  auto host = std::make_unique<Win32ServiceHost>();
  Win32ServiceHost::g_console = host.get();
  return host;
}

}  // namespace tw
