// Syslog burst: datagrams per second through PostSyslogMsg, unicast on loopback with the real
// sockets. Each call resolves the host, opens, sends on and closes a socket of its own, as the
// service does for every announcement.
//
// Sends datagrams, so it runs only inside a private network namespace:
//   unshare -n sh -c 'ip link set lo up; build/tw_bench --benchmark_filter=Syslog'
#include <benchmark/benchmark.h>

#include "platform/network.h"
#include "tests/isolation.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/syslog.h"

namespace tw {
namespace {

constexpr uint16_t kBenchPort = 40515;

void BM_SyslogBurstUnicastLoopback(benchmark::State& state) {
  if (!InPrivateNetwork()) {
    state.SkipWithError("needs a private network namespace (unshare -n)");
    return;
  }
  FakeEnv env;  // settings, clock and files; the network is the real one
  std::unique_ptr<Network> net = NewSystemNetwork();
  env.ctx.env.network = net.get();
  // A bound receiver keeps the kernel from answering every datagram with a port-unreachable
  // message; what overflows its buffer is dropped, as a busy collector would.
  NetError error;
  std::unique_ptr<UdpSocket> receiver = net->OpenUdp(&error);
  if (!receiver || !receiver->Bind("127.0.0.1", kBenchPort, &error)) {
    state.SkipWithError(("cannot bind the receiver: " + error.message).c_str());
    return;
  }
  tSyslogRec rec;
  rec.Code = 72000;
  rec.Msg = "[Function=apc.PhoneHome][UPS=192.0.2.10][Temp=24.5][Voltage=230][State=OnLine]";
  rec.Port = kBenchPort;
  const std::string host = state.range(0) == 0 ? "127.0.0.1" : "localhost";
  for (auto _ : state) {
    PostSyslogMsg(env.ctx, rec, host);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(host);
  if (!env.files.writes.empty()) state.SkipWithError("a send failed and left a report");
}
BENCHMARK(BM_SyslogBurstUnicastLoopback)->Arg(0)->Arg(1);

void BM_SyslogPayload(benchmark::State& state) {
  FakeEnv env;
  tSyslogRec rec;
  rec.Code = 71001;
  rec.Msg = "[Function=TVOZIvazure.ServiceStart]";
  for (auto _ : state) {
    benchmark::DoNotOptimize(SyslogPayload(env.ctx, rec));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyslogPayload);

}  // namespace
}  // namespace tw
