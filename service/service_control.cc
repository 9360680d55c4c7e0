#include "service/service_control.h"

#include <chrono>
#include <exception>

namespace tw {

void ControlQueue::Post(ControlCode code) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(code);
    // Raised under the lock, so that ProcessRequests cannot lower it between the push and
    // the raise and leave a queued request without a wake-up.
    if (requests_ != nullptr) requests_->Raise();
    if (stop_ != nullptr && (code == ControlCode::kStop || code == ControlCode::kShutdown)) {
      stop_->Raise();
    }
  }
  wake_.notify_all();
}

void ControlQueue::SetExitCode(uint32_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  exit_code_ = code;
}

uint32_t ControlQueue::exit_code() const {
  std::lock_guard<std::mutex> lock(mu_);
  return exit_code_;
}

void ControlQueue::ReportStopped() {
  uint32_t code = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_ = ServiceState::kStopped;
    code = exit_code_;
  }
  if (status_ != nullptr) status_->ReportStopped(code);
}

bool ControlQueue::Terminated() const {
  std::lock_guard<std::mutex> lock(mu_);
  return terminated_;
}

ServiceState ControlQueue::state() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

void ControlQueue::SetState(ServiceState state) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    state_ = state;
  }
  if (status_ != nullptr) status_->Report(state);
}

void ControlQueue::KeepAlive() {
  if (status_ != nullptr) status_->KeepAlive();
}

void ControlQueue::SetStatusText(const std::string& text) {
  if (status_ != nullptr) status_->StatusText(text);
}

void ControlQueue::StartPhaseDone() {
  if (status_ != nullptr) status_->Ready();
}

void ControlQueue::ExtendStart(uint64_t ms) {
  if (status_ != nullptr) status_->ExtendStart(ms);
}

void ControlQueue::ProcessRequests() {
  std::unique_lock<std::mutex> lock(mu_);
  // Lowered before the queue is emptied: a request posted from here on raises it again.
  if (requests_ != nullptr && !terminated_) requests_->Lower();
  while (!queue_.empty()) {
    const ControlCode code = queue_.front();
    queue_.pop_front();
    Handle(code, lock);
  }
}

void ControlQueue::Handle(ControlCode code, std::unique_lock<std::mutex>& lock) {
  auto report = [&](ServiceState s) {
    state_ = s;
    lock.unlock();
    if (status_ != nullptr) status_->Report(s);
    lock.lock();
  };
  switch (code) {
    case ControlCode::kStop:
    case ControlCode::kShutdown:
      report(ServiceState::kStopPending);
      terminated_ = true;
      // From now on every wait of the service thread ends at once.
      if (requests_ != nullptr) requests_->Raise();
      break;
    case ControlCode::kPause: {
      if (terminated_) break;
      report(ServiceState::kPausePending);
      report(ServiceState::kPaused);
      if (on_paused) {
        lock.unlock();
        on_paused();
        lock.lock();
      }
      // The service thread stands still here until continue (or stop) is queued, telling
      // the manager at once and then at every keep-alive interval that it is alive and only
      // paused.
      lock.unlock();
      KeepAlive();
      lock.lock();
      const std::chrono::milliseconds interval(status_ != nullptr ? status_->KeepAliveIntervalMs()
                                                                  : 30000);
      for (;;) {
        while (!wake_.wait_for(lock, interval, [&] { return !queue_.empty(); })) {
          lock.unlock();
          KeepAlive();
          lock.lock();
        }
        const ControlCode next = queue_.front();
        queue_.pop_front();
        if (next == ControlCode::kContinue || next == ControlCode::kStop ||
            next == ControlCode::kShutdown) {
          Handle(next, lock);
          break;
        }
        if (next == ControlCode::kInterrogate) report(state_);
      }
      break;
    }
    case ControlCode::kContinue:
      if (state_ == ServiceState::kPaused || state_ == ServiceState::kPausePending) {
        report(ServiceState::kContinuePending);
        report(ServiceState::kRunning);
      }
      break;
    case ControlCode::kInterrogate:
      report(state_);
      break;
  }
}

namespace {

std::string TextOf(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

void RunServiceThread(const ServiceDefinition& service, ControlQueue& queue,
                      const std::function<void(const std::string&)>& event_log) {
  auto guarded = [&](const char* what, const std::function<void()>& step) {
    try {
      step();
    } catch (...) {
      if (event_log)
        event_log(std::string("Service failed on ") + what + ": " +
                  TextOf(std::current_exception()));
    }
  };
  queue.SetState(ServiceState::kStartPending);
  bool started = true;
  if (service.start) guarded("start", [&] { service.start(started); });
  if (started) {
    queue.SetState(ServiceState::kRunning);
    if (service.execute) {
      try {
        service.execute(queue);
      } catch (...) {
        queue.SetExitCode(kExitCycleFailed);
        if (event_log) event_log("Service failed on execute: " + TextOf(std::current_exception()));
      }
    }
    guarded("execute", [&] { queue.ProcessRequests(); });
  }
  queue.ReportStopped();
}

}  // namespace tw
