// The real platform: every seam's system implementation, owned together, for `main` and the
// small tools. The Env it hands out points into this object.
#ifndef TEMPWARDEN_PLATFORM_SYSTEM_ENV_H_
#define TEMPWARDEN_PLATFORM_SYSTEM_ENV_H_

#include <memory>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/crypto.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/heartbeat.h"
#include "platform/host_facts.h"
#include "platform/network.h"
#include "platform/regional.h"
#include "platform/registry.h"
#include "platform/secret_store.h"
#include "platform/speaker.h"
#include "platform/system_log.h"
#include "platform/tls.h"
#include "platform/wake_event.h"

namespace tw {

class SystemEnv {
 public:
  SystemEnv()
      : requests_(NewSystemWakeEvent()),
        stop_(NewSystemWakeEvent()),
        heartbeat_(NewSystemHeartbeat()),
        clock_(NewSystemClock()),
        regional_(NewSystemRegional()),
        host_(NewSystemHostFacts()),
        files_(NewSystemFileSystem()),
        network_(NewSystemNetwork(stop_.get(), heartbeat_.get())),
        speaker_(NewSystemSpeaker()),
        console_(NewSystemConsole()),
        registry_(NewSystemRegistry()),
        tls_(NewSystemTls()),
        crypto_(NewSystemCrypto()),
        system_log_(NewSystemLog()),
        secrets_(NewSystemSecretStore()) {}

  Env env() const {
    Env e;
    e.clock = clock_.get();
    e.regional = regional_.get();
    e.host = host_.get();
    e.files = files_.get();
    e.network = network_.get();
    e.speaker = speaker_.get();
    e.console = console_.get();
    e.registry = registry_.get();
    e.tls = tls_.get();
    e.crypto = crypto_.get();
    e.system_log = system_log_.get();
    e.secrets = secrets_.get();
    e.requests = requests_.get();
    e.stop = stop_.get();
    e.heartbeat = heartbeat_.get();
    return e;
  }

 private:
  // First, so that they outlive the network that observes them.
  std::unique_ptr<WakeEvent> requests_;
  std::unique_ptr<WakeEvent> stop_;
  std::unique_ptr<Heartbeat> heartbeat_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Regional> regional_;
  std::unique_ptr<HostFacts> host_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Network> network_;
  std::unique_ptr<Speaker> speaker_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Tls> tls_;
  std::unique_ptr<Crypto> crypto_;
  std::unique_ptr<SystemLog> system_log_;
  std::unique_ptr<SecretStore> secrets_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SYSTEM_ENV_H_
