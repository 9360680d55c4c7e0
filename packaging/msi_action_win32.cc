// The Windows Installer package's custom action for the program's own steps (/configure, /set):
// runs the installed tempwarden.exe with the command line the package hands over
// (CustomActionData), and copies what it writes into the installer's log, so that a refused
// setting ("AlarmTemp: the value "hot" is not usable ...") stands in `msiexec /l*v`, which an
// EXE custom action's output never reaches. Its exit status decides: anything but 0 fails the
// install, which rolls back.
#include <windows.h>
// windows.h first: msi.h needs its types.
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return L"";
  std::wstring value(size + 1, L'\0');
  size += 1;
  if (MsiGetPropertyW(install, name, &value[0], &size) != ERROR_SUCCESS) return L"";
  value.resize(size);
  return value;
}

// One line into the log (INSTALLMESSAGE_INFO is logged and never shown).
void Log(MSIHANDLE install, const std::string& line) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, ("tempwarden.exe: " + line).c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RunProgram(MSIHANDLE install) {
  std::wstring command = Property(install, L"CustomActionData");
  if (command.empty()) return ERROR_INSTALL_FAILURE;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return ERROR_INSTALL_FAILURE;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(write);
  if (!started) {
    Log(install, "could not be started (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(read);
    return ERROR_INSTALL_FAILURE;
  }
  // Everything it writes, until it ends and the pipe closes.
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
    output.append(buffer, got);
  CloseHandle(read);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) Log(install, line);
    start = end + 1;
  }
  if (status == 0) return ERROR_SUCCESS;
  Log(install, "exit status " + std::to_string(status));
  return ERROR_INSTALL_FAILURE;
}
