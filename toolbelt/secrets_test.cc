// The secret keys: where each value comes from, what the start says about them, and the edit
// of the settings file that leaves every other byte as it was.
#include "toolbelt/secrets.h"

#include <gtest/gtest.h>

#include "platform/fake_secret_store.h"
#include "toolbelt/config.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";

// The activity-log entries with `code`, in order.
std::vector<std::string> Entries(const FakeEnv& env, const std::string& code) {
  std::vector<std::string> out;
  const std::string mark = "," + code + ",\"";
  for (const auto& f : env.files.files()) {
    if (f.first.find("/APC-") == std::string::npos) continue;
    for (size_t at = 0; (at = f.second.find(mark, at)) != std::string::npos;) {
      const size_t end = f.second.find("\"\r\n", at);
      out.push_back(f.second.substr(at + mark.size(), end - at - mark.size()));
      at = end;
    }
  }
  return out;
}

TEST(SecretKeysTest, KeysInAnyCaseAndTheirCredentialFiles) {
  ASSERT_NE(FindSecretKey("smtppassword"), nullptr);
  EXPECT_STREQ(FindSecretKey("smtppassword")->Key, "SMTPPassword");
  EXPECT_STREQ(FindSecretKey("SNMPPRIVPASSWORD")->Id, "snmp-priv-password");
  EXPECT_STREQ(FindSecretKey("WebhookToken")->Id, "webhook-token");
  EXPECT_STREQ(FindSecretKey("oauthclientsecret")->Id, "oauth-client-secret");
  EXPECT_EQ(FindSecretKey("SMTPUser"), nullptr);
  EXPECT_EQ(FindSecretKey("SMTPPasswor"), nullptr);
  EXPECT_EQ(FindSecretKey(""), nullptr);
  EXPECT_EQ(CredentialNameOf("", "smtp-password"), "tempwarden.smtp-password");
  EXPECT_EQ(CredentialNameOf("lab", "smtp-password"), "tempwarden-lab.smtp-password");
}

TEST(SecretResolutionTest, CredentialThenSealedThenClear) {
  struct Case {
    const char* name;
    std::string file_value;  // SMTPPassword in the file
    const char* handed;      // $CREDENTIALS_DIRECTORY/smtp-password, or null
    const char* stored;      // the stored credential, or null
    bool read_stored;        // a command from a prompt
    std::string want;
    bool clear_named;
    bool unsealable_named;
  } cases[] = {
      {"clear as before", "s3cret", nullptr, nullptr, false, "s3cret", true, false},
      {"empty", "", nullptr, nullptr, false, "", false, false},
      {"handed wins over the file", "old", "fromsystemd", nullptr, false, "fromsystemd", true,
       false},
      {"handed with an empty file value", "", "fromsystemd", nullptr, false, "fromsystemd", false,
       false},
      {"sealed for this key", "dpapi:SEALED(SMTPPassword)terces", nullptr, nullptr, false, "secret",
       false, false},
      {"sealed across lines", "dpapi:\r\n  SEALED(SMTPPassword)terces\r\n", nullptr, nullptr, false,
       "secret", false, false},
      {"sealed for another key", "dpapi:SEALED(SNMPAuthPassword)terces", nullptr, nullptr, false,
       "", false, true},
      {"damaged", "dpapi:garbage", nullptr, nullptr, false, "", false, true},
      {"stored, read by a command", "", nullptr, "stored1", true, "stored1", false, false},
      {"stored, not read by the service", "", nullptr, "stored1", false, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    FakeSecretStore store;
    env.ctx.env.secrets = &store;
    if (c.handed != nullptr) store.handed["smtp-password"] = c.handed;
    if (c.stored != nullptr) store.stored["tempwarden.smtp-password"] = c.stored;
    env.files.Put(kPath,
                  "<XML>\r\n<SMTPRelay>relay</SMTPRelay>\r\n<EmailFromAddr>a@b</EmailFromAddr>"
                  "\r\n<SMTPPassword>" +
                      c.file_value + "</SMTPPassword>\r\n</XML>\r\n");
    tConfigReadSite site;
    site.ReadStoredSecrets = c.read_stored;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    EXPECT_EQ(config.SMTPPassword, c.want);
    const std::vector<std::string> clear = Entries(env, "50210");
    const std::vector<std::string> unsealable = Entries(env, "40200");
    if (c.clear_named) {
      ASSERT_EQ(clear.size(), 1u);
      EXPECT_EQ(clear[0],
                "[Function=toolbelt.ReadConfig][Msg=Secrets in clear in the settings file]"
                "[Keys=SMTPPassword][Protect=tempwarden /protect KEY]");
    } else {
      EXPECT_TRUE(clear.empty());
    }
    if (c.unsealable_named) {
      ASSERT_EQ(unsealable.size(), 1u);
      EXPECT_EQ(unsealable[0],
                "[Function=toolbelt.ReadConfig][Msg=Protected value does not open on this "
                "machine][Key=SMTPPassword][Used=empty]");
    } else {
      EXPECT_TRUE(unsealable.empty());
    }
    // Whatever its origin, the secret itself is in no file.
    if (!c.want.empty()) {
      for (const auto& f : env.files.files()) {
        if (f.first == kPath) continue;
        EXPECT_EQ(f.second.find(c.want), std::string::npos) << f.first;
      }
    }
  }
}

TEST(SecretResolutionTest, AllKeysInClearAreNamedOnceTogether) {
  FakeEnv env;
  FakeSecretStore store;
  env.ctx.env.secrets = &store;
  store.handed["snmp-priv-password"] = "privpass1";
  env.files.Put(kPath,
                "<XML><SMTPPassword>a1</SMTPPassword><SNMPAuthPassword>b12345678</SNMPAuthPassword>"
                "<SNMPPrivPassword>c1</SNMPPrivPassword><OAuthClientSecret>d1</OAuthClientSecret>"
                "</XML>");
  tConfigReadSite site;
  const tServiceConfig config = ReadStartConfig(env.ctx, site);
  EXPECT_EQ(config.SNMPPrivPassword, "privpass1");
  EXPECT_EQ(config.OAuthClientSecret, "d1");
  const std::vector<std::string> clear = Entries(env, "50210");
  ASSERT_EQ(clear.size(), 1u);
  EXPECT_NE(
      clear[0].find("[Keys=SMTPPassword OAuthClientSecret SNMPAuthPassword SNMPPrivPassword]"),
      std::string::npos)
      << clear[0];
  // No store at all (a test, a tool): clear values as always, sealed ones count as empty.
  FakeEnv bare;
  bare.files.Put(kPath, "<XML><SMTPPassword>dpapi:AAAA</SMTPPassword></XML>");
  tConfigReadSite bare_site;
  EXPECT_EQ(ReadStartConfig(bare.ctx, bare_site).SMTPPassword, "");
  EXPECT_EQ(bare_site.UnsealableSecrets, std::vector<std::string>{"SMTPPassword"});
}

TEST(ReplaceSettingsValueTest, EverythingButTheValueStaysByteForByte) {
  const struct {
    const char* name;
    std::string bytes;
    std::string value;
    bool add;
    bool ok;
    std::string want;
  } cases[] = {
      {"clear value taken out", "<XML>\r\n  <SMTPPassword>pw</SMTPPassword>\r\n</XML>\r\n", "",
       false, true, "<XML>\r\n  <SMTPPassword></SMTPPassword>\r\n</XML>\r\n"},
      {"only the first pair", "<SMTPPassword>a</SMTPPassword><SMTPPassword>b</SMTPPassword>", "x",
       false, true, "<SMTPPassword>x</SMTPPassword><SMTPPassword>b</SMTPPassword>"},
      {"UTF-8 mark kept", "\xEF\xBB\xBF<XML><SMTPPassword>\xC3\xA9</SMTPPassword></XML>", "", false,
       true, "\xEF\xBB\xBF<XML><SMTPPassword></SMTPPassword></XML>"},
      {"missing, not added", "<XML>\n</XML>\n", "v", false, true, "<XML>\n</XML>\n"},
      {"missing, added before </XML>", "<XML>\r\n  <UPSHost>u</UPSHost>\r\n</XML>\r\n",
       "dpapi:AQ==", true, true,
       "<XML>\r\n  <UPSHost>u</UPSHost>\r\n  <SMTPPassword>dpapi:AQ==</SMTPPassword>\r\n"
       "</XML>\r\n"},
      {"missing, no root element", "<UPSHost>u</UPSHost>", "v", true, true,
       "<UPSHost>u</UPSHost>  <SMTPPassword>v</SMTPPassword>\r\n"},
      {"closing tag before the opening", "</SMTPPassword><SMTPPassword>pw", "", false, false, ""},
      {"UTF-16", std::string("\xFF\xFE<\0X\0", 6), "", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "untouched";
    EXPECT_EQ(ReplaceSettingsValue(c.bytes, "SMTPPassword", c.value, c.add, &out), c.ok);
    EXPECT_EQ(out, c.ok ? c.want : "untouched");
  }
}

}  // namespace
}  // namespace tw
