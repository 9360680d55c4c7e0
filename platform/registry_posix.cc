#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/registry.h"
#include "platform/systemd_posix.h"

namespace tw {
namespace {

// A key is the file "<unit dir>/<last component of the path>.key" holding "Name=Value" lines.
class FileRegistryKey : public RegistryKey {
 public:
  explicit FileRegistryKey(std::string file) : file_(std::move(file)) {}

  bool WriteString(const std::string& name, const std::string& value,
                   std::string* error_text) override {
    std::vector<std::string> lines;
    {
      std::ifstream in(file_);
      std::string line;
      while (std::getline(in, line)) {
        if (line.compare(0, name.size() + 1, name + "=") != 0) lines.push_back(line);
      }
    }
    // One line per value: line breaks inside the value would start a new value.
    std::string flat = value;
    for (char& c : flat) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    lines.push_back(name + "=" + flat);
    std::ostringstream text;
    for (const auto& l : lines) text << l << '\n';
    const std::string data = text.str();
    const int fd = ::open(file_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      *error_text = std::strerror(errno);
      return false;
    }
    const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    const int saved = errno;
    ::close(fd);
    if (!ok) *error_text = std::strerror(saved);
    return ok;
  }

 private:
  std::string file_;
};

class FileRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) override {
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return nullptr;
    const std::string file = UnitDirectory() + name + ".key";
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::make_unique<FileRegistryKey>(file);
  }
};

}  // namespace

std::unique_ptr<Registry> NewSystemRegistry() { return std::make_unique<FileRegistry>(); }

}  // namespace tw
