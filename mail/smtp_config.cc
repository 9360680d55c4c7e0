#include "mail/smtp_config.h"

namespace tw {

std::string PathBesideProgram(const std::string& path, const std::string& exe_path) {
  if (path.empty()) return path;
  const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
  return absolute ? path : exe_path + path;
}

tSmtpAccount SmtpAccountFromConfig(const tServiceConfig& config, const std::string& exe_path) {
  tSmtpAccount account;
  account.User = config.SMTPUser;
  account.Password = config.SMTPPassword;
  account.Security = config.SMTPSecurity == "starttls" ? SmtpSecurity::kStartTls
                     : config.SMTPSecurity == "tls"    ? SmtpSecurity::kTls
                                                       : SmtpSecurity::kNone;
  account.TLSVerify = config.SMTPTLSVerify;
  account.CAFile = PathBesideProgram(config.SMTPCAFile, exe_path);
  return account;
}

}  // namespace tw
