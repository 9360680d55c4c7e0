#include "service/cycle.h"

#include <algorithm>
#include <cmath>

#include "platform/heartbeat.h"
#include "platform/system_log.h"
#include "service/config_adapters.h"
#include "service/schedule.h"
#include "service/srvc_main.h"
#include "service/status_line.h"
#include "service/temperature_sample.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
#include "toolbelt/items.h"
#include "toolbelt/number_text.h"
#include "toolbelt/numbers.h"
#include "toolbelt/text_time.h"
#include "toolbelt/xml_param.h"
#include "ups/chart.h"
#include "ups/history.h"
#include "ups/phone_home.h"
#include "ups/temp_log.h"

namespace tw {
namespace {

// The longest the cycle waits without telling the service manager that it is alive.
constexpr uint64_t kKeepAliveMs = 30000;
// The start-up wait when the UPS was on battery when last seen.
constexpr uint64_t kStartupWaitMs = 10 * 60000;
// The first passes come one second after the start phase, as they always have; passes that
// are overdue (after a pause) run one a second until they are caught up.
constexpr int64_t kFirstPassMs = 1000;
constexpr uint64_t kCatchUpMs = 1000;
// A difference between wall time and monotonic time elapsed above this is a step of the wall
// clock (an administrator, NTP, the change to or from daylight saving time) and is logged.
constexpr double kClockStepLimitMs = 3 * 60000;
constexpr int32_t kClockStepCode = 40100;

}  // namespace

MonitoringCycle::MonitoringCycle(Context& ctx, ServiceControl& control)
    : ctx_(ctx), control_(control) {
  alerts_.set_notification_outcomes(&metrics_);
}

std::string MonitoringCycle::Num(double v) const { return FloatToStr(v, ctx_.fmt()); }

std::string MonitoringCycle::DateTimeText(TDateTime t) { return DateTimeToStr(ctx_, t); }

void MonitoringCycle::DebugLine(const std::string& tail, bool replace) {
  DebugTraceLine(ctx_, tail, replace);
}

void MonitoringCycle::DebugStage(int32_t stage, bool replace) {
  DebugTraceStage(ctx_, log_rec_, stage, replace);
}

void MonitoringCycle::Log(int32_t code, const std::string& msg) {
  LogThrough(ctx_, log_rec_, code, msg);
}

void MonitoringCycle::Run() {
  log_rec_.Trace = 100;
  try {
    StartPhase();
    if (control_.Terminated()) return;
    UpdateStatus();
    control_.StartPhaseDone();
    Loop();
  } catch (...) {
    const tExceptionRec rec =
        ReportAndLogCurrentException(ctx_, kTraceName, log_rec_.Trace, exception_.Notes);
    control_.SetExitCode(kExitCycleFailed);
    // One line for the system's log (the journal, at error priority), so that the cause of a
    // non-zero exit is where the administrator looks first.
    if (ctx_.env.system_log != nullptr) {
      const std::string& report = ctx_.faults.last_report;
      ctx_.env.system_log->Error(
          ctx_.settings.SelfName.empty() ? kServiceName : ctx_.settings.SelfName,
          "The monitoring stopped: " + rec.ClassName + ": " + rec.Message + " (stage " +
              std::to_string(rec.Trace) + "; " +
              (report.empty() ? std::string("no new exception report")
                              : "exception report " + ctx_.settings.ExePath + report) +
              ")");
    }
  }
}

void MonitoringCycle::StartPhase() {
  log_rec_.Trace = 100;
  ctx_.settings.ExePath = SetPathToEXEPath(ctx_);
  // A data directory named on the command line that cannot be used ends the start: the
  // service manager's restart settings then act, and its journal says why.
  if (!ctx_.layout.DataDir.empty() && ctx_.settings.ExePath.rfind("Error - ", 0) == 0) {
    const std::string dir = ctx_.settings.ExePath.substr(8);
    ctx_.settings.ExePath.clear();
    throw Fault("EInOutError", "The data directory \"" + dir + "\" cannot be used");
  }
  const bool have_config = EnsureConfigFile(ctx_);
  log_rec_.Trace = 200;
  if (have_config) {
    config_ = ReadStartConfig(ctx_, start_site_);
    pass_site_.Problem = start_site_.Problem;  // a file problem is named once, not again
    ctx_.settings.Log.DebugLevel = config_.DebugLevel;
  } else {
    // Nothing read: the intervals stay 0 until the first re-read (the voltage pass then runs
    // at every loop pass, against no host).
    config_.TempSleep = 0;
    config_.VoltageSleep = 0;
  }
  ups_.HostName = config_.UPSHost;
  ups_.Community = config_.SNMPCommunity;
  temperature_object_ = TemperatureObject(config_.TemperatureOID, config_.TemperatureScale);
  // Version 3 turns its passwords into keys here, once for the run; settings it cannot use
  // are reported now, and the queries then send nothing.
  if (have_config) ConfigureSnmpSession(ctx_, SnmpSettingsOf(config_), &snmp_session_);
  snmp_.Session = &snmp_session_;
  log_rec_.Trace = 300;
  log_rec_.Trace = 400;

  log_rec_.Trace = 500;
  if (!ups_.HostName.empty()) {
    log_rec_.Trace = 510;
    if (!StartupWait()) return;
    log_rec_.Trace = 550;
    snmp_.Community = ups_.Community;
    log_rec_.Trace = 560;
    snmp_.Host = ups_.HostName;
    snmp_.Port = static_cast<uint16_t>(config_.UPSPort);
    exception_.Notes = "UPSAttributes.HostName=" + ups_.HostName;
    StartupReadings();
    log_rec_.Trace = 710;
  }
  DrawDayPages();
  log_rec_.Trace = 720;
  temp_log_point_ = -1;
  temp_log_day_ = -1;
  due_base_ms_ = Monotonic();
  next_temp_due_ms_ = kFirstPassMs;
  next_voltage_due_ms_ = kFirstPassMs;
  last_wall_ = Now();
  last_monotonic_ms_ = due_base_ms_;
  log_rec_.Trace = 1000;
}

bool MonitoringCycle::StartupWait() {
  std::string last_voltage;
  if (!FileExists(ctx_, kVoltageFile)) return true;
  FileToStr(ctx_, kVoltageFile, last_voltage);
  if (last_voltage != "0") return true;
  // The UPS was on battery when last seen: give the mains ten minutes to settle. Requests are
  // handled as they come, so a stop ends the wait at once.
  log_rec_.Trace = 520;
  const uint64_t start = Monotonic();
  const uint64_t end = start + kStartupWaitMs;
  for (;;) {
    control_.ProcessRequests();
    if (control_.Terminated()) return false;
    const uint64_t now = Monotonic();
    if (now >= end) break;
    if (now > start) control_.KeepAlive();  // between two pieces of the wait
    // The service manager waits for the start phase only so long: each piece of the wait
    // asks for its own time and a minute for the readings that follow it.
    const uint64_t piece = std::min(end - now, KeepAliveMs());
    control_.ExtendStart(piece + 60000);
    WaitForRequest(piece);
  }
  log_rec_.Trace = 530;
  startup_retry_ = 10;
  return true;
}

void MonitoringCycle::StartupReadings() {
  log_rec_.Trace = 570;
  snmp_.OID = temperature_object_.OID;
  log_rec_.Trace = 580;
  const tUpsReading temp = ReadUpsObject(ctx_, snmp_, temperature_object_);
  log_rec_.Trace = 590;
  // No reading (silence, or an answer that is no number) leaves the temperature 0 and sets no
  // minimum or maximum, which the first reading then does.
  const bool answered = temp.Kind == tReadingKind::kNumber;
  alerts_.ObjectReading(temperature_object_, temp);
  metrics_.Reading(temperature_object_, temp);
  alerts_.CardAnswer(answered);
  if (answered) ups_.InternalTemp = temp.Value;
  log_rec_.Trace = 600;
  alerts_.StartupTemperature(answered);
  log_rec_.Trace = 630;

  log_rec_.Trace = 640;
  snmp_.OID = kOidUpsInputVoltage;
  log_rec_.Trace = 650;
  const tUpsReading volts = ReadUpsObject(ctx_, snmp_, kUpsInputVoltage);
  const bool volts_read = volts.Kind == tReadingKind::kNumber;
  alerts_.ObjectReading(kUpsInputVoltage, volts);
  metrics_.Reading(kUpsInputVoltage, volts);
  alerts_.CardAnswer(volts_read);
  log_rec_.Trace = 660;
  // No reading counts as 0 volts here, as silence always has; it no longer ends the service.
  ups_.InputVoltage = volts_read ? volts.Value : 0;
  log_rec_.Trace = 670;
  alerts_.StartupVoltage();
  if (answered || volts_read) reading_at_ = Now();
  ups_.UPSState = ups_.InputVoltage == 0 ? "On_Battery" : "OnLine";
  // Empty text writes nothing: the file keeps the last reading.
  WriteStringToFile(ctx_, volts_read ? volts.Text : std::string(), kVoltageFile, false);

  log_rec_.Trace = 680;
  Items start;
  start.Add("Function", kTraceName)
      .Add("Host", ctx_.settings.HostName)
      .Add("UPSAttributes.HostName", ups_.HostName)
      .Add("PhoneHomeServer", config_.PhoneHomeServer)
      .Add("TempSleep", config_.TempSleep)
      .Add("VoltageSleep", config_.VoltageSleep)
      .Add("SMTPRelay", config_.SMTPRelay)
      .Add("EmailToAddr", config_.EmailToAddr)
      .Add("CCEmailAddr", config_.EmailCCAddr)
      .Add("UPSName", ups_.UPSName)
      .Add("UPSModel", ups_.UPSModel)
      .Add("UPSContact", ups_.UPSContact)
      .Add("UPSLocation", ups_.UPSLocation)
      .Add("UPSUser", ups_.UPSUser)
      .Add("UPSState", ups_.UPSState)
      .Add("UPSTemp", Num(ups_.InternalTemp))
      .Add("UPSState", ups_.UPSState)  // twice, as the entry always had it
      .Add("UPSInputVoltage", Num(ups_.InputVoltage))
      .Add("AlarmTemp", Num(config_.AlarmTemp))
      .Add("StartupRetry", startup_retry_);
  // Only a chosen temperature object is named, so that the entry of a service that reads the
  // default one stays as it always was.
  if (temperature_object_.OID != kUpsTemperature.OID || temperature_object_.Scale != 1) {
    start.Add("TemperatureOID", temperature_object_.OID)
        .Add("TemperatureScale", FloatToStr(temperature_object_.Scale, FormatSettings()));
  }
  Log(50200, start.str());
  log_rec_.Trace = 690;
}

void MonitoringCycle::DrawDayPages() {
  // Title, refresh and axis titles are the day settings; Period and EndPeriod stay for the run.
  SetDayChart(ctx_, chart_);
  chart_.Period = 1.0;
  chart_.EndPeriod = Now();
  WriteDayChartPages(ctx_, chart_, DayPageSet::kStartUp);
}

void MonitoringCycle::Loop() {
  for (;;) {
    control_.ProcessRequests();
    if (control_.Terminated()) break;
    control_.KeepAlive();
    NoteClockStep();
    bool ran = false;
    if (Due(next_temp_due_ms_)) {
      TemperaturePass();
      ran = true;
    }
    if (Due(next_voltage_due_ms_)) {
      VoltagePass();
      ran = true;
    }
    const int64_t next = std::min(next_temp_due_ms_, next_voltage_due_ms_);
    const int64_t elapsed = static_cast<int64_t>(Monotonic() - due_base_ms_);
    uint64_t wait = next > elapsed ? static_cast<uint64_t>(next - elapsed) : 0;
    if (wait == 0 && ran) wait = kCatchUpMs;
    if (wait > 0) WaitForRequest(wait);
  }
}

bool MonitoringCycle::WaitForRequest(uint64_t milliseconds) {
  Clock& clock = *ctx_.env.clock;
  const uint64_t end = Monotonic() + milliseconds;
  for (;;) {
    const uint64_t now = Monotonic();
    if (now >= end) return false;
    const uint64_t chunk = std::min(end - now, KeepAliveMs());
    if (clock.Wait(static_cast<uint32_t>(chunk), control_.RequestEvent())) return true;
    // The loop pass that follows the wait says it is alive anyway.
    if (Monotonic() < end) control_.KeepAlive();
  }
}

uint64_t MonitoringCycle::KeepAliveMs() const {
  return KeepAliveIntervalMs(ctx_.env.heartbeat, kKeepAliveMs);
}

void MonitoringCycle::UpdateStatus() {
  tServiceStatus status;
  status.Configured = !ups_.HostName.empty();
  status.Answering = !alerts_.contact_lost();
  status.SilentSince =
      alerts_.last_answer_at() != 0 ? alerts_.last_answer_at() : ctx_.settings.Started;
  status.ReadingAt = reading_at_;
  control_.SetStatusText(ServiceStatusLine(ctx_, ups_, status));
}

void MonitoringCycle::NoteClockStep() {
  const TDateTime wall = Now();
  const uint64_t monotonic = Monotonic();
  const double step_ms =
      (wall - last_wall_) * 86400000.0 - static_cast<double>(monotonic - last_monotonic_ms_);
  last_wall_ = wall;
  last_monotonic_ms_ = monotonic;
  if (std::fabs(step_ms) <= kClockStepLimitMs) return;
  const int64_t seconds = static_cast<int64_t>(std::llround(step_ms / 1000.0));
  Log(kClockStepCode, Items()
                          .Add("Function", kTraceName)
                          .Add("Msg", "Clock step")
                          .Add("Seconds", seconds)
                          .Add("Now", DateTimeText(wall))
                          .str());
}

void MonitoringCycle::TemperaturePass() {
  // Early in a slot of the day where the interval allows (service/schedule.h), so that a late
  // pass still samples its point.
  const int64_t elapsed_ms = static_cast<int64_t>(Monotonic() - due_base_ms_);
  next_temp_due_ms_ = NextTempDueMs(next_temp_due_ms_, elapsed_ms, Now(), config_.TempSleep);
  DebugStage(1100, true);
  DebugStage(1110);
  ReReadPassConfig(ctx_, pass_site_, config_, log_rec_.Trace);
  ups_.HostName = config_.UPSHost;
  DebugStage(1230);

  log_rec_.Trace = 1240;
  if (config_.PhoneHomeServer.empty()) {
    log_rec_.Trace = 1250;
    DebugLine(std::string(" Function=") + kTraceName +
              "sPhoneHomeServer not set. LogRec.Trace=1250");
    Log(40000,
        "[TVOZIvazure.ServiceExecute][Phone-Home server not set. Check <PhoneHomeServer> in "
        "TEMPWARDEN.XML");
  } else {
    log_rec_.Trace = 1260;
    DebugLine(std::string(" Function=") + kTraceName + " LogRec.Trace=1260" +
              " UPSAttributes.InternalTemp=" + Num(ups_.InternalTemp) +
              " sPhoneHomeServer=" + config_.PhoneHomeServer);
    PhoneHome(ctx_, config_.PhoneHomeServer, ups_, config_.PhoneHomeCollector);
  }

  log_rec_.Trace = 1270;
  const TDateTime now = Now();
  const int32_t point = TempLogPoint(now);
  const int64_t day = static_cast<int64_t>(std::floor(now));
  DebugLine(std::string(" Function=") + kTraceName +
            " iTempLogPoint=" + std::to_string(temp_log_point_) +
            " Trunc(Frac(now)*288)=" + std::to_string(point) + ". LogRec.Trace=1270");
  // The day's file as read here, which the sample takes up rather than reading it again.
  tKnownDayFile day_file;
  if ((point != temp_log_point_ || day != temp_log_day_) && PointRecorded(ctx_, now, &day_file)) {
    // Taken before a restart, or before the wall clock was set back: one row per point.
    temp_log_point_ = point;
    temp_log_day_ = day;
  }
  if (point != temp_log_point_ || day != temp_log_day_) {
    DebugStage(1275);
    tUpsReading reading;
    const int32_t sampled = RecordTemperatureSample(
        ctx_, snmp_, ups_, chart_, [this] { DebugStage(1280); }, &reading, &day_file,
        temperature_object_);
    alerts_.ObjectReading(temperature_object_, reading);
    metrics_.Reading(temperature_object_, reading);
    // Without a reading the point stays unsampled, so the next pass in it tries again.
    const bool answered = sampled != kNoReading;
    alerts_.SampledTemperature(answered);
    if (answered) {
      temp_log_point_ = sampled;
      temp_log_day_ = day;
      reading_at_ = Now();
    }
    alerts_.CardAnswer(answered);
  }
  DebugStage(1290);
  UpdateStatus();
  alerts_.TemperaturePass();
  metrics_.Write();
}

void MonitoringCycle::VoltagePass() {
  log_rec_.Trace = 1800;
  next_voltage_due_ms_ += int64_t{config_.VoltageSleep} * 1000;
  log_rec_.Trace = 1810;
  snmp_.OID = kOidUpsInputVoltage;
  const tUpsReading volts = ReadUpsObject(ctx_, snmp_, kUpsInputVoltage);
  alerts_.ObjectReading(kUpsInputVoltage, volts);
  metrics_.Reading(kUpsInputVoltage, volts);
  alerts_.CardAnswer(volts.Kind == tReadingKind::kNumber);
  if (volts.Kind != tReadingKind::kNumber) {  // no reading changes nothing
    UpdateStatus();
    metrics_.Write();
    return;
  }
  ups_.InputVoltage = volts.Value;
  ups_.UPSState = ups_.InputVoltage == 0 ? "On_Battery" : "OnLine";
  WriteStringToFile(ctx_, volts.Text, kVoltageFile, false);
  alerts_.VoltageReading();
  reading_at_ = Now();
  UpdateStatus();
  metrics_.Write();
}

}  // namespace tw
