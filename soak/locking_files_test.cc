#include "soak/locking_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/fake_env.h"
#include "tests/file_system_contract.h"
#include "tests/temp_dir.h"

namespace tw {
namespace {

TEST(LockingFileSystemTest, RefusesWritesToTheLockedNameOnly) {
  MemFileSystem disk;
  LockingFileSystem files(disk);
  files.Lock("APCUPSTempLog_20280301.csv");
  EXPECT_FALSE(files.WriteFile("/apcupstemplog_20280301.CSV", "row\r\n", true));
  EXPECT_FALSE(files.WriteFile("/APCUPSTempLog_20280301.csv", "row\r\n", false));
  EXPECT_TRUE(files.WriteFile("/APCUPSTempLog_Today.csv", "row\r\n", true));
  EXPECT_EQ(files.refused_writes(), 2u);
  files.Lock("");
  EXPECT_TRUE(files.WriteFile("/APCUPSTempLog_20280301.csv", "row\r\n", true));
  EXPECT_EQ(disk.Get("/APCUPSTempLog_20280301.csv"), "row\r\n");
}

// With a name locked that no case uses, the wrapper over real files keeps the seam's contract.
class LockingRealFiles {
 public:
  LockingRealFiles() : cwd_(std::filesystem::current_path()) { files_.Lock("Locked.csv"); }
  ~LockingRealFiles() {
    std::error_code ec;
    std::filesystem::current_path(cwd_, ec);
  }
  FileSystem& files() { return files_; }
  std::string root() const { return temp_.path(); }
  void MakeDirectory(const std::string& path) { std::filesystem::create_directory(path); }

 private:
  const std::filesystem::path cwd_;
  TempDir temp_;
  std::unique_ptr<FileSystem> disk_ = NewSystemFileSystem();
  LockingFileSystem files_{*disk_};
};

INSTANTIATE_TYPED_TEST_SUITE_P(SoakFileSystemContract, FileSystemContract, LockingRealFiles);

}  // namespace
}  // namespace tw
