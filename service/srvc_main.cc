#include "service/srvc_main.h"

#include <cmath>

#include "platform/registry.h"
#include "service/cycle.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/config.h"
#include "toolbelt/failure.h"
#include "toolbelt/host_info.h"
#include "toolbelt/items.h"
#include "toolbelt/syslog.h"
#include "toolbelt/text_time.h"
#include "toolbelt/xml_param.h"

namespace tw {
namespace {

constexpr char kStartTraceName[] = "TMonitorUPSService.ServiceStart";

// The collector that the start announcement goes to a second time.
std::string SyslogCollector(Context& ctx) {
  tXMLParam param;
  GetParamFromXMLFile(ctx, SettingsFilePath(ctx), "SyslogCollector", param);
  return param.Found && !param.Value.empty() ? param.Value : kDefaultSyslogCollector;
}

}  // namespace

std::string ServiceNameOf(const std::string& instance) {
  return instance.empty() ? std::string(kServiceName) : kServiceName + std::string("$") + instance;
}

std::string DisplayNameOf(const std::string& instance) {
  return instance.empty() ? std::string(kDisplayName)
                          : kDisplayName + std::string(" (") + instance + ")";
}

void TVOZIvazure::ServiceStart(bool& started) {
  (void)started;
  tLogRec log;
  log.Trace = 100;
  try {
    tGlobalSettings& g = ctx_.settings;
    SetPathToEXEPath(ctx_);
    g.Version = FileVersion2(ctx_, "");
    g.Company = "Brindle";
    g.HostName = GetHostName(ctx_);
    g.UnderWorkbench = RunningUnderWorkbench(ctx_);
    g.SelfName = ServiceNameOf(ctx_.layout.Instance);
    g.ExceptionFileMask = "E!RAZIVED-{timestamp}.XML";
    g.Started = ctx_.env.clock->Now();
    g.Log.Tag = "RAZ-IVED";
    g.Log.FilePrefix = "APC";
    g.Log.Busy = false;
    g.Log.PurgeDays = 366;
    g.Log.LastDay = static_cast<int64_t>(std::floor(ctx_.env.clock->Now()));
    g.Log.DebugLevel = 7;

    tSyslogRec syslog;
    syslog.Code = 71001;
    syslog.Msg = "Tempwarden Service Start. v" + g.Version;
    syslog.Source = kStartTraceName;
    syslog.Extra = 0;
    syslog.Port = 514;
    PostSyslogMsg(ctx_, syslog, "");
    PostSyslogMsg(ctx_, syslog, SyslogCollector(ctx_));

    log.Code = 50100;
    log.Msg = Items().Add("Function", kStartTraceName).str();
    log.Trace = 200;
    std::string log_file;
    LogEntry(ctx_, log, log_file);

    if (ctx_.env.registry != nullptr) {
      auto key = ctx_.env.registry->OpenLocalMachineKey(
          std::string("\\System\\CurrentControlSet\\Services\\") + g.SelfName);
      if (key) {
        std::string error;
        const std::string description =
            g.Company + " v" + g.Version + " started at " + DateTimeToStr(ctx_, g.Started);
        if (!key->WriteString("Description", description, &error)) {
          throw Fault("ERegistryException", "Failed to set data for 'Description'. " + error);
        }
      }
    }
    log.Trace = 300;
    log.Trace = 400;
    log.Trace = 500;
  } catch (...) {
    ReportAndLogCurrentException(ctx_, kStartTraceName, log.Trace, "");
  }
}

void TVOZIvazure::ServiceExecute(ServiceControl& control) {
  MonitoringCycle cycle(ctx_, control);
  cycle.Run();
}

ServiceDefinition TVOZIvazure::Definition() {
  ServiceDefinition def;
  def.name = ServiceNameOf(ctx_.layout.Instance);
  def.display_name = DisplayNameOf(ctx_.layout.Instance);
  def.start = [this](bool& started) { ServiceStart(started); };
  def.execute = [this](ServiceControl& control) { ServiceExecute(control); };
  def.requests = ctx_.env.requests;
  def.stop = ctx_.env.stop;
  return def;
}

}  // namespace tw
