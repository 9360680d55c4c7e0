// Test driver for the syslog system test: sends through the real platform as the service
// does, and listens like a second host would.
//
//   tw_syslog_probe send DIR HOST CODE MESSAGE [PORT]
//       PostSyslogMsg with the real network, clock, files and speaker; HOST "" broadcasts.
//       Exception reports go to DIR. Prints the payload that was built, then "reports=N".
//   tw_syslog_probe listen ADDRESS PORT COUNT TIMEOUT_MS READY_FILE
//       Binds ADDRESS:PORT, creates READY_FILE, then prints "SOURCE HEX" for each datagram,
//       stopping after COUNT datagrams or a wait of TIMEOUT_MS without one.
//
// Run only inside a private network namespace.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/network.h"
#include "platform/regional.h"
#include "platform/speaker.h"
#include "platform/system_env.h"
#include "toolbelt/host_info.h"
#include "toolbelt/settings.h"
#include "toolbelt/syslog.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tw_syslog_probe send DIR HOST CODE MESSAGE [PORT]\n"
               "       tw_syslog_probe listen ADDRESS PORT COUNT TIMEOUT_MS READY_FILE\n");
  return 2;
}

int Send(int argc, char** argv) {
  if (argc < 6) return Usage();
  tw::SystemEnv system;
  tw::Context ctx;
  ctx.env = system.env();

  std::string dir = argv[2];
  if (dir.empty() || dir.back() != '/') dir += '/';
  ctx.settings.ExePath = dir;
  ctx.settings.Version = "1.0.0.1";
  ctx.settings.HostName = tw::GetHostName(ctx);
  ctx.settings.SelfName = "VOZIvazure";
  ctx.settings.ExceptionFileMask = "E!RAZIVED-{timestamp}.XML";

  tw::tSyslogRec rec;
  rec.Code = std::atoi(argv[4]);
  rec.Msg = argv[5];
  rec.Source = "tw_syslog_probe";
  rec.Port = argc > 6 ? std::atoi(argv[6]) : 0;
  ctx.settings.SyslogSequence = 0;
  const std::string host_arg = argv[3];
  {
    tw::Context preview = ctx;
    preview.settings.SyslogSequence = 1;
    std::printf("%s\n", tw::SyslogPayload(preview, rec).c_str());
  }
  tw::PostSyslogMsg(ctx, rec, host_arg);

  int reports = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    reports += entry.path().filename().string().rfind("E!", 0) == 0;
  }
  std::printf("reports=%d\n", reports);
  return 0;
}

int Listen(int argc, char** argv) {
  if (argc < 7) return Usage();
  std::unique_ptr<tw::Network> network = tw::NewSystemNetwork();
  tw::NetError error;
  std::unique_ptr<tw::UdpSocket> socket = network->OpenUdp(&error);
  const auto port = static_cast<uint16_t>(std::atoi(argv[3]));
  if (!socket || !socket->Bind(argv[2], port, &error)) {
    std::fprintf(stderr, "bind: %s\n", error.message.c_str());
    return 1;
  }
  std::ofstream(argv[6]) << "ready\n";
  const int count = std::atoi(argv[4]);
  const auto timeout = static_cast<uint32_t>(std::atoi(argv[5]));
  for (int i = 0; i < count; ++i) {
    std::string payload, from;
    uint16_t from_port = 0;
    if (!socket->ReceiveFrom(65536, timeout, &payload, &from, &from_port, &error)) break;
    std::string hex;
    for (unsigned char c : payload) {
      char byte[3];
      std::snprintf(byte, sizeof byte, "%02x", c);
      hex += byte;
    }
    std::printf("%s %s\n", from.c_str(), hex.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "send") return Send(argc, argv);
  if (command == "listen") return Listen(argc, argv);
  return Usage();
}
