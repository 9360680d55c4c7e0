#include "service/protect.h"

#include "install/systemd_unit.h"
#include "platform/secret_store.h"
#include "toolbelt/config.h"
#include "toolbelt/config_text.h"
#include "toolbelt/secrets.h"

namespace tw {
namespace {

std::string ShownPath(Context& ctx, const std::string& path) {
  const bool absolute =
      !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
  return absolute ? path : ctx.settings.ExePath + path;
}

tCredentialSlot SlotOf(Context& ctx, const tSecretKey& key) {
  tCredentialSlot slot;
  slot.Id = key.Id;
  slot.Name = CredentialNameOf(ctx.layout.Instance, key.Id);
  slot.Unit = UnitNameOf(ctx.layout.Instance);
  return slot;
}

// Sets the value of `key` in the settings file when `when(current value)` says so; the rest of
// the file stays byte for byte. `*changed` tells whether the file was written.
template <typename When>
bool EditSettings(Context& ctx, const tSecretKey& key, const std::string& value, bool add,
                  When when, bool* changed, std::string* error) {
  *changed = false;
  const std::string path = SettingsFilePath(ctx);
  std::string bytes;
  std::string why;
  if (!ctx.env.files->IsPlainFile(path)) {
    if (!add) return true;
    if (!EnsureConfigFile(ctx)) {
      *error = "the settings file " + ShownPath(ctx, path) + " cannot be created";
      return false;
    }
  }
  if (!ctx.env.files->ReadFile(path, &bytes, &why)) {
    *error = "the settings file " + ShownPath(ctx, path) + " cannot be read: " + why;
    return false;
  }
  std::string current;
  const bool found = FindConfigValue(DecodeConfigBytes(bytes).Text, key.Key, &current);
  if (!when(found, current)) return true;
  std::string edited;
  if (!ReplaceSettingsValue(bytes, key.Key, value, add, &edited)) {
    *error = "the settings file " + ShownPath(ctx, path) + " is saved as UTF-16 or its <" +
             key.Key + "> has no closing tag after it: edit " + key.Key + " there by hand";
    return false;
  }
  if (edited == bytes) return true;
  if (!ctx.env.files->WriteFile(path, edited, false)) {
    *error = "the settings file " + ShownPath(ctx, path) + " cannot be written";
    return false;
  }
  *changed = true;
  return true;
}

const tSecretKey* KnownKey(const std::string& key, tProtectOutcome* outcome) {
  const tSecretKey* secret = FindSecretKey(key);
  outcome->Key = secret != nullptr ? secret->Key : key;
  if (secret == nullptr) {
    std::string keys;
    for (const tSecretKey& k : SecretKeys())
      keys += (keys.empty() ? "" : ", ") + std::string(k.Key);
    outcome->Error = "\"" + key + "\" is no secret key; these are: " + keys;
  }
  return secret;
}

}  // namespace

bool StoreSecret(Context& ctx, const std::string& key, const std::string& value,
                 tProtectOutcome* outcome) {
  const tSecretKey* secret = KnownKey(key, outcome);
  if (secret == nullptr) return false;
  SecretStore* store = ctx.env.secrets;
  if (store == nullptr) {
    outcome->Error = "this system has no place for secrets";
    return false;
  }
  if (value.empty()) {
    outcome->Error = "the secret is empty; to delete a stored one, use --remove";
    return false;
  }
  bool changed = false;
  const std::string path = ShownPath(ctx, SettingsFilePath(ctx));
  if (store->kind() == SecretStore::Kind::kCredentials) {
    if (!store->Store(SlotOf(ctx, *secret), value, &outcome->Where, &outcome->Error)) return false;
    // Any value left in the file, clear or sealed, is no longer read; it goes.
    const auto has_value = [](bool found, const std::string& v) { return found && !v.empty(); };
    if (!EditSettings(ctx, *secret, "", false, has_value, &changed, &outcome->Error)) return false;
  } else {
    std::string sealed;
    if (!store->Seal(value, secret->Key, &sealed, &outcome->Error)) return false;
    const auto always = [](bool, const std::string&) { return true; };
    if (!EditSettings(ctx, *secret, kSealedPrefix + sealed, true, always, &changed,
                      &outcome->Error)) {
      return false;
    }
    outcome->Where = path + " as a DPAPI value (machine scope)";
  }
  if (changed) outcome->SettingsChanged = path;
  return true;
}

bool RemoveSecret(Context& ctx, const std::string& key, tProtectOutcome* outcome) {
  const tSecretKey* secret = KnownKey(key, outcome);
  if (secret == nullptr) return false;
  SecretStore* store = ctx.env.secrets;
  if (store == nullptr) {
    outcome->Error = "this system has no place for secrets";
    return false;
  }
  bool changed = false;
  if (store->kind() == SecretStore::Kind::kCredentials) {
    bool found = false;
    if (!store->Remove(SlotOf(ctx, *secret), &found, &outcome->Where, &outcome->Error)) {
      return false;
    }
    if (!found) outcome->Where.clear();
    return true;
  }
  const auto sealed = [](bool found, const std::string& v) {
    return found && v.compare(0, sizeof kSealedPrefix - 1, kSealedPrefix) == 0;
  };
  if (!EditSettings(ctx, *secret, "", false, sealed, &changed, &outcome->Error)) return false;
  if (changed) {
    outcome->SettingsChanged = ShownPath(ctx, SettingsFilePath(ctx));
    outcome->Where = outcome->SettingsChanged;
  }
  return true;
}

int ProtectCommand(Context& ctx, const std::string& key, bool remove, const std::string& value,
                   std::ostream& out) {
  tProtectOutcome outcome;
  if (FindSecretKey(key) == nullptr) {
    KnownKey(key, &outcome);
    out << outcome.Error << std::endl;
    return 2;
  }
  const bool ok =
      remove ? RemoveSecret(ctx, key, &outcome) : StoreSecret(ctx, key, value, &outcome);
  if (!ok) {
    out << outcome.Key << ": " << outcome.Error << std::endl;
    return 1;
  }
  if (remove) {
    out << (outcome.Where.empty() ? outcome.Key + ": nothing was stored"
                                  : outcome.Key + ": deleted " + outcome.Where)
        << std::endl;
    return 0;
  }
  out << outcome.Key << " stored in " << outcome.Where << std::endl;
  if (!outcome.SettingsChanged.empty() &&
      ctx.env.secrets->kind() == SecretStore::Kind::kCredentials) {
    out << "Its value was taken out of " << outcome.SettingsChanged << std::endl;
  }
  out << "The service uses it from its next start." << std::endl;
  return 0;
}

}  // namespace tw
