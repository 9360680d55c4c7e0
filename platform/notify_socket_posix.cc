#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/notify_socket.h"

namespace tw {

bool NotifyServiceManager(const std::string& message) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr) return false;
  const size_t length = std::strlen(name);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // A path must be absolute; '@' names an abstract socket, whose name starts with a NUL byte and
  // is not NUL terminated, so the address length counts it exactly.
  if (length < 2 || (name[0] != '/' && name[0] != '@')) return false;
  if (length > sizeof addr.sun_path - (name[0] == '/' ? 1 : 0)) return false;
  std::memcpy(addr.sun_path, name, length);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  const socklen_t addr_length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&addr), addr_length);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

uint64_t WatchdogPeriodUsec() {
  const char* pid = std::getenv("WATCHDOG_PID");
  if (pid != nullptr) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(pid, &end, 10);
    if (end == pid || *end != '\0' || value != static_cast<unsigned long long>(::getpid())) {
      return 0;  // meant for another process (the one that exec'd this one)
    }
  }
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (usec == nullptr) return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(usec, &end, 10);
  if (end == usec || *end != '\0') return 0;
  return value;
}

}  // namespace tw
