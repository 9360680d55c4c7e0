// What one answer costs the simulated UPS: decoding the service's request, taking a value
// from the curve, encoding the GetResponse.
#include <benchmark/benchmark.h>

#include "platform/fake_env.h"
#include "sim/agent.h"
#include "snmp/ber.h"
#include "snmp/snmp.h"

namespace tw {
namespace {

void BM_AgentAnswersTemperature(benchmark::State& state) {
  FakeClock clock;
  SimulatedUps ups(UpsSimOptions(), clock);
  std::string request;
  EncodeGetRequest("public", kOidUpsTemperature, &request);
  for (auto _ : state) {
    clock.Advance(1000);
    AgentAnswer answer = AnswerRequest(request, "public", ups);
    benchmark::DoNotOptimize(answer);
  }
}
BENCHMARK(BM_AgentAnswersTemperature);

void BM_AgentDropsWrongCommunity(benchmark::State& state) {
  FakeClock clock;
  SimulatedUps ups(UpsSimOptions(), clock);
  std::string request;
  EncodeGetRequest("private", kOidUpsTemperature, &request);
  for (auto _ : state) {
    AgentAnswer answer = AnswerRequest(request, "public", ups);
    benchmark::DoNotOptimize(answer);
  }
}
BENCHMARK(BM_AgentDropsWrongCommunity);

}  // namespace
}  // namespace tw
