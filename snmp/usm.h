// The user-based security model's cryptography (RFC 3414, 3826, 7860): password to key,
// key localization, the authentication digest and AES-128 in CFB128 mode for privacy. Every
// primitive comes from the crypto seam; CFB128 is built here on its AES block function.
#ifndef TEMPWARDEN_SNMP_USM_H_
#define TEMPWARDEN_SNMP_USM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

namespace tw {

enum class tAuthProtocol { kNone, kMd5, kSha1, kSha256 };
enum class tPrivProtocol { kNone, kAes128 };

// The hash behind an authentication protocol (kNone has none: SHA-1 is returned).
HashKind AuthHash(tAuthProtocol auth);

// Octets of msgAuthenticationParameters: 12 for HMAC-MD5-96 and HMAC-SHA-96, 24 for
// HMAC-SHA-256-192 (RFC 7860), 0 without authentication.
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
