#include "service/systemd_status_posix.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/heartbeat.h"
#include "tests/temp_dir.h"

namespace tw {
namespace {

// A notify socket as systemd opens it: a unix datagram socket named by NOTIFY_SOCKET.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
  }
  ~NotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    ::close(fd_);
  }
  bool bound() const { return bound_; }

  // Every message waiting, in order of arrival.
  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) break;
      out.emplace_back(buffer, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

// Systemd hears READY=1 when the cycle's start phase is over, not when the framework reports
// running: a service that dies in its start phase never counts as started.
TEST(SystemdStatusTest, StatesReadingsAndPingsReachTheNotifySocket) {
  TempDir dir;
  NotifySocket socket(dir.path() + "notify");
  ASSERT_TRUE(socket.bound());
  SystemdStatus status;
  ControlQueue queue(&status);

  queue.SetState(ServiceState::kStartPending);
  queue.SetState(ServiceState::kRunning);
  queue.ExtendStart(60000);
  queue.KeepAlive();
  queue.SetStatusText("[UPSTemp=27]\r\n[UPSState=OnLine]");
  queue.StartPhaseDone();
  queue.Post(ControlCode::kStop);
  queue.ProcessRequests();
  queue.SetState(ServiceState::kStopped);

  const std::vector<std::string> expected = {
      "EXTEND_TIMEOUT_USEC=60000000", "WATCHDOG=1", "STATUS=[UPSTemp=27]  [UPSState=OnLine]",
      "READY=1\nSTATUS=[UPSTemp=27]  [UPSState=OnLine]", "STOPPING=1"};
  EXPECT_EQ(socket.Messages(), expected);
}

TEST(SystemdStatusTest, ReadyAfterAPauseRepeatsTheLastReading) {
  TempDir dir;
  NotifySocket socket(dir.path() + "notify");
  ASSERT_TRUE(socket.bound());
  SystemdStatus status;
  status.Ready();
  status.StatusText("[UPSTemp=25]");
  status.Report(ServiceState::kPaused);
  status.Report(ServiceState::kRunning);
  const std::vector<std::string> expected = {"READY=1", "STATUS=[UPSTemp=25]", "STATUS=Paused",
                                             "READY=1\nSTATUS=[UPSTemp=25]"};
  EXPECT_EQ(socket.Messages(), expected);
}

// The watchdog period systemd asks for sets the keep-alive interval: half of it, never more
// than 30 s; a period meant for another process is not this one's.
TEST(SystemdStatusTest, KeepAliveIntervalIsHalfTheWatchdogPeriod) {
  struct Case {
    const char* usec;
    const char* pid;        // "self" for this process
    uint64_t interval_ms;   // the keep-alive interval of the cycle and a pause
    uint64_t heartbeat_ms;  // the network's waits; 0: no heartbeat
  } cases[] = {
      {nullptr, nullptr, 30000, 0},
      {"20000000", nullptr, 10000, 10000},
      {"20000000", "self", 10000, 10000},
      {"20000000", "1", 30000, 0},
      {"120000000", nullptr, 30000, 60000},
      {"junk", nullptr, 30000, 0},
      {"1000", nullptr, 1, 1},
  };
  for (const auto& c : cases) {
    const std::string label = std::string(c.usec ? c.usec : "-") + " " + (c.pid ? c.pid : "-");
    if (c.usec != nullptr) ::setenv("WATCHDOG_USEC", c.usec, 1);
    const std::string pid =
        c.pid != nullptr && std::string(c.pid) == "self" ? std::to_string(::getpid()) : "";
    if (c.pid != nullptr) ::setenv("WATCHDOG_PID", pid.empty() ? c.pid : pid.c_str(), 1);
    SystemdStatus status;
    EXPECT_EQ(status.KeepAliveIntervalMs(), c.interval_ms) << label;
    std::unique_ptr<Heartbeat> heartbeat = NewSystemHeartbeat();
    EXPECT_EQ(heartbeat != nullptr ? heartbeat->IntervalMs() : 0, c.heartbeat_ms) << label;
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
  }
}

}  // namespace
}  // namespace tw
