// The platform's service framework: running as a service, running in the foreground of a
// console, and the messages of the command line. Installing lives in install/install.h.
#ifndef TEMPWARDEN_SERVICE_SERVICE_HOST_H_
#define TEMPWARDEN_SERVICE_SERVICE_HOST_H_

#include <memory>
#include <string>

#include "service/service_control.h"

namespace tw {

class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // Serves as the platform's service until the manager has stopped it. False with the system's
  // error text when the process cannot connect to the service manager.
  virtual bool Dispatch(const ServiceDefinition& service, std::string* error_text) = 0;

  // Runs the service thread in the foreground until Ctrl+C or a termination signal.
  virtual void RunInConsole(const ServiceDefinition& service) = 0;

  // A message of the command line about installing or removing the service. On Windows a
  // modal message box captioned with the display name, but none when `silent`: an unattended
  // installer would hang on a box that nobody clicks. A failure also goes to standard error
  // and, when `silent`, to the event log, so that its reason is never lost. On Linux standard
  // output (success) or standard error (failure).
  virtual void ShowMessage(const ServiceDefinition& service, const std::string& text, bool is_error,
                           bool silent) = 0;

  // The process exit status that the last Dispatch or RunInConsole asks for: 0 after a stop,
  // non-zero after the service ended in a failure, so that the manager's restart settings act.
  virtual int ExitStatus() const { return 0; }

  // The platform's event log (the system journal through standard error on Linux).
  virtual void WriteEventLog(const std::string& service_name, const std::string& text) = 0;
};

std::unique_ptr<ServiceHost> NewSystemServiceHost();

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SERVICE_HOST_H_
