// The systemd unit of the service: one text for the unit that `/install` writes and the one
// that the Debian package ships, so both carry the same sandbox.
#ifndef TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_
#define TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_

#include <string>

namespace tw {

// The account the service runs under; /install and the package create it when missing.
constexpr char kServiceUser[] = "tempwarden";

struct SystemdUnit {
  std::string description;  // the display name
  std::string executable;   // absolute path of the program
  std::string directory;    // absolute path where it writes its files (its own directory)
  std::string user;         // account name, also its group
  // The service's registry key file, which the start handler rewrites; empty when none.
  std::string key_file;
};

// The unit file's text. False with a reason when a path cannot be expressed in a unit file
// (relative, or holding a line break).
bool SystemdUnitText(const SystemdUnit& unit, std::string* text, std::string* error_text);

// The program's path as the first word of ExecStart=: double quotes, with systemd's specifier
// (%) and C escapes (\, ") written so that systemd reads back exactly `path`.
std::string ExecStartWord(const std::string& path);

// A path as one entry of a space-separated path list (ReadWritePaths=): quoted only when it
// holds a space, a quote or a backslash.
std::string PathListWord(const std::string& path);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_
