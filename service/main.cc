// Program entry: builds the real environment, creates the one service object and runs the
// service application with the command line.
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/network.h"
#include "platform/regional.h"
#include "platform/registry.h"
#include "platform/service_host.h"
#include "platform/speaker.h"
#include "service/program.h"
#include "service/srvc_main.h"
#include "toolbelt/settings.h"

int main(int argc, char** argv) {
  std::unique_ptr<tw::Clock> clock = tw::NewSystemClock();
  std::unique_ptr<tw::Regional> regional = tw::NewSystemRegional();
  std::unique_ptr<tw::HostFacts> host = tw::NewSystemHostFacts();
  std::unique_ptr<tw::FileSystem> files = tw::NewSystemFileSystem();
  std::unique_ptr<tw::Network> network = tw::NewSystemNetwork();
  std::unique_ptr<tw::Speaker> speaker = tw::NewSystemSpeaker();
  std::unique_ptr<tw::Console> console = tw::NewSystemConsole();
  std::unique_ptr<tw::Registry> registry = tw::NewSystemRegistry();
  std::unique_ptr<tw::ServiceHost> service_host = tw::NewSystemServiceHost();

  // The one process-wide settings record lives in this context for the whole process.
  tw::Context ctx;
  ctx.env.clock = clock.get();
  ctx.env.regional = regional.get();
  ctx.env.host = host.get();
  ctx.env.files = files.get();
  ctx.env.network = network.get();
  ctx.env.speaker = speaker.get();
  ctx.env.console = console.get();
  ctx.env.registry = registry.get();

  tw::TVOZIvazure service(ctx);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return tw::RunProgram(args, *service_host, service.Definition());
}
