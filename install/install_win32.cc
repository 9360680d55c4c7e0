#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "install/install.h"
#include "install/service_sid.h"
#include "platform/crypto.h"
#include "platform/host_facts.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

// Each service's event source is its display name ("Tempwarden", "Tempwarden (north)"), with
// this program's message table (windmc) as its message file, so that the Event Viewer shows
// the texts and removing one instance leaves the others' source alone.
// The failure line of the monitoring (the system log) is filed under the service name, which
// gets the same message file.
std::string EventSourceKey(const std::string& source) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
}

// Shown in the service list until the first start replaces it with the start moment.
constexpr char kServiceDescription[] =
    "Watches the UPS temperature and input voltage through SNMP: temperature history and "
    "charts, alert mail, syslog.";

DWORD RegisterEventSourceKey(const std::string& source, const std::string& message_file) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, EventSourceKey(source).c_str(), 0, nullptr,
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

// "C:\ProgramData\Tempwarden", or its subfolder of a named instance.
std::string DefaultDataDir(const std::string& instance) {
  char buffer[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("ProgramData", buffer, sizeof buffer);
  std::string dir = n > 0 && n < sizeof buffer ? std::string(buffer, n) : "C:\\ProgramData";
  dir += "\\Tempwarden";
  if (!instance.empty()) dir += "\\" + instance;
  return dir;
}

// Creates `dir` when it is missing and gives it the protected access list of DataFolderSddl:
// nobody but SYSTEM, Administrators and the service may read the passwords of TEMPWARDEN.XML
// or change the history.
DWORD ProtectFolder(const std::string& dir, const std::string& sid) {
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return GetLastError();
  }
  const std::string sddl = DataFolderSddl(sid);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return GetLastError();
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  DWORD rc =
      GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) ? ERROR_SUCCESS : GetLastError();
  if (rc == ERROR_SUCCESS) {
    rc = SetNamedSecurityInfoA(const_cast<char*>(dir.c_str()), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(sd);
  return rc;
}

// The data folder of the service: for a named instance below its own folder of the default
// place, which only SYSTEM and Administrators may use.
DWORD PrepareDataFolder(const ServiceRegistration& service, const std::string& data_dir,
                        const std::string& sid) {
  if (service.data_dir.empty() && !service.instance.empty()) {
    const std::string parent = DefaultDataDir("");
    // An existing one may be the unnamed instance's own: its list stays.
    if (GetFileAttributesA(parent.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD rc = ProtectFolder(parent, "");
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return ProtectFolder(data_dir, sid);
}

// The service's command line: the program, its data folder, and the instance and settings
// file when there are any.
std::string CommandLine(const ServiceRegistration& service, const std::string& data_dir) {
  std::string line = "\"" + NewSystemHostFacts()->ModulePath() + "\" /data \"" + data_dir + "\"";
  if (!service.instance.empty()) line += " /instance " + service.instance;
  if (!service.settings_file.empty()) line += " /config \"" + service.settings_file + "\"";
  return line;
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

// Event sources and data folder of a registered service: what Install and Configure add to
// the registration. Deleted again on failure by the caller.
DWORD CompleteRegistration(SC_HANDLE svc, const ServiceRegistration& service,
                           const std::string& data_dir, const std::string& sid) {
  DWORD error = ConfigureRecovery(svc);
  if (error == ERROR_SUCCESS) {
    error = RegisterEventSourceKey(service.display_name, NewSystemHostFacts()->ModulePath());
  }
  if (error == ERROR_SUCCESS) {
    error = RegisterEventSourceKey(service.name, NewSystemHostFacts()->ModulePath());
  }
  if (error == ERROR_SUCCESS) error = PrepareDataFolder(service, data_dir, sid);
  return error;
}

void RemoveEventSources(const ServiceRegistration& service) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKey(service.display_name).c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventSourceKey(service.name).c_str());
}

// Waits up to `seconds` for the service to reach `state`. The installer's steps are ordered
// on it: a program still running cannot be replaced.
bool WaitForState(SC_HANDLE svc, DWORD state, int seconds) {
  for (int i = 0; i <= seconds * 4; ++i) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(svc, &status)) return false;
    if (status.dwCurrentState == state) return true;
    Sleep(250);
  }
  return false;
}

bool AutoStart(SC_HANDLE svc) {
  DWORD needed = 0;
  QueryServiceConfigA(svc, nullptr, 0, &needed);
  std::string buffer(needed + 1, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(&buffer[0]);
  return needed > 0 && QueryServiceConfigA(svc, config, needed, &needed) &&
         config->dwStartType == SERVICE_AUTO_START;
}

class Win32Installer : public Installer {
 public:
  bool Install(const ServiceRegistration& service, std::string* error_text) override {
    const std::string sid = ServiceSidOf(*NewSystemCrypto(), service.name);
    if (sid.empty()) {
      *error_text = "No service SID for \"" + service.name + "\"";
      return false;
    }
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr) {
      *error_text = Win32ErrorText(GetLastError());
      return false;
    }
    const std::string data_dir =
        service.data_dir.empty() ? DefaultDataDir(service.instance) : service.data_dir;
    const std::string command = CommandLine(service, data_dir);
    // The service's own virtual account: no password, no rights but those given to its SID.
    const std::string account = VirtualAccountOf(service.name);
    SC_HANDLE svc =
        CreateServiceA(scm, service.name.c_str(), service.display_name.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       command.c_str(), nullptr, nullptr, nullptr, account.c_str(), nullptr);
    DWORD error = GetLastError();
    if (svc != nullptr) {
      error = CompleteRegistration(svc, service, data_dir, sid);
      // All or nothing: a service without its recovery, messages or data folder is taken
      // back (a data folder made before a failure stays: it may hold an earlier history).
      if (error != ERROR_SUCCESS) {
        DeleteService(svc);
        RemoveEventSources(service);
      }
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    if (error != ERROR_SUCCESS || svc == nullptr) *error_text = Win32ErrorText(error);
    return svc != nullptr && error == ERROR_SUCCESS;
  }

  // The registration stays the package's: on failure its rollback takes it back.
  bool Configure(const ServiceRegistration& service, std::string* error_text) override {
    const std::string sid = ServiceSidOf(*NewSystemCrypto(), service.name);
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr || sid.empty()) {
      *error_text = Win32ErrorText(GetLastError());
      if (scm != nullptr) CloseServiceHandle(scm);
      return false;
    }
    SC_HANDLE svc = OpenServiceA(scm, service.name.c_str(), SERVICE_ALL_ACCESS);
    DWORD error = GetLastError();
    if (svc != nullptr) {
      const std::string data_dir =
          service.data_dir.empty() ? DefaultDataDir(service.instance) : service.data_dir;
      error = CompleteRegistration(svc, service, data_dir, sid);
      if (error != ERROR_SUCCESS) RemoveEventSources(service);
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    if (error != ERROR_SUCCESS || svc == nullptr) *error_text = Win32ErrorText(error);
    return svc != nullptr && error == ERROR_SUCCESS;
  }

  bool ForEachInstance(const ServiceRegistration& service, InstancesAction action,
                       std::string* error_text) override {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (scm == nullptr) {
      *error_text = Win32ErrorText(GetLastError());
      return false;
    }
    std::vector<std::string> names;
    DWORD needed = 0, count = 0, resume = 0;
    EnumServicesStatusExA(scm, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                          &needed, &count, &resume, nullptr);
    std::string buffer(needed + 1, '\0');
    resume = 0;
    if (needed > 0 && EnumServicesStatusExA(scm, SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                            SERVICE_STATE_ALL, reinterpret_cast<BYTE*>(&buffer[0]),
                                            needed, &needed, &count, &resume, nullptr)) {
      const auto* list = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
      const std::string prefix = service.name + "$";
      for (DWORD i = 0; i < count; ++i) {
        const std::string name = list[i].lpServiceName;
        if (name.size() > prefix.size() &&
            _strnicmp(name.c_str(), prefix.c_str(), prefix.size()) == 0) {
          names.push_back(name);
        }
      }
    }
    std::string failed;
    for (const std::string& name : names) {
      SC_HANDLE svc = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
      if (svc == nullptr) continue;
      SERVICE_STATUS status{};
      bool ok = true;
      if (action != InstancesAction::kStart) {
        if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
          ok = WaitForState(svc, SERVICE_STOPPED, 30);
        }
      }
      if (action == InstancesAction::kStart && AutoStart(svc)) {
        ok = StartServiceA(svc, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
      }
      if (action == InstancesAction::kRemove) {
        ok = DeleteService(svc);
        if (ok) {
          ServiceRegistration instance = service;
          instance.instance = name.substr(service.name.size() + 1);
          instance.name = name;
          instance.display_name = service.display_name + " (" + instance.instance + ")";
          RemoveEventSources(instance);
        }
      }
      if (!ok)
        failed += (failed.empty() ? "" : ", ") + name + ": " + Win32ErrorText(GetLastError());
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    // The package's own tables remove the unnamed service but know nothing of its event
    // sources, which Configure added.
    if (action == InstancesAction::kRemove) RemoveEventSources(service);
    *error_text = failed;
    return failed.empty();
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
    if (ok) RemoveEventSources(service);
    if (svc != nullptr) CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    if (!ok) *error_text = Win32ErrorText(error);
    return ok;
  }
};

}  // namespace

std::unique_ptr<Installer> NewSystemInstaller() { return std::make_unique<Win32Installer>(); }

}  // namespace tw
