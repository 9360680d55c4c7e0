// Versions 2c and 3 against Debian's snmpd: users for every security level (SHA/AES,
// SHA-256/AES, MD5 without privacy, no authentication) and a v2c community, the refusals a
// real agent sends, and a restart of the agent (its boots go up) in the middle of a run.
// snmpd runs inside the test's private network namespace and is stopped by its PID.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/crypto.h"
#include "platform/network.h"
#include "snmp/session.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/snmpd_process.h"
#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/field_text.h"

namespace tw {
namespace {

std::string InLog(std::string text) {
  for (char& c : text) {
    if (c == '"') c = '\'';
  }
  return text;
}

class SnmpdV3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InPrivateNetwork()) GTEST_SKIP() << "needs a private network namespace";
    if (access(kSnmpd, X_OK) != 0) GTEST_SKIP() << "Debian's snmpd is not installed";
    dir_ = temp_.path();
    ASSERT_TRUE(
        PrepareUpsAgent(dir_,
                        "agentAddress udp:127.0.0.1:161\n"
                        "rocommunity public 127.0.0.1\n"
                        "createUser shaaes SHA sha-auth-pass AES sha-priv-pass\n"
                        "createUser sha256aes SHA-256 sha256-auth-pass AES sha256-priv-pass\n"
                        "createUser md5auth MD5 md5-auth-pass\n"
                        "createUser shades SHA shades-auth-pass DES shades-priv-pass\n"
                        "createUser sha224aes192 SHA-224 sha224-auth-pass AES-192 "
                        "sha224-priv-pass\n"
                        "createUser sha384aes256 SHA-384 sha384-auth-pass AES-256 "
                        "sha384-priv-pass\n"
                        "createUser sha512aes256 SHA-512 sha512-auth-pass AES-256 "
                        "sha512-priv-pass\n"
                        "createUser md5aes256 MD5 md5aes-auth-pass AES-256 md5aes-priv-pass\n"
                        "rouser shades priv\n"
                        "rouser sha224aes192 priv\n"
                        "rouser sha384aes256 priv\n"
                        "rouser sha512aes256 priv\n"
                        "rouser md5aes256 priv\n"
                        "createUser plain\n"
                        "rouser shaaes priv\n"
                        "rouser sha256aes priv\n"
                        "rouser md5auth auth\n"
                        "rouser plain noauth\n"));
    ASSERT_TRUE(snmpd_.Start(dir_, true)) << ReadLog(dir_ + "snmpd.log");
    net_ = NewSystemNetwork();
    clock_ = NewSystemClock();
    env_.ctx.env.network = net_.get();
    env_.ctx.env.clock = clock_.get();
  }

  std::string Read(SnmpSession& session, const char* oid) {
    return SNMPSend(env_.ctx, {oid, "public", "127.0.0.1", &session});
  }

  std::string Written() const {
    std::string all;
    for (const auto& w : env_.files.writes) all += w.data;
    return all;
  }

  TempDir temp_;
  std::string dir_;
  Snmpd snmpd_;
  std::unique_ptr<Network> net_;
  std::unique_ptr<Clock> clock_;
  FakeEnv env_;
};

tSNMPSettings V3(const char* user, const char* auth_protocol, const char* auth, const char* priv) {
  return {"3", user, auth_protocol, auth, "", priv, ""};
}

TEST_F(SnmpdV3Test, EveryUserAndTheCommunityReadTemperatureAndVoltage) {
  const struct {
    const char* name;
    tSNMPSettings settings;
  } cases[] = {
      {"SHA/AES", V3("shaaes", "SHA", "sha-auth-pass", "sha-priv-pass")},
      {"SHA-256/AES", V3("sha256aes", "SHA256", "sha256-auth-pass", "sha256-priv-pass")},
      {"MD5 authNoPriv", V3("md5auth", "MD5", "md5-auth-pass", "")},
      {"noAuthNoPriv", V3("plain", "", "", "")},
      {"SHA/DES", {"3", "shades", "SHA", "shades-auth-pass", "DES", "shades-priv-pass", ""}},
      {"SHA-224/AES-192",
       {"3", "sha224aes192", "SHA224", "sha224-auth-pass", "AES192", "sha224-priv-pass", ""}},
      {"SHA-384/AES-256",
       {"3", "sha384aes256", "SHA384", "sha384-auth-pass", "AES256", "sha384-priv-pass", ""}},
      {"SHA-512/AES-256",
       {"3", "sha512aes256", "SHA512", "sha512-auth-pass", "AES256", "sha512-priv-pass", ""}},
      {"MD5/AES-256 (the key extended twice)",
       {"3", "md5aes256", "MD5", "md5aes-auth-pass", "AES256", "md5aes-priv-pass", ""}},
      {"v2c", {"2c", "", "", "", "", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SnmpSession session;
    ASSERT_TRUE(ConfigureSnmpSession(env_.ctx, c.settings, &session));
    EXPECT_EQ(Read(session, kOidUpsTemperature), "27");
    EXPECT_EQ(Read(session, kOidUpsInputVoltage), "230");
    if (session.version() == tSNMPVersion::kV3) {
      const tSNMPEngine engine = session.Engine(clock_->TickCount());
      EXPECT_TRUE(engine.Known);
      EXPECT_GE(engine.ID.size(), 5u);
      EXPECT_EQ(session.discoveries(), 1);
    }
    // An object the agent does not have: v2c's noSuchObject, empty text.
    tSNMPRec rec{"1.3.6.1.4.1.318.1.1.1.9.9.9.0", "public", "127.0.0.1", &session};
    const tSNMPResult r = SNMPQuery(env_.ctx, rec);
    EXPECT_EQ(r.Outcome, tSNMPOutcome::kNotProvided);
    EXPECT_EQ(r.Text, "");
  }
  // Only the DES user's warning.
  EXPECT_EQ(Written().find("[Function=SNMPSend]"), std::string::npos) << Written();
  EXPECT_NE(Written().find("[Msg=Setting weak][Key=SNMPPrivProtocol][Value=DES]"),
            std::string::npos);
}

TEST_F(SnmpdV3Test, RefusalsAreFailuresOfTheirOwn) {
  const struct {
    tSNMPSettings settings;
    const char* message;
    int max_seconds;  // a refusal ends the query at once; a dropped request after the wait
  } cases[] = {
      {V3("shaaes", "SHA", "not-the-auth-pass", "sha-priv-pass"),
       "the agent at 127.0.0.1 refused the digest of user \"shaaes\": wrong SNMPAuthPassword "
       "or SNMPAuthProtocol (usmStatsWrongDigests; the report is not authenticated and may not "
       "be the card's)",
       3},
      {V3("shaaes", "SHA", "sha-auth-pass", "not-the-priv-pass"),
       "the agent at 127.0.0.1 answered the discovery but not the request of user \"shaaes\" "
       "(authPriv, privacy AES, context \"\"): check SNMPUser, SNMPAuthProtocol, "
       "SNMPAuthPassword, SNMPPrivProtocol, SNMPPrivPassword and SNMPContext; or its answer "
       "came after the wait of 5 s",
       7},
      {V3("nobody", "SHA", "sha-auth-pass", "sha-priv-pass"),
       "the agent at 127.0.0.1 does not know the user \"nobody\" (usmStatsUnknownUserNames)", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    env_.files.writes.clear();
    SnmpSession session;
    ASSERT_TRUE(ConfigureSnmpSession(env_.ctx, c.settings, &session));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(session, kOidUpsTemperature), "");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(c.max_seconds));
    const std::string written = Written();
    // The whole text in the exception report; the activity log keeps its first 200 bytes.
    EXPECT_NE(written.find("<e.Message>" + XmlEscaped(c.message) + "</e.Message>"),
              std::string::npos)
        << written;
    const std::string in_log = InLog(c.message);
    EXPECT_NE(written.find("[Message=" + in_log.substr(0, 150)), std::string::npos) << written;
    for (const char* secret : {"pass"}) EXPECT_EQ(written.find(secret), std::string::npos);
  }
}

// snmpd keeps its engine ID and counts its boots in the persistent directory: restarted, it
// refuses the old boots as not in the time window, and the query synchronises and reads on.
TEST_F(SnmpdV3Test, RestartedAgentIsFollowedWithoutAFailedSample) {
  SnmpSession session;
  ASSERT_TRUE(ConfigureSnmpSession(
      env_.ctx, V3("sha256aes", "SHA-256", "sha256-auth-pass", "sha256-priv-pass"), &session));
  ASSERT_EQ(Read(session, kOidUpsTemperature), "27");
  const tSNMPEngine first = session.Engine(clock_->TickCount());
  snmpd_.Stop();
  ASSERT_TRUE(WriteText(dir_ + "temperature", "31\n"));
  ASSERT_TRUE(snmpd_.Start(dir_, true)) << ReadLog(dir_ + "snmpd.log");
  EXPECT_EQ(Read(session, kOidUpsTemperature), "31");
  const tSNMPEngine second = session.Engine(clock_->TickCount());
  EXPECT_EQ(second.ID, first.ID);
  EXPECT_GT(second.Boots, first.Boots);
  EXPECT_EQ(session.synchronisations(), 1);
  EXPECT_EQ(Read(session, kOidUpsInputVoltage), "230");
  EXPECT_EQ(Written(), "");
}

}  // namespace
}  // namespace tw
