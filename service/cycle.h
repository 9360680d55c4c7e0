// The monitoring cycle: the execute handler of the service. It prepares (configuration file,
// start-up wait, first readings, day chart pages), then loops running the temperature pass
// every TempSleep seconds and the voltage pass every VoltageSleep seconds, until the service is
// told to stop. Due times are kept on the clock's monotonic time, so no step of the wall clock
// moves them; between passes the cycle waits until the next one is due or a control request
// arrives (the control's request event). Every wait goes through ctx.env.clock. The alerts
// (service/alerts.h) hear of every query, reading and temperature pass.
#ifndef TEMPWARDEN_SERVICE_CYCLE_H_
#define TEMPWARDEN_SERVICE_CYCLE_H_

#include <cstdint>
#include <string>

#include "service/alerts.h"
#include "service/debug_trace.h"
#include "service/metrics.h"
#include "service/service_control.h"
#include "snmp/session.h"
#include "snmp/snmp.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/config.h"
#include "toolbelt/failure.h"
#include "toolbelt/settings.h"
#include "ups/apc.h"

namespace tw {

constexpr char kVoltageFile[] = "UPS-Input-Voltage.txt";

class MonitoringCycle {
 public:
  MonitoringCycle(Context& ctx, ServiceControl& control);

  // The whole execute handler: start phase and loop under one failure handler. Returns when
  // Terminated is found set or a failure was handled.
  void Run();

  // State, for tests.
  const tUPSAttributes& ups() const { return ups_; }
  const tServiceConfig& config() const { return config_; }
  int32_t temp_log_point() const { return temp_log_point_; }
  int32_t startup_retry() const { return startup_retry_; }
  int32_t trace() const { return log_rec_.Trace; }
  // The SNMP version and, for version 3, the engine the queries found (EngineText).
  const SnmpSession& snmp_session() const { return snmp_session_; }
  const tUpsObject& temperature_object() const { return temperature_object_; }

 private:
  void StartPhase();
  bool StartupWait();  // false when a stop arrived during the wait
  void StartupReadings();
  void DrawDayPages();
  void Loop();
  // Waits up to `milliseconds` for the control's request event, telling the manager at least
  // every KeepAliveMs that the thread is alive. True when a request ended the wait.
  bool WaitForRequest(uint64_t milliseconds);
  // 30 s, or half the service manager's watchdog period when that is shorter.
  uint64_t KeepAliveMs() const;
  // Tells the service manager the service's state: see ServiceStatusLine.
  void UpdateStatus();
  // Logs a step of the wall clock against the monotonic clock since the last loop pass.
  void NoteClockStep();
  void TemperaturePass();
  void VoltagePass();

  // Appends (or, for the first line of a temperature pass, replaces) a debug trace line:
  // the date-time text of now, then `tail`.
  void DebugLine(const std::string& tail, bool replace = false);
  void DebugStage(int32_t stage, bool replace = false);
  void Log(int32_t code, const std::string& msg);
  TDateTime Now() const { return ctx_.env.clock->Now(); }
  uint64_t Monotonic() const { return ctx_.env.clock->MonotonicMs(); }
  bool Due(int64_t due_ms) const {
    return static_cast<int64_t>(Monotonic() - due_base_ms_) >= due_ms;
  }
  std::string Num(double v) const;
  std::string DateTimeText(TDateTime t);

  Context& ctx_;
  ServiceControl& control_;
  tServiceConfig config_;
  tConfigReadSite start_site_;
  tConfigReadSite pass_site_;
  tUPSAttributes ups_;
  tSNMPRec snmp_;
  SnmpSession snmp_session_;  // snmp_.Session: the engine learnt lives for the run
  tGoogleChart chart_;
  tLogRec log_rec_;  // its Trace is the cycle's trace stage
  tExceptionRec exception_;
  Alerts alerts_{ctx_, config_, ups_, snmp_, log_rec_};  // after the records it reads
  Metrics metrics_{ctx_, config_, ups_, alerts_};        // after the alerts it reads
  // The object read as the temperature ("TemperatureOID", "TemperatureScale"), for the run.
  tUpsObject temperature_object_ = kUpsTemperature;
  // Due times are kept as whole milliseconds of monotonic time after `due_base_ms_`, so that
  // adding an interval many times gives exactly the multiple of it and the passes keep their
  // phase for years, whatever the wall clock does.
  uint64_t due_base_ms_ = 0;
  int64_t next_temp_due_ms_ = 0;
  int64_t next_voltage_due_ms_ = 0;
  // The five-minute point and the date (whole days) of the last sample: a sample is due when
  // either differs, so a step of exactly one day does not skip one.
  int32_t temp_log_point_ = -1;
  int64_t temp_log_day_ = -1;
  // Wall and monotonic time of the last loop pass, to notice steps of the wall clock.
  TDateTime last_wall_ = 0;
  uint64_t last_monotonic_ms_ = 0;
  int32_t startup_retry_ = 0;
  TDateTime reading_at_ = 0;  // when the card last answered a query with a value
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_CYCLE_H_
