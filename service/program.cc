#include "service/program.h"

#include <cctype>

namespace tw {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

std::string UsageText() {
  return "Usage: tempwarden [SWITCH...]\n"
         "Watches one UPS through its SNMP network card. Switches begin with \"/\" or \"-\"\n"
         "and may be written in any letter case.\n"
         "\n"
         "  (none)              serve as the system's service (systemd, or the Windows\n"
         "                      service control manager)\n"
         "  /console            run the service in the foreground until Ctrl+C\n"
         "  /query              read the temperature and the input voltage once and print them\n"
         "  /testmail           send a test mail through the configured relay\n"
         "  /set KEY=VALUE      write a setting into the settings file (repeatable)\n"
         "  /protect KEY        store the secret setting KEY (SMTPPassword...) read from\n"
         "                      standard input in the system's secret store, out of the\n"
         "                      settings file; with --remove: delete the stored one\n"
         "  /secret-env VAR     with /protect: take the secret from the variable VAR\n"
         "  /install [NAME]     install the service (NAME: a further instance)\n"
         "  /uninstall [NAME]   remove the service; its settings and data stay\n"
         "  /configure          complete the service the Windows Installer package registered\n"
         "  /instances ACTION   stop, start or remove every named instance (for the package)\n"
         "  /silent             with /install and /uninstall: no success messages\n"
         "  /config PATH        the settings file (default TEMPWARDEN.XML in the data folder)\n"
         "  /data DIR           the data folder (default the program's folder)\n"
         "  /instance NAME      the named instance to run\n"
         "  --help, /?          print this text\n"
         "  --version           print the version\n"
         "\n"
         "See tempwarden(8) and tempwarden.xml(5).\n";
}

ProgramSwitches ParseSwitches(const std::vector<std::string>& args) {
  ProgramSwitches s;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!IsSwitch(arg)) continue;
    // "--help" as GNU programs write it: one more "-" is allowed before every name.
    std::string name = Upper(arg.substr(arg.compare(0, 2, "--") == 0 ? 2 : 1));
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
    std::string assignment;
    if (name == "SET") target = &assignment;
    if (name == "INSTANCES") target = &s.instances;
    if (name == "PROTECT") target = &s.protect;
    if (name == "SECRET-ENV") target = &s.secret_env;
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
      if (target == &s.instances) {
        s.instances = Lower(value);
        if (s.instances != "stop" && s.instances != "start" && s.instances != "remove" &&
            s.error.empty()) {
          s.error = "The switch " + arg + " needs stop, start or remove, not \"" + value + "\".";
        }
      }
      if (target == &assignment) {
        const size_t eq = value.find('=');
        if ((eq == std::string::npos || eq == 0) && s.error.empty()) {
          s.error = "The switch " + arg + " needs KEY=VALUE, not \"" + value + "\".";
        }
        s.settings.push_back(value);
      }
      continue;
    }
    if ((name == "INSTALL" || name == "UNINSTALL") && i + 1 < args.size() &&
        !IsSwitch(args[i + 1])) {
      s.instance = args[++i];
    }
    if (name == "INSTALL") s.install = true;
    if (name == "UNINSTALL") s.uninstall = true;
    if (name == "CONFIGURE") s.configure = true;
    if (name == "SILENT") s.silent = true;
    if (name == "CONSOLE") s.console = true;
    if (name == "TESTMAIL") s.testmail = true;
    if (name == "QUERY") s.query = true;
    if (name == "HELP" || name == "H" || name == "?") s.help = true;
    if (name == "VERSION") s.version = true;
    if (name == "REMOVE") s.remove = true;
    static const char* const kKnown[] = {"INSTALL",  "UNINSTALL", "SILENT",    "CONSOLE",
                                         "TESTMAIL", "QUERY",     "HELP",      "H",
                                         "?",        "VERSION",   "CONFIGURE", "REMOVE"};
    bool known = false;
    for (const char* k : kKnown) known = known || name == k;
    if (!known && s.unknown.empty()) s.unknown = arg;
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
  const auto print = [&](const std::string& text, bool is_error) {
    if (commands.print) {
      commands.print(text, is_error);
    } else {
      host.ShowMessage(service, text, is_error, s.silent);
    }
  };
  if (!s.error.empty()) {
    host.ShowMessage(service, s.error, true, s.silent);
    return 2;
  }
  if (!s.unknown.empty()) {
    print("Unknown switch: " + s.unknown + "\n" + UsageText(), true);
    return 2;
  }
  if (s.help) {
    print(UsageText(), false);
    return 0;
  }
  if (s.version) {
    print("tempwarden " + (commands.version ? commands.version() : std::string()) + "\n", false);
    return 0;
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
  if (s.configure) {
    if (installer.Configure(registration, &error)) {
      if (!s.silent) host.ShowMessage(service, "Service configured successfully", false, false);
      return 0;
    }
    host.ShowMessage(service,
                     "Service \"" + service.display_name + "\" failed to configure with error: \"" +
                         error + "\"",
                     true, s.silent);
    return 1;
  }
  if (!s.instances.empty()) {
    const Installer::InstancesAction action =
        s.instances == "stop"    ? Installer::InstancesAction::kStop
        : s.instances == "start" ? Installer::InstancesAction::kStart
                                 : Installer::InstancesAction::kRemove;
    if (installer.ForEachInstance(registration, action, &error)) return 0;
    host.ShowMessage(service, "Named instances (" + s.instances + "): " + error, true, s.silent);
    return 1;
  }
  const std::string refusal = commands.why_not_run ? commands.why_not_run() : "";
  if (!refusal.empty()) {
    host.ShowMessage(service, refusal, true, true);
    return 1;
  }
  if (!s.settings.empty()) return commands.set ? commands.set(s.settings) : 1;
  if (s.testmail) return commands.testmail ? commands.testmail() : 1;
  if (s.query) return commands.query ? commands.query() : 1;
  if (!s.protect.empty()) {
    return commands.protect ? commands.protect(s.protect, s.remove, s.secret_env) : 1;
  }
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
