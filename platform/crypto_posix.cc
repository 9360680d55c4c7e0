// The crypto seam on OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <mutex>

#include "platform/crypto.h"

namespace tw {
namespace {

const EVP_MD* Digest(HashKind kind) {
  switch (kind) {
    case HashKind::kMd5:
      return EVP_md5();
    case HashKind::kSha1:
      return EVP_sha1();
    case HashKind::kSha256:
      return EVP_sha256();
    case HashKind::kSha224:
      return EVP_sha224();
    case HashKind::kSha384:
      return EVP_sha384();
    case HashKind::kSha512:
      return EVP_sha512();
  }
  return nullptr;
}

class OpenSslAes : public AesBlockCipher {
 public:
  OpenSslAes() : ctx_(EVP_CIPHER_CTX_new()) {}
  ~OpenSslAes() override { EVP_CIPHER_CTX_free(ctx_); }

  bool Init(const std::string& key) {
    const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                               : key.size() == 32 ? EVP_aes_256_ecb()
                                                  : nullptr;
    if (ctx_ == nullptr || cipher == nullptr) return false;
    if (EVP_EncryptInit_ex(ctx_, cipher, nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), nullptr) != 1) {
      return false;
    }
    return EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
  }

  bool EncryptBlock(const uint8_t* in, uint8_t* out) override {
    uint8_t block[kAesBlockSize];
    int written = 0;
    if (EVP_EncryptUpdate(ctx_, block, &written, in, static_cast<int>(kAesBlockSize)) != 1 ||
        written != static_cast<int>(kAesBlockSize)) {
      return false;
    }
    for (size_t i = 0; i < kAesBlockSize; ++i) out[i] = block[i];
    return true;
  }

 private:
  EVP_CIPHER_CTX* ctx_;
};

// Single DES lives in OpenSSL 3's legacy provider. Loading any provider by hand stops the
// default one from loading by itself, so both are loaded, once, and only when DES is asked for.
const EVP_CIPHER* LegacyDes() {
  static std::once_flag once;
  static EVP_CIPHER* des = nullptr;
  std::call_once(once, [] {
    if (OSSL_PROVIDER_load(nullptr, "default") == nullptr) return;
    if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr) return;
    des = EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr);
  });
  return des;
}

class OpenSslDes : public DesBlockCipher {
 public:
  OpenSslDes() : enc_(EVP_CIPHER_CTX_new()), dec_(EVP_CIPHER_CTX_new()) {}
  ~OpenSslDes() override {
    EVP_CIPHER_CTX_free(enc_);
    EVP_CIPHER_CTX_free(dec_);
  }

  bool Init(const std::string& key) {
    const EVP_CIPHER* des = LegacyDes();
    if (enc_ == nullptr || dec_ == nullptr || des == nullptr || key.size() != kDesBlockSize) {
      return false;
    }
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    return EVP_EncryptInit_ex(enc_, des, nullptr, k, nullptr) == 1 &&
           EVP_DecryptInit_ex(dec_, des, nullptr, k, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(enc_, 0) == 1 && EVP_CIPHER_CTX_set_padding(dec_, 0) == 1;
  }

  bool EncryptBlock(const uint8_t* in, uint8_t* out) override { return Block(enc_, true, in, out); }
  bool DecryptBlock(const uint8_t* in, uint8_t* out) override {
    return Block(dec_, false, in, out);
  }

 private:
  static bool Block(EVP_CIPHER_CTX* ctx, bool encrypt, const uint8_t* in, uint8_t* out) {
    uint8_t block[kDesBlockSize];
    int written = 0;
    const int n = static_cast<int>(kDesBlockSize);
    const int ok = encrypt ? EVP_EncryptUpdate(ctx, block, &written, in, n)
                           : EVP_DecryptUpdate(ctx, block, &written, in, n);
    if (ok != 1 || written != n) return false;
    for (size_t i = 0; i < kDesBlockSize; ++i) out[i] = block[i];
    return true;
  }

  EVP_CIPHER_CTX* enc_;
  EVP_CIPHER_CTX* dec_;
};

class OpenSslCrypto : public Crypto {
 public:
  bool Hash(HashKind kind, const std::string& data, std::string* digest) override {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), md, &size, Digest(kind), nullptr) != 1) return false;
    digest->assign(reinterpret_cast<const char*>(md), size);
    return true;
  }

  bool Hmac(HashKind kind, const std::string& key, const std::string& data,
            std::string* mac) override {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (HMAC(Digest(kind), key.data(), static_cast<int>(key.size()),
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
    auto aes = std::make_unique<OpenSslAes>();
    if (!aes->Init(key)) return nullptr;
    return aes;
  }

  std::unique_ptr<DesBlockCipher> NewDes(const std::string& key) override {
    auto des = std::make_unique<OpenSslDes>();
    if (!des->Init(key)) return nullptr;
    return des;
  }

  bool RandomBytes(size_t size, std::string* out) override {
    out->assign(size, '\0');
    return size == 0 ||
           RAND_bytes(reinterpret_cast<unsigned char*>(&(*out)[0]), static_cast<int>(size)) == 1;
  }
};

}  // namespace

std::unique_ptr<Crypto> NewSystemCrypto() { return std::make_unique<OpenSslCrypto>(); }

}  // namespace tw
