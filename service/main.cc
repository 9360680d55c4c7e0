// Program entry: builds the real environment, creates the one service object and runs the
// service application with the command line.
#include <iostream>
#include <string>
#include <vector>

#include "platform/service_host.h"
#include "platform/system_env.h"
#include "service/commands.h"
#include "service/program.h"
#include "service/srvc_main.h"

int main(int argc, char** argv) {
  tw::SystemEnv system;
  std::unique_ptr<tw::ServiceHost> service_host = tw::NewSystemServiceHost();

  // The one process-wide settings record lives in this context for the whole process.
  tw::Context ctx;
  ctx.env = system.env();

  tw::TVOZIvazure service(ctx);
  const std::vector<std::string> args(argv + 1, argv + argc);
  tw::ProgramCommands commands;
  commands.testmail = [&ctx] { return tw::TestMailCommand(ctx, std::cout); };
  commands.query = [&ctx] { return tw::QueryCommand(ctx, std::cout); };
  return tw::RunProgram(args, *service_host, service.Definition(), commands);
}
