#include "install/service_account_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

std::string ProgramFolderRisk(const std::string& exe) {
  const std::string folder = exe.substr(0, std::max<size_t>(exe.rfind('/'), 1));
  for (const std::string& path : {exe, folder}) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
    std::string who;
    if (st.st_uid != 0) {
      const passwd* pw = ::getpwuid(st.st_uid);
      who = "belongs to \"" +
            (pw != nullptr ? std::string(pw->pw_name) : std::to_string(st.st_uid)) + "\"";
    } else if ((st.st_mode & S_IWOTH) != 0) {
      who = "may be written by every user";
    } else if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0) {
      who = "may be written by its group";
    }
    if (!who.empty()) {
      return "The program's " + std::string(path == exe ? "file" : "folder") + " \"" + path +
             "\" " + who +
             ": the service's account could replace the program that root runs. Put the "
             "program in a folder that only root may write (such as /usr/local/sbin)";
    }
  }
  return "";
}

}  // namespace tw
