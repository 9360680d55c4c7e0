// Published known answers for the crypto seam and the USM key functions, as one table that
// the unit tests run on Linux and tw_crypto_probe.exe runs on Windows (under Wine).
//
// Sources: RFC 3414 A.3 (password to key, localization; "maplesyrup" and engine
// 000000000000000000000002), the same for SHA-256 (RFC 7860 keys, the values published by
// the SNMP toolkits), RFC 2202 (HMAC-MD5, HMAC-SHA-1), RFC 4231 (HMAC-SHA-256), FIPS-197 C.1
// (the AES-128 block) and SP 800-38A F.3.13 (CFB128-AES128, also cut to a partial last block).
#ifndef TEMPWARDEN_TESTS_CRYPTO_VECTORS_H_
#define TEMPWARDEN_TESTS_CRYPTO_VECTORS_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "snmp/usm.h"

namespace tw {
namespace crypto_test {

inline std::string Hex(const std::string& octets) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : octets) {
    out.push_back(kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

enum class Kind { kPasswordKey, kLocalizedKey, kHmac, kAesBlock, kCfbEncrypt, kCfbDecrypt };

struct Vector {
  const char* name;
  Kind kind;
  tAuthProtocol auth;  // password and localized keys; the HMAC's hash
  std::string key;     // password / key octets
  std::string input;   // engine ID / message / plaintext
  std::string iv;
  const char* expected_hex;
};

inline std::vector<Vector> Vectors() {
  const std::string engine = Unhex("000000000000000000000002");
  const std::string hi = "Hi There";
  const std::string jefe = "what do ya want for nothing?";
  const std::string large = "Test Using Larger Than Block-Size Key - Hash Key First";
  const std::string cfb_key = Unhex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string cfb_iv = Unhex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = Unhex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const std::string cipher = Unhex(
      "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
      "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
  using K = Kind;
  using A = tAuthProtocol;
  return {
      {"rfc3414 md5 key", K::kPasswordKey, A::kMd5, "maplesyrup", "", "",
       "9faf3283884e92834ebc9847d8edd963"},
      {"rfc3414 md5 localized", K::kLocalizedKey, A::kMd5, "maplesyrup", engine, "",
       "526f5eed9fcce26f8964c2930787d82b"},
      {"rfc3414 sha key", K::kPasswordKey, A::kSha1, "maplesyrup", "", "",
       "9fb5cc0381497b3793528939ff788d5d79145211"},
      {"rfc3414 sha localized", K::kLocalizedKey, A::kSha1, "maplesyrup", engine, "",
       "6695febc9288e36282235fc7151f128497b38f3f"},
      {"sha256 key", K::kPasswordKey, A::kSha256, "maplesyrup", "", "",
       "ab51014d1e077f6017df2b12bee5f5aa72993177e9bb569c4dff5a4ca0b4afac"},
      {"sha256 localized", K::kLocalizedKey, A::kSha256, "maplesyrup", engine, "",
       "8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b"},
      {"rfc2202 md5 1", K::kHmac, A::kMd5, std::string(16, '\x0b'), hi, "",
       "9294727a3638bb1c13f48ef8158bfc9d"},
      {"rfc2202 md5 2", K::kHmac, A::kMd5, "Jefe", jefe, "", "750c783e6ab0b503eaa86e310a5db738"},
      {"rfc2202 md5 6", K::kHmac, A::kMd5, std::string(80, '\xaa'), large, "",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {"rfc2202 sha1 1", K::kHmac, A::kSha1, std::string(20, '\x0b'), hi, "",
       "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"rfc2202 sha1 2", K::kHmac, A::kSha1, "Jefe", jefe, "",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {"rfc2202 sha1 6", K::kHmac, A::kSha1, std::string(80, '\xaa'), large, "",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {"rfc4231 sha256 1", K::kHmac, A::kSha256, std::string(20, '\x0b'), hi, "",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"rfc4231 sha256 2", K::kHmac, A::kSha256, "Jefe", jefe, "",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {"rfc4231 sha256 6", K::kHmac, A::kSha256, std::string(131, '\xaa'), large, "",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {"fips197 aes128 block", K::kAesBlock, A::kNone, Unhex("000102030405060708090a0b0c0d0e0f"),
       Unhex("00112233445566778899aabbccddeeff"), "", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"sp800-38a cfb128 encrypt", K::kCfbEncrypt, A::kNone, cfb_key, plain, cfb_iv,
       "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
       "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
      {"sp800-38a cfb128 decrypt", K::kCfbDecrypt, A::kNone, cfb_key, cipher, cfb_iv,
       "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
       "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710"},
      {"cfb128 encrypt partial block", K::kCfbEncrypt, A::kNone, cfb_key, plain.substr(0, 37),
       cfb_iv, "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b26751f67a3"},
      {"cfb128 decrypt partial block", K::kCfbDecrypt, A::kNone, cfb_key, cipher.substr(0, 37),
       cfb_iv, "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a3"},
  };
}

// The hex the platform gives for `v`, or "(failed)".
inline std::string Compute(Crypto& crypto, const Vector& v) {
  std::string out, key;
  switch (v.kind) {
    case Kind::kPasswordKey:
      if (!PasswordToKey(crypto, v.auth, v.key, &out)) return "(failed)";
      break;
    case Kind::kLocalizedKey:
      if (!PasswordToKey(crypto, v.auth, v.key, &key) ||
          !LocalizeKey(crypto, v.auth, key, v.input, &out)) {
        return "(failed)";
      }
      break;
    case Kind::kHmac:
      if (!crypto.Hmac(AuthHash(v.auth), v.key, v.input, &out)) return "(failed)";
      break;
    case Kind::kAesBlock: {
      std::unique_ptr<AesBlockCipher> aes = crypto.NewAes128(v.key);
      out.assign(16, '\0');
      if (!aes || v.input.size() != 16 ||
          !aes->EncryptBlock(reinterpret_cast<const uint8_t*>(v.input.data()),
                             reinterpret_cast<uint8_t*>(&out[0]))) {
        return "(failed)";
      }
      break;
    }
    case Kind::kCfbEncrypt:
    case Kind::kCfbDecrypt: {
      std::unique_ptr<AesBlockCipher> aes = crypto.NewAes128(v.key);
      if (!aes) return "(failed)";
      const bool ok = v.kind == Kind::kCfbEncrypt ? Cfb128Encrypt(*aes, v.iv, v.input, &out)
                                                  : Cfb128Decrypt(*aes, v.iv, v.input, &out);
      if (!ok) return "(failed)";
      break;
    }
  }
  return Hex(out);
}

}  // namespace crypto_test
}  // namespace tw

#endif  // TEMPWARDEN_TESTS_CRYPTO_VECTORS_H_
