// The real file system's replacement and append rules, on files in a temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/temp_dir.h"
#include "tests/unprivileged.h"

namespace tw {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  std::string Path(const std::string& name) const { return dir_ + name; }

  TempDir temp_;
  const std::string dir_ = temp_.path();
  std::unique_ptr<FileSystem> files_ = NewSystemFileSystem();
};

TEST_F(PosixFileSystemTest, ReplacementTakesThePlaceOfTheOldFileAsAWhole) {
  const std::string page = Path("APCUPSTempLog_Today.html");
  ASSERT_TRUE(files_->WriteFile(page, "old page", false));
  ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
  // A reader that opened the old page before the replacement reads it to its end.
  const int reader = ::open(page.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);

  ASSERT_TRUE(files_->WriteFile(page, "new page", false));
  char buffer[64] = {};
  EXPECT_EQ(::read(reader, buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "old page");
  ::close(reader);

  EXPECT_EQ(Slurp(page), "new page");
  struct stat st {};
  ASSERT_EQ(::stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // the administrator's permissions stay
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"APCUPSTempLog_Today.html"});
}

// The new file gets the old one's permissions, whether or not they are the ones a file is
// created with under the umask the program started with (then no call is needed for them).
TEST_F(PosixFileSystemTest, ReplacementKeepsTheOldPermissionsUnderAnyUmask) {
  for (const mode_t umask : {mode_t{022}, mode_t{027}}) {
    const mode_t before = ::umask(umask);
    std::unique_ptr<FileSystem> files = NewSystemFileSystem();
    for (const mode_t mode : {mode_t{0644}, mode_t{0640}, mode_t{0600}, mode_t{0664}}) {
      const std::string page = Path("APCUPSTempLog_Today.html");
      ASSERT_TRUE(files->WriteFile(page, "old page", false));
      ASSERT_EQ(::chmod(page.c_str(), mode), 0);
      ASSERT_TRUE(files->WriteFile(page, "new page", false));
      ASSERT_TRUE(files->WriteFile(page, "newer page", false));
      struct stat st {};
      ASSERT_EQ(::stat(page.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, mode) << "umask " << umask;
      EXPECT_EQ(Slurp(page), "newer page");
    }
    ::umask(before);
  }
}

// Root editing a file of another owner and group (the package's root:tempwarden settings file,
// rewritten by /protect) leaves them as they were, so that the service may still read it.
TEST_F(PosixFileSystemTest, ReplacementByRootKeepsTheOldOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  std::unique_ptr<FileSystem> files = NewSystemFileSystem();
  const std::string conf = Path("TEMPWARDEN.XML");
  ASSERT_TRUE(files->WriteFile(conf, "<XML></XML>", false));
  ASSERT_EQ(::chown(conf.c_str(), 0, 65534), 0);
  ASSERT_EQ(::chmod(conf.c_str(), 0640), 0);
  ASSERT_TRUE(files->WriteFile(conf, "<XML><A>1</A></XML>", false));
  struct stat st {};
  ASSERT_EQ(::stat(conf.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::chown(conf.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(files->WriteFile(conf, "<XML><A>2</A></XML>", false));
  ASSERT_EQ(::stat(conf.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(Slurp(conf), "<XML><A>2</A></XML>");
}

// Every way a replacement can fail leaves the old file whole and no temporary file behind
// (except one that belongs to somebody else).
TEST_F(PosixFileSystemTest, FailedReplacementLeavesTheOldFile) {
  struct Case {
    const char* name;
    bool temp_is_directory;  // the temporary name is taken by a directory
    bool old_file_held;      // a writer of this program holds the old file
    std::vector<std::string> left;
  } cases[] = {
      {"temporary name taken by a directory",
       true,
       false,
       {"UPS-Temp.txt", std::string("UPS-Temp.txt") + kReplacementSuffix}},
      {"old file held by a writer", false, true, {"UPS-Temp.txt"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string file = dir.path() + "UPS-Temp.txt";
    ASSERT_TRUE(files_->WriteFile(file, "27.5", false));
    if (c.temp_is_directory) std::filesystem::create_directory(file + kReplacementSuffix);
    const int holder = ::open(file.c_str(), O_RDONLY);
    if (c.old_file_held) {
      ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    EXPECT_FALSE(files_->WriteFile(file, "28", false)) << c.name;
    ::close(holder);
    EXPECT_EQ(Slurp(file), "27.5") << c.name;
    EXPECT_EQ(Names(dir.path()), c.left) << c.name;
  }
}

TEST_F(PosixFileSystemTest, ReadOnlyDirectoryRefusesReplacementAndKeepsTheFile) {
  const std::string page = Path("APCUPSTempLog_2025.html");
  ASSERT_TRUE(files_->WriteFile(page, "old page", false));
  ASSERT_EQ(::chmod(page.c_str(), 0666), 0);  // the file itself stays writable
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  FileSystem& files = *files_;
  EXPECT_TRUE(RunUnprivileged([&] { return !files.WriteFile(page, "new page", false); }));
  // Appending needs no new directory entry and still works.
  EXPECT_TRUE(RunUnprivileged([&] { return files.WriteFile(page, "+", true); }));
  ::chmod(dir_.c_str(), 0755);
  EXPECT_EQ(Slurp(page), "old page+");
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"APCUPSTempLog_2025.html"});
}

TEST_F(PosixFileSystemTest, AppendIsRefusedWhileAnotherWriterHoldsTheFile) {
  const std::string csv = Path("APCUPSTempLog_Fri.csv");
  ASSERT_TRUE(files_->WriteFile(csv, "a", true));
  const int holder = ::open(csv.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(files_->WriteFile(csv, "b", true));
  ::close(holder);
  EXPECT_TRUE(files_->WriteFile(csv, "c", true));
  EXPECT_EQ(Slurp(csv), "ac");
}

// Links planted in the data folder (by an account that may write there) never make a writer,
// root included, write through them: the victim keeps its content and mode.
TEST_F(PosixFileSystemTest, PlantedLinksAreNotFollowed) {
  struct Case {
    const char* name;
    const char* link;  // the link's name, pointing at the victim
    bool append;
    bool written;  // the write succeeds, leaving a plain file "28"; else the link stays
  } cases[] = {
      {"link under the temporary name", "UPS-Temp.txt.tw-new", false, true},
      {"link in the old file's place", "UPS-Temp.txt", false, true},
      {"link under an appended name", "UPS-Temp.txt", true, false},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TempDir elsewhere;
    const std::string victim = elsewhere.path() + "shadow";
    ASSERT_TRUE(files_->WriteFile(victim, "root only", false));
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const std::string file = dir.path() + "UPS-Temp.txt";
    ASSERT_EQ(::symlink(victim.c_str(), (dir.path() + c.link).c_str()), 0) << c.name;
    EXPECT_EQ(files_->WriteFile(file, "28", c.append), c.written) << c.name;
    EXPECT_EQ(Slurp(victim), "root only") << c.name;
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << c.name;
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    if (c.written) {
      EXPECT_TRUE(S_ISREG(st.st_mode)) << c.name;
      EXPECT_EQ(Slurp(file), "28") << c.name;
      EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"UPS-Temp.txt"}) << c.name;
    } else {
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.name;
    }
  }
}

// What is left under the temporary name: a crash's leftover is replaced, a file another writer
// of this program is writing is left to it.
TEST_F(PosixFileSystemTest, TemporaryNameLeftOverOrInUse) {
  const std::string file = Path("APCUPSTempLog_Today.csv");
  const std::string temp = file + kReplacementSuffix;
  ASSERT_TRUE(files_->WriteFile(temp, "half a", false));
  ASSERT_TRUE(files_->WriteFile(file, "whole", false));
  EXPECT_EQ(Slurp(file), "whole");

  ASSERT_TRUE(files_->WriteFile(temp, "being written", false));
  const int writer = ::open(temp.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(files_->WriteFile(file, "second", false));
  ::close(writer);
  EXPECT_EQ(Slurp(file), "whole");
  EXPECT_EQ(Slurp(temp), "being written");
}

// A private file (the settings, with their passwords) is created for its owner whatever the
// umask, for the group too where the folder hands down a group other than the writer's.
TEST_F(PosixFileSystemTest, PrivateFilesAreCreatedForTheOwnerWhateverTheUmask) {
  struct Case {
    const char* name;
    bool append;
    bool group_folder;  // set-group-ID folder of another group
    mode_t expected;
  } cases[] = {
      {"replaced", false, false, 0600},
      {"appended", true, false, 0600},
      {"replaced in a group folder", false, true, 0640},
      {"appended in a group folder", true, true, 0640},
  };
  for (mode_t umask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    for (const auto& c : cases) {
      TempDir dir;
      if (c.group_folder) {
        if (::geteuid() != 0) continue;  // only root may give a folder to another group
        ASSERT_EQ(::chown(dir.path().c_str(), 0, 65534), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 02770), 0);
      }
      const std::string file = dir.path() + "TEMPWARDEN.XML";
      std::unique_ptr<FileSystem> files = NewSystemFileSystem();
      files->MarkPrivate(file);
      const mode_t old = ::umask(umask);
      EXPECT_TRUE(files->WriteFile(file, "<XML>\r\n", c.append)) << c.name;
      ::umask(old);
      struct stat st {};
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.expected) << c.name << " umask " << umask;
      // Further lines keep it; a file of another name is a shared data file.
      EXPECT_TRUE(files->WriteFile(file, "</XML>\r\n", true));
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.expected) << c.name;
      ::umask(022);
      EXPECT_TRUE(files->WriteFile(dir.path() + "UPS-Temp.txt", "1", c.append));
      ::umask(old);
      ASSERT_EQ(::stat((dir.path() + "UPS-Temp.txt").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0644u) << c.name;
    }
  }
}

TEST_F(PosixFileSystemTest, RootRefusesAFolderAnotherUserOwnsOrEveryoneMayWrite) {
  EXPECT_EQ(files_->WhyNotWriteIn(dir_), "");
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    EXPECT_EQ(files_->WhyNotWriteIn(dir_), "");  // only root is at risk
    return;
  }
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  EXPECT_EQ(files_->WhyNotWriteIn(dir_),
            "Refusing to run as root in \"" + dir_ +
                "\", which every user may write: links planted there could make root "
                "overwrite files it should not. Make the folder writable by root alone.");
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chown(dir_.c_str(), 65534, 65534), 0);
  const std::string text = files_->WhyNotWriteIn(dir_);
  EXPECT_EQ(
      text.rfind("Refusing to run as root in \"" + dir_ + "\", which belongs to the user \"", 0),
      0u)
      << text;
  EXPECT_NE(text.find("Run the program as that user (runuser -u "), std::string::npos) << text;
  ASSERT_EQ(::chown(dir_.c_str(), 0, 0), 0);
}

// A literal name is looked up directly when it exists as written, and otherwise found by the
// listing, which ignores letter case as the Windows search does.
// The head of a file: the real file system stops reading at the limit, the base class (which
// the fakes use) cuts what it read; both keep the same contract.
TEST_F(PosixFileSystemTest, ReadFileHeadKeepsAtMostTheLimit) {
  struct Case {
    size_t file_size;
    size_t limit;
    bool larger;
  } cases[] = {{0, 10, false},          {10, 10, false},        {11, 10, true},
               {200000, 65536, true},   {65536, 65536, false},  {65537, 65536, true},
               {200000, 200000, false}, {200001, 200000, true}, {5, 0, true}};
  class WholeReads : public FileSystem {  // only ReadFile of its own: the base class cuts
   public:
    explicit WholeReads(FileSystem* base) : base_(base) {}
    bool WriteFile(const std::string& p, const std::string& d, bool a) override {
      return base_->WriteFile(p, d, a);
    }
    bool ReadFile(const std::string& p, std::string* d, std::string* e) override {
      return base_->ReadFile(p, d, e);
    }
    bool IsPlainFile(const std::string& p) override { return base_->IsPlainFile(p); }
    std::vector<std::string> FindFiles(const std::string& p) override {
      return base_->FindFiles(p);
    }
    bool RemoveFile(const std::string& p) override { return base_->RemoveFile(p); }
    bool SetWorkingDirectory(const std::string& d) override {
      return base_->SetWorkingDirectory(d);
    }
    const char* PathDelimiters() const override { return base_->PathDelimiters(); }
    char PathSeparator() const override { return base_->PathSeparator(); }

   private:
    FileSystem* base_;
  } whole(files_.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.file_size) + " bytes, limit " + std::to_string(c.limit));
    std::string content(c.file_size, 'x');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
    const std::string path = Path("TEMPWARDEN.XML");
    ASSERT_TRUE(files_->WriteFile(path, content, false));
    for (FileSystem* fs : {files_.get(), static_cast<FileSystem*>(&whole)}) {
      std::string data = "stale", error;
      bool larger = !c.larger;
      ASSERT_TRUE(fs->ReadFileHead(path, c.limit, &data, &larger, &error)) << error;
      EXPECT_EQ(larger, c.larger);
      EXPECT_EQ(data, content.substr(0, c.limit));
    }
  }
  std::string data, error;
  bool larger = false;
  EXPECT_FALSE(files_->ReadFileHead(Path("missing.xml"), 10, &data, &larger, &error));
  EXPECT_EQ(error.rfind("Cannot open file", 0), 0u) << error;
}

TEST(PosixFindFilesTest, ALiteralName) {
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
