#include "soak/year.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "mail/fake_smtp_peer.h"
#include "platform/fake_env.h"
#include "platform/fake_network.h"
#include "platform/fake_speaker.h"
#include "service/srvc_main.h"
#include "sim/agent.h"
#include "sim/ups_model.h"
#include "snmp/ber.h"
#include "snmp/snmp.h"
#include "soak/locking_files.h"
#include "soak/process_stats.h"
#include "soak/soak_clock.h"

namespace tw {
namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kWindow = 5 * kMinute;  // one five-minute point
constexpr int kPurgeDays = 366;           // the activity log's window at start-up
constexpr char kUpsAddress[] = "10.0.0.9";
constexpr char kRelayAddress[] = "10.0.0.25";
constexpr double kAlarmTemp = 35;
// The first pass runs a moment after the start phase; a start that waits for the mains
// (the voltage file held "0") begins sampling ten minutes later.
constexpr int64_t kStartMargin = 5 * kSecond;
constexpr int64_t kMainsWaitMargin = 10 * kMinute + kStartMargin;
// After the agent answers again, passes that fell behind during its silence catch up.
constexpr int64_t kSilenceMargin = 30 * kSecond;
// Longest wait between two voltage queries a running service may leave: two intervals and
// the five-second wait of a query without answer.
constexpr int64_t kLongestVoltageGap = 2 * 30 * kSecond + 5 * kSecond;
// How much the peak memory may still grow after the first tenth of the run.
constexpr uint64_t kMemoryGrowthKb = 2048;
// While passes are held up, every third temperature pass stands still this long after it has
// sent its phone-home report (a name that resolves slowly, a busy machine), before it samples.
constexpr int64_t kPassStall = 4 * kMinute;

std::string LocalText(int64_t local_ms) {
  const CalendarTime t = MsToCalendar(local_ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::string DateStamp(int64_t local_ms) {
  const CalendarTime t = MsToCalendar(local_ms);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
  return buf;
}

// The service's side of the framework: a stop request is handled at the cycle's next call.
class SoakControl : public ServiceControl {
 public:
  bool Terminated() const override { return terminated_; }
  void ProcessRequests() override {
    if (stop_requested_) terminated_ = true;
    if (on_pass) on_pass();
  }
  void RequestStop() { stop_requested_ = true; }
  bool stop_requested() const { return stop_requested_; }
  void Reset() { stop_requested_ = terminated_ = false; }
  std::function<void()> on_pass;

 private:
  bool stop_requested_ = false;
  bool terminated_ = false;
};

enum class Fault {
  kStop,
  kStart,
  kSilent,
  kAnswering,
  kNetworkDown,
  kNetworkUp,
  kLock,
  kUnlock,
  kRelayDown,
  kRelayUp,
  kHeat,
  kCool,
  kStep,
  kSlowPasses,
  kQuickPasses,
  kEnd
};

struct Planned {
  int64_t local_ms;  // on the wall clock as it reads then
  Fault fault;
  int64_t step_ms = 0;
  std::string what;
};

class Year {
 public:
  Year(const SoakOptions& options, std::string directory,
       const std::function<void(const std::string&)>& progress);
  SoakResult Run();

 private:
  void Plan();
  void Apply(const Planned& p);
  void RunSession();
  void Reconsider(int64_t margin = 0);
  void OnLocalJump(int64_t before, int64_t after);
  bool Answer(const FakeNetwork::Datagram& request, FakeNetwork::Answer* answer);
  void HoldUpPass(const FakeNetwork::Datagram& sent);
  void Harvest();
  void Analyse(SoakResult* result);
  void CheckMails(SoakResult* result);
  void Snapshot();
  CheckResult CheckSnapshots();

  SoakOptions options_;
  std::string directory_;
  std::function<void(const std::string&)> progress_;

  int64_t start_local_ = 0;
  int64_t start_utc_ = 0;
  SoakClock clock_;
  FixedRegional regional_{FormatSettings::English()};
  FakeHostFacts host_;
  std::unique_ptr<FileSystem> disk_;
  std::unique_ptr<LockingFileSystem> files_;
  FakeNetwork network_;
  FakeSpeaker speaker_;
  FakeSmtpPeer relay_{&network_};
  std::function<std::unique_ptr<TcpConnection>(const std::string&, uint16_t)> relay_plug_;
  std::unique_ptr<SimulatedUps> ups_;
  std::unique_ptr<SimulatedUps> hot_ups_;
  SoakControl control_;

  std::vector<Planned> plan_;
  std::vector<uint64_t> session_starts_;  // elapsed ms
  uint64_t end_mono_ = 0;
  bool ended_ = false;
  bool in_session_ = false;
  bool silent_ = false;
  bool network_down_ = false;
  bool heat_ = false;
  bool slow_passes_ = false;
  int64_t slow_from_ = -1, slow_until_ = -1;  // local ms
  uint64_t phone_home_reports_ = 0, held_up_passes_ = 0;
  int64_t heat_on_ = -1, heat_off_ = -1, relay_up_ = -1;  // local ms

  // Stretches of local time in which the service ran with an answering agent.
  std::vector<std::pair<int64_t, int64_t>> segments_;
  int64_t open_since_ = -1;

  struct Mail {
    std::string subject;
    int64_t local_ms;
  };
  std::vector<Mail> mails_;
  std::vector<int64_t> session_starts_local_;
  std::vector<std::string> self_ended_;
  uint64_t last_voltage_query_ = 0;
  bool voltage_queried_ = false;
  int64_t longest_voltage_gap_ = 0;
  int64_t longest_gap_at_ = 0;
  std::vector<std::string> long_gaps_;
  // History files as they were at each stop and clock step: rows are only ever added.
  struct Kept {
    std::string name;
    std::string text;
    int64_t local_ms;
  };
  std::vector<Kept> snapshots_;
  SoakFigures figures_;
  double cpu_start_ = 0;
  double cpu_at_nine_tenths_ = 0;
};

Year::Year(const SoakOptions& options, std::string directory,
           const std::function<void(const std::string&)>& progress)
    : options_(options),
      directory_(std::move(directory)),
      progress_(progress),
      start_local_(CalendarToMs(options.start)),
      start_utc_(BerlinUtcMs(start_local_)),
      clock_(start_utc_),
      disk_(NewSystemFileSystem()) {
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
  tSNMPMessage message;
  const bool decoded = DecodeSnmpMessage(request.payload, &message) && !message.Bindings.empty();
  const bool temperature = decoded && message.Bindings[0].OID == kOidUpsTemperature;
  if (decoded && !temperature) {
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

  TVOZIvazure service(ctx);
  bool started = true;
  service.ServiceStart(started);
  service.ServiceExecute(control_);
  Harvest();
  if (!control_.stop_requested()) {
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
      "  <TempSleep>300</TempSleep>\r\n  <VoltageSleep>30</VoltageSleep>\r\n"
      "  <AlarmTemp>35</AlarmTemp>\r\n  <EmailToAddr>ops@example.org</EmailToAddr>\r\n"
      "  <EmailCCAddr>facilities@example.org</EmailCCAddr>\r\n  <SMTPRelay>" +
      kRelayAddress +
      "</SMTPRelay>\r\n  <EmailFromAddr>ups@example.org</EmailFromAddr>\r\n"
      "  <SyslogCollector>10.0.0.30</SyslogCollector>\r\n</XML>\r\n";
  disk_->WriteFile(directory_ + "/TEMPWARDEN.XML", config, false);
  Plan();
  for (const Planned& p : plan_) result.timeline.push_back(LocalText(p.local_ms) + " " + p.what);

  const auto wall_start = std::chrono::steady_clock::now();
  cpu_start_ = ReadProcessStats().cpu_seconds;
  for (size_t i = 0; i < session_starts_.size() && !ended_; ++i) {
    clock_.AdvanceTo(session_starts_[i]);
    if (ended_) break;
    RunSession();
  }
  clock_.AdvanceTo(end_mono_);
  const ProcessStats stats = ReadProcessStats();
  figures_.run_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  figures_.cpu_seconds = stats.cpu_seconds - cpu_start_;
  figures_.last_tenth_cpu_seconds = stats.cpu_seconds - cpu_at_nine_tenths_;
  figures_.peak_memory_kb = stats.peak_memory_kb;
  figures_.open_handles = stats.open_handles;
  figures_.refused_writes = files_->refused_writes();
  Analyse(&result);
  result.figures = figures_;
  return result;
}

void Year::Analyse(SoakResult* r) {
  CheckResult memory{"peak memory and open handles flat", true, ""};
  memory.detail = "peak " + std::to_string(figures_.early_peak_memory_kb) + " kB after a tenth, " +
                  std::to_string(figures_.peak_memory_kb) + " kB at the end; handles " +
                  std::to_string(figures_.early_open_handles) + " then " +
                  std::to_string(figures_.open_handles);
  if (figures_.peak_memory_kb > figures_.early_peak_memory_kb + kMemoryGrowthKb ||
      figures_.open_handles != figures_.early_open_handles) {
    memory.passed = false;
  }

  std::set<int64_t> takeable;
  for (const auto& s : segments_) {
    for (int64_t w = (s.first + kWindow - 1) / kWindow; (w + 1) * kWindow <= s.second; ++w) {
      takeable.insert(w);
    }
  }
  const DailyFiles daily = ReadDailyFiles(*disk_);
  for (const auto& d : daily) figures_.daily_rows += d.second.points.size();
  const int64_t last_day = clock_.LocalMs() / kMsPerDay;

  r->checks.push_back(CheckDayFiles(*disk_, daily));
  r->checks.push_back(CheckNoLostSamples(daily, takeable));
  if (slow_from_ >= 0 && slow_until_ > slow_from_) {
    std::set<int64_t> while_slow;
    for (int64_t w : takeable) {
      if (w * kWindow >= slow_from_ && (w + 1) * kWindow <= slow_until_) while_slow.insert(w);
    }
    CheckResult late = CheckNoLostSamples(daily, while_slow);
    late.name = "every point sampled while passes run 4 minutes late";
    late.detail = std::to_string(held_up_passes_) + " passes held up; " + late.detail;
    if (held_up_passes_ == 0 || while_slow.empty()) late.passed = false;
    r->checks.push_back(late);
  }
  r->checks.push_back(CheckNoZeroReadings(daily));
  r->checks.push_back(CheckAnnualRows(*disk_, daily));
  r->checks.push_back(CheckSnapshots());
  figures_.annual_rows = 0;
  for (const std::string& name : disk_->FindFiles("APCUPSTempLog_????.csv")) {
    std::string text, error;
    disk_->ReadFile(name, &text, &error);
    const int64_t lines = std::count(text.begin(), text.end(), '\n');
    figures_.annual_rows += lines > 0 ? lines - 1 : 0;
  }
  r->checks.push_back(CheckActivityLogs(*disk_, daily, last_day, kPurgeDays));
  r->checks.push_back(CheckExceptionReports(*disk_, last_day, kPurgeDays, session_starts_local_));

  CheckResult passes{"passes keep running through every clock change", true, ""};
  passes.detail = "longest wait between voltage queries " +
                  std::to_string(longest_voltage_gap_ / 1000) + " s" +
                  (longest_voltage_gap_ > 0 ? " (at " + LocalText(longest_gap_at_) + ")" : "");
  passes.passed = long_gaps_.empty();
  for (const std::string& gap : long_gaps_) passes.detail += "; " + gap;
  r->checks.push_back(passes);

  CheckResult stops{"the service ran until each stop request", self_ended_.empty(), ""};
  stops.detail = std::to_string(figures_.sessions) + " runs";
  for (const std::string& when : self_ended_) stops.detail += "; ended by itself at " + when;
  r->checks.push_back(stops);
  CheckMails(r);
  r->checks.push_back(memory);
}

void Year::Snapshot() {
  const int64_t now = clock_.LocalMs();
  const std::string stamp = DateStamp(now);
  for (const std::string& part : {stamp, DateStamp(now - kMsPerDay), stamp.substr(0, 4)}) {
    const std::string name = "APCUPSTempLog_" + part + ".csv";
    std::string text, error;
    if (disk_->ReadFile(directory_ + "/" + name, &text, &error)) {
      snapshots_.push_back({name, text, now});
    }
  }
}

CheckResult Year::CheckSnapshots() {
  CheckResult r{"history rows are never taken back", true, ""};
  std::vector<std::string> lost;
  for (const Kept& k : snapshots_) {
    std::string text, error;
    disk_->ReadFile(directory_ + "/" + k.name, &text, &error);
    if (text.compare(0, k.text.size(), k.text) != 0) {
      lost.push_back(k.name + " as of " + LocalText(k.local_ms));
    }
  }
  r.detail = std::to_string(snapshots_.size()) +
             " daily and annual files seen at stops and clock steps, all still there as seen";
  if (!lost.empty()) {
    r.passed = false;
    r.detail = std::to_string(lost.size()) + " files lost rows they held earlier:";
    for (const std::string& l : lost) r.detail += " " + l + ";";
    r.detail.pop_back();
  }
  return r;
}

void Year::CheckMails(SoakResult* r) {
  std::map<std::string, int> by_subject;
  for (const Mail& m : mails_) ++by_subject[m.subject];
  figures_.mails = mails_.size();
  for (const auto& s : by_subject) {
    figures_.mail_subjects.push_back(s.first + " x" + std::to_string(s.second));
  }
  if (heat_on_ < 0) return;  // a run too short for the alarm episode
  CheckResult alarm{"the alarm reaches people once the relay is back, and clears", true, ""};
  std::vector<int64_t> alarms, cleared;
  for (const Mail& m : mails_) {
    if (m.subject == "APC UPS: High Temp Alarm!") alarms.push_back(m.local_ms);
    if (m.subject == "APC UPS: High Temp condition cleared") cleared.push_back(m.local_ms);
  }
  std::string problems;
  if (alarms.size() != 1) {
    problems += "; " + std::to_string(alarms.size()) + " alarm mails delivered, 1 expected";
  } else if (relay_up_ >= 0 && (alarms[0] < relay_up_ || alarms[0] > relay_up_ + 10 * kMinute)) {
    problems += "; the alarm mail went out at " + LocalText(alarms[0]) +
                ", not within ten minutes after the relay came back at " + LocalText(relay_up_);
  }
  if (cleared.size() != 1) {
    problems += "; " + std::to_string(cleared.size()) + " cleared mails delivered, 1 expected";
  } else if (heat_off_ >= 0 && (cleared[0] < heat_off_ || cleared[0] > heat_off_ + 2 * kHour)) {
    problems += "; the cleared mail went out at " + LocalText(cleared[0]) +
                ", not within two hours after the heat ended at " + LocalText(heat_off_);
  }
  if (problems.empty()) {
    alarm.detail =
        "alarm delivered at " + LocalText(alarms[0]) + ", cleared at " + LocalText(cleared[0]);
  } else {
    alarm.passed = false;
    alarm.detail = problems.substr(2);
  }
  r->checks.push_back(alarm);
}

}  // namespace

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
  SoakResult result = Year(options, directory, progress).Run();
  std::filesystem::current_path(previous, ignored);
  if (temporary) std::filesystem::remove_all(directory, ignored);
  return result;
}

}  // namespace tw
