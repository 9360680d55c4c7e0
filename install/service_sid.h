// The security identifier Windows gives a service ("NT SERVICE\<name>"): S-1-5-80 followed by
// the SHA-1 digest of the service name, upper-cased and in UTF-16LE, read as five little-endian
// 32-bit sub-authorities. The service manager derives it the same way, so the installer can
// grant rights to a service's virtual account before Windows has ever run the service, and
// where the name cannot be looked up (Wine knows no such accounts).
#ifndef TEMPWARDEN_INSTALL_SERVICE_SID_H_
#define TEMPWARDEN_INSTALL_SERVICE_SID_H_

#include <string>

#include "platform/crypto.h"

namespace tw {

// The service SID in its string form ("S-1-5-80-..."); empty when the name is not plain ASCII
// (this program's service names never are otherwise) or the platform's SHA-1 failed.
std::string ServiceSidOf(Crypto& crypto, const std::string& service_name);

// The access list of a data folder in SDDL: protected (nothing inherited from above), SYSTEM
// and Administrators full control, `sid` (when not empty) "Modify" (read, write, execute and
// delete, but neither change the list nor take ownership); folders and files created inside
// inherit every entry.
std::string DataFolderSddl(const std::string& sid);

// The account a service runs under as its own virtual account: "NT SERVICE\" + name.
std::string VirtualAccountOf(const std::string& service_name);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_SERVICE_SID_H_
