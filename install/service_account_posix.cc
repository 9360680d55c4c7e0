#include "install/service_account_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tw {
namespace {

bool Lookup(const std::string& user, uid_t* uid, gid_t* gid) {
  const passwd* pw = ::getpwnam(user.c_str());
  if (pw == nullptr) return false;
  *uid = pw->pw_uid;
  *gid = pw->pw_gid;
  return true;
}

// Runs a program with arguments, without a shell; its exit code, or -1 when it cannot start.
int RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FirstExisting(std::initializer_list<const char*> paths) {
  for (const char* p : paths) {
    if (::access(p, X_OK) == 0) return p;
  }
  return std::string();
}

}  // namespace

bool EnsureServiceAccount(const std::string& user, const std::string& home, uid_t* uid, gid_t* gid,
                          std::string* error_text) {
  if (Lookup(user, uid, gid)) return true;
  const std::string useradd = FirstExisting({"/usr/sbin/useradd", "/sbin/useradd"});
  if (useradd.empty()) {
    *error_text = "The user \"" + user + "\" is missing and useradd was not found";
    return false;
  }
  const std::string nologin = FirstExisting({"/usr/sbin/nologin", "/sbin/nologin"});
  const int rc = RunProgram(
      {useradd, "--system", "--user-group", "--home-dir", home, "--no-create-home", "--shell",
       nologin.empty() ? "/bin/false" : nologin, "--comment", "Tempwarden service", user});
  if (rc != 0 || !Lookup(user, uid, gid)) {
    *error_text = "The user \"" + user + "\" could not be created (useradd exit code " +
                  std::to_string(rc) + ")";
    return false;
  }
  return true;
}

bool GiveDirectoryTo(const std::string& dir, const std::string& keep, uid_t uid, gid_t gid,
                     std::string* error_text) {
  auto fail = [&](const std::string& path) {
    *error_text = path + ": " + std::strerror(errno);
    return false;
  };
  if (::chown(dir.c_str(), uid, gid) != 0) return fail(dir);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return fail(dir);
  struct stat keep_st {};
  const bool have_keep = ::stat(keep.c_str(), &keep_st) == 0;
  bool ok = true;
  while (const dirent* e = ::readdir(d)) {
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    if (have_keep && st.st_dev == keep_st.st_dev && st.st_ino == keep_st.st_ino) continue;
    if (::fchownat(::dirfd(d), e->d_name, uid, gid, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = fail(dir + "/" + e->d_name);
      break;
    }
  }
  ::closedir(d);
  return ok;
}

}  // namespace tw
