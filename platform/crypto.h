// The crypto seam: message digests, HMACs, the AES-128 block function and random octets, all
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

enum class HashKind { kMd5, kSha1, kSha256 };

// 16, 20 or 32 octets.
size_t DigestSize(HashKind kind);

constexpr size_t kAesBlockSize = 16;

// One AES-128 key, ready to encrypt single blocks (the raw block function, no chaining).
class AesBlockCipher {
 public:
  virtual ~AesBlockCipher() = default;
  // Encrypts the 16 octets at `in` into `out` (they may be the same). False when the platform
  // failed.
  virtual bool EncryptBlock(const uint8_t* in, uint8_t* out) = 0;
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
  // `size` octets from the platform's cryptographic random source.
  virtual bool RandomBytes(size_t size, std::string* out) = 0;
};

std::unique_ptr<Crypto> NewSystemCrypto();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_CRYPTO_H_
