#include "install/systemd_unit.h"

#include <cstring>
#include <sstream>

namespace tw {
namespace {

// Specifiers start with % in every setting; %% is a literal percent sign.
std::string EscapeSpecifiers(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Escaped(const std::string& s, bool specifiers) {
  return specifiers ? s : EscapeSpecifiers(s);
}

constexpr char kStateRoot[] = "/var/lib/";

}  // namespace

std::string UnitNameOf(const std::string& instance) {
  return instance.empty() ? std::string(kUnitName) : std::string(kUnitName) + "@" + instance;
}

std::string DefaultDataDirOf(const std::string& instance) {
  const std::string base = std::string(kStateRoot) + kServiceUser;
  return instance.empty() ? base : base + "/" + instance;
}

std::string ExecArgument(const std::string& arg, bool specifiers) {
  std::string out;
  for (char c : Escaped(arg, specifiers)) {
    if (c == '$') out += '$';  // "$$" is a literal dollar sign
    out += c;
  }
  return Quoted(out);
}

// Only the arguments of a command line see $VARIABLE expansion, never the program's path, so
// a "$" there stays as it is.
std::string ExecStartWord(const std::string& path) { return Quoted(EscapeSpecifiers(path)); }

std::string PathListWord(const std::string& path) {
  const std::string p = EscapeSpecifiers(path);
  return p.find_first_of(" \t\"'\\") == std::string::npos ? p : Quoted(p);
}

bool SystemdUnitText(const SystemdUnit& unit, std::string* text, std::string* error_text) {
  for (const std::string* path :
       {&unit.executable, &unit.data_dir, &unit.settings_file, &unit.key_file}) {
    if (path->find_first_of("\r\n") != std::string::npos) {
      *error_text = "The path \"" + *path + "\" holds a line break, which a unit file cannot";
      return false;
    }
    if (!path->empty() && path->front() != '/') {
      *error_text = "The path \"" + *path + "\" is not absolute";
      return false;
    }
  }
  const bool sp = unit.specifiers;
  const std::string dir = WithoutTrailingSlash(unit.data_dir);
  // Below /var/lib systemd creates the directory for the account (StateDirectory=) and makes
  // it the only writable place; elsewhere it must exist and is opened by ReadWritePaths=.
  const bool state = dir.compare(0, std::strlen(kStateRoot), kStateRoot) == 0 &&
                     dir.size() > std::strlen(kStateRoot);
  std::string writable = state ? std::string() : PathListWord(dir);
  // "-": a key file that is missing is no reason to refuse the start.
  if (!unit.key_file.empty()) {
    writable += (writable.empty() ? "-" : " -") + PathListWord(unit.key_file);
  }
  std::string exec = ExecStartWord(unit.executable) + " -data " + ExecArgument(dir, sp);
  if (!unit.settings_file.empty()) exec += " -config " + ExecArgument(unit.settings_file, sp);
  if (!unit.instance.empty()) exec += " -instance " + ExecArgument(unit.instance, sp);

  std::ostringstream u;
  u << "[Unit]\n"
    << "Description=" << Escaped(unit.description, sp) << "\n"
    << "Documentation=man:tempwarden(8)\n"
    << "After=network-online.target\n"
    << "Wants=network-online.target\n"
    // With RestartSec=60 the default start limit is never met: a service that cannot start
    // would be restarted forever, each time with a new exception report. Three starts in ten
    // minutes leave it failed.
    << "StartLimitIntervalSec=600\n"
    << "StartLimitBurst=3\n"
    << "\n"
    << "[Service]\n"
    << "Type=notify\n"
    << "ExecStart=" << exec << "\n";
  if (state) {
    u << "StateDirectory=" << Escaped(dir.substr(std::strlen(kStateRoot)), sp) << "\n"
      << "StateDirectoryMode=0750\n";
  }
  // WorkingDirectory= takes the rest of the line as the path: quotes would be part of it.
  u << "WorkingDirectory=" << Escaped(dir, sp) << "\n"
    << "User=" << unit.user << "\n"
    << "Group=" << unit.user << "\n"
    << "UMask=0027\n"
    << "KillSignal=SIGTERM\n"
    << "TimeoutStopSec=30\n"
    // The service thread pings at every loop pass (once a second); two minutes of silence
    // mean it hangs, and systemd restarts the service.
    << "WatchdogSec=120\n"
    << "Restart=on-failure\n"
    << "RestartSec=60\n"
    << "\n"
    << "# Sandbox: the service needs its data directory, UDP and TCP over IPv4 and IPv6,\n"
    << "# netlink for the interfaces' broadcast addresses, and the notify socket.\n"
    << "NoNewPrivileges=yes\n"
    << "CapabilityBoundingSet=\n"
    << "AmbientCapabilities=\n"
    << "ProtectSystem=strict\n";
  if (!writable.empty()) u << "ReadWritePaths=" << writable << "\n";
  // /run/lock and the like stay writable under ProtectSystem=strict; the notify socket needs
  // no write access to the mount.
  u << "ReadOnlyPaths=/run\n"
    << "ProtectHome=yes\n"
    << "PrivateTmp=yes\n"
    << "PrivateDevices=yes\n"
    << "PrivateUsers=yes\n"
    << "PrivateMounts=yes\n"
    << "DevicePolicy=closed\n"
    << "ProtectKernelTunables=yes\n"
    << "ProtectKernelModules=yes\n"
    << "ProtectKernelLogs=yes\n"
    << "ProtectControlGroups=yes\n"
    << "ProtectClock=yes\n"
    << "ProtectHostname=yes\n"
    << "ProtectProc=invisible\n"
    << "ProcSubset=pid\n"
    << "KeyringMode=private\n"
    << "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK\n"
    << "RestrictNamespaces=yes\n"
    << "RestrictRealtime=yes\n"
    << "RestrictSUIDSGID=yes\n"
    << "LockPersonality=yes\n"
    << "MemoryDenyWriteExecute=yes\n"
    << "RemoveIPC=yes\n"
    << "SystemCallArchitectures=native\n"
    << "SystemCallFilter=@system-service\n"
    << "SystemCallFilter=~@privileged @resources\n"
    << "SystemCallErrorNumber=EPERM\n"
    << "\n"
    << "[Install]\n"
    << "WantedBy=multi-user.target\n";
  if (unit.alias) u << "Alias=" << kUnitAlias << "\n";
  *text = u.str();
  return true;
}

}  // namespace tw
