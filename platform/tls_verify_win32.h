// The server certificate check of the Schannel TLS (platform/tls_win32.cc). Schannel is told
// to leave the check to the caller (SCH_CRED_MANUAL_CRED_VALIDATION): Wine's Schannel does not
// check the server's certificate at all, and only a check of our own can trust a company CA
// from "SMTPCAFile" without installing it into the machine's root store.
#ifndef TEMPWARDEN_PLATFORM_TLS_VERIFY_WIN32_H_
#define TEMPWARDEN_PLATFORM_TLS_VERIFY_WIN32_H_

// <wincrypt.h> needs <windows.h> first.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <string>

namespace tw {

// True when `cert` (with the intermediates the server sent in its store) chains up to a root
// the system trusts, or to one of the CA certificates of the PEM file `ca_file` (empty: none),
// and carries `host`. Otherwise false with the reason in `reason`.
bool VerifyServerCertificate(PCCERT_CONTEXT cert, const std::string& host,
                             const std::string& ca_file, std::string* reason);

// The certificate's subject, "CN=relay.example.com, O=Example".
std::string CertificateSubject(PCCERT_CONTEXT cert);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_TLS_VERIFY_WIN32_H_
