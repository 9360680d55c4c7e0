// Asks Windows (or Wine) what the service should have seen, for tests/wine_service_test.sh:
//
//   wine_probe locale                  decimal=, shortdate=, timeformat= of the user's locale
//   wine_probe datetime Y M D h m s    that moment as short date + " " + long time, the way
//                                      the service writes a date-time text
//   wine_probe date Y M D              the short date alone
//   wine_probe qc NAME                 the service's registration, one "key=value" a line
//   wine_probe control NAME CONTROL    sends pause, continue or stop through ControlService
//                                      (Wine's sc has no pause and continue) and prints the
//                                      state it reports, or the error number
//   wine_probe errtext CODE            the system's text for an error number
//   wine_probe qfa NAME                the service's failure actions: reset=, actions=
//   wine_probe qdesc NAME              the service's description
//   wine_probe acl PATH                the file or folder's access list as the security API
//                                      reads it back: protected=0|1, then one line per entry,
//                                      "allow|deny SID MASK FLAGS" (hex mask and ACE flags)
//   wine_probe eventsource SOURCE ID TEXT
//                                      the event source's registration (file=, types=) and
//                                      message ID of its message file formatted with TEXT as
//                                      insertion string, as the Event Viewer does (text=)
//
// Plain Win32 calls only, so that the test compares the service with the platform and not with
// the service's own code.
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string LocaleText(LCTYPE type) {
  char buffer[256] = {};
  return GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) > 0 ? buffer : "";
}

SYSTEMTIME Moment(char** args, int count) {
  SYSTEMTIME st{};
  WORD* fields[] = {&st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond};
  for (int i = 0; i < count && i < 6; ++i) *fields[i] = static_cast<WORD>(std::atoi(args[i]));
  return st;
}

std::string DateText(const SYSTEMTIME& st) {
  char buffer[256] = {};
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, sizeof buffer);
  return buffer;
}

std::string TimeText(const SYSTEMTIME& st) {
  char buffer[256] = {};
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
  return buffer;
}

int PrintConfig(const char* name) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) return 2;
  SC_HANDLE svc = OpenServiceA(scm, name, SERVICE_QUERY_CONFIG);
  if (svc == nullptr) {
    std::printf("error=%lu\n", GetLastError());
    CloseServiceHandle(scm);
    return 1;
  }
  DWORD needed = 0;
  QueryServiceConfigA(svc, nullptr, 0, &needed);
  std::vector<char> buffer(needed + 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  const bool ok = QueryServiceConfigA(svc, config, needed, &needed) != FALSE;
  if (ok) {
    auto text = [](const char* s) { return s == nullptr ? "" : s; };
    std::printf(
        "type=%lu\nstart=%lu\nerror_control=%lu\npath=%s\naccount=%s\n"
        "display_name=%s\ndependencies=%s\ngroup=%s\n",
        config->dwServiceType, config->dwStartType, config->dwErrorControl,
        text(config->lpBinaryPathName), text(config->lpServiceStartName),
        text(config->lpDisplayName), text(config->lpDependencies), text(config->lpLoadOrderGroup));
  }
  CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return ok ? 0 : 1;
}

int SendControl(const char* name, const std::string& control) {
  DWORD code = 0;
  DWORD access = 0;
  if (control == "pause" || control == "continue") {
    code = control == "pause" ? SERVICE_CONTROL_PAUSE : SERVICE_CONTROL_CONTINUE;
    access = SERVICE_PAUSE_CONTINUE;
  } else if (control == "stop") {
    code = SERVICE_CONTROL_STOP;
    access = SERVICE_STOP;
  } else {
    return 2;
  }
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) return 2;
  SC_HANDLE svc = OpenServiceA(scm, name, access);
  SERVICE_STATUS status{};
  const bool ok = svc != nullptr && ControlService(svc, code, &status) != FALSE;
  if (ok) {
    std::printf("state=%lu\n", status.dwCurrentState);
  } else {
    std::printf("error=%lu\n", GetLastError());
  }
  if (svc != nullptr) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return ok ? 0 : 1;
}

std::string ErrorText(DWORD code) {
  char buffer[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 buffer, sizeof buffer, nullptr);
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Opens the service with `access` and hands it to `query`; prints error= when it cannot.
template <typename Query>
int WithService(const char* name, DWORD access, Query query) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) return 2;
  SC_HANDLE svc = OpenServiceA(scm, name, access);
  int rc = 1;
  if (svc == nullptr) {
    std::printf("error=%lu\n", GetLastError());
  } else {
    rc = query(svc) ? 0 : 1;
    CloseServiceHandle(svc);
  }
  CloseServiceHandle(scm);
  return rc;
}

std::vector<char> QueryConfig2(SC_HANDLE svc, DWORD level) {
  DWORD needed = 0;
  QueryServiceConfig2A(svc, level, nullptr, 0, &needed);
  std::vector<char> buffer(needed + sizeof(void*));
  if (!QueryServiceConfig2A(svc, level, reinterpret_cast<BYTE*>(buffer.data()), needed, &needed)) {
    std::printf("error=%lu\n", GetLastError());
    buffer.clear();
  }
  return buffer;
}

int PrintFailureActions(const char* name) {
  return WithService(name, SERVICE_QUERY_CONFIG, [](SC_HANDLE svc) {
    std::vector<char> buffer = QueryConfig2(svc, SERVICE_CONFIG_FAILURE_ACTIONS);
    if (buffer.empty()) return false;
    const auto* fa = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer.data());
    std::printf("reset=%lu\nactions=", fa->dwResetPeriod);
    for (DWORD i = 0; i < fa->cActions; ++i) {
      const SC_ACTION& a = fa->lpsaActions[i];
      const char* type = a.Type == SC_ACTION_RESTART ? "restart"
                         : a.Type == SC_ACTION_NONE  ? "none"
                                                     : "other";
      std::printf("%s%s/%lu", i == 0 ? "" : " ", type, a.Delay);
    }
    std::printf("\n");
    return true;
  });
}

int PrintDescription(const char* name) {
  return WithService(name, SERVICE_QUERY_CONFIG, [](SC_HANDLE svc) {
    std::vector<char> buffer = QueryConfig2(svc, SERVICE_CONFIG_DESCRIPTION);
    if (buffer.empty()) return false;
    const auto* d = reinterpret_cast<const SERVICE_DESCRIPTIONA*>(buffer.data());
    std::printf("%s\n", d->lpDescription == nullptr ? "" : d->lpDescription);
    return true;
  });
}

int PrintEventSource(const std::string& source, DWORD id, const char* text) {
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) {
    std::printf("error=%ld\n", rc);
    return 1;
  }
  char file[MAX_PATH] = {};
  DWORD size = sizeof file;
  DWORD type = 0;
  rc = RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file),
                        &size);
  DWORD types = 0;
  DWORD types_size = sizeof types;
  RegQueryValueExA(key, "TypesSupported", nullptr, nullptr, reinterpret_cast<BYTE*>(&types),
                   &types_size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_EXPAND_SZ) {
    std::printf("error=EventMessageFile\n");
    return 1;
  }
  char expanded[MAX_PATH] = {};
  ExpandEnvironmentStringsA(file, expanded, sizeof expanded);
  std::printf("file=%s\ntypes=%lu\n", expanded, types);
  HMODULE module = LoadLibraryExA(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("error=%lu\n", GetLastError());
    return 1;
  }
  char message[1024] = {};
  DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(text)};
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0,
                     message, sizeof message, reinterpret_cast<va_list*>(args));
  const DWORD error = GetLastError();
  FreeLibrary(module);
  if (n == 0) {
    std::printf("error=%lu\n", error);
    return 1;
  }
  std::string formatted(message, n);
  while (!formatted.empty() && (formatted.back() == '\n' || formatted.back() == '\r')) {
    formatted.pop_back();
  }
  std::printf("text=%s\n", formatted.c_str());
  return 0;
}

int PrintAcl(const char* path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, &dacl, nullptr, &sd);
  if (rc != ERROR_SUCCESS) {
    std::printf("error=%lu\n", rc);
    return 1;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  std::printf("protected=%d\n", (control & SE_DACL_PROTECTED) != 0 ? 1 : 0);
  ACL_SIZE_INFORMATION info{};
  if (dacl != nullptr) GetAclInformation(dacl, &info, sizeof info, AclSizeInformation);
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    // Allowed and denied entries share their layout.
    const auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    char* sid = nullptr;
    ConvertSidToStringSidA(const_cast<DWORD*>(&entry->SidStart), &sid);
    std::printf("%s %s 0x%lx 0x%x\n",
                header->AceType == ACCESS_ALLOWED_ACE_TYPE  ? "allow"
                : header->AceType == ACCESS_DENIED_ACE_TYPE ? "deny"
                                                            : "other",
                sid == nullptr ? "?" : sid, entry->Mask, header->AceFlags);
    LocalFree(sid);
  }
  LocalFree(sd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "locale") {
    std::printf("decimal=%s\nshortdate=%s\ntimeformat=%s\n", LocaleText(LOCALE_SDECIMAL).c_str(),
                LocaleText(LOCALE_SSHORTDATE).c_str(), LocaleText(LOCALE_STIMEFORMAT).c_str());
    return 0;
  }
  if (command == "datetime" && argc == 8) {
    const SYSTEMTIME st = Moment(argv + 2, 6);
    std::printf("%s %s\n", DateText(st).c_str(), TimeText(st).c_str());
    return 0;
  }
  if (command == "date" && argc == 5) {
    std::printf("%s\n", DateText(Moment(argv + 2, 3)).c_str());
    return 0;
  }
  if (command == "qc" && argc == 3) return PrintConfig(argv[2]);
  if (command == "control" && argc == 4) return SendControl(argv[2], argv[3]);
  if (command == "errtext" && argc == 3) {
    std::printf("%s\n", ErrorText(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10))).c_str());
    return 0;
  }
  if (command == "qfa" && argc == 3) return PrintFailureActions(argv[2]);
  if (command == "qdesc" && argc == 3) return PrintDescription(argv[2]);
  if (command == "acl" && argc == 3) return PrintAcl(argv[2]);
  if (command == "eventsource" && argc == 5) {
    return PrintEventSource(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 0)),
                            argv[4]);
  }
  std::fprintf(stderr,
               "usage: wine_probe locale|datetime Y M D h m s|date Y M D|qc NAME|"
               "control NAME pause|continue|stop|errtext CODE|qfa NAME|qdesc NAME|"
               "acl PATH|eventsource SOURCE ID TEXT\n");
  return 2;
}
