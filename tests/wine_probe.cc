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
//
// Plain Win32 calls only, so that the test compares the service with the platform and not with
// the service's own code.
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
  std::fprintf(stderr,
               "usage: wine_probe locale|datetime Y M D h m s|date Y M D|qc NAME|"
               "control NAME pause|continue|stop|errtext CODE\n");
  return 2;
}
