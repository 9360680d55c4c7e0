#include "install/service_sid.h"

#include <gtest/gtest.h>

#include <memory>

namespace tw {
namespace {

TEST(ServiceSidTest, TheSidsWindowsGivesItsServices) {
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  const struct {
    const char* name;
    const char* sid;
  } cases[] = {
      // Windows' own, as every installation shows them.
      {"TrustedInstaller", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
      {"trustedinstaller", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
      {"Tempwarden\xC3\xA9", ""},  // not ASCII: no guess at Windows' upper-casing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServiceSidOf(*crypto, c.name), c.sid) << c.name;
  }
}

TEST(ServiceSidTest, AnInstanceHasASidOfItsOwn) {
  std::unique_ptr<Crypto> crypto = NewSystemCrypto();
  const std::string unnamed = ServiceSidOf(*crypto, "VOZIvazure");
  const std::string named = ServiceSidOf(*crypto, "VOZIvazure$north");
  EXPECT_EQ(unnamed.rfind("S-1-5-80-", 0), 0u) << unnamed;
  EXPECT_EQ(named.rfind("S-1-5-80-", 0), 0u) << named;
  EXPECT_NE(unnamed, named);
  EXPECT_EQ(VirtualAccountOf("VOZIvazure$north"), "NT SERVICE\\VOZIvazure$north");
}

TEST(ServiceSidTest, TheDataFolderListGivesTheServiceModifyAndNobodyElseAnything) {
  EXPECT_EQ(DataFolderSddl("S-1-5-80-1-2-3-4-5"),
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;S-1-5-80-1-2-3-4-5)");
  // The parent folder of the named instances: SYSTEM and Administrators alone.
  EXPECT_EQ(DataFolderSddl(""), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

}  // namespace
}  // namespace tw
