#include <windows.h>

#include <memory>
#include <string>

#include "install/install.h"
#include "platform/host_facts.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

// The event source: the display name, with this program's message table (windmc) as its
// message file, so that the Event Viewer shows the texts.
constexpr char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tempwarden";

// Shown in the service list until the first start replaces it with the start moment.
constexpr char kServiceDescription[] =
    "Watches the UPS temperature and input voltage through SNMP: temperature history and "
    "charts, alert mail, syslog.";

DWORD RegisterEventSourceKey(const std::string& message_file) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  rc = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                      reinterpret_cast<const BYTE*>(message_file.c_str()),
                      static_cast<DWORD>(message_file.size() + 1));
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                        sizeof types);
  }
  RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

// The description, and recovery: restart a minute after each failure, the failure count
// starting again after a day without one.
DWORD ConfigureRecovery(SC_HANDLE svc) {
  SERVICE_DESCRIPTIONA description{};
  description.lpDescription = const_cast<char*>(kServiceDescription);
  if (!ChangeServiceConfig2A(svc, SERVICE_CONFIG_DESCRIPTION, &description)) {
    return GetLastError();
  }
  SC_ACTION actions[3];
  for (SC_ACTION& a : actions) {
    a.Type = SC_ACTION_RESTART;
    a.Delay = 60 * 1000;
  }
  SERVICE_FAILURE_ACTIONSA failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2A(svc, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

class Win32Installer : public Installer {
 public:
  bool Install(const ServiceRegistration& service, std::string* error_text) override {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr) {
      *error_text = Win32ErrorText(GetLastError());
      return false;
    }
    const std::string path = "\"" + NewSystemHostFacts()->ModulePath() + "\"";
    SC_HANDLE svc =
        CreateServiceA(scm, service.name.c_str(), service.display_name.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD error = GetLastError();
    if (svc != nullptr) {
      error = ConfigureRecovery(svc);
      if (error == ERROR_SUCCESS)
        error = RegisterEventSourceKey(NewSystemHostFacts()->ModulePath());
      // All or nothing: a service without its recovery or messages is taken back.
      if (error != ERROR_SUCCESS) DeleteService(svc);
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    if (error != ERROR_SUCCESS || svc == nullptr) *error_text = Win32ErrorText(error);
    return svc != nullptr && error == ERROR_SUCCESS;
  }

  bool Uninstall(const ServiceRegistration& service, std::string* error_text) override {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr) {
      *error_text = Win32ErrorText(GetLastError());
      return false;
    }
    SC_HANDLE svc = OpenServiceA(scm, service.name.c_str(), SERVICE_ALL_ACCESS);
    bool ok = svc != nullptr && DeleteService(svc);
    const DWORD error = GetLastError();
    // The event source goes with the service; a source that is already gone is no failure.
    if (ok) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
    if (svc != nullptr) CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    if (!ok) *error_text = Win32ErrorText(error);
    return ok;
  }
};

}  // namespace

std::unique_ptr<Installer> NewSystemInstaller() { return std::make_unique<Win32Installer>(); }

}  // namespace tw
