// The command line of the program: install, uninstall, run in a console, or serve as the
// platform's service.
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
  bool silent = false;
  bool console = false;
  bool testmail = false;
  bool query = false;
};

// The commands that check the settings from a prompt; each returns the exit status. An
// empty command is treated as failed.
struct ProgramCommands {
  std::function<int()> testmail;
  std::function<int()> query;
};

// A switch begins with "-" or "/"; names compare without regard to case.
ProgramSwitches ParseSwitches(const std::vector<std::string>& args);

// Runs what the switches ask for and returns the process exit code.
// "INSTALL" goes before "UNINSTALL"; "SILENT" hides success messages and keeps failures out of
// message boxes (they still reach standard error, see ServiceHost::ShowMessage); "CONSOLE"
// runs the service in the foreground; "TESTMAIL" and "QUERY" run their command without
// starting the service; no switch serves as the platform's service.
int RunProgram(const std::vector<std::string>& args, ServiceHost& host, Installer& installer,
               const ServiceDefinition& service,
               const ProgramCommands& commands = ProgramCommands());

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_PROGRAM_H_
