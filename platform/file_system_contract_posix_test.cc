// The real file system in a temporary directory and the in-memory one, held to one contract.
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/fake_env.h"
#include "platform/file_system.h"
#include "tests/file_system_contract.h"
#include "tests/temp_dir.h"

namespace tw {
namespace {

// The working directory is the process's: put it back for the next test.
class RealFiles {
 public:
  RealFiles() : cwd_(std::filesystem::current_path()) {}
  ~RealFiles() {
    std::error_code ec;
    std::filesystem::current_path(cwd_, ec);
  }
  FileSystem& files() { return *files_; }
  std::string root() const { return temp_.path(); }
  void MakeDirectory(const std::string& path) { std::filesystem::create_directory(path); }

 private:
  const std::filesystem::path cwd_;
  TempDir temp_;
  std::unique_ptr<FileSystem> files_ = NewSystemFileSystem();
};

class MemFiles {
 public:
  MemFiles() { files_.AddDirectory("/srv"); }
  FileSystem& files() { return files_; }
  std::string root() const { return "/srv/"; }
  void MakeDirectory(const std::string& path) { files_.AddDirectory(path); }

 private:
  MemFileSystem files_;
};

using FileSystems = ::testing::Types<RealFiles, MemFiles>;
INSTANTIATE_TYPED_TEST_SUITE_P(FileSystemContract, FileSystemContract, FileSystems);

}  // namespace
}  // namespace tw
