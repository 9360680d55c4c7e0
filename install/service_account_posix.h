// The system account the Linux service runs under, and the directory it owns.
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

// Gives `dir` and the files directly in it to the account, except `keep`, the program itself,
// which stays with its owner so that the service cannot rewrite its own code.
bool GiveDirectoryTo(const std::string& dir, const std::string& keep, uid_t uid, gid_t gid,
                     std::string* error_text);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_SERVICE_ACCOUNT_POSIX_H_
