#include "snmp/usm.h"

#include <gtest/gtest.h>

#include "tests/crypto_vectors.h"

namespace tw {
namespace {

using crypto_test::Hex;
using crypto_test::Unhex;

// The published answers, through the platform's crypto (OpenSSL here; the same table runs
// against BCrypt under Wine in tests/wine_service_test.sh).
TEST(UsmTest, KnownAnswers) {
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  for (const crypto_test::Vector& v : crypto_test::Vectors()) {
    EXPECT_EQ(crypto_test::Compute(*crypto, v), v.expected_hex) << v.name;
  }
}

TEST(UsmTest, DigestSizesAndTruncation) {
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  const struct {
    tAuthProtocol auth;
    size_t size;
    const char* rfc2202_case2;  // HMAC of "what do ya want for nothing?" under "Jefe", cut
  } cases[] = {
      {tAuthProtocol::kMd5, 12, "750c783e6ab0b503eaa86e31"},
      {tAuthProtocol::kSha1, 12, "effcdf6ae5eb2fa2d27416d5"},
      {tAuthProtocol::kSha256, 24, "5bdcc146bf60754e6a042426089575c75a003f089d273983"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AuthParamsSize(c.auth), c.size);
    std::string params;
    ASSERT_TRUE(AuthParams(*crypto, c.auth, "Jefe", "what do ya want for nothing?", &params));
    EXPECT_EQ(Hex(params), c.rfc2202_case2);
  }
  EXPECT_EQ(AuthParamsSize(tAuthProtocol::kNone), 0u);
}

TEST(UsmTest, ConstantTimeEqualCompares) {
  EXPECT_TRUE(ConstantTimeEqual("", ""));
  EXPECT_TRUE(ConstantTimeEqual("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "ab"));
  EXPECT_FALSE(ConstantTimeEqual(std::string("\x80", 1), std::string("\x00", 1)));
}

TEST(UsmTest, AesIvAndCfbRoundTrip) {
  EXPECT_EQ(Hex(AesIv(1, 0x01020304, Unhex("a1a2a3a4a5a6a7a8"))),
            "0000000101020304a1a2a3a4a5a6a7a8");
  EXPECT_EQ(Hex(AesIv(-1, 0, std::string(8, '\0'))), "ffffffff000000000000000000000000");
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  std::unique_ptr<AesBlockCipher> aes = crypto->NewAes128(std::string(16, 'k'));
  ASSERT_TRUE(aes);
  for (size_t size : {0u, 1u, 15u, 16u, 17u, 100u}) {
    const std::string plain(size, 'p');
    std::string cipher, back;
    ASSERT_TRUE(Cfb128Encrypt(*aes, std::string(16, 'i'), plain, &cipher));
    EXPECT_EQ(cipher.size(), size);
    ASSERT_TRUE(Cfb128Decrypt(*aes, std::string(16, 'i'), cipher, &back));
    EXPECT_EQ(back, plain);
  }
  std::string out;
  EXPECT_FALSE(Cfb128Encrypt(*aes, std::string(15, 'i'), "x", &out));
  EXPECT_FALSE(crypto->NewAes128(std::string(15, 'k')));
}

TEST(UsmTest, EmptyPasswordMakesNoKey) {
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  std::string key;
  EXPECT_FALSE(PasswordToKey(*crypto, tAuthProtocol::kSha1, "", &key));
}

}  // namespace
}  // namespace tw
