#include "toolbelt/fake_context.h"

namespace tw {

FakeEnv::FakeEnv() {
  ctx.env.clock = &clock;
  ctx.env.regional = &regional;
  ctx.env.host = &host;
  ctx.env.files = &files;
  ctx.env.network = &network;
  ctx.env.speaker = &speaker;
  ctx.env.crypto = crypto.get();
  ctx.env.system_log = &system_log;
  files.AddDirectory("/opt");
  files.AddDirectory("/opt/tempwarden");
  ctx.settings.SelfName = "VOZIvazure";
  ctx.settings.Company = "Brindle";
  ctx.settings.Version = "1.0.0.1";
  ctx.settings.HostName = "SRV1";
  ctx.settings.ExceptionFileMask = "E!RAZIVED-{timestamp}.XML";
  ctx.settings.ExePath = "/opt/tempwarden/";
  files.SetWorkingDirectory("/opt/tempwarden");
  ctx.settings.Log.Tag = "RAZ-IVED";
  ctx.settings.Log.FilePrefix = "APC";
  ctx.settings.Log.DebugLevel = 7;
  ctx.settings.Log.PurgeDays = 366;
  ctx.settings.Log.LastDay = static_cast<int64_t>(clock.Now());
}

}  // namespace tw
