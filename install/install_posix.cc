#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "install/install.h"
#include "install/service_account_posix.h"
#include "install/systemd_unit.h"
#include "platform/host_facts.h"
#include "platform/systemd_posix.h"

namespace tw {
namespace {

std::string OwnExecutable() { return NewSystemHostFacts()->ModulePath(); }

bool SystemdRuns() {
  struct stat st {};
  return !UnitDirectoryRedirected() && ::stat("/run/systemd/system", &st) == 0;
}

// A unit of that name written here before, or shipped by the package in systemd's own unit
// directories (which a unit in /etc would silently override).
bool UnitInstalled(const std::string& unit_file, const std::string& name) {
  struct stat st {};
  if (::stat(unit_file.c_str(), &st) == 0) return true;
  if (UnitDirectoryRedirected()) return false;
  for (const char* dir : {"/usr/lib/systemd/system/", "/lib/systemd/system/"}) {
    if (::stat((dir + name + ".service").c_str(), &st) == 0) return true;
  }
  return false;
}

void RunSystemctl(const std::string& args) {
  const std::string command = "systemctl " + args + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    // The unit is written; enabling is a convenience the administrator can repeat.
  }
}

class PosixInstaller : public Installer {
 public:
  bool Install(const ServiceRegistration& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit_file = dir + service.name + ".service";
    const std::string key_file = dir + service.name + ".key";
    if (UnitInstalled(unit_file, service.name)) {
      *error_text = "The specified service already exists.";
      return false;
    }
    SystemdUnit unit;
    unit.description = service.display_name;
    unit.executable = OwnExecutable();
    unit.directory = unit.executable.substr(0, std::max<size_t>(unit.executable.rfind('/'), 1));
    unit.user = kServiceUser;
    unit.key_file = key_file;
    std::string text;
    if (!SystemdUnitText(unit, &text, error_text)) return false;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!EnsureServiceAccount(unit.user, unit.directory, &uid, &gid, error_text)) return false;
    // The service's registry key: a file beside the unit, which the start handler rewrites
    // as the service's user.
    { std::ofstream key(key_file, std::ios::app); }
    if (::chown(key_file.c_str(), uid, gid) != 0 ||
        !GiveDirectoryTo(unit.directory, unit.executable, uid, gid, error_text)) {
      if (error_text->empty()) *error_text = key_file + ": " + std::strerror(errno);
      ::unlink(key_file.c_str());
      return false;
    }
    std::ofstream out(unit_file);
    out << text;
    out.close();
    if (!out) {
      *error_text = std::strerror(errno);
      ::unlink(unit_file.c_str());
      ::unlink(key_file.c_str());
      return false;
    }
    if (SystemdRuns()) {
      RunSystemctl("daemon-reload");
      RunSystemctl("enable " + service.name + ".service");
    }
    return true;
  }

  bool Uninstall(const ServiceRegistration& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit = dir + service.name + ".service";
    struct stat st {};
    if (::stat(unit.c_str(), &st) != 0) {
      *error_text = "The specified service does not exist as an installed service.";
      return false;
    }
    if (SystemdRuns()) RunSystemctl("disable " + service.name + ".service");
    if (::unlink(unit.c_str()) != 0) {
      *error_text = std::strerror(errno);
      return false;
    }
    ::unlink((dir + service.name + ".key").c_str());
    if (SystemdRuns()) RunSystemctl("daemon-reload");
    return true;
  }

  std::string UninstallNote(const ServiceRegistration&) override {
    const std::string exe = OwnExecutable();
    return std::string("The user \"") + kServiceUser + "\" and the files in " +
           exe.substr(0, std::max<size_t>(exe.rfind('/'), 1)) + " are left in place.";
  }
};

}  // namespace

std::unique_ptr<Installer> NewSystemInstaller() { return std::make_unique<PosixInstaller>(); }

}  // namespace tw
