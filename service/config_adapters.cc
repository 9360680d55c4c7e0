#include "service/config_adapters.h"

namespace tw {

tSNMPSettings SnmpSettingsOf(const tServiceConfig& config) {
  tSNMPSettings settings;
  settings.Version = config.SNMPVersion;
  settings.User = config.SNMPUser;
  settings.AuthProtocol = config.SNMPAuthProtocol;
  settings.AuthPassword = config.SNMPAuthPassword;
  settings.PrivProtocol = config.SNMPPrivProtocol;
  settings.PrivPassword = config.SNMPPrivPassword;
  settings.Context = config.SNMPContext;
  return settings;
}

std::string PathBesideProgram(const std::string& path, const std::string& exe_path) {
  if (path.empty()) return path;
  const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
  return absolute ? path : exe_path + path;
}

tSmtpAccount SmtpAccountFromConfig(const tServiceConfig& config, const std::string& exe_path) {
  tSmtpAccount account;
  account.User = config.SMTPUser;
  account.Password = config.SMTPPassword;
  account.Security = config.SMTPSecurity == "none"       ? SmtpSecurity::kNone
                     : config.SMTPSecurity == "starttls" ? SmtpSecurity::kStartTls
                     : config.SMTPSecurity == "tls"      ? SmtpSecurity::kTls
                                                         : SmtpSecurity::kInvalid;
  account.Auth = config.SMTPAuth == "plain"     ? SmtpAuth::kPlain
                 : config.SMTPAuth == "login"   ? SmtpAuth::kLogin
                 : config.SMTPAuth == "xoauth2" ? SmtpAuth::kXOAuth2
                                                : SmtpAuth::kAuto;
  account.TLSVerify = config.SMTPTLSVerify;
  account.CAFile = PathBesideProgram(config.SMTPCAFile, exe_path);
  account.OAuth.TokenURL = config.OAuthTokenURL;
  account.OAuth.ClientID = config.OAuthClientID;
  account.OAuth.ClientSecret = config.OAuthClientSecret;
  if (!config.OAuthScope.empty()) account.OAuth.Scope = config.OAuthScope;
  account.OAuth.CAFile = account.CAFile;
  return account;
}

}  // namespace tw
