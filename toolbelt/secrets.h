// The secret settings: the keys whose values are passwords, where each value comes from, and
// the edit of the settings file that takes a clear value out of it (or puts a sealed one in).
//
// A secret key's value comes, first match wins, from
//   1. the credential the service manager handed the process ($CREDENTIALS_DIRECTORY/<id>),
//      or, for a command run from a prompt (tConfigReadSite::ReadStoredSecrets), the stored
//      credential itself where this process may decrypt it;
//   2. a settings value "dpapi:" + base64 of a sealed blob (SecretStore::Unseal, with the key's
//      name as entropy); one that does not open counts as empty and is named at start;
//   3. the settings value in clear, as it always was.
#ifndef TEMPWARDEN_TOOLBELT_SECRETS_H_
#define TEMPWARDEN_TOOLBELT_SECRETS_H_

#include <string>
#include <vector>

#include "platform/secret_store.h"
#include "toolbelt/settings.h"

namespace tw {

struct tSecretKey {
  const char* Key;  // the settings key, "SMTPPassword"
  const char* Id;   // the credential's id, "smtp-password"
};

// "SMTPPassword", "SNMPAuthPassword", "SNMPPrivPassword", "OAuthClientSecret", "WebhookToken".
const std::vector<tSecretKey>& SecretKeys();

// The secret key named `key` in any letter case; null for any other key.
const tSecretKey* FindSecretKey(const std::string& key);

// The prefix of a sealed settings value.
constexpr char kSealedPrefix[] = "dpapi:";

// The stored credential's file name for an instance: "tempwarden.<id>" for the unnamed one,
// "tempwarden-NAME.<id>" for a named one, so that each instance has its own.
std::string CredentialNameOf(const std::string& instance, const std::string& id);

enum class SecretOrigin {
  kEmpty,       // no value anywhere
  kHanded,      // the service manager's credential
  kStored,      // the stored credential, read by a command
  kSealed,      // a sealed settings value that opened
  kUnsealable,  // a sealed settings value that did not open: the secret counts as empty
  kClear,       // the settings value in clear
};

// The value of secret key `key` whose settings text is `file_value`; see the top of this file.
// `read_stored`: also the stored credential (commands outside the service manager).
SecretOrigin ResolveSecret(Context& ctx, const tSecretKey& key, const std::string& file_value,
                           bool read_stored, std::string* value);

// The settings file's bytes with the value of `key` replaced by `value` (which must need no
// XML escape); everything else stays byte for byte. When the key is missing: with
// `add_when_missing`, a line "  <key>value</key>" goes before the closing "</XML>" (or at the
// end), ending in CR LF unless the file's lines end in LF alone, else the bytes stay as they are.
// False (and `*out` untouched) for a file saved as UTF-16, or one whose "</key>" does not follow
// its "<key>", which only an editor should change.
bool ReplaceSettingsValue(const std::string& bytes, const std::string& key,
                          const std::string& value, bool add_when_missing, std::string* out);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SECRETS_H_
