#include "soak/locking_files.h"

#include <cctype>

namespace tw {

bool LockingFileSystem::IsLocked(const std::string& path) const {
  if (locked_.empty()) return false;
  const size_t cut = path.find_last_of(inner().PathDelimiters());
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (name.size() != locked_.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) !=
        std::tolower(static_cast<unsigned char>(locked_[i]))) {
      return false;
    }
  }
  return true;
}

bool LockingFileSystem::WriteFile(const std::string& path, const std::string& data, bool append) {
  if (IsLocked(path)) {
    ++refused_;
    return false;
  }
  return ForwardingFileSystem::WriteFile(path, data, append);
}

bool LockingFileSystem::RemoveFile(const std::string& path) {
  if (IsLocked(path)) {
    ++refused_;
    return false;
  }
  return ForwardingFileSystem::RemoveFile(path);
}

}  // namespace tw
