// The contract of the file-system seam (platform/file_system.h), as one type-parameterized
// suite: the real file system, the in-memory one and every wrapper instantiate it, so that a
// fake cannot drift from the platform without a test failing.
//
// A parameter type `T` sets up one file system over an empty directory:
//   FileSystem& files();                       the file system under test
//   std::string root();                        the empty directory, with its trailing "/"
//   void MakeDirectory(const std::string& p);  creates directory `p` beside the seam
// Instantiate with INSTANTIATE_TYPED_TEST_SUITE_P(Name, FileSystemContract, Types).
#ifndef TEMPWARDEN_TESTS_FILE_SYSTEM_CONTRACT_H_
#define TEMPWARDEN_TESTS_FILE_SYSTEM_CONTRACT_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tw {

template <typename T>
class FileSystemContract : public ::testing::Test {
 protected:
  FileSystem& files() { return setup_.files(); }
  std::string Path(const std::string& name) { return setup_.root() + name; }
  std::string Read(const std::string& name) {
    std::string data;
    std::string error;
    if (!files().ReadFile(Path(name), &data, &error)) return "<" + error + ">";
    return data;
  }
  // The listing in name order: the seam does not promise one.
  std::vector<std::string> Sorted(const std::string& pattern) {
    std::vector<std::string> names = files().FindFiles(Path(pattern));
    std::sort(names.begin(), names.end());
    return names;
  }
  void MakeDirectory(const std::string& name) { setup_.MakeDirectory(Path(name)); }

  T setup_;
};

TYPED_TEST_SUITE_P(FileSystemContract);

TYPED_TEST_P(FileSystemContract, ReplacementWritesTheWholeFile) {
  FileSystem& files = this->files();
  const std::string bytes("line 1\r\nline\t2\0\xff\r\n", 18);
  const std::string large(200000, 'x');  // more than any read buffer
  const struct {
    const char* name;
    std::string data;
  } cases[] = {{"binary", bytes}, {"empty", ""}, {"large", large}, {"shorter", "27.5"}};
  for (const auto& c : cases) {
    EXPECT_TRUE(files.WriteFile(this->Path("UPS-Temp.txt"), c.data, false)) << c.name;
    EXPECT_EQ(this->Read("UPS-Temp.txt"), c.data) << c.name;
    EXPECT_TRUE(files.IsPlainFile(this->Path("UPS-Temp.txt"))) << c.name;
  }
  // Nothing of the replacement stays beside the file.
  EXPECT_EQ(this->Sorted("*"), std::vector<std::string>{"UPS-Temp.txt"});
}

TYPED_TEST_P(FileSystemContract, AppendCreatesAndExtends) {
  FileSystem& files = this->files();
  const std::string csv = this->Path("APCUPSTempLog_Fri.csv");
  EXPECT_TRUE(files.WriteFile(csv, "a;1\r\n", true));
  EXPECT_TRUE(files.WriteFile(csv, "", true));
  EXPECT_TRUE(files.WriteFile(csv, "b;2\r\n", true));
  EXPECT_EQ(this->Read("APCUPSTempLog_Fri.csv"), "a;1\r\nb;2\r\n");
  EXPECT_TRUE(files.WriteFile(csv, "new", false));
  EXPECT_TRUE(files.WriteFile(csv, "+", true));
  EXPECT_EQ(this->Read("APCUPSTempLog_Fri.csv"), "new+");
}

TYPED_TEST_P(FileSystemContract, MissingFile) {
  FileSystem& files = this->files();
  const std::string path = this->Path("TEMPWARDEN.XML");
  std::string data = "as it came";
  std::string error;
  EXPECT_FALSE(files.ReadFile(path, &data, &error));
  EXPECT_EQ(error, "Cannot open file \"" + path + "\". No such file or directory");
  EXPECT_FALSE(files.IsPlainFile(path));
  EXPECT_FALSE(files.RemoveFile(path));
  EXPECT_EQ(this->Sorted("TEMPWARDEN.XML"), std::vector<std::string>{});
}

// A directory is no plain file: it cannot be read, written, appended to or removed as one,
// and a file cannot be written into a directory that does not exist.
TYPED_TEST_P(FileSystemContract, DirectoriesAreNoFiles) {
  FileSystem& files = this->files();
  this->MakeDirectory("Reports");
  const std::string dir = this->Path("Reports");
  std::string data;
  std::string error;
  EXPECT_FALSE(files.IsPlainFile(dir));
  EXPECT_FALSE(files.ReadFile(dir, &data, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(files.WriteFile(dir, "x", false));
  EXPECT_FALSE(files.WriteFile(dir, "x", true));
  EXPECT_FALSE(files.RemoveFile(dir));
  EXPECT_FALSE(files.WriteFile(this->Path("Missing/a.txt"), "x", false));
  EXPECT_FALSE(files.WriteFile(this->Path("Missing/a.txt"), "x", true));
  EXPECT_TRUE(files.WriteFile(this->Path("Reports/a.txt"), "x", false));
  EXPECT_EQ(this->Read("Reports/a.txt"), "x");
  EXPECT_EQ(this->Sorted("*"), std::vector<std::string>{"Reports"});
}

TYPED_TEST_P(FileSystemContract, RemoveDeletesOneFile) {
  FileSystem& files = this->files();
  ASSERT_TRUE(files.WriteFile(this->Path("a.txt"), "a", false));
  ASSERT_TRUE(files.WriteFile(this->Path("b.txt"), "b", true));
  EXPECT_TRUE(files.RemoveFile(this->Path("a.txt")));
  EXPECT_FALSE(files.IsPlainFile(this->Path("a.txt")));
  EXPECT_FALSE(files.RemoveFile(this->Path("a.txt")));
  EXPECT_EQ(this->Sorted("*"), std::vector<std::string>{"b.txt"});
  EXPECT_EQ(this->Read("b.txt"), "b");
}

TYPED_TEST_P(FileSystemContract, FindFilesMatchesTheLastComponent) {
  FileSystem& files = this->files();
  for (const char* name : {"APC-20280301.CSV", "APC-20280302.csv", "APC-2028.csv", ".hidden",
                           "UPS-Temp.txt", "Reports/APC-20280303.CSV"}) {
    if (std::string(name) == "Reports/APC-20280303.CSV") this->MakeDirectory("Reports");
    ASSERT_TRUE(files.WriteFile(this->Path(name), "x", false)) << name;
  }
  const struct {
    const char* pattern;
    std::vector<std::string> found;
  } cases[] = {
      {"APC-2028030?.csv", {"APC-20280301.CSV", "APC-20280302.csv"}},
      {"apc-*.CSV", {"APC-2028.csv", "APC-20280301.CSV", "APC-20280302.csv"}},
      {"APC-20280301.CSV", {"APC-20280301.CSV"}},
      {"apc-20280301.csv", {"APC-20280301.CSV"}},  // letter case ignored, as on Windows
      {"APC-20280309.CSV", {}},
      {"*",
       {".hidden", "APC-2028.csv", "APC-20280301.CSV", "APC-20280302.csv", "Reports",
        "UPS-Temp.txt"}},
      {"Rep*", {"Reports"}},
      {"Reports/*", {"APC-20280303.CSV"}},  // only the directory named, not below it
      {"Missing/*", {}},
      {".", {}},
      {"..", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(this->Sorted(c.pattern), c.found) << c.pattern;
}

// Relative paths resolve against the working directory.
TYPED_TEST_P(FileSystemContract, WorkingDirectory) {
  FileSystem& files = this->files();
  this->MakeDirectory("Service");
  EXPECT_FALSE(files.SetWorkingDirectory(this->Path("Missing")));
  ASSERT_TRUE(files.WriteFile(this->Path("plain.txt"), "x", false));
  EXPECT_FALSE(files.SetWorkingDirectory(this->Path("plain.txt")));
  ASSERT_TRUE(files.SetWorkingDirectory(this->Path("Service")));
  EXPECT_TRUE(files.WriteFile("TEMPWARDEN.XML", "<SysLogTrap>3</SysLogTrap>", false));
  EXPECT_TRUE(files.WriteFile("Activity.log", "line\r\n", true));
  EXPECT_TRUE(files.IsPlainFile("TEMPWARDEN.XML"));
  std::vector<std::string> names = files.FindFiles("*");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Activity.log", "TEMPWARDEN.XML"}));
  EXPECT_EQ(this->Read("Service/TEMPWARDEN.XML"), "<SysLogTrap>3</SysLogTrap>");
  EXPECT_TRUE(files.RemoveFile("Activity.log"));
  EXPECT_FALSE(files.IsPlainFile(this->Path("Service/Activity.log")));
}

TYPED_TEST_P(FileSystemContract, PathSeparatorIsADelimiter) {
  FileSystem& files = this->files();
  EXPECT_NE(std::string(files.PathDelimiters()).find(files.PathSeparator()), std::string::npos);
}

REGISTER_TYPED_TEST_SUITE_P(FileSystemContract, ReplacementWritesTheWholeFile,
                            AppendCreatesAndExtends, MissingFile, DirectoriesAreNoFiles,
                            RemoveDeletesOneFile, FindFilesMatchesTheLastComponent,
                            WorkingDirectory, PathSeparatorIsADelimiter);

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_FILE_SYSTEM_CONTRACT_H_
