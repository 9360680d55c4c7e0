#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/temp_dir.h"

namespace tw {
namespace {

// A literal name is looked up directly when it exists as written, and otherwise found by the
// listing, which ignores letter case as the Windows search does.
TEST(PosixFileSystemTest, FindFilesWithALiteralName) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::unique_ptr<FileSystem> files = NewSystemFileSystem();
  ASSERT_TRUE(files->WriteFile(dir.path() + "APC-20280301.CSV", "x", false));
  ASSERT_TRUE(files->WriteFile(dir.path() + "UPS-Temp.txt", "x", false));
  struct Case {
    const char* pattern;
    std::vector<std::string> found;
  } cases[] = {
      {"APC-20280301.CSV", {"APC-20280301.CSV"}},
      {"apc-20280301.csv", {"APC-20280301.CSV"}},
      {"APC-20280302.CSV", {}},
      {"APC-*.CSV", {"APC-20280301.CSV"}},
      {"UPS-Temp.txt", {"UPS-Temp.txt"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(files->FindFiles(dir.path() + c.pattern), c.found) << c.pattern;
  }
}

}  // namespace
}  // namespace tw
