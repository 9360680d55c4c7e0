#include "service/program.h"

#include <cctype>

namespace tw {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

ProgramSwitches ParseSwitches(const std::vector<std::string>& args) {
  ProgramSwitches s;
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) continue;
    const std::string name = Upper(arg.substr(1));
    if (name == "INSTALL") s.install = true;
    if (name == "UNINSTALL") s.uninstall = true;
    if (name == "SILENT") s.silent = true;
    if (name == "CONSOLE") s.console = true;
    if (name == "TESTMAIL") s.testmail = true;
    if (name == "QUERY") s.query = true;
  }
  return s;
}

int RunProgram(const std::vector<std::string>& args, ServiceHost& host, Installer& installer,
               const ServiceDefinition& service, const ProgramCommands& commands) {
  const ProgramSwitches s = ParseSwitches(args);
  const ServiceRegistration registration{service.name, service.display_name};
  std::string error;
  if (s.install) {
    if (installer.Install(registration, &error)) {
      if (!s.silent) host.ShowMessage(service, "Service installed successfully", false, false);
      return 0;
    }
    host.ShowMessage(
        service,
        "Service \"" + service.display_name + "\" failed to install with error: \"" + error + "\"",
        true, s.silent);
    return 1;
  }
  if (s.uninstall) {
    if (installer.Uninstall(registration, &error)) {
      if (!s.silent) {
        host.ShowMessage(service, "Service uninstalled successfully", false, false);
        const std::string note = installer.UninstallNote(registration);
        if (!note.empty()) host.ShowMessage(service, note, false, false);
      }
      return 0;
    }
    host.ShowMessage(service,
                     "Service \"" + service.display_name + "\" failed to uninstall with error: \"" +
                         error + "\"",
                     true, s.silent);
    return 1;
  }
  if (s.testmail) return commands.testmail ? commands.testmail() : 1;
  if (s.query) return commands.query ? commands.query() : 1;
  if (s.console) {
    host.RunInConsole(service);
    return host.ExitStatus();
  }
  if (!host.Dispatch(service, &error)) {
    host.WriteEventLog(service.name, error);
    return 1;
  }
  return host.ExitStatus();
}

}  // namespace tw
