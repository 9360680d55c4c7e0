#include "mail/base64.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(Base64Test, RfcVectorsAndPadding) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"opsmail.brindle", "b3BzbWFpbC5icmluZGxl"},
               {"pq4tnvkxe", "cHE0dG52a3hl"}};
  for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
  // Every byte value, high bit included, maps through the alphabet's ends.
  EXPECT_EQ(Base64Encode(std::string("\xff\xfe\x00\x3e\x3f", 5)), "//4APj8=");
}

TEST(Base64Test, LinesBreakAfterEveryFullLineCountedAcrossTheText) {
  const std::string b57(57, 'A');  // 76 characters
  const std::string line = Base64Encode(b57);
  ASSERT_EQ(line.size(), 76u);
  EXPECT_EQ(Base64EncodeLines(b57, 76), line + "\r\n");
  EXPECT_EQ(Base64EncodeLines(b57 + "A", 76), line + "\r\nQQ==");
  EXPECT_EQ(Base64EncodeLines(b57 + b57, 76), line + "\r\n" + line + "\r\n");
  EXPECT_EQ(Base64EncodeLines("foobar", 4), "Zm9v\r\nYmFy\r\n");
  EXPECT_EQ(Base64EncodeLines("", 76), "");
  EXPECT_EQ(Base64EncodeLines("foo", 0), "Zm9v");
}

}  // namespace
}  // namespace tw
