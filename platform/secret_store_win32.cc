// DPAPI: CryptProtectData seals a secret with a key of this machine (machine scope, because the
// administrator who stores it is not the service's virtual account that reads it); the sealed
// blob, in base64, stays in the settings file, whose access list keeps other users out.
// <windows.h> first: <wincrypt.h> and <dpapi.h> take their types from it.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <dpapi.h>
// clang-format on

#include <vector>

#include "platform/secret_store.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

DATA_BLOB BlobOf(const std::string& s) {
  DATA_BLOB b;
  b.cbData = static_cast<DWORD>(s.size());
  b.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(s.data()));
  return b;
}

class Win32SecretStore : public SecretStore {
 public:
  Kind kind() const override { return Kind::kSettingsValue; }

  bool Handed(const std::string&, std::string*) override { return false; }
  bool ReadStored(const tCredentialSlot&, std::string*) override { return false; }
  bool Store(const tCredentialSlot&, const std::string&, std::string*,
             std::string* error) override {
    *error = "Windows keeps the sealed secret in the settings file";
    return false;
  }
  bool Remove(const tCredentialSlot&, bool* found, std::string*, std::string*) override {
    *found = false;
    return true;
  }

  bool Seal(const std::string& clear, const std::string& entropy, std::string* sealed,
            std::string* error) override {
    DATA_BLOB in = BlobOf(clear);
    DATA_BLOB extra = BlobOf(entropy);
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, L"tempwarden", &extra, nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
      *error = "CryptProtectData: " + Win32ErrorText(::GetLastError());
      return false;
    }
    DWORD chars = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    bool ok = ::CryptBinaryToStringA(out.pbData, out.cbData, flags, nullptr, &chars) != 0;
    std::vector<char> text(chars + 1);
    ok = ok && ::CryptBinaryToStringA(out.pbData, out.cbData, flags, text.data(), &chars) != 0;
    ::LocalFree(out.pbData);
    if (!ok) {
      *error = "CryptBinaryToString: " + Win32ErrorText(::GetLastError());
      return false;
    }
    sealed->assign(text.data(), chars);
    while (!sealed->empty() &&
           (sealed->back() == '\0' || sealed->back() == '\r' || sealed->back() == '\n')) {
      sealed->pop_back();
    }
    return true;
  }

  bool Unseal(const std::string& sealed, const std::string& entropy, std::string* clear) override {
    DWORD size = 0;
    if (!::CryptStringToBinaryA(sealed.c_str(), static_cast<DWORD>(sealed.size()),
                                CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr) ||
        size == 0) {
      return false;
    }
    std::string blob(size, '\0');
    if (!::CryptStringToBinaryA(sealed.c_str(), static_cast<DWORD>(sealed.size()),
                                CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&blob[0]), &size,
                                nullptr, nullptr)) {
      return false;
    }
    blob.resize(size);
    DATA_BLOB in = BlobOf(blob);
    DATA_BLOB extra = BlobOf(entropy);
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, &extra, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &out)) {
      return false;
    }
    clear->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return true;
  }
};

}  // namespace

std::unique_ptr<SecretStore> NewSystemSecretStore() { return std::make_unique<Win32SecretStore>(); }

}  // namespace tw
