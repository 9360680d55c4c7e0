#include "service/program.h"

#include <cctype>

namespace tw {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsSwitch(const std::string& arg) {
  return arg.size() >= 2 && (arg[0] == '-' || arg[0] == '/');
}

bool ValidInstanceName(const std::string& name) {
  if (name.empty() || name.size() > kMaxInstanceName) return false;
  for (const char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  return true;
}

}  // namespace

ProgramSwitches ParseSwitches(const std::vector<std::string>& args) {
  ProgramSwitches s;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!IsSwitch(arg)) continue;
    std::string name = Upper(arg.substr(1));
    // "/config=PATH" or "/config PATH": a path may itself begin with "/", so the word after a
    // switch that takes a value is always its value.
    std::string value;
    bool has_value = false;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = arg.substr(1 + equals + 1);
      name.erase(equals);
      has_value = true;
    }
    std::string* target = nullptr;
    if (name == "CONFIG") target = &s.settings_file;
    if (name == "DATA") target = &s.data_dir;
    if (name == "INSTANCE") target = &s.instance;
    if (target != nullptr) {
      if (!has_value && i + 1 < args.size()) {
        value = args[++i];
        has_value = true;
      }
      if (!has_value || value.empty()) {
        if (s.error.empty()) s.error = "The switch " + arg + " needs a value.";
        continue;
      }
      *target = value;
      continue;
    }
    if ((name == "INSTALL" || name == "UNINSTALL") && i + 1 < args.size() &&
        !IsSwitch(args[i + 1])) {
      s.instance = args[++i];
    }
    if (name == "INSTALL") s.install = true;
    if (name == "UNINSTALL") s.uninstall = true;
    if (name == "SILENT") s.silent = true;
    if (name == "CONSOLE") s.console = true;
    if (name == "TESTMAIL") s.testmail = true;
    if (name == "QUERY") s.query = true;
  }
  if (!s.instance.empty() && !ValidInstanceName(s.instance) && s.error.empty()) {
    s.error = "The instance name \"" + s.instance + "\" is not usable: up to " +
              std::to_string(kMaxInstanceName) + " letters, digits, \"-\" or \"_\".";
  }
  return s;
}

int RunProgram(const std::vector<std::string>& args, ServiceHost& host, Installer& installer,
               const ServiceDefinition& service, const ProgramCommands& commands) {
  const ProgramSwitches s = ParseSwitches(args);
  if (!s.error.empty()) {
    host.ShowMessage(service, s.error, true, s.silent);
    return 2;
  }
  ServiceRegistration registration;
  registration.name = service.name;
  registration.display_name = service.display_name;
  registration.instance = s.instance;
  registration.settings_file = s.settings_file;
  registration.data_dir = s.data_dir;
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
  const std::string refusal = commands.why_not_run ? commands.why_not_run() : "";
  if (!refusal.empty()) {
    host.ShowMessage(service, refusal, true, true);
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
