#include "toolbelt/xml_param.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

// A file system whose reads fail, as for a file another program holds locked.
class LockedFiles : public ForwardingFileSystem {
 public:
  explicit LockedFiles(FileSystem* base) : ForwardingFileSystem(*base) {}
  bool ReadFile(const std::string& path, std::string*, std::string* error) override {
    *error = "Cannot open file \"" + path + "\". Permission denied";
    return false;
  }
  bool ReadFileHead(const std::string& path, size_t, std::string* data, bool*,
                    std::string* error) override {
    return ReadFile(path, data, error);
  }
};

TEST(FileToStrTest, WholeFileByteForByte) {
  FakeEnv env;
  const std::string bytes("line 1\r\nline\t2\0\xff\r\n", 18);
  env.files.Put("/opt/tempwarden/data.bin", bytes);
  std::string result = "previous";
  FileToStr(env.ctx, "data.bin", result);
  EXPECT_EQ(result, bytes);

  env.files.Put("/opt/tempwarden/empty.txt", "");
  FileToStr(env.ctx, "empty.txt", result);
  EXPECT_EQ(result, "");
}

TEST(FileToStrTest, MissingFileLeavesResultAndLockedFileEmptiesIt) {
  FakeEnv env;
  std::string result = "as it came";
  FileToStr(env.ctx, "missing.txt", result);
  EXPECT_EQ(result, "as it came");

  env.files.AddDirectory("/opt/tempwarden/sub");
  FileToStr(env.ctx, "sub", result);  // a directory is no file
  EXPECT_EQ(result, "as it came");

  env.files.Put("/opt/tempwarden/held.txt", "content");
  LockedFiles locked(&env.files);
  env.ctx.env.files = &locked;
  FileToStr(env.ctx, "held.txt", result);
  EXPECT_EQ(result, "");
}

// Each case: file contents, key, then what the read gives starting from Value "keep".
struct ParamCase {
  const char* name;
  std::string file;
  const char* key;
  bool found;
  std::string value;
};

TEST(GetParamFromXMLFileTest, PlainTextSearch) {
  const ParamCase cases[] = {
      {"simple", "<XML><A>x</A></XML>", "A", true, "x"},
      {"empty value", "<A></A>", "A", true, ""},
      {"blanks kept", "<A>  300 </A>", "A", true, "  300 "},
      {"spread over lines", "<A>\r\n30\r\n</A>", "A", true, "\r\n30\r\n"},
      {"closing tag only before the opening tag", "</A> junk <A>tail\r\n", "A", true, "tail\r\n"},
      {"closing tag before and after", "</A><A>v</A>", "A", true, "v"},
      {"first pair wins", "<A>1</A>\r\n<A>2</A>", "A", true, "1"},
      {"tags inside comments do not count", "<!-- <A>c</A> --><A>d</A>", "A", true, "d"},
      {"other case", "<upshost>h</upshost>", "UPSHost", false, "keep"},
      {"opening tag only", "<A>open", "A", false, "keep"},
      {"closing tag only", "x</A>", "A", false, "keep"},
      {"prefix of another key", "<AB>1</AB>", "A", false, "keep"},
      {"longer key holds this one", "<A>outer<AB>1</AB></A>", "AB", true, "1"},
      {"empty file", "", "A", false, "keep"},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    env.files.Put("/opt/tempwarden/TEMPWARDEN.XML", c.file);
    tXMLParam param{"keep", !c.found};
    GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", c.key, param);
    EXPECT_EQ(param.Found, c.found);
    EXPECT_EQ(param.Value, c.value);
  }
}

TEST(GetParamFromXMLFileTest, FileMustBeInTheExecutablesDirectory) {
  FakeEnv env;
  tXMLParam param{"keep", true};
  GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "A", param);
  EXPECT_FALSE(param.Found);
  EXPECT_EQ(param.Value, "keep");

  // In the working directory but not where ExePath points (the working directory could not
  // be set): not found.
  env.files.Put("/opt/tempwarden/TEMPWARDEN.XML", "<A>1</A>");
  env.ctx.settings.ExePath = "Error - /opt/tempwarden/";
  GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "A", param);
  EXPECT_FALSE(param.Found);
  EXPECT_EQ(param.Value, "keep");
}

TEST(GetParamFromXMLFileTest, UnreadableFileIsNotFound) {
  FakeEnv env;
  env.files.Put("/opt/tempwarden/TEMPWARDEN.XML", "<A>1</A>");
  LockedFiles locked(&env.files);
  env.ctx.env.files = &locked;
  tXMLParam param{"keep", true};
  GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "A", param);
  EXPECT_FALSE(param.Found);
  EXPECT_EQ(param.Value, "keep");
}

TEST(GetParamFromXMLFileTest, RealFiles) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::unique_ptr<FileSystem> files = NewSystemFileSystem();
  FakeEnv env;
  env.ctx.env.files = files.get();
  env.ctx.settings.ExePath = dir.path();
  const std::filesystem::path previous = std::filesystem::current_path();
  ASSERT_TRUE(files->SetWorkingDirectory(dir.path()));
  ASSERT_TRUE(files->WriteFile(dir.path() + "TEMPWARDEN.XML",
                               "<XML>\r\n  <UPSHost>10.1.2.3</UPSHost>\r\n</XML>\r\n", false));
  tXMLParam param;
  GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "UPSHost", param);
  EXPECT_TRUE(param.Found);
  EXPECT_EQ(param.Value, "10.1.2.3");
  GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "upshost", param);
  EXPECT_FALSE(param.Found);
  EXPECT_EQ(param.Value, "10.1.2.3");
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace tw
