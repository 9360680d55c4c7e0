// The monitoring cycle under a fake clock, against a scripted UPS card on the fake network.
#ifndef TEMPWARDEN_SERVICE_CYCLE_FIXTURE_H_
#define TEMPWARDEN_SERVICE_CYCLE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/cycle.h"
#include "snmp/ber.h"
#include "tests/snmp_messages.h"
#include "toolbelt/fake_context.h"

namespace tw {

// Stops the cycle once the clock reaches a given time; runs a hook at every loop pass.
class ScriptedControl : public ServiceControl {
 public:
  explicit ScriptedControl(FakeClock* clock) : clock_(clock) {}
  bool Terminated() const override { return terminated_; }
  void ProcessRequests() override {
    ++calls;
    if (on_pass) on_pass();
    if (clock_->Now() >= stop_at) terminated_ = true;
  }
  TDateTime stop_at = 1e9;
  std::function<void()> on_pass;
  int calls = 0;
  bool terminated_ = false;

 private:
  FakeClock* clock_;
};

class CycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.regional.mutable_settings().short_date_format = "dd/mm/yyyy";
    env_.regional.mutable_settings().long_time_format = "hh:nn:ss";
    start_ = env_.clock.Now();  // 15 March 2023, 12:00:00
    control_.stop_at = start_ + 3600 / 86400.0;
    // The card: answers every GET with the current text of the object asked for.
    env_.network.responder = [this](const FakeNetwork::Datagram& request,
                                    FakeNetwork::Answer* answer) {
      tSNMPMessage m;
      if (!DecodeSnmpMessage(request.payload, &m) || m.Bindings.empty()) return false;
      const bool temp = m.Bindings[0].OID == kOidUpsTemperature;
      // The client sends a query again when no answer comes within a second or so: the same
      // bytes within the five seconds of one query are that query, not a new one.
      const double at = Seconds();
      const bool resent = !queries.empty() && request.payload == last_request_ &&
                          std::fabs(at - queries.back().at) < 5;
      last_request_ = request.payload;
      if (!resent) queries.push_back({temp, at});
      if (!agent_up || silent_.count(static_cast<int>(queries.size()) - 1) > 0) return false;
      const std::string oid = temp ? snmp_test::TemperatureOid() : snmp_test::VoltageOid();
      if (temp && temperatures.size() > 1) {
        temperature = temperatures.front();
        temperatures.pop_front();
      } else if (temp && temperatures.size() == 1) {
        temperature = temperatures.front();
      }
      const std::string text = temp ? temperature : voltage;
      // Answered as the request asked: the client drops an answer of another version or
      // request-id.
      answer->payload = snmp_test::Message(
          "public", snmp_test::Binding(oid, snmp_test::Tlv(0x04, text)), m.RequestID);
      if (m.Version != 0) answer->payload[4] = static_cast<char>(m.Version);
      answer->from_ipv4 = request.to_ipv4;
      answer->from_port = 161;
      return true;
    };
  }

  void Config(std::map<std::string, std::string> values) {
    values.emplace("UPSHost", "10.0.0.9");
    values.emplace("SNMPCommunity", "public");
    values.emplace("SysLogTrap", "7");
    std::string xml = "<XML>\r\n";
    for (const auto& kv : values)
      xml += "<" + kv.first + ">" + kv.second + "</" + kv.first + ">\r\n";
    env_.files.Put("/opt/tempwarden/TEMPWARDEN.XML", xml + "</XML>\r\n");
  }

  double Seconds() { return (env_.clock.Now() - start_) * 86400.0; }

  void Run() {
    MonitoringCycle cycle(env_.ctx, control_);
    cycle.Run();
    retry_ = cycle.startup_retry();
    trace_ = cycle.trace();
  }

  // Start times (seconds after start) of the temperature passes.
  std::vector<long> PassTimes() const {
    std::vector<long> out;
    for (const auto& w : env_.files.writes) {
      if (w.path == "/opt/tempwarden/D!Tempwarden.TXT" && !w.append) out.push_back(pass_second(w));
    }
    return out;
  }
  long pass_second(const MemFileSystem::Write& w) const {
    // The line starts with the date-time text "15/03/2023 hh:nn:ss".
    const int h = std::stoi(w.data.substr(11, 2)), m = std::stoi(w.data.substr(14, 2)),
              s = std::stoi(w.data.substr(17, 2));
    return (h - 12) * 3600 + m * 60 + s;
  }
  int Count(bool temperature) const {
    int n = 0;
    for (const auto& q : queries) n += q.temperature == temperature;
    return n;
  }
  std::string LogFile() const { return env_.files.Get("/opt/tempwarden/APC-20230315.CSV"); }

  struct Query {
    bool temperature;
    double at;
  };
  FakeEnv env_;
  ScriptedControl control_{&env_.clock};
  TDateTime start_ = 0;
  std::vector<Query> queries;
  std::string temperature = "25";
  std::deque<std::string> temperatures;  // one per temperature query; the last one stays
  std::string voltage = "230";
  bool agent_up = true;
  std::set<int> silent_;      // indexes of the queries the card drops (0: the run's first)
  std::string last_request_;  // the latest query's bytes, to tell a resend
  int32_t retry_ = -1;
  int32_t trace_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_CYCLE_FIXTURE_H_
