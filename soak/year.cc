#include "soak/year.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "service/debug_trace.h"
#include "sim/agent.h"
#include "snmp/ber.h"
#include "snmp/snmp.h"
#include "soak/process_stats.h"
#include "soak/year_run.h"

namespace tw {
namespace soak {

std::string LocalText(int64_t local_ms) {
  const CalendarTime t = MsToCalendar(local_ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

// The identifier's encoding as a request carries it: tag, length and content.
std::string EncodedOid(const char* dotted) {
  std::string content;
  EncodeObjectId(dotted, &content);
  return std::string(1, '\x06') + static_cast<char>(content.size()) + content;
}

std::string DateStamp(int64_t local_ms) {
  const CalendarTime t = MsToCalendar(local_ms);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
  return buf;
}

// The service's side of the framework: a stop request is handled at the cycle's next call;
Year::Year(const SoakOptions& options, std::string directory,
           const std::function<void(const std::string&)>& progress)
    : options_(options),
      directory_(std::move(directory)),
      progress_(progress),
      start_local_(CalendarToMs(options.start)),
      start_utc_(BerlinUtcMs(start_local_)),
      clock_(start_utc_, kUptimeAtStart),
      disk_(NewSystemFileSystem()),
      temperature_oid_(EncodedOid(kOidUpsTemperature)),
      voltage_oid_(EncodedOid(kOidUpsInputVoltage)) {
  files_ = std::make_unique<LockingFileSystem>(*disk_);
  host_.computer_name = "SOAK1";
  host_.module_path = directory_ + disk_->PathSeparator() + "tempwarden";
  host_.versions[host_.module_path] = {0x00010000, 0x00000001};
  relay_plug_ = network_.tcp_peer;
  clock_.on_local_jump = [this](int64_t before, int64_t after) { OnLocalJump(before, after); };
  network_.responder = [this](const FakeNetwork::Datagram& request, FakeNetwork::Answer* answer) {
    return Answer(request, answer);
  };
  control_.on_pass = [this] { Harvest(); };
  network_.on_send = [this](const FakeNetwork::Datagram& sent) { HoldUpPass(sent); };
  files_->on_write = [this](const std::string& path, bool append) { OnWrite(path, append); };

  UpsSimOptions normal;
  normal.outage_every_s = 7 * 86400 + 5 * 3600;  // a mains failure now and then
  normal.outage_for_s = 300;
  ups_ = std::make_unique<SimulatedUps>(normal, clock_);
  UpsSimOptions hot = normal;
  hot.mean_temp = 40;
  hot.swing = 3;
  hot.seed = 2;
  hot_ups_ = std::make_unique<SimulatedUps>(hot, clock_);
}

void Year::Plan() {
  const int n = options_.days;
  const int64_t day0 = start_local_ / kMsPerDay * kMsPerDay;
  auto at = [&](double fraction, int64_t time_of_day) {
    const int k = std::max(1, static_cast<int>(std::lround(fraction * n)));
    return day0 + k * kMsPerDay + time_of_day;
  };
  auto hm = [](int h, int m, int s) { return h * kHour + m * kMinute + s * kSecond; };
  std::vector<Planned> p;
  // Faults need room: the relay episode spans two days, the last fault is followed by a day.
  if (n >= 8) {
    // Failing queries over the tick count's wrap, an hour into the run: their exception
    // reports are held back by the hour on a count that wraps meanwhile.
    p.push_back({start_local_ + 40 * kMinute, Fault::kNetworkDown, 0,
                 "network unreachable over the tick count's wrap"});
    p.push_back({start_local_ + 100 * kMinute, Fault::kNetworkUp, 0, "network back"});
    p.push_back({at(0.10, hm(10, 17, 0)), Fault::kSilent, 0, "agent silent"});
    p.push_back({at(0.10, hm(11, 17, 0)), Fault::kAnswering, 0, "agent answers again"});
    p.push_back({at(0.20, hm(14, 2, 0)), Fault::kLock, 0, "daily file locked"});
    p.push_back({at(0.20, hm(15, 2, 0)), Fault::kUnlock, 0, "daily file unlocked"});
    p.push_back({at(0.30, hm(0, 1, 10)), Fault::kStop, 0, "service stopped"});
    p.push_back({at(0.30, hm(0, 3, 20)), Fault::kStart, 0, "service started"});
    p.push_back({at(0.40, hm(13, 20, 10)), Fault::kStop, 0, "service stopped"});
    p.push_back({at(0.40, hm(13, 47, 50)), Fault::kStart, 0, "service started"});
    p.push_back({at(0.45, hm(0, 10, 0)), Fault::kSlowPasses, 0,
                 "every third temperature pass held up 4 minutes"});
    p.push_back({at(0.45, hm(12, 10, 0)), Fault::kQuickPasses, 0, "passes on time again"});
    p.push_back({at(0.50, hm(15, 0, 0)), Fault::kStep, -kHour, "clock stepped back an hour"});
    p.push_back({at(0.50, hm(20, 0, 0)), Fault::kStep, kHour, "clock stepped forward an hour"});
    p.push_back({at(0.60, hm(6, 0, 0)), Fault::kRelayDown, 0, "relay down"});
    p.push_back({at(0.60, hm(8, 0, 0)), Fault::kHeat, 0, "UPS room heats up"});
    p.push_back({at(0.60, kMsPerDay + hm(6, 0, 0)), Fault::kRelayUp, 0, "relay back"});
    p.push_back({at(0.60, kMsPerDay + hm(12, 0, 0)), Fault::kCool, 0, "UPS room cools down"});
    p.push_back({at(0.75, hm(9, 3, 40)), Fault::kStep, kMsPerDay, "clock stepped forward a day"});
    p.push_back({at(0.85, hm(16, 40, 0)), Fault::kNetworkDown, 0, "network unreachable"});
    p.push_back({at(0.85, hm(17, 40, 0)), Fault::kNetworkUp, 0, "network back"});
  }
  p.push_back({day0 + n * kMsPerDay + start_local_ % kMsPerDay + 30 * kMinute, Fault::kEnd, 0,
               "end of the run"});
  std::stable_sort(p.begin(), p.end(),
                   [](const Planned& a, const Planned& b) { return a.local_ms < b.local_ms; });

  // Each fault at its wall-clock time, as the wall clock reads after the steps before it.
  int64_t step = 0;
  session_starts_.push_back(0);
  for (const Planned& e : p) {
    const uint64_t mono = static_cast<uint64_t>(BerlinUtcMs(e.local_ms) - start_utc_ - step);
    if (e.fault == Fault::kStep) step += e.step_ms;
    if (e.fault == Fault::kStart) {
      session_starts_.push_back(mono);
    } else {
      clock_.At(mono, [this, e] { Apply(e); });
    }
    if (e.fault == Fault::kEnd) end_mono_ = mono;
    plan_.push_back(e);
  }
  // The early figures, once the run has settled.
  clock_.At(end_mono_ / 10, [this] {
    const ProcessStats s = ReadProcessStats();
    figures_.early_peak_memory_kb = s.peak_memory_kb;
    figures_.early_open_handles = s.open_handles;
    figures_.early_heap_in_use_kb = s.heap_in_use_kb;
    early_kept_kb_ = KeptKb();
    figures_.early_anon_memory_kb = s.anon_memory_kb;
    figures_.early_file_memory_kb = s.file_memory_kb;
    figures_.first_tenth_cpu_seconds = s.cpu_seconds - cpu_start_;
  });
  clock_.At(end_mono_ / 10 * 9, [this] { cpu_at_nine_tenths_ = ReadProcessStats().cpu_seconds; });
  for (int d = 30; d < n; d += 30) {
    clock_.At(static_cast<uint64_t>(d) * kMsPerDay, [this, d] {
      if (!progress_) return;
      char cpu[32];
      std::snprintf(cpu, sizeof cpu, "%.1f", ReadProcessStats().cpu_seconds);
      progress_("day " + std::to_string(d) + ", " + LocalText(clock_.LocalMs()) + ", CPU " + cpu +
                " s");
    });
  }
}

void Year::Apply(const Planned& p) {
  switch (p.fault) {
    case Fault::kStop:
    case Fault::kEnd:
      Snapshot();
      control_.RequestStop();
      in_session_ = false;
      ended_ = p.fault == Fault::kEnd;
      break;
    case Fault::kSilent:
      silent_ = true;
      break;
    case Fault::kAnswering:
      silent_ = false;
      Reconsider(kSilenceMargin);
      return;
    case Fault::kNetworkDown:
      // A cable pulled: every datagram fails at once (WSAENETUNREACH), which the query
      // reports as a failure, not as a silence.
      network_down_ = true;
      network_.send_error = 10051;
      break;
    case Fault::kNetworkUp:
      network_down_ = false;
      network_.send_error = 0;
      voltage_queried_ = false;  // the queries that failed to go out were no stall
      Reconsider(kSilenceMargin);
      return;
    case Fault::kLock:
      files_->Lock("APCUPSTempLog_" + DateStamp(clock_.LocalMs()) + ".csv");
      break;
    case Fault::kUnlock:
      files_->Lock("");
      break;
    case Fault::kRelayDown:
      network_.tcp_peer = nullptr;
      break;
    case Fault::kRelayUp:
      network_.tcp_peer = relay_plug_;
      relay_up_ = clock_.LocalMs();
      break;
    case Fault::kHeat:
      heat_ = true;
      heat_on_ = clock_.LocalMs();
      break;
    case Fault::kCool:
      heat_ = false;
      heat_off_ = clock_.LocalMs();
      break;
    case Fault::kStep:
      Snapshot();
      clock_.StepWall(p.step_ms);
      break;
    case Fault::kSlowPasses:
      slow_passes_ = true;
      slow_from_ = clock_.LocalMs();
      break;
    case Fault::kQuickPasses:
      slow_passes_ = false;
      slow_until_ = clock_.LocalMs();
      break;
    case Fault::kStart:
      break;
  }
  Reconsider();
}

void Year::Reconsider(int64_t margin) {
  const bool good = in_session_ && !silent_ && !network_down_;
  if (good && open_since_ < 0) open_since_ = clock_.LocalMs() + margin;
  if (!good && open_since_ >= 0) {
    segments_.push_back({open_since_, clock_.LocalMs()});
    open_since_ = -1;
  }
}

void Year::OnLocalJump(int64_t before, int64_t after) {
  if (open_since_ < 0) return;
  segments_.push_back({open_since_, before});
  open_since_ = after;
}

bool Year::Answer(const FakeNetwork::Datagram& request, FakeNetwork::Answer* answer) {
  if (request.to_port != 161) return false;
  ++figures_.snmp_queries;
  // The service asks for one object a query, in a request of its own encoding: the object's
  // encoded identifier tells the queries apart without decoding each of the year's million.
  const bool temperature = request.payload.find(temperature_oid_) != std::string::npos;
  if (!temperature && request.payload.find(voltage_oid_) != std::string::npos) {
    const uint64_t now = clock_.MonotonicMs();
    const int64_t gap = static_cast<int64_t>(now - last_voltage_query_);
    if (voltage_queried_ && gap > longest_voltage_gap_) {
      longest_voltage_gap_ = gap;
      longest_gap_at_ = clock_.LocalMs();
    }
    if (voltage_queried_ && gap > kLongestVoltageGap) {
      long_gaps_.push_back(std::to_string(gap / 1000) + " s until " + LocalText(clock_.LocalMs()));
    }
    voltage_queried_ = true;
    last_voltage_query_ = now;
  }
  if (silent_) {
    // The query waits out its time limit, as it would for a card that is off the air.
    if (!network_.receive_timeouts.empty()) clock_.Advance(network_.receive_timeouts.back());
    return false;
  }
  SimulatedUps& ups = temperature && heat_ ? *hot_ups_ : *ups_;
  const AgentAnswer reply = AnswerRequest(request.payload, "public", ups);
  if (reply.reply.empty()) return false;
  answer->payload = reply.reply;
  answer->from_ipv4 = request.to_ipv4;
  answer->from_port = 161;
  return true;
}

// The phone-home report is the first thing a temperature pass sends, before it samples.
void Year::HoldUpPass(const FakeNetwork::Datagram& sent) {
  if (!slow_passes_ || sent.to_ipv4 != "255.255.255.255" ||
      sent.payload.find("PhoneHome:") == std::string::npos || ++phone_home_reports_ % 3 != 0) {
    return;
  }
  ++held_up_passes_;
  clock_.Advance(kPassStall);
  voltage_queried_ = false;  // the voltage passes wait for this one: a stall made on purpose
}

// Keeps what the fakes recorded from growing over the year: mails are noted, the rest counted.
void Year::Harvest() {
  for (const FakeSmtpPeer::Line& line : relay_.received) {
    if (line.text.rfind("Subject: ", 0) == 0) {
      mails_.push_back({line.text.substr(9), clock_.LocalMs()});
    }
  }
  relay_.received.clear();
  for (const FakeNetwork::Datagram& d : network_.sent) figures_.datagrams += d.to_port != 161;
  network_.sent.clear();
  network_.receive_timeouts.clear();
  network_.connect_timeouts.clear();
  speaker_.tones.clear();
}

void Year::OnWrite(const std::string& path, bool append) {
  const size_t cut = path.find_last_of(disk_->PathDelimiters());
  if (append || path.compare(cut == std::string::npos ? 0 : cut + 1, std::string::npos,
                             kDebugTraceFile) != 0) {
    return;
  }
  const uint64_t now = clock_.ElapsedMs();
  if (last_pass_local_ >= 0 && now - last_pass_ > longest_pass_gap_) {
    longest_pass_gap_ = now - last_pass_;
    longest_pass_gap_at_ = clock_.LocalMs();
  }
  ++figures_.temperature_passes;
  last_pass_ = now;
  last_pass_local_ = clock_.LocalMs();
}

// Checks, one stall limit after the last pass it knows of, that another came; one chain of
// checks per service run.
void Year::WatchPasses(uint64_t at, uint64_t session) {
  clock_.At(at, [this, session] {
    if (session != figures_.sessions || !executing_) return;
    if (!stalled_.empty()) {
      // Asked to stop at once and still running: nothing else can end the run.
      std::fprintf(stderr, "tempwarden-soak: the service ignores its stop request: %s\n",
                   stalled_.c_str());
      std::exit(1);
    }
    if (clock_.ElapsedMs() < last_pass_ + kStallLimit) {
      WatchPasses(last_pass_ + kStallLimit, session);
      return;
    }
    Stalled();
    WatchPasses(clock_.ElapsedMs() + kStallLimit, session);
  });
}

void Year::Stalled() {
  const uint64_t since = clock_.ElapsedMs() - last_pass_;
  stalled_ = "no temperature pass for " + std::to_string(since / kMinute) + " min (3 x TempSleep)";
  stalled_ += last_pass_local_ >= 0 ? " since " + LocalText(last_pass_local_) : "";
  stalled_ += ", at simulated " + LocalText(clock_.LocalMs()) + " (day " +
              std::to_string(clock_.ElapsedMs() / kMsPerDay + 1) + " of the run, tick count " +
              std::to_string(clock_.TickCount()) + "); last activity-log entry: " + LastLogEntry();
  if (progress_) progress_("STALLED: " + stalled_);
  ended_ = true;
  in_session_ = false;
  Reconsider();
  control_.RequestStop(true);
}

std::string Year::LastLogEntry() {
  const std::vector<std::string> logs = disk_->FindFiles(directory_ + "/APC-*.CSV");
  if (logs.empty()) return "none";
  std::string text, error;
  if (!disk_->ReadFile(directory_ + "/" + *std::max_element(logs.begin(), logs.end()), &text,
                       &error)) {
    return error;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);
}

void Year::RunSession() {
  ++figures_.sessions;
  Context ctx;
  ctx.env.clock = &clock_;
  ctx.env.regional = &regional_;
  ctx.env.host = &host_;
  ctx.env.files = files_.get();
  ctx.env.network = &network_;
  ctx.env.speaker = &speaker_;
  control_.Reset();
  voltage_queried_ = false;
  std::string last_volts, error;
  const bool mains_wait =
      disk_->ReadFile(directory_ + "/UPS-Input-Voltage.txt", &last_volts, &error) &&
      last_volts == "0";
  in_session_ = true;
  session_starts_local_.push_back(clock_.LocalMs());
  Reconsider(mains_wait ? kMainsWaitMargin : kStartMargin);

  last_pass_ = clock_.ElapsedMs();
  WatchPasses(last_pass_ + kStallLimit, figures_.sessions);
  TVOZIvazure service(ctx);
  bool started = true;
  service.ServiceStart(started);
  executing_ = true;
  service.ServiceExecute(control_);
  executing_ = false;
  Harvest();
  if (!control_.stop_requested() && stalled_.empty()) {
    self_ended_.push_back(LocalText(clock_.LocalMs()));
    in_session_ = false;
    Reconsider();
  }
}

SoakResult Year::Run() {
  SoakResult result;
  result.directory = directory_;
  // The configuration an administrator would leave: the card, the relay, an alarm level that
  // only the heat reaches.
  const std::string config =
      "<XML>\r\n  <UPSHost>" + std::string(kUpsAddress) +
      "</UPSHost>\r\n  <SNMPCommunity>public</SNMPCommunity>\r\n  <SysLogTrap>7</SysLogTrap>\r\n"
      "  <PhoneHomeServer>localhost/ordo/ordoisapi.dll/UPSPhoneHome</PhoneHomeServer>\r\n"
      "  <TempSleep>" +
      std::to_string(kTempSleep / kSecond) +
      "</TempSleep>\r\n"
      "  <VoltageSleep>30</VoltageSleep>\r\n"
      "  <AlarmTemp>35</AlarmTemp>\r\n  <EmailToAddr>ops@example.org</EmailToAddr>\r\n"
      "  <EmailCCAddr>facilities@example.org</EmailCCAddr>\r\n  <SMTPRelay>" +
      kRelayAddress +
      "</SMTPRelay>\r\n  <EmailFromAddr>ups@example.org</EmailFromAddr>\r\n"
      "  <SyslogCollector>10.0.0.30</SyslogCollector>\r\n" +
      (options_.metrics ? "  <MetricsFile>tempwarden.prom</MetricsFile>\r\n" : "") + "</XML>\r\n";
  disk_->WriteFile(directory_ + "/TEMPWARDEN.XML", config, false);
  Plan();
  for (const Planned& p : plan_) result.timeline.push_back(LocalText(p.local_ms) + " " + p.what);

  const auto wall_start = std::chrono::steady_clock::now();
  const ProcessStats at_start = ReadProcessStats();
  cpu_start_ = at_start.cpu_seconds;
  user_start_ = at_start.user_seconds;
  system_start_ = at_start.system_seconds;
  figures_.start_open_handles = at_start.open_handles;
  for (size_t i = 0; i < session_starts_.size() && !ended_; ++i) {
    clock_.AdvanceTo(session_starts_[i]);
    if (ended_) break;
    RunSession();
  }
  if (stalled_.empty()) clock_.AdvanceTo(end_mono_);
  const ProcessStats stats = ReadProcessStats();
  figures_.run_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  figures_.cpu_seconds = stats.cpu_seconds - cpu_start_;
  figures_.user_seconds = stats.user_seconds - user_start_;
  figures_.system_seconds = stats.system_seconds - system_start_;
  figures_.heap_in_use_kb = stats.heap_in_use_kb;
  figures_.anon_memory_kb = stats.anon_memory_kb;
  figures_.file_memory_kb = stats.file_memory_kb;
  figures_.last_tenth_cpu_seconds = stats.cpu_seconds - cpu_at_nine_tenths_;
  figures_.peak_memory_kb = stats.peak_memory_kb;
  figures_.open_handles = stats.open_handles;
  figures_.handle_names = OpenHandleNames();
  figures_.refused_writes = files_->refused_writes();
  if (!stalled_.empty()) {
    // The files of a service that stopped working would only fail every check again.
    result.checks.push_back({"temperature passes keep coming", false, stalled_});
    result.figures = figures_;
    return result;
  }
  Analyse(&result);
  result.figures = figures_;
  return result;
}

}  // namespace soak

bool SoakResult::Passed() const {
  return std::all_of(checks.begin(), checks.end(), [](const CheckResult& c) { return c.passed; });
}

SoakResult RunSoak(const SoakOptions& options,
                   const std::function<void(const std::string&)>& progress) {
  std::string directory = options.directory;
  const bool temporary = directory.empty();
  if (temporary) directory = MakeTempDirectory("tempwarden-soak-");
  std::error_code ignored;
  const std::filesystem::path previous = std::filesystem::current_path(ignored);
  // The service writes into its working directory; the files must never land anywhere else.
  if (directory.empty() || !std::filesystem::is_directory(directory, ignored) ||
      (std::filesystem::current_path(directory, ignored), ignored)) {
    SoakResult failed;
    failed.directory = directory;
    failed.checks.push_back(
        {"a directory for the files", false,
         directory.empty() ? "cannot create one" : directory + " is no directory"});
    return failed;
  }
  SoakResult result = soak::Year(options, directory, progress).Run();
  std::filesystem::current_path(previous, ignored);
  if (temporary) std::filesystem::remove_all(directory, ignored);
  return result;
}

}  // namespace tw