// Installing and removing the service on this platform: on Windows the service control
// manager's registration with its description, recovery actions and event source; on Linux the
// service account, the systemd unit and the registry key file beside it.
#ifndef TEMPWARDEN_INSTALL_INSTALL_H_
#define TEMPWARDEN_INSTALL_INSTALL_H_

#include <memory>
#include <string>

namespace tw {

// The event source that the Windows event log files the service's events under.
constexpr char kEventSource[] = "Tempwarden";

// The service as the service manager registers it.
struct ServiceRegistration {
  std::string name;          // registered name, registry key name
  std::string display_name;  // shown by the service manager
  // From the command line of /install; empty: the unnamed instance, its settings and data in
  // the platform's default place for it.
  std::string instance;
  std::string settings_file;
  std::string data_dir;
};

class Installer {
 public:
  virtual ~Installer() = default;

  // Registers the service (own process, automatic start, normal error control, this
  // executable). False with the system's error text on failure; nothing is left half done.
  virtual bool Install(const ServiceRegistration& service, std::string* error_text) = 0;
  virtual bool Uninstall(const ServiceRegistration& service, std::string* error_text) = 0;
  // Completes a service that another installer registered under `service.name` (the Windows
  // Installer package's ServiceInstall table): the description, recovery actions, event
  // sources and data folder that Install gives the service it registers. False with the
  // system's error text on failure. Platforms without such installers refuse.
  virtual bool Configure(const ServiceRegistration& /*service*/, std::string* error_text) {
    *error_text = "Nothing to configure on this platform: use /install.";
    return false;
  }
  // What the Windows Installer package does with the named instances ("NAME$INSTANCE") that
  // it cannot list itself: stop each running one (waiting up to 30 s for each), start each
  // stopped one with automatic start, or remove each (stopped first, then as Uninstall) and
  // the event sources of `service` itself, whose registration the package removes.
  enum class InstancesAction { kStop, kStart, kRemove };
  virtual bool ForEachInstance(const ServiceRegistration& /*service*/, InstancesAction /*action*/,
                               std::string* error_text) {
    *error_text = "Not on this platform: use systemctl.";
    return false;
  }
  // What a successful removal left behind on purpose (the account, the history), shown after
  // the success message; empty when nothing.
  virtual std::string UninstallNote(const ServiceRegistration& /*service*/) { return ""; }
};

std::unique_ptr<Installer> NewSystemInstaller();

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_INSTALL_H_
