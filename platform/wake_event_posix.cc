#include "platform/wake_event_posix.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace tw {
namespace {

// An eventfd whose counter is 1 while raised and 0 while lowered, so poll sees it readable
// exactly while it is raised. The mutex keeps Raise and Lower from interleaving their
// read/write pairs.
class PosixWakeEvent : public WakeEvent {
 public:
  PosixWakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~PosixWakeEvent() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void Raise() override {
    std::lock_guard<std::mutex> lock(mu_);
    if (raised_) return;
    raised_ = true;
    const uint64_t one = 1;
    while (fd_ >= 0 && ::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  void Lower() override {
    std::lock_guard<std::mutex> lock(mu_);
    if (!raised_) return;
    raised_ = false;
    uint64_t value = 0;
    while (fd_ >= 0 && ::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
  }

  bool Raised() const override {
    std::lock_guard<std::mutex> lock(mu_);
    return raised_;
  }

  int fd() const { return fd_; }

 private:
  const int fd_;
  mutable std::mutex mu_;
  bool raised_ = false;
};

}  // namespace

std::unique_ptr<WakeEvent> NewSystemWakeEvent() { return std::make_unique<PosixWakeEvent>(); }

int WakeEventFd(const WakeEvent* event) {
  const auto* own = dynamic_cast<const PosixWakeEvent*>(event);
  return own == nullptr ? -1 : own->fd();
}

}  // namespace tw
