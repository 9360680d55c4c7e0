// The command line of the program: install, uninstall, run in a console, the prompt commands,
// help and version, or serve as the platform's service.
#ifndef TEMPWARDEN_SERVICE_PROGRAM_H_
#define TEMPWARDEN_SERVICE_PROGRAM_H_

#include <functional>
#include <string>
#include <vector>

#include "install/install.h"
#include "service/service_host.h"

namespace tw {

struct ProgramSwitches {
  bool install = false;
  bool uninstall = false;
  bool configure = false;  // "CONFIGURE": complete a registration made by the Windows Installer
  bool silent = false;
  bool console = false;
  bool testmail = false;
  bool query = false;
  bool help = false;     // "--help", "-h", "/?" or "/help": the switches are printed
  bool version = false;  // "--version" or "/version": the version is printed
  // Switches with a value, written "/config PATH" or "/config=PATH" (likewise with "-"):
  std::string settings_file;  // "CONFIG": the settings file instead of TEMPWARDEN.XML beside it
  std::string data_dir;       // "DATA": the data directory instead of the program's folder
  // "INSTANCE NAME", or the word after "INSTALL" or "UNINSTALL" when it is no switch: the
  // named instance (letters, digits, "-" and "_", at most kMaxInstanceName characters).
  std::string instance;
  // "INSTANCES stop|start|remove": what to do with every named instance (lower case here).
  std::string instances;
  // "SET KEY=VALUE", as often as wanted: settings to write into the settings file.
  std::vector<std::string> settings;
  // "PROTECT KEY": the secret key to store protected (service/protect.h); empty: no /protect.
  std::string protect;
  bool remove = false;     // "--remove" with /protect: delete the stored secret
  std::string secret_env;  // "SECRET-ENV VAR": /protect takes the secret from this variable
  std::string error;       // a switch without its value or an unusable name; nothing runs then
  std::string unknown;     // the first switch the program does not know; nothing runs then
};

constexpr size_t kMaxInstanceName = 32;

// The commands that check the settings from a prompt; each returns the exit status. An
// empty command is treated as failed.
struct ProgramCommands {
  std::function<int()> testmail;
  std::function<int()> query;
  // "/set": writes the "KEY=VALUE" words (toolbelt/settings_edit.h) and returns the status.
  std::function<int(const std::vector<std::string>& assignments)> set;
  // "/protect KEY [--remove] [/secret-env VAR]".
  std::function<int(const std::string& key, bool remove, const std::string& secret_env)> protect;
  // Empty when the program may work in its data directory, else why not (FileSystem::
  // WhyNotWriteIn); asked before a command, the console run or the service run, none of which
  // then runs. Unset: no objection.
  std::function<std::string()> why_not_run;
  // The program's version, for "--version"; asked only then.
  std::function<std::string()> version;
  // Where "--help", "--version" and the usage after an unknown switch are written: standard
  // output, or standard error when `is_error`. Unset: the host's ShowMessage.
  std::function<void(const std::string& text, bool is_error)> print;
};

// The switches with a line each, as "--help" prints them.
std::string UsageText();

// A switch begins with "-" or "/"; names compare without regard to case.
ProgramSwitches ParseSwitches(const std::vector<std::string>& args);

// Runs what the switches ask for and returns the process exit code; 2 when the command line
// itself is wrong (ProgramSwitches::error, shown as a failure message; an unknown switch, named
// with the usage). "--help" and "--version" print and return 0 before anything else runs.
// `service` is the definition for the instance the switches name (main builds it after
// ParseSwitches); the installer is handed the instance, settings file and data directory.
// "INSTALL" goes before "UNINSTALL"; "SILENT" hides success messages and keeps failures out of
// message boxes (they still reach standard error, see ServiceHost::ShowMessage);
// "CONFIGURE" and "INSTANCES" run Installer::Configure and Installer::ForEachInstance; "SET"
// (without those two) writes its settings and runs nothing else; "CONSOLE" runs the service
// in the foreground; "TESTMAIL" and "QUERY" run their command without starting the service;
// "PROTECT" stores a secret (after TESTMAIL and QUERY); no switch serves as the platform's
// service.
int RunProgram(const std::vector<std::string>& args, ServiceHost& host, Installer& installer,
               const ServiceDefinition& service,
               const ProgramCommands& commands = ProgramCommands());

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_PROGRAM_H_
