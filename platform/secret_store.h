// The secrets seam: where the system keeps a service's passwords so that the settings file
// need not hold them. Linux has systemd's credentials (encrypted files that the service
// manager decrypts and hands to the service in $CREDENTIALS_DIRECTORY); Windows has DPAPI,
// whose sealed blobs stay in the settings file itself.
//
// No implementation logs, prints or keeps a secret beyond the call that was given it.
#ifndef TEMPWARDEN_PLATFORM_SECRET_STORE_H_
#define TEMPWARDEN_PLATFORM_SECRET_STORE_H_

#include <memory>
#include <string>

namespace tw {

// One stored secret of one service instance.
struct tCredentialSlot {
  std::string Id;    // the credential's name as the service sees it: "smtp-password"
  std::string Name;  // the file of the store: "tempwarden.smtp-password"
  std::string Unit;  // the unit that loads it: "tempwarden" or "tempwarden@NAME"
};

class SecretStore {
 public:
  enum class Kind {
    kCredentials,    // Store/Remove keep the secret outside the settings file
    kSettingsValue,  // Seal gives a value that goes into the settings file
  };

  virtual ~SecretStore() = default;

  virtual Kind kind() const = 0;

  // The secret the service manager handed this process for `id`; false when it handed none.
  virtual bool Handed(const std::string& id, std::string* value) = 0;

  // The stored secret of `slot`, read directly, for the commands that run outside the service
  // manager; false when there is none or this process may not read it.
  virtual bool ReadStored(const tCredentialSlot& slot, std::string* value) = 0;

  // kCredentials: stores `value` for `slot` and sees to it that the unit loads it at its next
  // start. `where` names the file (and what loads it). False with a reason otherwise.
  virtual bool Store(const tCredentialSlot& slot, const std::string& value, std::string* where,
                     std::string* error) = 0;
  // Deletes what Store wrote; `*found` says whether there was anything.
  virtual bool Remove(const tCredentialSlot& slot, bool* found, std::string* where,
                      std::string* error) = 0;

  // kSettingsValue: `clear` sealed for this machine, with `entropy` (the key's name) mixed in,
  // as printable text; and back. Unseal is false for a value that does not open here (another
  // machine's, damaged, or a platform that has no such store).
  virtual bool Seal(const std::string& clear, const std::string& entropy, std::string* sealed,
                    std::string* error) = 0;
  virtual bool Unseal(const std::string& sealed, const std::string& entropy,
                      std::string* clear) = 0;
};

std::unique_ptr<SecretStore> NewSystemSecretStore();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SECRET_STORE_H_
