// The crypto seam on OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

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
  }
  return nullptr;
}

class OpenSslAes : public AesBlockCipher {
 public:
  OpenSslAes() : ctx_(EVP_CIPHER_CTX_new()) {}
  ~OpenSslAes() override { EVP_CIPHER_CTX_free(ctx_); }

  bool Init(const std::string& key) {
    if (ctx_ == nullptr || key.size() != 16) return false;
    if (EVP_EncryptInit_ex(ctx_, EVP_aes_128_ecb(), nullptr,
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
    auto aes = std::make_unique<OpenSslAes>();
    if (!aes->Init(key)) return nullptr;
    return aes;
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
