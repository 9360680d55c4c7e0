// The platform seams bundled: what every operation of the service runs on.
#ifndef TEMPWARDEN_PLATFORM_ENV_H_
#define TEMPWARDEN_PLATFORM_ENV_H_

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/regional.h"
#include "platform/wake_event.h"

namespace tw {

class Network;
class Tls;          // platform/tls.h
class Speaker;      // platform/speaker.h
class Console;      // platform/console.h
class Registry;     // platform/registry.h
class Crypto;       // platform/crypto.h
class SystemLog;    // platform/system_log.h
class Heartbeat;    // platform/heartbeat.h
class SecretStore;  // platform/secret_store.h

// The platform seams, owned elsewhere (by `main`, or by a test). A seam a test does not need
// may stay null only where the code that uses it is not reached.
struct Env {
  Clock* clock = nullptr;
  Regional* regional = nullptr;
  HostFacts* host = nullptr;
  FileSystem* files = nullptr;
  Network* network = nullptr;
  Speaker* speaker = nullptr;
  Console* console = nullptr;
  Registry* registry = nullptr;
  Tls* tls = nullptr;
  Crypto* crypto = nullptr;
  SystemLog* system_log = nullptr;
  // Where the secret settings are kept outside the settings file; null: only clear values.
  SecretStore* secrets = nullptr;
  // The service manager's watchdog; null when none watches (tests, the tools, Windows).
  Heartbeat* heartbeat = nullptr;
  // The service framework raises `requests` when a control request arrives and `stop` when the
  // service is to stop; the network seam already observes `stop`, the cycle's waits end on
  // `requests`. Null where no framework runs (the tools, most tests).
  WakeEvent* requests = nullptr;
  WakeEvent* stop = nullptr;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_ENV_H_
