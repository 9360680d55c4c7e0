// "/protect KEY": a secret setting stored where the system keeps a service's secrets instead of
// in the settings file (toolbelt/secrets.h says where each platform keeps it and how the
// service finds it again).
#ifndef TEMPWARDEN_SERVICE_PROTECT_H_
#define TEMPWARDEN_SERVICE_PROTECT_H_

#include <ostream>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

// What became of one secret.
struct tProtectOutcome {
  std::string Key;    // the key as the settings file spells it ("SMTPPassword")
  std::string Where;  // where the secret went, or the stored secret that was deleted
  // The settings file, when its clear value was taken out (or, on Windows, the sealed value
  // written); empty when it was left as it was.
  std::string SettingsChanged;
  std::string Error;  // why nothing (or not everything) was done
};

// Stores `value` for the secret key `key` (any letter case) of the instance of `ctx.layout`:
// Linux, a systemd credential for the instance's unit, and the clear value taken out of the
// settings file; Windows, a sealed "dpapi:" value in the settings file in place of the clear
// one (the file is created with its default contents when missing). For the installers as for
// "/protect": the value never reaches a log, the console or a command line. The working
// directory must be the data directory (SetPathToEXEPath), as for the other commands. False
// with `outcome->Error` set otherwise; an unknown key is refused before anything is touched.
bool StoreSecret(Context& ctx, const std::string& key, const std::string& value,
                 tProtectOutcome* outcome);

// Deletes the stored secret of `key` (Linux: the credential and its line of the unit's drop-in;
// Windows: a sealed value in the settings file becomes empty).
bool RemoveSecret(Context& ctx, const std::string& key, tProtectOutcome* outcome);

// "/protect KEY [--remove]" with the secret already read: prints where it went (or why not) to
// `out`. Returns the exit status: 0 done, 1 failed, 2 for a key that is no secret key.
int ProtectCommand(Context& ctx, const std::string& key, bool remove, const std::string& value,
                   std::ostream& out);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_PROTECT_H_
