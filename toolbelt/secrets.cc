#include "toolbelt/secrets.h"

#include <cctype>

#include "toolbelt/config_text.h"

namespace tw {
namespace {

bool SameLetters(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

const std::vector<tSecretKey>& SecretKeys() {
  static const std::vector<tSecretKey> kKeys = {
      {"SMTPPassword", "smtp-password"},          {"SNMPAuthPassword", "snmp-auth-password"},
      {"SNMPPrivPassword", "snmp-priv-password"}, {"OAuthClientSecret", "oauth-client-secret"},
      {"WebhookToken", "webhook-token"},
  };
  return kKeys;
}

const tSecretKey* FindSecretKey(const std::string& key) {
  for (const tSecretKey& k : SecretKeys()) {
    if (SameLetters(key, k.Key)) return &k;
  }
  return nullptr;
}

std::string CredentialNameOf(const std::string& instance, const std::string& id) {
  return (instance.empty() ? std::string("tempwarden") : "tempwarden-" + instance) + "." + id;
}

SecretOrigin ResolveSecret(Context& ctx, const tSecretKey& key, const std::string& file_value,
                           bool read_stored, std::string* value) {
  SecretStore* store = ctx.env.secrets;
  if (store != nullptr) {
    if (store->Handed(key.Id, value)) return SecretOrigin::kHanded;
    tCredentialSlot slot;
    slot.Id = key.Id;
    slot.Name = CredentialNameOf(ctx.layout.Instance, key.Id);
    if (read_stored && store->ReadStored(slot, value)) return SecretOrigin::kStored;
  }
  const size_t prefix = sizeof kSealedPrefix - 1;
  if (file_value.compare(0, prefix, kSealedPrefix) == 0) {
    value->clear();
    // Blanks and line breaks around the base64 are an editor's, not the blob's.
    std::string sealed;
    for (size_t i = prefix; i < file_value.size(); ++i) {
      const char c = file_value[i];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') sealed += c;
    }
    if (store != nullptr && store->Unseal(sealed, key.Key, value)) return SecretOrigin::kSealed;
    value->clear();
    return SecretOrigin::kUnsealable;
  }
  *value = file_value;
  return file_value.empty() ? SecretOrigin::kEmpty : SecretOrigin::kClear;
}

bool ReplaceSettingsValue(const std::string& bytes, const std::string& key,
                          const std::string& value, bool add_when_missing, std::string* out) {
  const ConfigEncoding encoding = DecodeConfigBytes(bytes.substr(0, 3)).Encoding;
  if (encoding == ConfigEncoding::kUtf16Le || encoding == ConfigEncoding::kUtf16Be) return false;
  const std::string open = "<" + key + ">";
  const std::string close = "</" + key + ">";
  const size_t start = bytes.find(open);
  const bool has_close = bytes.find(close) != std::string::npos;
  if (start != std::string::npos && has_close) {
    const size_t from = start + open.size();
    const size_t end = bytes.find(close, from);
    if (end == std::string::npos) return false;
    *out = bytes.substr(0, from) + value + bytes.substr(end);
    return true;
  }
  if (start != std::string::npos || has_close) return false;  // half a pair: the user's to mend
  if (!add_when_missing) {
    *out = bytes;
    return true;
  }
  const std::string line = "  " + open + value + close + "\r\n";
  const size_t root_end = bytes.rfind("</XML>");
  if (root_end == std::string::npos) {
    *out = bytes + line;
  } else {
    // After the line break that ends the line before "</XML>", so the lines stay whole.
    const size_t line_start = bytes.rfind('\n', root_end);
    const size_t at = line_start == std::string::npos ? root_end : line_start + 1;
    const bool indented = bytes.find_first_not_of(" \t", at) == root_end;
    const size_t insert_at = indented ? at : root_end;
    *out = bytes.substr(0, insert_at) + line + bytes.substr(insert_at);
  }
  return true;
}

}  // namespace tw
