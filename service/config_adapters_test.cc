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

}  // namespace
}  // namespace tw
