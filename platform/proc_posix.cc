#include "platform/proc_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tw {

bool ReadProcField(const char* file, const char* key, std::string* value) {
  // Read with the system's calls rather than a stream, which would bring the C++ locale into a
  // process that has no other use for it. These files are a few kilobytes.
  const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() > 65536) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  const std::string prefix = std::string("\n") + key;
  const size_t at = text.compare(0, prefix.size() - 1, key) == 0 ? 0 : text.find(prefix);
  if (at == std::string::npos) return false;
  const size_t from = at == 0 ? prefix.size() - 1 : at + prefix.size();
  const size_t end = text.find('\n', from);
  *value = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
  return true;
}

}  // namespace tw
