// The crypto seam: message digests, HMACs, the AES and DES block functions and random octets, all
// from the platform (OpenSSL's libcrypto on Linux, BCrypt on Windows). Nothing here is written
// by hand; modes of operation built on the block function live with their protocol.
//
// Keys and secrets pass through as octet strings; no implementation logs or keeps them beyond
// the object that was given them.
#ifndef TEMPWARDEN_PLATFORM_CRYPTO_H_
#define TEMPWARDEN_PLATFORM_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tw {

enum class HashKind { kMd5, kSha1, kSha256, kSha224, kSha384, kSha512 };

// 16, 20, 32, 28, 48 or 64 octets.
size_t DigestSize(HashKind kind);

constexpr size_t kAesBlockSize = 16;
constexpr size_t kDesBlockSize = 8;

// One AES key (128, 192 or 256 bits), ready to encrypt single blocks (the raw block function,
// no chaining).
class AesBlockCipher {
 public:
  virtual ~AesBlockCipher() = default;
  // Encrypts the 16 octets at `in` into `out` (they may be the same). False when the platform
  // failed.
  virtual bool EncryptBlock(const uint8_t* in, uint8_t* out) = 0;
};

// One single-DES key (8 octets), both directions of the raw block function. DES is weak; it is
// here for older cards only.
class DesBlockCipher {
 public:
  virtual ~DesBlockCipher() = default;
  // 8 octets at `in` into `out` (they may be the same). False when the platform failed.
  virtual bool EncryptBlock(const uint8_t* in, uint8_t* out) = 0;
  virtual bool DecryptBlock(const uint8_t* in, uint8_t* out) = 0;
};

class Crypto {
 public:
  virtual ~Crypto() = default;

  // The digest of `data`. False when the platform failed.
  virtual bool Hash(HashKind kind, const std::string& data, std::string* digest) = 0;
  // HMAC of `data` under `key` (RFC 2104), the whole digest. False when the platform failed.
  virtual bool Hmac(HashKind kind, const std::string& key, const std::string& data,
                    std::string* mac) = 0;
  // A cipher for a 16-octet key; null when the key has another size or the platform failed.
  virtual std::unique_ptr<AesBlockCipher> NewAes128(const std::string& key) = 0;
  // A cipher for a 16-, 24- or 32-octet key; null otherwise or when the platform failed. The
  // default takes 16-octet keys only.
  virtual std::unique_ptr<AesBlockCipher> NewAes(const std::string& key) {
    return key.size() == 16 ? NewAes128(key) : nullptr;
  }
  // A DES cipher for an 8-octet key; null when the platform has none (OpenSSL 3 keeps DES in
  // its legacy provider, loaded on the first call) or failed. The default has none.
  virtual std::unique_ptr<DesBlockCipher> NewDes(const std::string& key) {
    (void)key;
    return nullptr;
  }
  // `size` octets from the platform's cryptographic random source.
  virtual bool RandomBytes(size_t size, std::string* out) = 0;
};

std::unique_ptr<Crypto> NewSystemCrypto();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_CRYPTO_H_
