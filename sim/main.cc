// tempwarden-upsim: a simulated UPS network card, for trying the service without a UPS.
// See SimUsage() (sim/options.cc) for the switches.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "sim/agent.h"
#include "sim/options.h"
#include "sim/ups_model.h"

namespace {

// The one thing a signal handler may touch; read by the serving loop between datagrams.
volatile std::sig_atomic_t stop_requested = 0;

extern "C" void OnStopSignal(int) { stop_requested = 1; }

// How often the loop looks at the stop request and the duration.
constexpr uint32_t kPollMs = 200;

std::string TimeText(tw::Clock& clock) {
  tw::CalendarTime t;
  if (!tw::DecodeDateTime(clock.Now(), &t)) return "??:??:??";
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  tw::SimCommandLine options;
  std::string error;
  if (!tw::ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::fprintf(stderr, "tempwarden-upsim: %s\n(--help lists the switches)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(tw::SimUsage().c_str(), stdout);
    return 0;
  }

  std::unique_ptr<tw::Clock> clock = tw::NewSystemClock();
  std::unique_ptr<tw::Network> network = tw::NewSystemNetwork();
  const std::string where = options.address + ":" + std::to_string(options.port);
  tw::NetError net_error;
  std::unique_ptr<tw::UdpSocket> socket = network->OpenUdp(&net_error);
  if (!socket || !socket->Bind(options.address, options.port, &net_error)) {
    std::fprintf(stderr, "tempwarden-upsim: cannot listen on %s: %s\n", where.c_str(),
                 net_error.message.c_str());
    return 1;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  tw::SimulatedUps ups(options.ups, *clock);
  std::printf("tempwarden-upsim: listening on %s, community \"%s\"\n", where.c_str(),
              options.community.c_str());
  std::fflush(stdout);

  const uint64_t duration_ms = uint64_t{options.duration_s} * 1000;
  uint32_t last_tick = clock->TickCount();
  uint64_t running_ms = 0;  // summed step by step: the tick count wraps after 49.7 days
  auto keep_going = [&] {
    if (stop_requested != 0) return false;
    const uint32_t tick = clock->TickCount();
    running_ms += static_cast<uint32_t>(tick - last_tick);
    last_tick = tick;
    return duration_ms == 0 || running_ms < duration_ms;
  };
  auto log = [&](const std::string& line) {
    if (options.quiet) return;
    std::printf("%s %s\n", TimeText(*clock).c_str(), line.c_str());
    std::fflush(stdout);
  };
  tw::AgentCounts counts;
  const bool ok = tw::ServeAgent(*socket, options.community, ups, kPollMs, keep_going, log, &counts,
                                 &net_error);
  if (!ok) std::fprintf(stderr, "tempwarden-upsim: %s\n", net_error.message.c_str());
  std::printf("tempwarden-upsim: stopped; %llu answered, %llu noSuchName, %llu dropped\n",
              static_cast<unsigned long long>(counts.answered),
              static_cast<unsigned long long>(counts.no_such_name),
              static_cast<unsigned long long>(counts.dropped));
  return ok ? 0 : 1;
}
