// The adapters from the settings of TEMPWARDEN.XML to what the protocols take: the SNMP
// session's security settings and the mail delivery's account and transport security.
#ifndef TEMPWARDEN_SERVICE_CONFIG_ADAPTERS_H_
#define TEMPWARDEN_SERVICE_CONFIG_ADAPTERS_H_

#include <string>

#include "mail/smtp.h"
#include "snmp/session.h"
#include "toolbelt/config.h"

namespace tw {

// The SNMP settings of the configuration.
tSNMPSettings SnmpSettingsOf(const tServiceConfig& config);

// "SMTPUser", "SMTPPassword", "SMTPAuth", "SMTPSecurity", "SMTPTLSVerify" and "SMTPCAFile" as
// SendMail takes them; a relative "SMTPCAFile" is taken from `exe_path` (the program's
// directory, with its trailing separator). "OAuthTokenURL", "OAuthClientID",
// "OAuthClientSecret" and "OAuthScope" (empty: kDefaultOAuthScope) go to OAuth with
// "SMTPCAFile"; "SMTPTLSVerify" is the relay's alone (the token endpoint is always checked).
tSmtpAccount SmtpAccountFromConfig(const tServiceConfig& config, const std::string& exe_path);

// `path` as it stands when absolute ("/etc/ca.pem", "C:\ca.pem", "\\server\ca.pem"),
// otherwise `exe_path` + `path`; empty stays empty.
std::string PathBesideProgram(const std::string& path, const std::string& exe_path);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_CONFIG_ADAPTERS_H_
