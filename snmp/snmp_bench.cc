// What one query costs the service apart from the network: building the request and decoding
// the card's answer.
#include <benchmark/benchmark.h>

#include "snmp/ber.h"
#include "snmp/snmp.h"
#include "tests/snmp_messages.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

void BM_SnmpEncodeAndDecode(benchmark::State& state) {
  const std::string answer = snmp_test::GaugeAnswer("public", 27);
  std::string request;
  tSNMPMessage message;
  for (auto _ : state) {
    EncodeGetRequest("public", kOidUpsTemperature, &request);
    DecodeSnmpMessage(answer, &message);
    tSNMPResult result = AnswerResult(message, kOidUpsTemperature);
    benchmark::DoNotOptimize(request);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_SnmpEncodeAndDecode);

// The whole query on the scripted network: name, socket, send, receive, decode.
void BM_SnmpQueryOnScriptedNetwork(benchmark::State& state) {
  FakeEnv env;
  const std::string answer = snmp_test::GaugeAnswer("public", 27);
  const tSNMPRec rec{kOidUpsTemperature, "public", "10.0.0.9"};
  for (auto _ : state) {
    env.network.sent.clear();
    env.network.receive_timeouts.clear();
    env.network.answers.push_back({answer, "10.0.0.9", kSnmpPort, 0});
    benchmark::DoNotOptimize(SNMPSend(env.ctx, rec));
  }
}
BENCHMARK(BM_SnmpQueryOnScriptedNetwork);

}  // namespace
}  // namespace tw
