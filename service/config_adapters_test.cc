// The mail delivery's settings, from the file's text to what SendMail takes.
#include "service/config_adapters.h"

#include <gtest/gtest.h>

#include "toolbelt/fake_context.h"

namespace tw {
namespace {

TEST(SmtpConfigTest, SecuritySettingsFromTheFile) {
  const struct {
    const char* body;
    SmtpSecurity security;
    bool verify;
    const char* ca_file;
  } cases[] = {
      {"", SmtpSecurity::kNone, true, ""},
      {"<SMTPSecurity>none</SMTPSecurity>", SmtpSecurity::kNone, true, ""},
      {"<SMTPSecurity>starttls</SMTPSecurity>", SmtpSecurity::kStartTls, true, ""},
      {"<SMTPSecurity> STARTTLS\r\n</SMTPSecurity>", SmtpSecurity::kStartTls, true, ""},
      {"<SMTPSecurity>tls</SMTPSecurity>", SmtpSecurity::kTls, true, ""},
      // An unknown word fails closed: the delivery refuses it (-623).
      {"<SMTPSecurity>ssl</SMTPSecurity>", SmtpSecurity::kInvalid, true, ""},
      {"<SMTPSecurity>start-tls</SMTPSecurity>", SmtpSecurity::kInvalid, true, ""},
      {"<SMTPTLSVerify>0</SMTPTLSVerify>", SmtpSecurity::kNone, false, ""},
      {"<SMTPTLSVerify>1</SMTPTLSVerify>", SmtpSecurity::kNone, true, ""},
      // Only a clear 0 turns the check off.
      {"<SMTPTLSVerify>no</SMTPTLSVerify>", SmtpSecurity::kNone, true, ""},
      {"<SMTPTLSVerify></SMTPTLSVerify>", SmtpSecurity::kNone, true, ""},
      {"<SMTPCAFile>company-ca.pem</SMTPCAFile>", SmtpSecurity::kNone, true,
       "/opt/tempwarden/company-ca.pem"},
      {"<SMTPCAFile>certs/ca.pem</SMTPCAFile>", SmtpSecurity::kNone, true,
       "/opt/tempwarden/certs/ca.pem"},
      {"<SMTPCAFile>/etc/ssl/company.pem</SMTPCAFile>", SmtpSecurity::kNone, true,
       "/etc/ssl/company.pem"},
      {"<SMTPCAFile>C:\\certs\\ca.pem</SMTPCAFile>", SmtpSecurity::kNone, true,
       "C:\\certs\\ca.pem"},
      {"<SMTPCAFile>\\\\server\\certs\\ca.pem</SMTPCAFile>", SmtpSecurity::kNone, true,
       "\\\\server\\certs\\ca.pem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    FakeEnv env;
    env.files.Put("/opt/tempwarden/TEMPWARDEN.XML",
                  std::string("<XML>\r\n<SMTPUser>u</SMTPUser><SMTPPassword>p</SMTPPassword>") +
                      c.body + "</XML>\r\n");
    tConfigReadSite site;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    const tSmtpAccount account = SmtpAccountFromConfig(config, env.ctx.settings.ExePath);
    EXPECT_EQ(account.User, "u");
    EXPECT_EQ(account.Password, "p");
    EXPECT_EQ(account.Security, c.security);
    EXPECT_EQ(account.TLSVerify, c.verify);
    EXPECT_EQ(account.CAFile, c.ca_file);
  }
}

TEST(SmtpAccountFromConfigTest, OAuthClientCredentials) {
  const struct {
    const char* body;
    const char* scope;
  } cases[] = {
      {"", kDefaultOAuthScope},
      {"<OAuthScope>https://mail.example/.default</OAuthScope>", "https://mail.example/.default"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    FakeEnv env;
    env.files.Put("/opt/tempwarden/TEMPWARDEN.XML",
                  std::string("<XML>\r\n<OAuthTokenURL>https://login.idp.test/t/token"
                              "</OAuthTokenURL><OAuthClientID>app-1</OAuthClientID>"
                              "<OAuthClientSecret> s~3 </OAuthClientSecret>"
                              "<SMTPTLSVerify>0</SMTPTLSVerify><SMTPCAFile>ca.pem</SMTPCAFile>") +
                      c.body + "</XML>\r\n");
    tConfigReadSite site;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    const tOAuthSettings oauth = SmtpAccountFromConfig(config, env.ctx.settings.ExePath).OAuth;
    EXPECT_EQ(oauth.TokenURL, "https://login.idp.test/t/token");
    EXPECT_EQ(oauth.ClientID, "app-1");
    EXPECT_EQ(oauth.ClientSecret, " s~3 ");  // as written, like the password
    EXPECT_EQ(oauth.Scope, c.scope);
    EXPECT_EQ(oauth.CAFile, "/opt/tempwarden/ca.pem");
  }
}

}  // namespace
}  // namespace tw
