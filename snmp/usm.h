// The user-based security model's cryptography (RFC 3414, 3826, 7860): password to key,
// key localization, the authentication digest, AES (128, 192, 256) in CFB128 mode and DES in
// CBC mode for privacy. Every primitive comes from the crypto seam; CFB128 and CBC are built
// here on its block functions.
#ifndef TEMPWARDEN_SNMP_USM_H_
#define TEMPWARDEN_SNMP_USM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

namespace tw {

enum class tAuthProtocol { kNone, kMd5, kSha1, kSha256, kSha224, kSha384, kSha512 };
enum class tPrivProtocol { kNone, kAes128, kAes192, kAes256, kDes };

// Octets of the privacy key: 16, 24, 32 for AES, 16 for DES (the key and the pre-IV).
size_t PrivKeySize(tPrivProtocol priv);

// The privacy key from the localized one: its first PrivKeySize octets. A localized key
// shorter than that (AES-192 and AES-256 under MD5 or SHA-1) is extended as
// draft-blumenthal-aes-usm-04 3.1.2.1 says, the way net-snmp does it: the hash of the whole
// key so far appended, again until it is long enough. (Cisco's "-C" extension of the Reeder
// draft is not offered.)
bool PrivKey(Crypto& crypto, tAuthProtocol auth, tPrivProtocol priv, const std::string& localized,
             std::string* key);

// RFC 3414 8.1.1: DES-CBC. The IV is the pre-IV (octets 8 to 15 of the privacy key) XOR the
// 8-octet salt; the plaintext is padded to whole blocks (with zeros, which the BER inside
// ignores). Decrypt wants whole blocks. False when the sizes are wrong or the platform failed.
bool DesCbcEncrypt(DesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out);
bool DesCbcDecrypt(DesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out);

// The hash behind an authentication protocol (kNone has none: SHA-1 is returned).
HashKind AuthHash(tAuthProtocol auth);

// Octets of msgAuthenticationParameters: 12 for HMAC-MD5-96 and HMAC-SHA-96; RFC 7860's 16
// for HMAC-SHA-224-128, 24 for HMAC-SHA-256-192, 32 for HMAC-SHA-384-256, 48 for
// HMAC-SHA-512-384; 0 without authentication.
size_t AuthParamsSize(tAuthProtocol auth);

// RFC 3414 A.2: the password repeated to 1,048,576 octets and hashed. False when the password
// is empty or the platform failed.
bool PasswordToKey(Crypto& crypto, tAuthProtocol auth, const std::string& password,
                   std::string* key);

// RFC 3414 2.6: hash(key + engine ID + key).
bool LocalizeKey(Crypto& crypto, tAuthProtocol auth, const std::string& key,
                 const std::string& engine_id, std::string* localized);

// The authentication parameters of `message` (whose own parameters field holds zeros): the
// HMAC under the localized key, cut to AuthParamsSize.
bool AuthParams(Crypto& crypto, tAuthProtocol auth, const std::string& localized_key,
                const std::string& message, std::string* params);

// Compares in time that depends on the lengths only, so that a forger learns nothing from how
// long a wrong digest took to refuse.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

// RFC 3826's IV for AES: engine boots and time big-endian, then the 8-octet salt.
std::string AesIv(int32_t boots, int32_t time, const std::string& salt);

// CFB128 (SP 800-38A 6.3) with the block function of `cipher`: the last block may be partial,
// nothing is padded. False when the IV is not 16 octets or the platform failed.
bool Cfb128Encrypt(AesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out);
bool Cfb128Decrypt(AesBlockCipher& cipher, const std::string& iv, const std::string& in,
                   std::string* out);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_USM_H_
