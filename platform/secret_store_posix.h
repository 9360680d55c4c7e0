// Where the Linux secret store keeps the credentials and the drop-in that loads them.
#ifndef TEMPWARDEN_PLATFORM_SECRET_STORE_POSIX_H_
#define TEMPWARDEN_PLATFORM_SECRET_STORE_POSIX_H_

#include <string>
#include <vector>

namespace tw {

// The drop-in beside each unit that loads its credentials.
constexpr char kCredentialDropInName[] = "tempwarden-credentials.conf";

// /etc/credstore.encrypted/, systemd's own place for encrypted credentials, with its trailing
// "/"; TEMPWARDEN_CREDSTORE_DIR redirects it (tests never touch /etc).
std::string CredentialStoreDirectory();

// The drop-in's text: one LoadCredentialEncrypted= line per id, the file being `store_dir` +
// `prefix` + id. Written only while a credential is stored: on systemd 252 a line whose file
// is missing makes the start fail.
std::string CredentialDropInText(const std::string& store_dir, const std::string& prefix,
                                 const std::vector<std::string>& ids);

// The ids of the LoadCredentialEncrypted= lines of a drop-in's text, in order.
std::vector<std::string> CredentialIdsOfDropIn(const std::string& text);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SECRET_STORE_POSIX_H_
