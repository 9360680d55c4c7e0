#include <fcntl.h>
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

std::string DataDirOf(const ServiceRegistration& service) {
  std::string dir =
      service.data_dir.empty() ? DefaultDataDirOf(service.instance) : service.data_dir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Creates `path` if it is missing and gives it to the account; one that exists stays as it is.
bool CreateOwnedFile(const std::string& path, uid_t uid, gid_t gid, std::string* error_text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
  if (fd < 0) {
    if (errno == EEXIST) return true;
    *error_text = path + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = ::fchown(fd, uid, gid) == 0;
  if (!ok) *error_text = path + ": " + std::strerror(errno);
  ::close(fd);
  return ok;
}

class PosixInstaller : public Installer {
 public:
  bool Install(const ServiceRegistration& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit_name = UnitNameOf(service.instance);
    const std::string unit_file = dir + unit_name + ".service";
    const std::string key_file = dir + service.name + ".key";
    if (UnitInstalled(unit_file, unit_name) ||
        (service.instance.empty() && UnitInstalled(dir + kUnitAlias, "VOZIvazure"))) {
      *error_text = "The specified service already exists.";
      return false;
    }
    SystemdUnit unit;
    unit.description = service.display_name;
    unit.executable = OwnExecutable();
    bool exists = false;
    if (!ResolveDataDirectory(DataDirOf(service), kServiceUser, &unit.data_dir, &exists,
                              error_text)) {
      return false;
    }
    // systemd gives a StateDirectory= and all it holds to the account: only the package's own
    // place and a folder made here, never one that some other program may have filled.
    unit.state_directory = !exists || unit.data_dir == DefaultDataDirOf(service.instance);
    unit.settings_file = service.settings_file;
    unit.instance = service.instance;
    unit.user = kServiceUser;
    unit.key_file = key_file;
    unit.alias = service.instance.empty();
    // The service's account must not be able to replace what root runs with /testmail.
    *error_text = ProgramFolderRisk(unit.executable);
    if (!error_text->empty()) return false;
    std::string text;
    if (!SystemdUnitText(unit, &text, error_text)) return false;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!EnsureServiceAccount(unit.user, unit.data_dir, &uid, &gid, error_text)) return false;
    if (!CreateDataDirectory(unit.data_dir, uid, gid, error_text)) return false;
    // The service's registry key: a file beside the unit, which the start handler rewrites
    // as the service's user.
    if (!CreateOwnedFile(key_file, uid, gid, error_text)) return false;
    std::ofstream out(unit_file);
    out << text;
    out.close();
    if (!out) {
      *error_text = std::strerror(errno);
      ::unlink(unit_file.c_str());
      return false;
    }
    if (SystemdRuns()) {
      RunSystemctl("daemon-reload");
      RunSystemctl("enable " + unit_name + ".service");
    }
    return true;
  }

  bool Uninstall(const ServiceRegistration& service, std::string* error_text) override {
    const std::string dir = UnitDirectory();
    const std::string unit_name = UnitNameOf(service.instance);
    const std::string unit = dir + unit_name + ".service";
    struct stat st {};
    if (::stat(unit.c_str(), &st) != 0) {
      *error_text = "The specified service does not exist as an installed service.";
      return false;
    }
    if (SystemdRuns()) RunSystemctl("disable " + unit_name + ".service");
    if (::unlink(unit.c_str()) != 0) {
      *error_text = std::strerror(errno);
      return false;
    }
    ::unlink((dir + service.name + ".key").c_str());
    if (SystemdRuns()) RunSystemctl("daemon-reload");
    return true;
  }

  std::string UninstallNote(const ServiceRegistration& service) override {
    return std::string("The user \"") + kServiceUser + "\" and the files in " + DataDirOf(service) +
           " are left in place.";
  }
};

}  // namespace

std::unique_ptr<Installer> NewSystemInstaller() { return std::make_unique<PosixInstaller>(); }

}  // namespace tw
