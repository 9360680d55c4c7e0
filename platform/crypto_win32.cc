// The crypto seam on BCrypt (Cryptography API: Next Generation), part of Windows.
//
// Only the raw AES block function (ECB) is taken from BCrypt: its CFB mode is CFB8 under Wine,
// and Wine does not implement the block-length property, so the protocol builds its own
// CFB128 on top of the block function.
// <windows.h> first: <bcrypt.h> takes its types from it.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

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
    case HashKind::kSha384:
      return BCRYPT_SHA384_ALGORITHM;
    case HashKind::kSha512:
      return BCRYPT_SHA512_ALGORITHM;
    case HashKind::kSha224:
      return nullptr;  // CNG has no SHA-224
  }
  return BCRYPT_SHA1_ALGORITHM;
}

// One digest or HMAC from start to end; the algorithm provider is opened for the call.
bool Digest(HashKind kind, const std::string* key, const std::string& data, std::string* out) {
  if (AlgorithmId(kind) == nullptr) return false;
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

// One key of a block cipher in ECB mode: the raw block function.
class BCryptBlock {
 public:
  ~BCryptBlock() {
    if (key_ != nullptr) BCryptDestroyKey(key_);
    if (alg_ != nullptr) BCryptCloseAlgorithmProvider(alg_, 0);
  }

  bool Init(const wchar_t* algorithm, const std::string& key) {
    if (!Ok(BCryptOpenAlgorithmProvider(&alg_, algorithm, nullptr, 0))) return false;
    if (!Ok(BCryptSetProperty(alg_, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                              sizeof(BCRYPT_CHAIN_MODE_ECB), 0))) {
      return false;
    }
    return Ok(BCryptGenerateSymmetricKey(alg_, &key_, nullptr, 0,
                                         reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                                         static_cast<ULONG>(key.size()), 0));
  }

  bool Block(bool encrypt, size_t size, const uint8_t* in, uint8_t* out) {
    UCHAR block_in[kAesBlockSize];
    UCHAR block_out[kAesBlockSize];
    for (size_t i = 0; i < size; ++i) block_in[i] = in[i];
    ULONG written = 0;
    const ULONG n = static_cast<ULONG>(size);
    const NTSTATUS status =
        encrypt ? BCryptEncrypt(key_, block_in, n, nullptr, nullptr, 0, block_out, n, &written, 0)
                : BCryptDecrypt(key_, block_in, n, nullptr, nullptr, 0, block_out, n, &written, 0);
    if (!Ok(status) || written != n) return false;
    for (size_t i = 0; i < size; ++i) out[i] = block_out[i];
    return true;
  }

 private:
  BCRYPT_ALG_HANDLE alg_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

class BCryptAes : public AesBlockCipher {
 public:
  bool Init(const std::string& key) {
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) return false;
    return block_.Init(BCRYPT_AES_ALGORITHM, key);
  }
  bool EncryptBlock(const uint8_t* in, uint8_t* out) override {
    return block_.Block(true, kAesBlockSize, in, out);
  }

 private:
  BCryptBlock block_;
};

class BCryptDes : public DesBlockCipher {
 public:
  bool Init(const std::string& key) {
    return key.size() == kDesBlockSize && block_.Init(BCRYPT_DES_ALGORITHM, key);
  }
  bool EncryptBlock(const uint8_t* in, uint8_t* out) override {
    return block_.Block(true, kDesBlockSize, in, out);
  }
  bool DecryptBlock(const uint8_t* in, uint8_t* out) override {
    return block_.Block(false, kDesBlockSize, in, out);
  }

 private:
  BCryptBlock block_;
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
    if (key.size() != 16) return nullptr;
    return NewAes(key);
  }

  std::unique_ptr<AesBlockCipher> NewAes(const std::string& key) override {
    auto aes = std::make_unique<BCryptAes>();
    if (!aes->Init(key)) return nullptr;
    return aes;
  }

  std::unique_ptr<DesBlockCipher> NewDes(const std::string& key) override {
    auto des = std::make_unique<BCryptDes>();
    if (!des->Init(key)) return nullptr;
    return des;
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
