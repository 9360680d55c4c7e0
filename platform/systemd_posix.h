// Where the Linux service host keeps the unit file and the registry key files.
#ifndef TEMPWARDEN_PLATFORM_SYSTEMD_POSIX_H_
#define TEMPWARDEN_PLATFORM_SYSTEMD_POSIX_H_

#include <cstdlib>
#include <string>

namespace tw {

// The systemd unit directory; TEMPWARDEN_UNIT_DIR redirects it (tests never touch /etc).
inline std::string UnitDirectory() {
  const char* dir = std::getenv("TEMPWARDEN_UNIT_DIR");
  std::string d = dir != nullptr && *dir != '\0' ? dir : "/etc/systemd/system";
  if (d.back() != '/') d += '/';
  return d;
}

inline bool UnitDirectoryRedirected() {
  const char* dir = std::getenv("TEMPWARDEN_UNIT_DIR");
  return dir != nullptr && *dir != '\0';
}

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SYSTEMD_POSIX_H_
