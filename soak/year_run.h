// The driver of the simulated year, shared by its two halves: year.cc runs the scenario and
// records what happens, year_checks.cc reads the record and the files afterwards. Internal to
// soak/; the program and the tests use year.h.
#ifndef TEMPWARDEN_SOAK_YEAR_RUN_H_
#define TEMPWARDEN_SOAK_YEAR_RUN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mail/fake_smtp_peer.h"
#include "platform/fake_env.h"
#include "platform/fake_network.h"
#include "platform/fake_speaker.h"
#include "service/srvc_main.h"
#include "sim/ups_model.h"
#include "soak/locking_files.h"
#include "soak/soak_clock.h"
#include "soak/year.h"

namespace tw {
namespace soak {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kWindow = 5 * kMinute;  // one five-minute point
constexpr int kPurgeDays = 366;           // the activity log's window at start-up
constexpr char kUpsAddress[] = "10.0.0.9";
constexpr char kRelayAddress[] = "10.0.0.25";
constexpr double kAlarmTemp = 35;
constexpr int64_t kTempSleep = 300 * kSecond;
// Every run starts an hour before the 32-bit tick count wraps, so every run crosses the wrap
// (GetTickCount's after 49.7 days of uptime) and its week of fault injection sees it.
constexpr uint64_t kUptimeAtStart = (uint64_t{1} << 32) - kHour;
// A service that went this long without a temperature pass has stopped working: the run ends
// there instead of simulating the rest of the year for nothing.
constexpr int64_t kStallLimit = 3 * kTempSleep;
// The first pass runs a moment after the start phase; a start that waits for the mains
// (the voltage file held "0") begins sampling ten minutes later.
constexpr int64_t kStartMargin = 5 * kSecond;
constexpr int64_t kMainsWaitMargin = 10 * kMinute + kStartMargin;
// After the agent answers again, passes that fell behind during its silence catch up.
constexpr int64_t kSilenceMargin = 30 * kSecond;
// Longest wait between two voltage queries a running service may leave: two intervals and
// the five-second wait of a query without answer.
constexpr int64_t kLongestVoltageGap = 2 * 30 * kSecond + 5 * kSecond;
// While passes are held up, every third temperature pass stands still this long after it has
// sent its phone-home report (a name that resolves slowly, a busy machine), before it samples.
constexpr int64_t kPassStall = 4 * kMinute;

// "2028-01-01 00:00:30" and "20280101" of a local time.
std::string LocalText(int64_t local_ms);
std::string DateStamp(int64_t local_ms);

// an urgent one also ends the wait the cycle is in.
class SoakControl : public ServiceControl {
 public:
  bool Terminated() const override { return terminated_; }
  void ProcessRequests() override {
    if (stop_requested_) terminated_ = true;
    if (on_pass) on_pass();
  }
  WakeEvent* RequestEvent() override { return &wake_; }
  void RequestStop(bool urgent = false) {
    stop_requested_ = true;
    if (urgent) wake_.Raise();
  }
  bool stop_requested() const { return stop_requested_; }
  void Reset() {
    stop_requested_ = terminated_ = false;
    wake_.Lower();
  }
  std::function<void()> on_pass;

 private:
  bool stop_requested_ = false;
  bool terminated_ = false;
  FakeWakeEvent wake_;
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
  void OnWrite(const std::string& path, bool append);
  void WatchPasses(uint64_t at, uint64_t session);
  void Stalled();
  std::string LastLogEntry();
  void Analyse(SoakResult* result);
  void CheckMails(SoakResult* result);
  void Snapshot();
  int64_t KeptKb() const;  // the copies of files the run keeps, in kB
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
  const std::string temperature_oid_;  // encoded, as found in a request
  const std::string voltage_oid_;
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
  // Temperature passes, each begun by replacing the debug trace (elapsed ms, local ms).
  uint64_t last_pass_ = 0;
  int64_t last_pass_local_ = -1;
  uint64_t longest_pass_gap_ = 0;
  int64_t longest_pass_gap_at_ = 0;
  bool executing_ = false;  // inside the service's execute handler
  std::string stalled_;     // why the run was cut short
  // History files as they were at each stop and clock step: rows are only ever added.
  struct Kept {
    std::string name;
    std::string text;
    int64_t local_ms;
  };
  std::vector<Kept> snapshots_;
  SoakFigures figures_;
  int64_t early_kept_kb_ = 0;
  double cpu_start_ = 0;
  double user_start_ = 0;
  double system_start_ = 0;
  double cpu_at_nine_tenths_ = 0;
};

}  // namespace soak
}  // namespace tw

#endif  // TEMPWARDEN_SOAK_YEAR_RUN_H_
