#include "toolbelt/files.h"

#include <gtest/gtest.h>

#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

// Runs on the real file system in a temporary directory and on the in-memory fake, so both
// keep the same contract.
class FilesTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      real_ = NewSystemFileSystem();
      env_.ctx.env.files = real_.get();
      dir_ = temp_.path();
      ASSERT_FALSE(dir_.empty());
    } else {
      env_.files.AddDirectory("/data");
      dir_ = "/data/";
    }
    env_.ctx.settings.ExePath = dir_;
  }

  std::string Read(const std::string& name) {
    std::string data, error;
    return env_.ctx.env.files->ReadFile(dir_ + name, &data, &error) ? data : "<missing>";
  }
  int32_t Write(const std::string& text, const std::string& name, bool append) {
    return WriteStringToFile(env_.ctx, text, dir_ + name, append);
  }

  FakeEnv env_;
  TempDir temp_;
  std::unique_ptr<FileSystem> real_;
  std::string dir_;
};

TEST_P(FilesTest, WriteStringToFile) {
  EXPECT_EQ(Write("", "empty.txt", true), kWriteNothing);
  EXPECT_EQ(Read("empty.txt"), "<missing>");

  EXPECT_EQ(Write("first\r\n", "new.txt", true), kWriteOk);  // append to a missing file
  EXPECT_EQ(Read("new.txt"), "first\r\n");

  EXPECT_EQ(Write("replaced", "new.txt", false), kWriteOk);
  EXPECT_EQ(Read("new.txt"), "replaced");

  EXPECT_EQ(Write("a", "ab.txt", true), kWriteOk);
  EXPECT_EQ(Write("b", "ab.txt", true), kWriteOk);
  EXPECT_EQ(Read("ab.txt"), "ab");  // no line ends added

  EXPECT_EQ(Write("x", "no-such-dir/file.txt", false), kWriteFailed);
  EXPECT_EQ(Read("no-such-dir/file.txt"), "<missing>");

  const std::string binary("\0\x01\xff\r\n", 5);
  EXPECT_EQ(Write(binary, "bytes.bin", false), kWriteOk);
  EXPECT_EQ(Read("bytes.bin"), binary);
}

TEST_P(FilesTest, AppendOntoADirectoryFails) {
  if (GetParam()) {
    std::filesystem::create_directory(dir_ + "sub");
  } else {
    env_.files.AddDirectory(dir_ + "sub");
  }
  EXPECT_EQ(Write("x", "sub", true), kWriteFailed);
  EXPECT_TRUE(FileExists(env_.ctx, "sub"));  // directories count for the existence test
}

TEST_P(FilesTest, FileExistsWithWildcards) {
  ASSERT_EQ(Write("1", "APC-20250314.CSV", false), kWriteOk);
  struct Case {
    const char* name;
    bool found;
  } cases[] = {
      {"APC-20250314.CSV", true},
      {"apc-20250314.csv", true},
      {"APC-*.CSV", true},
      {"*2025????.csv", true},
      {"APC-2024*", false},
      {"missing.txt", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExists(env_.ctx, c.name), c.found) << c.name;
}

INSTANTIATE_TEST_SUITE_P(RealAndFake, FilesTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Posix" : "Memory"; });

TEST(FilesFaultTest, RefusedWritesGiveMinusFive) {
  FakeEnv env;
  env.files.fail_all_writes = true;
  EXPECT_EQ(WriteStringToFile(env.ctx, "x", "log.csv", true), kWriteFailed);
  EXPECT_TRUE(env.files.writes.empty());
}

}  // namespace
}  // namespace tw
