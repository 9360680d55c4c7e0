// The systemd credentials on the machine's own files: the drop-in that loads them, the
// credential the service manager hands over, and systemd-creds run with the secret on its
// standard input only (a stand-in on PATH records what it was given; the real one is used in
// tests/credentials_boot_test.sh, in a booted container).
#include "platform/secret_store_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/secret_store.h"

namespace tw {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class SecretStorePosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tw-secrets-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::mkdir((dir_ + "/bin").c_str(), 0755);
    ::mkdir((dir_ + "/units").c_str(), 0755);
    ::mkdir((dir_ + "/creds").c_str(), 0755);
    // The stand-in: its arguments, one a line, and its standard input, each into a file.
    Spit(dir_ + "/bin/systemd-creds",
         "#!/bin/sh\nprintf '%s\\n' \"$@\" >" + dir_ + "/args\ncat >" + dir_ +
             "/stdin\nfor last; do :; done\n[ \"$last\" = - ] || echo sealed >\"$last\"\n");
    ::chmod((dir_ + "/bin/systemd-creds").c_str(), 0755);
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    ::setenv("PATH", (dir_ + "/bin:" + saved_path_).c_str(), 1);
    ::setenv("TEMPWARDEN_UNIT_DIR", (dir_ + "/units").c_str(), 1);
    ::setenv("TEMPWARDEN_CREDSTORE_DIR", (dir_ + "/store").c_str(), 1);
    ::setenv("TEMPWARDEN_CREDS_KEY", "host", 1);
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    ::unsetenv("TEMPWARDEN_UNIT_DIR");
    ::unsetenv("TEMPWARDEN_CREDSTORE_DIR");
    ::unsetenv("TEMPWARDEN_CREDS_KEY");
    ::unsetenv("CREDENTIALS_DIRECTORY");
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string dir_;
  std::string saved_path_;
};

TEST_F(SecretStorePosixTest, StoreWritesTheCredentialAndTheDropInRemoveTakesThemAway) {
  std::unique_ptr<SecretStore> store = NewSystemSecretStore();
  ASSERT_EQ(store->kind(), SecretStore::Kind::kCredentials);
  const tCredentialSlot smtp{"smtp-password", "tempwarden-lab.smtp-password", "tempwarden@lab"};
  const tCredentialSlot snmp{"snmp-auth-password", "tempwarden-lab.snmp-auth-password",
                             "tempwarden@lab"};
  std::string where, error;
  ASSERT_TRUE(store->Store(smtp, "Top$ecret 1", &where, &error)) << error;
  const std::string file = dir_ + "/store/tempwarden-lab.smtp-password";
  const std::string drop_in = dir_ + "/units/tempwarden@lab.service.d/tempwarden-credentials.conf";
  EXPECT_EQ(where, file + " (loaded by " + drop_in + ")");
  EXPECT_EQ(Slurp(dir_ + "/args"),
            "encrypt\n--name=smtp-password\n--with-key=host\n-\n" + file + "\n");
  EXPECT_EQ(Slurp(dir_ + "/stdin"), "Top$ecret 1");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(store->Store(snmp, "authpass1", &where, &error)) << error;
  const std::string store_dir = dir_ + "/store/";
  EXPECT_EQ(Slurp(drop_in), CredentialDropInText(store_dir, "tempwarden-lab.",
                                                 {"smtp-password", "snmp-auth-password"}));
  EXPECT_NE(Slurp(drop_in).find("[Service]\nLoadCredentialEncrypted=smtp-password:" + file +
                                "\nLoadCredentialEncrypted=snmp-auth-password:" + store_dir +
                                "tempwarden-lab.snmp-auth-password\n"),
            std::string::npos);
  // Storing again replaces the line rather than adding one.
  ASSERT_TRUE(store->Store(smtp, "newer", &where, &error)) << error;
  EXPECT_EQ(CredentialIdsOfDropIn(Slurp(drop_in)),
            (std::vector<std::string>{"snmp-auth-password", "smtp-password"}));

  bool found = false;
  ASSERT_TRUE(store->Remove(smtp, &found, &where, &error)) << error;
  EXPECT_TRUE(found);
  EXPECT_NE(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(CredentialIdsOfDropIn(Slurp(drop_in)), std::vector<std::string>{"snmp-auth-password"});
  ASSERT_TRUE(store->Remove(snmp, &found, &where, &error)) << error;
  // No credential left: no drop-in, so the unit alone starts the service.
  EXPECT_NE(::stat(drop_in.c_str(), &st), 0);
  EXPECT_NE(::stat((dir_ + "/units/tempwarden@lab.service.d").c_str(), &st), 0);
  ASSERT_TRUE(store->Remove(snmp, &found, &where, &error)) << error;
  EXPECT_FALSE(found);
}

TEST_F(SecretStorePosixTest, HandedCredentialsAndNoSealing) {
  std::unique_ptr<SecretStore> store = NewSystemSecretStore();
  std::string value;
  EXPECT_FALSE(store->Handed("smtp-password", &value));
  ::setenv("CREDENTIALS_DIRECTORY", (dir_ + "/creds").c_str(), 1);
  EXPECT_FALSE(store->Handed("smtp-password", &value));
  Spit(dir_ + "/creds/smtp-password", "pa ss\n");  // as `echo` leaves it
  ASSERT_TRUE(store->Handed("smtp-password", &value));
  EXPECT_EQ(value, "pa ss");
  Spit(dir_ + "/creds/webhook-token", "tok");
  ASSERT_TRUE(store->Handed("webhook-token", &value));
  EXPECT_EQ(value, "tok");
  std::string sealed, error;
  EXPECT_FALSE(store->Seal("x", "SMTPPassword", &sealed, &error));
  EXPECT_FALSE(store->Unseal("AQID", "SMTPPassword", &value));
}

}  // namespace
}  // namespace tw
