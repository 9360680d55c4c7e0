// What a version 3 authPriv query costs apart from the network, beside the version 1 figures
// of snmp_bench.cc: the session builds the request (encode, encrypt, sign), and judges the
// answer (verify the digest, decrypt, decode). The scripted agent's own work (the same steps
// the other way round) is in the query figure too; BM_SnmpV3AgentAnswer measures it alone,
// so the service's share is the difference.
#include <benchmark/benchmark.h>

#include "snmp/session.h"
#include "snmp/snmp.h"
#include "tests/v3_agent.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

const std::string kEngine("\x80\x00\x1f\x88\x80\x01\x02\x03\x04", 9);

struct AuthPrivRig {
  AuthPrivRig() : agent(*env.crypto, kEngine) {
    agent.AddUser("shapriv", tAuthProtocol::kSha1, "sha password", "aes password");
    session.Configure(env.ctx, {"3", "shapriv", "SHA", "sha password", "AES", "aes password", ""});
    env.network.responder = [this](const FakeNetwork::Datagram& request,
                                   FakeNetwork::Answer* answer) {
      if (env.network.sent.size() == answered) return false;
      answered = env.network.sent.size();
      *answer = {agent.Answer(request.payload)[0], "10.0.0.9", kSnmpPort, 0};
      return true;
    };
    Query();  // discovery and time synchronisation, once
  }
  std::string Query() {
    env.network.sent.clear();
    env.network.receive_timeouts.clear();
    answered = 0;
    return SNMPSend(env.ctx, {kOidUpsTemperature, "", "10.0.0.9", &session});
  }
  FakeEnv env;
  snmp_test::V3Agent agent;
  SnmpSession session;
  size_t answered = 0;
};

void BM_SnmpV3AuthPrivQuery(benchmark::State& state) {
  AuthPrivRig rig;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.Query());
  }
  if (rig.Query() != "27") state.SkipWithError("the query did not read the value");
}
BENCHMARK(BM_SnmpV3AuthPrivQuery);

void BM_SnmpV3AgentAnswer(benchmark::State& state) {
  AuthPrivRig rig;
  rig.Query();
  const std::string request = rig.env.network.sent.back().payload;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.agent.Answer(request));
  }
}
BENCHMARK(BM_SnmpV3AgentAnswer);

}  // namespace
}  // namespace tw
