#include "platform/fake_secret_store.h"

#include <algorithm>

namespace tw {

bool FakeSecretStore::Handed(const std::string& id, std::string* value) {
  const auto it = handed.find(id);
  if (it == handed.end()) return false;
  *value = it->second;
  return true;
}

bool FakeSecretStore::ReadStored(const tCredentialSlot& slot, std::string* value) {
  const auto it = stored.find(slot.Name);
  if (!may_read_stored || it == stored.end()) return false;
  *value = it->second;
  return true;
}

bool FakeSecretStore::Store(const tCredentialSlot& slot, const std::string& value,
                            std::string* where, std::string* error) {
  if (!refuse.empty()) {
    *error = refuse;
    return false;
  }
  stored[slot.Name] = value;
  units[slot.Name] = slot.Unit;
  *where = "/store/" + slot.Name;
  return true;
}

bool FakeSecretStore::Remove(const tCredentialSlot& slot, bool* found, std::string* where,
                             std::string*) {
  *found = stored.erase(slot.Name) > 0;
  units.erase(slot.Name);
  *where = "/store/" + slot.Name;
  return true;
}

bool FakeSecretStore::Seal(const std::string& clear, const std::string& entropy,
                           std::string* sealed, std::string* error) {
  if (!refuse.empty()) {
    *error = refuse;
    return false;
  }
  std::string reversed(clear.rbegin(), clear.rend());
  *sealed = "SEALED(" + entropy + ")" + reversed;
  return true;
}

bool FakeSecretStore::Unseal(const std::string& sealed, const std::string& entropy,
                             std::string* clear) {
  const std::string mark = "SEALED(" + entropy + ")";
  if (sealed.compare(0, mark.size(), mark) != 0) return false;
  clear->assign(sealed.rbegin(), sealed.rend() - static_cast<std::ptrdiff_t>(mark.size()));
  return true;
}

}  // namespace tw
