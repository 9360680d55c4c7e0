#include "service/systemd_status_posix.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

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

TEST(SystemdStatusTest, StatesReadingsAndPingsReachTheNotifySocket) {
  TempDir dir;
  NotifySocket socket(dir.path() + "notify");
  ASSERT_TRUE(socket.bound());
  SystemdStatus status;
  ControlQueue queue(&status);

  queue.SetState(ServiceState::kStartPending);
  queue.SetState(ServiceState::kRunning);
  queue.KeepAlive();
  queue.SetStatusText("[UPSTemp=27]\r\n[UPSState=OnLine]");
  queue.Post(ControlCode::kStop);
  queue.ProcessRequests();
  queue.SetState(ServiceState::kStopped);

  const std::vector<std::string> expected = {
      "READY=1", "WATCHDOG=1", "STATUS=[UPSTemp=27]  [UPSState=OnLine]", "STOPPING=1"};
  EXPECT_EQ(socket.Messages(), expected);
}

TEST(SystemdStatusTest, ReadyAfterAPauseRepeatsTheLastReading) {
  TempDir dir;
  NotifySocket socket(dir.path() + "notify");
  ASSERT_TRUE(socket.bound());
  SystemdStatus status;
  status.StatusText("[UPSTemp=25]");
  status.Report(ServiceState::kPaused);
  status.Report(ServiceState::kRunning);
  const std::vector<std::string> expected = {"STATUS=[UPSTemp=25]", "STATUS=Paused",
                                             "READY=1\nSTATUS=[UPSTemp=25]"};
  EXPECT_EQ(socket.Messages(), expected);
}

}  // namespace
}  // namespace tw
