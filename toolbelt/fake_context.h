// A Context wired to the platform fakes, for tests of everything above the platform layer.
#ifndef TEMPWARDEN_TOOLBELT_FAKE_CONTEXT_H_
#define TEMPWARDEN_TOOLBELT_FAKE_CONTEXT_H_

#include <memory>

#include "platform/crypto.h"
#include "platform/fake_env.h"
#include "platform/fake_network.h"
#include "platform/fake_speaker.h"
#include "toolbelt/settings.h"

namespace tw {

// A Context wired to fakes, with English regional settings and the start-up settings.
struct FakeEnv {
  FakeEnv();
  FakeClock clock;
  FixedRegional regional{FormatSettings::English()};
  FakeHostFacts host;
  MemFileSystem files;
  FakeNetwork network;
  FakeSpeaker speaker;
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();  // the real one: it keeps no state
  MemSystemLog system_log;
  Context ctx;
};

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_FAKE_CONTEXT_H_
