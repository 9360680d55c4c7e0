#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "platform/file_system.h"
#include "platform/proc_posix.h"

namespace tw {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Mode of a file this program creates: readable by all, like any data file, unless it is
// private (see FileSystem::MarkPrivate).
constexpr mode_t kSharedMode = 0644;

// A private file gets an explicit mode, so that no umask widens or narrows it: the owner alone,
// or the owner and the group where the folder handed its group down (set-group-ID folder).
void MakePrivate(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  ::fchmod(fd, st.st_gid != ::getegid() ? 0640 : 0600);
}

// The permissions a file created with kSharedMode gets under the process's umask, read once
// (the program never changes its umask while it runs), or -1 where the kernel does not show the
// umask without changing it (before Linux 4.7): then every replacement sets the old file's mode.
int CreatedSharedMode() {
  std::string value;
  if (!ReadProcField("/proc/self/status", "Umask:", &value)) return -1;
  char* end = nullptr;
  const unsigned long umask = std::strtoul(value.c_str(), &end, 8);
  if (end == value.c_str() || umask > 0777) return -1;
  return static_cast<int>(kSharedMode & ~static_cast<mode_t>(umask));
}

class PosixFileSystem : public FileSystem {
 private:
  bool Private(const std::string& path) const { return private_.count(path) > 0; }

  // Opens an existing file for appending, or creates it; never through a symbolic link.
  int OpenForAppend(const std::string& path) const {
    for (int attempt = 0; attempt < 2; ++attempt) {
      int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0 || errno != ENOENT) return fd;
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  kSharedMode);
      if (fd >= 0) {
        if (Private(path)) MakePrivate(fd);
        return fd;
      }
      if (errno != EEXIST) return -1;  // else created by another writer meanwhile: open that
    }
    return -1;
  }

  bool Append(const std::string& path, const std::string& data) const {
    const int fd = OpenForAppend(path);
    if (fd < 0) return false;
    // Windows opens the file for exclusive writing; an advisory lock gives writers that play
    // by the same rule (this program) the same refusal.
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) ok = WriteAll(fd, data.data(), data.size());
    if (::close(fd) != 0) ok = false;
    return ok;
  }

  // Creates the temporary file of a replacement, always as a new file, so that nothing placed
  // under its name beforehand (a link to a file of root's) receives the content. A plain file
  // left by a crash, which no writer holds, and a symbolic link are removed and the creation
  // tried once more; anything else under the name (a directory, a file being written) fails.
  static int CreateTemporary(const std::string& temp) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const int fd =
          ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kSharedMode);
      if (fd >= 0 || errno != EEXIST) return fd;
      struct stat st {};
      if (::lstat(temp.c_str(), &st) != 0) continue;  // gone meanwhile
      if (S_ISREG(st.st_mode)) {
        const int left = ::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (left < 0) return -1;
        const bool stale = ::flock(left, LOCK_EX | LOCK_NB) == 0;
        const bool removed = stale && ::unlink(temp.c_str()) == 0;
        ::close(left);
        if (!removed) return -1;
      } else if (!S_ISLNK(st.st_mode) || ::unlink(temp.c_str()) != 0) {
        return -1;
      }
    }
    errno = EEXIST;
    return -1;
  }

  // The new content goes to a file beside the old one that is renamed over it: a reader opens
  // either the old file or the new one, never a half-written page, and a write that fails
  // (disk full, read-only directory) leaves the old file as it was. No fsync: what matters is
  // that no reader sees a part, and ext4 and XFS flush a file replaced by rename before the
  // rename itself reaches the disk.
  bool Replace(const std::string& path, const std::string& data) const {
    const std::string temp = path + kReplacementSuffix;
    const int fd = CreateTemporary(temp);
    if (fd < 0) return false;
    // The lock on the temporary file tells a second writer of the same file that this one is
    // not a leftover; one held on the old file by an appending writer of this program refuses
    // the replacement, as Windows refuses to replace a file that another program is writing.
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) ok = WriteAll(fd, data.data(), data.size());
    int old_fd = -1;
    if (ok) {
      // A link in the old file's place is not followed: the rename replaces the link itself.
      old_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
      if (old_fd >= 0) {
        struct stat st {};
        ok = ::flock(old_fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(old_fd, &st) == 0 &&
             S_ISREG(st.st_mode);
        // The new file keeps the permissions an administrator gave the old one (most often the
        // ones it was created with, which need no call).
        const int mode = static_cast<int>(st.st_mode & 07777);
        // So do its owner and group where this process may give them (root editing the
        // package's root:tempwarden settings file must not take it from the service's group);
        // before the mode, which a change of owner may clear bits of.
        if (ok && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0) {
          // Not root: the file becomes this user's, as it always did.
        }
        if (ok && mode != created_mode_) ::fchmod(fd, static_cast<mode_t>(mode));
      } else {
        ok = errno == ENOENT || errno == ELOOP;
        if (ok && Private(path)) MakePrivate(fd);
      }
    }
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (old_fd >= 0) ::close(old_fd);
    if (!ok) ::unlink(temp.c_str());
    return ok;
  }

  std::set<std::string> private_;
  const int created_mode_ = CreatedSharedMode();

 public:
  bool WriteFile(const std::string& path, const std::string& data, bool append) override {
    return append ? Append(path, data) : Replace(path, data);
  }

  bool ReadFile(const std::string& path, std::string* data, std::string* error) override {
    // The whole file is its head with no limit below the largest size (the head read asks for one
    // byte beyond its limit).
    bool larger = false;
    return ReadFileHead(path, std::numeric_limits<size_t>::max() - 1, data, &larger, error);
  }

  bool ReadFileHead(const std::string& path, size_t limit, std::string* data, bool* larger,
                    std::string* error) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = std::string("Cannot open file \"") + path + "\". " + std::strerror(errno);
      return false;
    }
    data->clear();
    *larger = false;
    char buffer[65536];
    for (;;) {
      // One byte beyond the limit tells a larger file from one of exactly `limit` bytes.
      const size_t want = std::min(sizeof buffer, limit + 1 - data->size());
      const ssize_t n = ::read(fd, buffer, want);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = std::string("Read error. ") + std::strerror(errno);
        ::close(fd);
        return false;
      }
      if (n == 0) break;
      data->append(buffer, static_cast<size_t>(n));
      if (data->size() > limit) {
        *larger = true;
        data->resize(limit);
        break;
      }
    }
    ::close(fd);
    return true;
  }

  bool IsPlainFile(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::vector<std::string> FindFiles(const std::string& pattern) override {
    std::vector<std::string> names;
    const size_t slash = pattern.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    const std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (mask.empty()) return names;
    // A name without wildcards that exists as written is found without listing the directory,
    // whose length grows by a few files every day the service runs.
    struct stat st {};
    if (mask.find_first_of("*?") == std::string::npos && mask != "." && mask != ".." &&
        ::stat(pattern.c_str(), &st) == 0) {
      names.push_back(mask);
      return names;
    }
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* entry = ::readdir(d)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (WildcardMatch(mask, name)) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  bool RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  void MarkPrivate(const std::string& path) override { private_.insert(path); }

  std::string WhyNotWriteIn(const std::string& dir) override {
    if (::geteuid() != 0) return "";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return "";  // a missing folder is reported where used
    if (st.st_uid == 0 && (st.st_mode & S_IWOTH) == 0) return "";
    std::string owner = std::to_string(st.st_uid);
    if (const passwd* pw = ::getpwuid(st.st_uid)) owner = pw->pw_name;
    if (st.st_uid == 0) {
      return "Refusing to run as root in \"" + dir +
             "\", which every user may write: links planted there could make root overwrite "
             "files it should not. Make the folder writable by root alone.";
    }
    return "Refusing to run as root in \"" + dir + "\", which belongs to the user \"" + owner +
           "\": links planted there could make root overwrite files it should not. Run the "
           "program as that user (runuser -u " +
           owner + " -- ...) or give the folder to root.";
  }

  bool SetWorkingDirectory(const std::string& dir) override { return ::chdir(dir.c_str()) == 0; }

  const char* PathDelimiters() const override { return "/"; }
  char PathSeparator() const override { return '/'; }
};

}  // namespace

std::unique_ptr<FileSystem> NewSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace tw
