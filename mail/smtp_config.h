// The mail delivery's settings from TEMPWARDEN.XML: the account and the transport security.
#ifndef TEMPWARDEN_MAIL_SMTP_CONFIG_H_
#define TEMPWARDEN_MAIL_SMTP_CONFIG_H_

#include <string>

#include "mail/smtp.h"
#include "toolbelt/config.h"

namespace tw {

// "SMTPUser", "SMTPPassword", "SMTPSecurity", "SMTPTLSVerify" and "SMTPCAFile" as SendMail
// takes them; a relative "SMTPCAFile" is taken from `exe_path` (the program's directory, with
// its trailing separator).
tSmtpAccount SmtpAccountFromConfig(const tServiceConfig& config, const std::string& exe_path);

// `path` as it stands when absolute ("/etc/ca.pem", "C:\ca.pem", "\\server\ca.pem"),
// otherwise `exe_path` + `path`; empty stays empty.
std::string PathBesideProgram(const std::string& path, const std::string& exe_path);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_CONFIG_H_
