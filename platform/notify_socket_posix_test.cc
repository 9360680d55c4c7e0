#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "platform/notify_socket.h"

namespace tw {
namespace {

// A listener bound to an abstract name, as systemd's "@..." NOTIFY_SOCKET values are.
TEST(NotifySocketTest, AbstractNamesAndBadValues) {
  const std::string name = "@tw-notify-test-" + std::to_string(::getpid());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  name.copy(addr.sun_path + 1, name.size() - 1, 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
            0);

  ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
  EXPECT_TRUE(NotifyServiceManager("READY=1\nSTATUS=ok"));
  char buffer[256];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "READY=1\nSTATUS=ok");

  struct Case {
    const char* value;  // nullptr: unset
  } cases[] = {{nullptr}, {""}, {"@"}, {"relative/path"}, {"/nonexistent/tw-notify"}};
  for (const Case& c : cases) {
    if (c.value == nullptr) {
      ::unsetenv("NOTIFY_SOCKET");
    } else {
      ::setenv("NOTIFY_SOCKET", c.value, 1);
    }
    EXPECT_FALSE(NotifyServiceManager("WATCHDOG=1")) << (c.value ? c.value : "(unset)");
  }
  ::unsetenv("NOTIFY_SOCKET");
  ::close(fd);
}

}  // namespace
}  // namespace tw
