// Program entry: builds the real environment, creates the one service object and runs the
// service application with the command line.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "install/install.h"
#include "platform/system_env.h"
#include "service/commands.h"
#include "service/program.h"
#include "service/protect.h"
#include "service/service_host.h"
#include "service/srvc_main.h"
#include "toolbelt/host_info.h"
#include "toolbelt/secrets.h"

int main(int argc, char** argv) {
  tw::SystemEnv system;
  std::unique_ptr<tw::ServiceHost> service_host = tw::NewSystemServiceHost();
  std::unique_ptr<tw::Installer> installer = tw::NewSystemInstaller();

  // The one process-wide settings record lives in this context for the whole process.
  tw::Context ctx;
  ctx.env = system.env();

  // The command line names the settings file, the data directory and the instance; paths
  // become absolute here, before the start makes the data directory the working directory.
  const std::vector<std::string> args(argv + 1, argv + argc);
  const tw::ProgramSwitches switches = tw::ParseSwitches(args);
  const auto absolute = [](const std::string& path) {
    std::error_code ignored;
    return path.empty() ? path : std::filesystem::absolute(path, ignored).string();
  };
  ctx.layout.SettingsFile = absolute(switches.settings_file);
  ctx.layout.DataDir = absolute(switches.data_dir);
  ctx.layout.Instance = switches.instance;

  tw::TVOZIvazure service(ctx);
  tw::ProgramCommands commands;
  commands.testmail = [&ctx] { return tw::TestMailCommand(ctx, std::cout); };
  commands.query = [&ctx] { return tw::QueryCommand(ctx, std::cout); };
  commands.set = [&ctx](const std::vector<std::string>& assignments) {
    return tw::SetCommand(ctx, assignments, std::cerr);
  };
  commands.protect = [&ctx](const std::string& key, bool remove, const std::string& secret_env) {
    std::string value;
    if (!remove && tw::FindSecretKey(key) != nullptr) {
      if (!secret_env.empty()) {
        const char* v = std::getenv(secret_env.c_str());
        if (v != nullptr) value = v;
      } else {
        ctx.env.console->ReadHiddenLine(key + ": ", &value);
      }
    }
    tw::SetPathToEXEPath(ctx);
    return tw::ProtectCommand(ctx, key, remove, value, std::cout);
  };
  commands.why_not_run = [&ctx] { return ctx.env.files->WhyNotWriteIn(tw::DataDirectory(ctx)); };
  commands.version = [&ctx] { return tw::FileVersion2(ctx, ""); };
  commands.print = [](const std::string& text, bool is_error) {
    (is_error ? std::cerr : std::cout) << text << std::flush;
  };
  return tw::RunProgram(args, *service_host, *installer, service.Definition(), commands);
}
