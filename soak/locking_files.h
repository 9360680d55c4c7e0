// A forwarding file system that plays another program holding a file open (a spreadsheet that
// opened a history CSV): while a name is locked, every write to it fails; reads and all other
// files go through to the wrapped file system.
#ifndef TEMPWARDEN_SOAK_LOCKING_FILES_H_
#define TEMPWARDEN_SOAK_LOCKING_FILES_H_

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace tw {

class LockingFileSystem : public ForwardingFileSystem {
 public:
  explicit LockingFileSystem(FileSystem& base) : ForwardingFileSystem(base) {}

  // Locks the file whose name (without directory, letter case ignored) is `name`; empty
  // unlocks.
  void Lock(const std::string& name) { locked_ = name; }
  const std::string& locked() const { return locked_; }
  uint64_t refused_writes() const { return refused_; }

  bool WriteFile(const std::string& path, const std::string& data, bool append) override;
  bool RemoveFile(const std::string& path) override;

 private:
  bool IsLocked(const std::string& path) const;

  std::string locked_;
  uint64_t refused_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_LOCKING_FILES_H_
