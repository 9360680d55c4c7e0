// A forwarding file system that plays another program holding a file open (a spreadsheet that
// opened a history CSV): while a name is locked, every write to it fails; reads and all other
// files go through to the wrapped file system.
#ifndef TEMPWARDEN_SOAK_LOCKING_FILES_H_
#define TEMPWARDEN_SOAK_LOCKING_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tw {

class LockingFileSystem : public FileSystem {
 public:
  explicit LockingFileSystem(FileSystem& base) : base_(base) {}

  // Locks the file whose name (without directory, letter case ignored) is `name`; empty
  // unlocks.
  void Lock(const std::string& name) { locked_ = name; }
  const std::string& locked() const { return locked_; }
  uint64_t refused_writes() const { return refused_; }

  bool WriteFile(const std::string& path, const std::string& data, bool append) override;
  bool ReadFile(const std::string& path, std::string* data, std::string* error) override {
    return base_.ReadFile(path, data, error);
  }
  bool IsPlainFile(const std::string& path) override { return base_.IsPlainFile(path); }
  std::vector<std::string> FindFiles(const std::string& pattern) override {
    return base_.FindFiles(pattern);
  }
  bool RemoveFile(const std::string& path) override;
  bool SetWorkingDirectory(const std::string& dir) override {
    return base_.SetWorkingDirectory(dir);
  }
  void MarkPrivate(const std::string& path) override { base_.MarkPrivate(path); }
  std::string WhyNotWriteIn(const std::string& dir) override { return base_.WhyNotWriteIn(dir); }
  const char* PathDelimiters() const override { return base_.PathDelimiters(); }
  char PathSeparator() const override { return base_.PathSeparator(); }

 private:
  bool IsLocked(const std::string& path) const;

  FileSystem& base_;
  std::string locked_;
  uint64_t refused_ = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_LOCKING_FILES_H_
