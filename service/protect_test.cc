// "/protect": the secret goes to the store, out of the settings file, and nowhere else.
#include "service/protect.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/fake_secret_store.h"
#include "toolbelt/config.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";
constexpr char kSecret[] = "Rel4y-Pass!word";
const std::string kBefore =
    "<XML>\r\n  <!-- relay -->\r\n  <SMTPRelay>mail.example</SMTPRelay>\r\n"
    "  <SMTPUser>ups</SMTPUser>\r\n  <SMTPPassword>old-clear</SMTPPassword>\r\n</XML>\r\n";

void ExpectSecretNowhere(const FakeEnv& env, const std::string& printed) {
  for (const auto& f : env.files.files()) {
    EXPECT_EQ(f.second.find(kSecret), std::string::npos) << f.first;
  }
  EXPECT_EQ(printed.find(kSecret), std::string::npos) << printed;
}

TEST(ProtectTest, LinuxStoresACredentialAndTakesTheClearValueOut) {
  struct Case {
    const char* instance;
    const char* name;
    const char* unit;
  } cases[] = {
      {"", "tempwarden.smtp-password", "tempwarden"},
      {"lab", "tempwarden-lab.smtp-password", "tempwarden@lab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    FakeSecretStore store;
    env.ctx.env.secrets = &store;
    env.ctx.layout.Instance = c.instance;
    env.files.Put(kPath, kBefore);
    std::ostringstream out;
    EXPECT_EQ(ProtectCommand(env.ctx, "smtppassword", false, kSecret, out), 0);
    EXPECT_EQ(store.stored[c.name], kSecret);
    EXPECT_EQ(store.units[c.name], c.unit);
    std::string after = kBefore;
    after.replace(after.find("old-clear"), 9, "");
    EXPECT_EQ(env.files.Get(kPath), after);
    EXPECT_EQ(out.str(), std::string("SMTPPassword stored in /store/") + c.name +
                             "\nIts value was taken out of " + kPath +
                             "\nThe service uses it from its next start.\n");
    ExpectSecretNowhere(env, out.str());

    // The service then takes it from the service manager.
    store.handed["smtp-password"] = kSecret;
    tConfigReadSite site;
    EXPECT_EQ(ReadStartConfig(env.ctx, site).SMTPPassword, kSecret);
    EXPECT_TRUE(site.ClearSecrets.empty());

    std::ostringstream removed;
    EXPECT_EQ(ProtectCommand(env.ctx, "SMTPPASSWORD", true, "", removed), 0);
    EXPECT_EQ(store.stored.count(c.name), 0u);
    EXPECT_EQ(removed.str(), std::string("SMTPPassword: deleted /store/") + c.name + "\n");
    std::ostringstream again;
    EXPECT_EQ(ProtectCommand(env.ctx, "SMTPPassword", true, "", again), 0);
    EXPECT_EQ(again.str(), "SMTPPassword: nothing was stored\n");
  }
}

TEST(ProtectTest, WindowsSealsTheValueIntoTheSettingsFile) {
  FakeEnv env;
  FakeSecretStore store(SecretStore::Kind::kSettingsValue);
  env.ctx.env.secrets = &store;
  env.files.Put(kPath, kBefore);
  std::ostringstream out;
  EXPECT_EQ(ProtectCommand(env.ctx, "SMTPPassword", false, kSecret, out), 0);
  std::string after = kBefore;
  after.replace(after.find("old-clear"), 9, "dpapi:SEALED(SMTPPassword)drow!ssaP-y4leR");
  EXPECT_EQ(env.files.Get(kPath), after);
  EXPECT_EQ(out.str(), std::string("SMTPPassword stored in ") + kPath +
                           " as a DPAPI value (machine scope)\n"
                           "The service uses it from its next start.\n");
  ExpectSecretNowhere(env, out.str());
  tConfigReadSite site;
  EXPECT_EQ(ReadStartConfig(env.ctx, site).SMTPPassword, kSecret);

  // A key the file does not have yet goes in before </XML>.
  EXPECT_EQ(ProtectCommand(env.ctx, "snmpauthpassword", false, "authpass1", out), 0);
  EXPECT_NE(env.files.Get(kPath).find(
                "  <SNMPAuthPassword>dpapi:SEALED(SNMPAuthPassword)1ssaphtua</SNMPAuthPassword>"
                "\r\n</XML>\r\n"),
            std::string::npos);

  // --remove empties the sealed value only.
  std::ostringstream removed;
  EXPECT_EQ(ProtectCommand(env.ctx, "SMTPPassword", true, "", removed), 0);
  EXPECT_NE(env.files.Get(kPath).find("<SMTPPassword></SMTPPassword>"), std::string::npos);
  EXPECT_EQ(removed.str(), std::string("SMTPPassword: deleted ") + kPath + "\n");
}

TEST(ProtectTest, RefusalsTouchNothing) {
  struct Case {
    const char* name;
    const char* key;
    std::string value;
    std::string refuse;
    int status;
    std::string printed;
  } cases[] = {
      {"no secret key", "SMTPUser", kSecret, "", 2,
       "\"SMTPUser\" is no secret key; these are: SMTPPassword, SNMPAuthPassword, "
       "SNMPPrivPassword, OAuthClientSecret, WebhookToken\n"},
      {"empty secret", "SMTPPassword", "", "", 1,
       "SMTPPassword: the secret is empty; to delete a stored one, use --remove\n"},
      {"store fails", "SMTPPassword", kSecret, "systemd-creds encrypt failed: no key", 1,
       "SMTPPassword: systemd-creds encrypt failed: no key\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    FakeSecretStore store;
    store.refuse = c.refuse;
    env.ctx.env.secrets = &store;
    env.files.Put(kPath, kBefore);
    std::ostringstream out;
    EXPECT_EQ(ProtectCommand(env.ctx, c.key, false, c.value, out), c.status);
    EXPECT_EQ(out.str(), c.printed);
    EXPECT_EQ(env.files.Get(kPath), kBefore);
    EXPECT_TRUE(store.stored.empty());
  }
}

}  // namespace
}  // namespace tw
