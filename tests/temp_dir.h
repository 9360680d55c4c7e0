// A fresh directory under the system's temporary folder, removed with everything in it.
#ifndef TEMPWARDEN_TESTS_TEMP_DIR_H_
#define TEMPWARDEN_TESTS_TEMP_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tw {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tw-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl + "/";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // With its trailing "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_TEMP_DIR_H_
