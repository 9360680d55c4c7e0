// The crypto seam on OpenSSL's libcrypto, loaded at the first call (platform/openssl_posix.h).
#include <mutex>

#include "platform/crypto.h"
#include "platform/openssl_posix.h"

namespace tw {
namespace {

const EVP_MD* Digest(const OpenSslApi& ssl, HashKind kind) {
  switch (kind) {
    case HashKind::kMd5:
      return ssl.EVP_md5();
    case HashKind::kSha1:
      return ssl.EVP_sha1();
    case HashKind::kSha256:
      return ssl.EVP_sha256();
    case HashKind::kSha224:
      return ssl.EVP_sha224();
    case HashKind::kSha384:
      return ssl.EVP_sha384();
    case HashKind::kSha512:
      return ssl.EVP_sha512();
  }
  return nullptr;
}

class OpenSslAes : public AesBlockCipher {
 public:
  // A copy of the functions: the cipher may outlive the Crypto that made it, and the library
  // stays loaded anyway.
  explicit OpenSslAes(const OpenSslApi& ssl) : ssl_(ssl), ctx_(ssl_.EVP_CIPHER_CTX_new()) {}
  ~OpenSslAes() override { ssl_.EVP_CIPHER_CTX_free(ctx_); }

  bool Init(const std::string& key) {
    const EVP_CIPHER* cipher = key.size() == 16   ? ssl_.EVP_aes_128_ecb()
                               : key.size() == 24 ? ssl_.EVP_aes_192_ecb()
                               : key.size() == 32 ? ssl_.EVP_aes_256_ecb()
                                                  : nullptr;
    if (ctx_ == nullptr || cipher == nullptr) return false;
    if (ssl_.EVP_EncryptInit_ex(ctx_, cipher, nullptr,
                                reinterpret_cast<const unsigned char*>(key.data()), nullptr) != 1) {
      return false;
    }
    return ssl_.EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
  }

  bool EncryptBlock(const uint8_t* in, uint8_t* out) override {
    uint8_t block[kAesBlockSize];
    int written = 0;
    if (ssl_.EVP_EncryptUpdate(ctx_, block, &written, in, static_cast<int>(kAesBlockSize)) != 1 ||
        written != static_cast<int>(kAesBlockSize)) {
      return false;
    }
    for (size_t i = 0; i < kAesBlockSize; ++i) out[i] = block[i];
    return true;
  }

 private:
  const OpenSslApi ssl_;
  EVP_CIPHER_CTX* ctx_;
};

// Single DES lives in OpenSSL 3's legacy provider. Loading any provider by hand stops the
// default one from loading by itself, so both are loaded, once, and only when DES is asked for.
const EVP_CIPHER* LegacyDes(const OpenSslApi& ssl) {
  static std::once_flag once;
  static EVP_CIPHER* des = nullptr;
  std::call_once(once, [&ssl] {
    if (ssl.OSSL_PROVIDER_load(nullptr, "default") == nullptr) return;
    if (ssl.OSSL_PROVIDER_load(nullptr, "legacy") == nullptr) return;
    des = ssl.EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr);
  });
  return des;
}

class OpenSslDes : public DesBlockCipher {
 public:
  explicit OpenSslDes(const OpenSslApi& ssl)
      : ssl_(ssl), enc_(ssl_.EVP_CIPHER_CTX_new()), dec_(ssl_.EVP_CIPHER_CTX_new()) {}
  ~OpenSslDes() override {
    ssl_.EVP_CIPHER_CTX_free(enc_);
    ssl_.EVP_CIPHER_CTX_free(dec_);
  }

  bool Init(const std::string& key) {
    const EVP_CIPHER* des = LegacyDes(ssl_);
    if (enc_ == nullptr || dec_ == nullptr || des == nullptr || key.size() != kDesBlockSize) {
      return false;
    }
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    return ssl_.EVP_EncryptInit_ex(enc_, des, nullptr, k, nullptr) == 1 &&
           ssl_.EVP_DecryptInit_ex(dec_, des, nullptr, k, nullptr) == 1 &&
           ssl_.EVP_CIPHER_CTX_set_padding(enc_, 0) == 1 &&
           ssl_.EVP_CIPHER_CTX_set_padding(dec_, 0) == 1;
  }

  bool EncryptBlock(const uint8_t* in, uint8_t* out) override { return Block(enc_, true, in, out); }
  bool DecryptBlock(const uint8_t* in, uint8_t* out) override {
    return Block(dec_, false, in, out);
  }

 private:
  bool Block(EVP_CIPHER_CTX* ctx, bool encrypt, const uint8_t* in, uint8_t* out) {
    uint8_t block[kDesBlockSize];
    int written = 0;
    const int n = static_cast<int>(kDesBlockSize);
    const int ok = encrypt ? ssl_.EVP_EncryptUpdate(ctx, block, &written, in, n)
                           : ssl_.EVP_DecryptUpdate(ctx, block, &written, in, n);
    if (ok != 1 || written != n) return false;
    for (size_t i = 0; i < kDesBlockSize; ++i) out[i] = block[i];
    return true;
  }

  const OpenSslApi ssl_;
  EVP_CIPHER_CTX* enc_;
  EVP_CIPHER_CTX* dec_;
};

class OpenSslCrypto : public Crypto {
 public:
  bool Hash(HashKind kind, const std::string& data, std::string* digest) override {
    const OpenSslApi* ssl = Library();
    if (ssl == nullptr) return false;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (ssl->EVP_Digest(data.data(), data.size(), md, &size, Digest(*ssl, kind), nullptr) != 1) {
      return false;
    }
    digest->assign(reinterpret_cast<const char*>(md), size);
    return true;
  }

  bool Hmac(HashKind kind, const std::string& key, const std::string& data,
            std::string* mac) override {
    const OpenSslApi* ssl = Library();
    if (ssl == nullptr) return false;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (ssl->HMAC(Digest(*ssl, kind), key.data(), static_cast<int>(key.size()),
                  reinterpret_cast<const unsigned char*>(data.data()), data.size(), md,
                  &size) == nullptr) {
      return false;
    }
    mac->assign(reinterpret_cast<const char*>(md), size);
    return true;
  }

  std::unique_ptr<AesBlockCipher> NewAes128(const std::string& key) override {
    if (key.size() != 16) return nullptr;
    return NewAes(key);
  }

  std::unique_ptr<AesBlockCipher> NewAes(const std::string& key) override {
    const OpenSslApi* ssl = Library();
    if (ssl == nullptr) return nullptr;
    auto aes = std::make_unique<OpenSslAes>(*ssl);
    if (!aes->Init(key)) return nullptr;
    return aes;
  }

  std::unique_ptr<DesBlockCipher> NewDes(const std::string& key) override {
    const OpenSslApi* ssl = Library();
    if (ssl == nullptr) return nullptr;
    auto des = std::make_unique<OpenSslDes>(*ssl);
    if (!des->Init(key)) return nullptr;
    return des;
  }

  bool RandomBytes(size_t size, std::string* out) override {
    out->assign(size, '\0');
    if (size == 0) return true;
    const OpenSslApi* ssl = Library();
    return ssl != nullptr && ssl->RAND_bytes(reinterpret_cast<unsigned char*>(&(*out)[0]),
                                             static_cast<int>(size)) == 1;
  }

 private:
  // The callers see a plain failure; the reason is the loader's to keep.
  const OpenSslApi* Library() {
    std::string why;
    return loader_.Get(&why);
  }

  OpenSslLoader loader_;
};

}  // namespace

std::unique_ptr<Crypto> NewSystemCrypto() { return std::make_unique<OpenSslCrypto>(); }

}  // namespace tw
