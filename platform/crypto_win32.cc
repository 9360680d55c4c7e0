// The crypto seam on BCrypt (Cryptography API: Next Generation), part of Windows.
//
// Only the raw AES block function (ECB) is taken from BCrypt: its CFB mode is CFB8 under Wine,
// and Wine does not implement the block-length property, so the protocol builds its own
// CFB128 on top of the block function.
// <windows.h> first: <bcrypt.h> takes its types from it.
#include <windows.h>

#include <bcrypt.h>

#include "platform/crypto.h"

namespace tw {
namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

const wchar_t* AlgorithmId(HashKind kind) {
  switch (kind) {
    case HashKind::kMd5:
      return BCRYPT_MD5_ALGORITHM;
    case HashKind::kSha1:
      return BCRYPT_SHA1_ALGORITHM;
    case HashKind::kSha256:
      return BCRYPT_SHA256_ALGORITHM;
  }
  return BCRYPT_SHA1_ALGORITHM;
}

// One digest or HMAC from start to end; the algorithm provider is opened for the call.
bool Digest(HashKind kind, const std::string* key, const std::string& data, std::string* out) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!Ok(BCryptOpenAlgorithmProvider(&alg, AlgorithmId(kind), nullptr,
                                      key != nullptr ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
    return false;
  }
  bool ok = false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  // An empty HMAC key still needs a valid pointer.
  UCHAR empty = 0;
  PUCHAR key_octets =
      key == nullptr
          ? nullptr
          : (key->empty() ? &empty : reinterpret_cast<PUCHAR>(const_cast<char*>(key->data())));
  const ULONG key_size = key == nullptr ? 0 : static_cast<ULONG>(key->size());
  if (Ok(BCryptCreateHash(alg, &hash, nullptr, 0, key_octets, key_size, 0))) {
    std::string digest(DigestSize(kind), '\0');
    PUCHAR input = data.empty() ? &empty : reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
    if (Ok(BCryptHashData(hash, input, static_cast<ULONG>(data.size()), 0)) &&
        Ok(BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(&digest[0]),
                            static_cast<ULONG>(digest.size()), 0))) {
      *out = digest;
      ok = true;
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(alg, 0);
  return ok;
}

class BCryptAes : public AesBlockCipher {
 public:
  ~BCryptAes() override {
    if (key_ != nullptr) BCryptDestroyKey(key_);
    if (alg_ != nullptr) BCryptCloseAlgorithmProvider(alg_, 0);
  }

  bool Init(const std::string& key) {
    if (key.size() != 16) return false;
    if (!Ok(BCryptOpenAlgorithmProvider(&alg_, BCRYPT_AES_ALGORITHM, nullptr, 0))) return false;
    if (!Ok(BCryptSetProperty(alg_, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                              sizeof(BCRYPT_CHAIN_MODE_ECB), 0))) {
      return false;
    }
    return Ok(BCryptGenerateSymmetricKey(alg_, &key_, nullptr, 0,
                                         reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                                         static_cast<ULONG>(key.size()), 0));
  }

  bool EncryptBlock(const uint8_t* in, uint8_t* out) override {
    UCHAR block_in[kAesBlockSize];
    UCHAR block_out[kAesBlockSize];
    for (size_t i = 0; i < kAesBlockSize; ++i) block_in[i] = in[i];
    ULONG written = 0;
    if (!Ok(BCryptEncrypt(key_, block_in, kAesBlockSize, nullptr, nullptr, 0, block_out,
                          kAesBlockSize, &written, 0)) ||
        written != kAesBlockSize) {
      return false;
    }
    for (size_t i = 0; i < kAesBlockSize; ++i) out[i] = block_out[i];
    return true;
  }

 private:
  BCRYPT_ALG_HANDLE alg_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

class BCryptCrypto : public Crypto {
 public:
  bool Hash(HashKind kind, const std::string& data, std::string* digest) override {
    return Digest(kind, nullptr, data, digest);
  }

  bool Hmac(HashKind kind, const std::string& key, const std::string& data,
            std::string* mac) override {
    return Digest(kind, &key, data, mac);
  }

  std::unique_ptr<AesBlockCipher> NewAes128(const std::string& key) override {
    auto aes = std::make_unique<BCryptAes>();
    if (!aes->Init(key)) return nullptr;
    return aes;
  }

  bool RandomBytes(size_t size, std::string* out) override {
    out->assign(size, '\0');
    if (size == 0) return true;
    return Ok(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&(*out)[0]),
                              static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  }
};

}  // namespace

std::unique_ptr<Crypto> NewSystemCrypto() { return std::make_unique<BCryptCrypto>(); }

}  // namespace tw
