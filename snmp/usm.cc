#include "snmp/usm.h"

namespace tw {
namespace {

constexpr size_t kPasswordStretch = 1048576;

bool Cfb128(AesBlockCipher& cipher, const std::string& iv, const std::string& in, bool decrypt,
            std::string* out) {
  if (iv.size() != kAesBlockSize) return false;
  uint8_t feedback[kAesBlockSize];
  uint8_t stream[kAesBlockSize];
  for (size_t i = 0; i < kAesBlockSize; ++i) feedback[i] = static_cast<uint8_t>(iv[i]);
  std::string result(in.size(), '\0');
  for (size_t at = 0; at < in.size(); at += kAesBlockSize) {
    if (!cipher.EncryptBlock(feedback, stream)) return false;
    const size_t n = in.size() - at < kAesBlockSize ? in.size() - at : kAesBlockSize;
    for (size_t i = 0; i < n; ++i) {
      const auto x = static_cast<uint8_t>(in[at + i]);
      const auto y = static_cast<uint8_t>(x ^ stream[i]);
      result[at + i] = static_cast<char>(y);
      // The ciphertext feeds the next block, whichever way we go.
      feedback[i] = decrypt ? x : y;
    }
  }
  *out = std::move(result);
  return true;
}

}  // namespace

HashKind AuthHash(tAuthProtocol auth) {
  switch (auth) {
    case tAuthProtocol::kMd5:
      return HashKind::kMd5;
    case tAuthProtocol::kSha256:
      return HashKind::kSha256;
    case tAuthProtocol::kSha224:
      return HashKind::kSha224;
    case tAuthProtocol::kSha384:
      return HashKind::kSha384;
    case tAuthProtocol::kSha512:
      return HashKind::kSha512;
    default:
      return HashKind::kSha1;
  }
}

size_t PrivKeySize(tPrivProtocol priv) {
  switch (priv) {
    case tPrivProtocol::kAes192:
      return 24;
    case tPrivProtocol::kAes256:
      return 32;
    case tPrivProtocol::kNone:
      return 0;
    default:
      return 16;
  }
}

bool PrivKey(Crypto& crypto, tAuthProtocol auth, tPrivProtocol priv, const std::string& localized,
             std::string* key) {
  const size_t size = PrivKeySize(priv);
  std::string extended = localized;
  while (!extended.empty() && extended.size() < size) {
    std::string more;
    if (!crypto.Hash(AuthHash(auth), extended, &more)) return false;
    extended += more;
  }
  if (extended.size() < size) return false;
  *key = extended.substr(0, size);
  return true;
}

bool DesCbcEncrypt(DesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out) {
  if (iv.size() != kDesBlockSize) return false;
  std::string padded = in;
  padded.resize((in.size() + kDesBlockSize - 1) / kDesBlockSize * kDesBlockSize, '\0');
  uint8_t chain[kDesBlockSize];
  for (size_t i = 0; i < kDesBlockSize; ++i) chain[i] = static_cast<uint8_t>(iv[i]);
  std::string result(padded.size(), '\0');
  for (size_t at = 0; at < padded.size(); at += kDesBlockSize) {
    uint8_t block[kDesBlockSize];
    for (size_t i = 0; i < kDesBlockSize; ++i) {
      block[i] = static_cast<uint8_t>(static_cast<uint8_t>(padded[at + i]) ^ chain[i]);
    }
    if (!cipher.EncryptBlock(block, chain)) return false;
    for (size_t i = 0; i < kDesBlockSize; ++i) result[at + i] = static_cast<char>(chain[i]);
  }
  *out = std::move(result);
  return true;
}

bool DesCbcDecrypt(DesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out) {
  if (iv.size() != kDesBlockSize || in.size() % kDesBlockSize != 0) return false;
  uint8_t chain[kDesBlockSize];
  for (size_t i = 0; i < kDesBlockSize; ++i) chain[i] = static_cast<uint8_t>(iv[i]);
  std::string result(in.size(), '\0');
  for (size_t at = 0; at < in.size(); at += kDesBlockSize) {
    uint8_t block[kDesBlockSize];
    uint8_t plain[kDesBlockSize];
    for (size_t i = 0; i < kDesBlockSize; ++i) block[i] = static_cast<uint8_t>(in[at + i]);
    if (!cipher.DecryptBlock(block, plain)) return false;
    for (size_t i = 0; i < kDesBlockSize; ++i) {
      result[at + i] = static_cast<char>(plain[i] ^ chain[i]);
      chain[i] = block[i];
    }
  }
  *out = std::move(result);
  return true;
}

size_t AuthParamsSize(tAuthProtocol auth) {
  switch (auth) {
    case tAuthProtocol::kNone:
      return 0;
    case tAuthProtocol::kSha224:
      return 16;
    case tAuthProtocol::kSha256:
      return 24;
    case tAuthProtocol::kSha384:
      return 32;
    case tAuthProtocol::kSha512:
      return 48;
    default:
      return 12;
  }
}

bool PasswordToKey(Crypto& crypto, tAuthProtocol auth, const std::string& password,
                   std::string* key) {
  if (password.empty()) return false;
  std::string stretched;
  stretched.reserve(kPasswordStretch);
  while (stretched.size() + password.size() <= kPasswordStretch) stretched += password;
  stretched.append(password, 0, kPasswordStretch - stretched.size());
  const bool ok = crypto.Hash(AuthHash(auth), stretched, key);
  // The stretched password is as good as the password: leave no copy in freed memory.
  for (char& c : stretched) *static_cast<volatile char*>(&c) = 0;
  return ok;
}

bool LocalizeKey(Crypto& crypto, tAuthProtocol auth, const std::string& key,
                 const std::string& engine_id, std::string* localized) {
  return crypto.Hash(AuthHash(auth), key + engine_id + key, localized);
}

bool AuthParams(Crypto& crypto, tAuthProtocol auth, const std::string& localized_key,
                const std::string& message, std::string* params) {
  std::string mac;
  if (!crypto.Hmac(AuthHash(auth), localized_key, message, &mac)) return false;
  const size_t size = AuthParamsSize(auth);
  if (mac.size() < size) return false;
  *params = mac.substr(0, size);
  return true;
}

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  }
  return diff == 0;
}

std::string AesIv(int32_t boots, int32_t time, const std::string& salt) {
  std::string iv;
  for (const int32_t v : {boots, time}) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8)
      iv.push_back(static_cast<char>((u >> shift) & 0xFF));
  }
  return iv + salt;
}

bool Cfb128Encrypt(AesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out) {
  return Cfb128(cipher, iv, in, false, out);
}

bool Cfb128Decrypt(AesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out) {
  return Cfb128(cipher, iv, in, true, out);
}

}  // namespace tw
