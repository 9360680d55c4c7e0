// The systemd unit of the service: one text for the unit that `/install` writes and the one
// that the Debian package ships, so both carry the same sandbox.
#ifndef TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_
#define TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_

#include <string>

namespace tw {

// The account the service runs under; /install and the package create it when missing.
constexpr char kServiceUser[] = "tempwarden";

// The units of the package and of /install: "tempwarden" for the unnamed instance (with the
// alias below for installations of the old name), "tempwarden@NAME" for a named one.
constexpr char kUnitName[] = "tempwarden";
constexpr char kUnitAlias[] = "VOZIvazure.service";
std::string UnitNameOf(const std::string& instance);

// The data directory the package and /install give an instance: /var/lib/tempwarden, or
// /var/lib/tempwarden/NAME.
std::string DefaultDataDirOf(const std::string& instance);

struct SystemdUnit {
  std::string description;  // the display name
  std::string executable;   // absolute path of the program; the service cannot write it
  std::string data_dir;     // absolute path of its data directory, the only one it writes
  // The settings file ("-config"); empty: TEMPWARDEN.XML in the data directory.
  std::string settings_file;
  std::string instance;  // "-instance"; empty for the unnamed instance
  std::string user;      // account name, also its group
  // The service's registry key file, which the start handler rewrites; empty when none.
  std::string key_file;
  bool alias = false;  // "Alias=VOZIvazure.service", for the unnamed instance
  // Whether systemd may create the data directory and give it, with all it holds, to the
  // account (StateDirectory=; below /var/lib only): for the package's own place and for a
  // folder that /install itself made, never for one that was there before.
  bool state_directory = false;
  // The package's template unit: the paths and the instance carry systemd's specifiers
  // ("%i") as written; everywhere else a "%" is a literal character.
  bool specifiers = false;
};

// The unit file's text. False with a reason when a path or the description cannot be carried
// by a unit file: a relative path, a control character (line break, tab), a backslash or a
// double quote (which systemd reads differently in ExecStart=, WorkingDirectory= and the path
// lists), or a blank at a path's end (which WorkingDirectory= drops).
bool SystemdUnitText(const SystemdUnit& unit, std::string* text, std::string* error_text);

// The program's path as the first word of ExecStart=: double quotes, with systemd's specifier
// (%) and C escapes (\, ") written so that systemd reads back exactly `path`.
std::string ExecStartWord(const std::string& path);

// An argument of ExecStart=: quoted, with specifiers (unless `specifiers`), "$" and C
// escapes written so that systemd hands the program exactly `arg`.
std::string ExecArgument(const std::string& arg, bool specifiers = false);

// A path as one entry of a space-separated path list (ReadWritePaths=): quoted only when it
// holds a space, a quote or a backslash.
std::string PathListWord(const std::string& path);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_SYSTEMD_UNIT_H_
