// A secret store for tests: credentials in a map, and a "seal" that is a marked reversal of
// the text bound to its entropy, so that a value sealed for one key does not open for another.
#ifndef TEMPWARDEN_PLATFORM_FAKE_SECRET_STORE_H_
#define TEMPWARDEN_PLATFORM_FAKE_SECRET_STORE_H_

#include <map>
#include <string>

#include "platform/secret_store.h"

namespace tw {

class FakeSecretStore : public SecretStore {
 public:
  explicit FakeSecretStore(Kind kind = Kind::kCredentials) : kind_(kind) {}

  Kind kind() const override { return kind_; }
  bool Handed(const std::string& id, std::string* value) override;
  bool ReadStored(const tCredentialSlot& slot, std::string* value) override;
  bool Store(const tCredentialSlot& slot, const std::string& value, std::string* where,
             std::string* error) override;
  bool Remove(const tCredentialSlot& slot, bool* found, std::string* where,
              std::string* error) override;
  bool Seal(const std::string& clear, const std::string& entropy, std::string* sealed,
            std::string* error) override;
  bool Unseal(const std::string& sealed, const std::string& entropy, std::string* clear) override;

  std::map<std::string, std::string> handed;  // by id, as $CREDENTIALS_DIRECTORY holds them
  std::map<std::string, std::string> stored;  // by slot name
  std::map<std::string, std::string> units;   // slot name -> the unit told to load it
  bool may_read_stored = true;                // false: as a user other than root
  std::string refuse;                         // non-empty: Store and Seal fail with this

 private:
  Kind kind_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_SECRET_STORE_H_
