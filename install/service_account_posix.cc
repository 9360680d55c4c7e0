#include "install/service_account_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "install/posix_acl.h"

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

std::string OwnerName(uid_t uid) {
  const passwd* pw = ::getpwuid(uid);
  return pw != nullptr ? std::string(pw->pw_name) : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* gr = ::getgrgid(gid);
  return gr != nullptr ? std::string(gr->gr_name) : std::to_string(gid);
}

// Who besides root, `user` and `group` may write `path` (stat `st`) by its mode or its access
// list; empty when nobody. With `sticky_closes`, a folder with the sticky bit counts as closed:
// there only an entry's owner may rename or delete it (and every entry on the program's path
// is root's).
std::string OtherWriters(const std::string& path, const struct stat& st, uid_t user, gid_t group,
                         bool sticky_closes) {
  if (sticky_closes && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) return "";
  if ((st.st_mode & S_IWOTH) != 0) return "may be written by every user";
  if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0 && st.st_gid != group) {
    return "may be written by its group \"" + GroupName(st.st_gid) + "\"";
  }
  char buffer[4096];
  const ssize_t n = ::lgetxattr(path.c_str(), kAclAccessAttribute, buffer, sizeof buffer);
  if (n < 0) {
    if (errno == ENODATA || errno == ENOTSUP) return "";
    return "has an access list that cannot be read (" + std::string(std::strerror(errno)) + ")";
  }
  const AclWriteGrant grant =
      FindAclWriteGrant(std::string_view(buffer, static_cast<size_t>(n)), user, group);
  switch (grant.kind) {
    case AclWrite::kNone:
      return "";
    case AclWrite::kUser:
      return "may be written by the user \"" + OwnerName(grant.id) + "\" (access list)";
    case AclWrite::kGroup:
      return "may be written by the group \"" + GroupName(grant.id) + "\" (access list)";
    case AclWrite::kMalformed:
      break;
  }
  return "has an access list that cannot be read";
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

bool CreateDataDirectory(const std::string& dir, uid_t uid, gid_t gid, std::string* error_text) {
  if (dir.empty() || dir.front() != '/') {
    *error_text = "The data directory \"" + dir + "\" is not absolute";
    return false;
  }
  // Each component in turn, so that only the ones made here are given to the account.
  for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
    const std::string part = dir.substr(0, end);
    if (!part.empty() && part.back() != '/') {
      if (::mkdir(part.c_str(), 0750) == 0) {
        if (::chown(part.c_str(), uid, gid) != 0 || ::chmod(part.c_str(), 0750) != 0) {
          *error_text = part + ": " + std::strerror(errno);
          return false;
        }
      } else if (errno != EEXIST) {
        *error_text = part + ": " + std::strerror(errno);
        return false;
      }
    }
    if (end == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error_text = "The data directory \"" + dir + "\" is not a directory";
    return false;
  }
  return true;
}

bool ResolveDataDirectory(const std::string& dir, const std::string& user, std::string* resolved,
                          bool* exists, std::string* error_text) {
  if (dir.empty() || dir.front() != '/') {
    *error_text = "The data directory \"" + dir + "\" is not absolute";
    return false;
  }
  // The part that exists, resolved; the rest is made by CreateDataDirectory, component by
  // component, and may not climb back up.
  std::string existing = dir;
  std::string rest;
  struct stat st {};
  while (::stat(existing.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      *error_text = existing + ": " + std::strerror(errno);
      return false;
    }
    const size_t slash = existing.rfind('/');
    const std::string name = existing.substr(slash + 1);
    if (name == "." || name == "..") {
      *error_text = "The data directory \"" + dir + "\" climbs through a folder that is missing";
      return false;
    }
    if (!name.empty()) rest = "/" + name + rest;
    existing = slash == 0 ? "/" : existing.substr(0, slash);
  }
  char* real = ::realpath(existing.c_str(), nullptr);
  if (real == nullptr) {
    *error_text = existing + ": " + std::strerror(errno);
    return false;
  }
  *resolved = std::string(real) == "/" && !rest.empty() ? rest : std::string(real) + rest;
  std::free(real);
  *exists = rest.empty();
  if (!*exists) return true;
  if (::lstat(resolved->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error_text = "The data directory \"" + dir + "\" is not a directory";
    return false;
  }
  uid_t uid = 0;
  gid_t gid = 0;
  const bool account = Lookup(user, &uid, &gid);
  std::string who;
  if (st.st_uid != 0 && !(account && st.st_uid == uid)) {
    who = "belongs to \"" + OwnerName(st.st_uid) + "\"";
  } else {
    who = OtherWriters(*resolved, st, account ? uid : 0, account ? gid : 0, false);
  }
  if (!who.empty()) {
    *error_text = "The data directory \"" + *resolved + "\" " + who +
                  ": the service would share it with another program or user. Choose a folder "
                  "of root's or of the user \"" +
                  user + "\", or a new one";
    return false;
  }
  return true;
}

std::string ProgramFolderRisk(const std::string& exe) {
  // The program, its folder and every folder above it up to "/": whoever may change any of
  // them may put another program where root will run this one.
  const std::string folder = exe.substr(0, std::max<size_t>(exe.rfind('/'), 1));
  std::string path = exe;
  for (;;) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
    std::string who;
    if (st.st_uid != 0) {
      who = "belongs to \"" + OwnerName(st.st_uid) + "\"";
    } else if (S_ISLNK(st.st_mode)) {
      who = "is a symbolic link";
    } else {
      who = OtherWriters(path, st, 0, 0, path != exe);
    }
    if (!who.empty()) {
      const char* what = path == exe      ? "The program's file"
                         : path == folder ? "The program's folder"
                                          : "The folder";
      return std::string(what) + " \"" + path + "\" " + who +
             ": the service's account could replace the program that root runs. Put the "
             "program in a folder that only root may write (such as /usr/local/sbin)";
    }
    if (path == "/") return "";
    const size_t slash = path.rfind('/');
    path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
  }
}

}  // namespace tw
