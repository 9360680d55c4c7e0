// The system account the Linux service runs under, its data directory, and the program's
// folder that it must not be able to write.
#ifndef TEMPWARDEN_INSTALL_SERVICE_ACCOUNT_POSIX_H_
#define TEMPWARDEN_INSTALL_SERVICE_ACCOUNT_POSIX_H_

#include <sys/types.h>

#include <string>

namespace tw {

// Looks the account up and, when it is missing, creates it as a system account with a group
// of the same name, `home` as its home (not created) and no login shell, with the
// distribution's useradd. False with a reason when it can be neither found nor created.
bool EnsureServiceAccount(const std::string& user, const std::string& home, uid_t* uid, gid_t* gid,
                          std::string* error_text);

// Creates the data directory `dir` and whichever of its parents are missing, each for the
// account (owner uid:gid, mode 0750). A directory that exists keeps its owner and mode: this
// never changes the owner of anything it did not create. False with a reason on failure.
bool CreateDataDirectory(const std::string& dir, uid_t uid, gid_t gid, std::string* error_text);

// The data directory `dir` as the unit is to name it, in `resolved`: with every link resolved
// (systemd and the service then open the folder that was checked here). When it exists
// (`*exists`), it must be a folder that only root and the account `user` (when that account
// exists) own and may write, by mode and access list: the service must not receive another
// program's data. A missing one is resolved as far as it exists. False with a reason.
bool ResolveDataDirectory(const std::string& dir, const std::string& user, std::string* resolved,
                          bool* exists, std::string* error_text);

// Empty when only root may change the program `exe`, the folder that holds it and every folder
// above it (owner root, no write for group or others by mode or access list; a folder with the
// sticky bit is closed enough, its entry on the path being root's); otherwise why the
// service's account (or anybody but root) could replace the program there.
std::string ProgramFolderRisk(const std::string& exe);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_SERVICE_ACCOUNT_POSIX_H_
