// The file-system seam: whole-file writes, reads, directory search with wildcards, deletion and
// the working directory. Every file the service touches is opened and closed within one call.
#ifndef TEMPWARDEN_PLATFORM_FILE_SYSTEM_H_
#define TEMPWARDEN_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tw {

// The name a replacement is written under before it takes the place of the old file. It is
// always created new; a plain file of this name left by a crash (and not being written) or a
// symbolic link planted under it is removed first, anything else makes the replacement fail.
constexpr char kReplacementSuffix[] = ".tw-new";

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // With `append`, opens `path` (creating it when missing), appends `data`, flushes and closes
  // it; others may go on reading and writing the file meanwhile where the platform lets
  // them, but no second writer of this program appends at the same time.
  // Without `append`, replaces the file as a whole: `data` goes to `path` + kReplacementSuffix,
  // which is then renamed over `path`. A reader sees the old content or the new, never a part;
  // on failure the old file stays as it was and the temporary file is removed. The replacement
  // fails while another writer holds the old file.
  // Neither way follows a symbolic link at `path` (POSIX: O_NOFOLLOW): an append to a link
  // fails, a replacement puts a plain file in the link's place.
  // Returns false on any failure; every file is closed on that path too.
  virtual bool WriteFile(const std::string& path, const std::string& data, bool append) = 0;

  // Files created at `path` from now on (by either way of WriteFile) are for the owner alone,
  // whatever the process's umask: POSIX mode 0600, or 0640 where the folder hands its group
  // down (set-group-ID folder) so that the service's group may read what root wrote. For the
  // settings file, which holds passwords. A file that exists keeps its permissions. Windows:
  // nothing to do, the data folder's access list is inherited.
  virtual void MarkPrivate(const std::string& /*path*/) {}

  // Files created at `path` from now on are readable by every account (POSIX mode 0644),
  // whatever the process's umask: for a file that another service reads under its own
  // account, such as the metrics file a Prometheus exporter collects. A file that exists keeps
  // its permissions. Windows: nothing to do, the folder's access list is inherited.
  virtual void MarkReadableByAll(const std::string& /*path*/) {}

  // Empty when this process may write in `dir` without risk; otherwise why not: on POSIX, a
  // process running as root in a folder that another user owns, where that user could plant
  // links that make root overwrite files it should not.
  virtual std::string WhyNotWriteIn(const std::string& /*dir*/) { return ""; }

  // Reads the whole file while others may read and write it. False when it cannot be opened
  // or read; `error` then says why.
  virtual bool ReadFile(const std::string& path, std::string* data, std::string* error) = 0;

  // As ReadFile, but keeps at most `limit` bytes, the head of the file; `*larger` tells
  // whether the file holds more. The system file systems stop reading there, so that a huge
  // file costs no memory; this default (for fakes and wrappers) reads the whole file first.
  virtual bool ReadFileHead(const std::string& path, size_t limit, std::string* data, bool* larger,
                            std::string* error);

  // True when `path` names an existing plain file (not a directory).
  virtual bool IsPlainFile(const std::string& path) = 0;

  // Names (without directory) of the entries matching `pattern`, a path whose last component
  // may hold the wildcards "*" and "?". Files and directories alike, hidden ones included;
  // "." and ".." are never listed. Matching ignores letter case, as it does on Windows.
  virtual std::vector<std::string> FindFiles(const std::string& pattern) = 0;

  // Deletes a plain file. False when it could not be deleted.
  virtual bool RemoveFile(const std::string& path) = 0;

  // Makes `dir` the process's working directory. False when it cannot.
  virtual bool SetWorkingDirectory(const std::string& dir) = 0;

  // Characters that separate directories in a path on this platform, and the one to write.
  virtual const char* PathDelimiters() const = 0;
  virtual char PathSeparator() const = 0;
};

// Forwards every call to another file system, which must outlive it. A wrapper that plays a
// fault (a locked file, a full disk) derives from it and overrides only what it breaks.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}

  bool WriteFile(const std::string& path, const std::string& data, bool append) override {
    return inner_.WriteFile(path, data, append);
  }
  bool ReadFile(const std::string& path, std::string* data, std::string* error) override {
    return inner_.ReadFile(path, data, error);
  }
  bool ReadFileHead(const std::string& path, size_t limit, std::string* data, bool* larger,
                    std::string* error) override {
    return inner_.ReadFileHead(path, limit, data, larger, error);
  }
  bool IsPlainFile(const std::string& path) override { return inner_.IsPlainFile(path); }
  std::vector<std::string> FindFiles(const std::string& pattern) override {
    return inner_.FindFiles(pattern);
  }
  bool RemoveFile(const std::string& path) override { return inner_.RemoveFile(path); }
  void MarkPrivate(const std::string& path) override { inner_.MarkPrivate(path); }
  void MarkReadableByAll(const std::string& path) override { inner_.MarkReadableByAll(path); }
  std::string WhyNotWriteIn(const std::string& dir) override { return inner_.WhyNotWriteIn(dir); }
  bool SetWorkingDirectory(const std::string& dir) override {
    return inner_.SetWorkingDirectory(dir);
  }
  const char* PathDelimiters() const override { return inner_.PathDelimiters(); }
  char PathSeparator() const override { return inner_.PathSeparator(); }

 protected:
  FileSystem& inner() const { return inner_; }

 private:
  FileSystem& inner_;
};

std::unique_ptr<FileSystem> NewSystemFileSystem();

// Case-insensitive wildcard match of a file name against "*" and "?" (as the Windows file
// search does it for long names). Shared by the real and the test file systems.
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FILE_SYSTEM_H_
