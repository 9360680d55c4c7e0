// The service object: its start handler fills the process-wide settings and announces the
// start; its execute handler is the monitoring cycle.
#ifndef TEMPWARDEN_SERVICE_SRVC_MAIN_H_
#define TEMPWARDEN_SERVICE_SRVC_MAIN_H_

#include <string>

#include "service/service_control.h"
#include "toolbelt/settings.h"

namespace tw {

constexpr char kServiceName[] = "VOZIvazure";
constexpr char kDisplayName[] = "Tempwarden";

// The names of a named instance: "VOZIvazure$NAME" and "Tempwarden (NAME)"; the unnamed
// instance keeps kServiceName and kDisplayName. The service name is also the instance's
// SelfName, so its syslog datagrams and exception reports carry it.
std::string ServiceNameOf(const std::string& instance);
std::string DisplayNameOf(const std::string& instance);

class TVOZIvazure {
 public:
  explicit TVOZIvazure(Context& ctx) : ctx_(ctx) {}

  // Fills the settings, announces the start by syslog (broadcast and to the collector), writes
  // the start entry and the registry description. Never throws; never clears `started`.
  void ServiceStart(bool& started);

  // The monitoring cycle, until Terminated or a handled failure.
  void ServiceExecute(ServiceControl& control);

  // The definition the service framework runs.
  ServiceDefinition Definition();

 private:
  Context& ctx_;
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SRVC_MAIN_H_
