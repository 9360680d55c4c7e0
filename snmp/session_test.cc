#include "snmp/session.h"

#include <gtest/gtest.h>

#include "tests/snmp_messages.h"
#include "tests/v3_agent.h"
#include "toolbelt/failure.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/field_text.h"

namespace tw {
namespace {

using snmp_test::V3Agent;

const std::string kEngine("\x80\x00\x1f\x88\x80\x11\x22\x33\x44", 9);
constexpr char kHost[] = "10.0.0.9";

// Forwards to the real crypto and counts the expensive calls: the 1 MB password stretch and
// the key localizations (a hash of key + engine ID + key).
class CountingCrypto : public Crypto {
 public:
  explicit CountingCrypto(Crypto& real) : real_(real) {}
  bool Hash(HashKind kind, const std::string& data, std::string* digest) override {
    if (data.size() == 1048576) ++stretches;
    if (data.find(kEngine) != std::string::npos) ++localizations;
    return real_.Hash(kind, data, digest);
  }
  bool Hmac(HashKind kind, const std::string& key, const std::string& data,
            std::string* mac) override {
    return real_.Hmac(kind, key, data, mac);
  }
  std::unique_ptr<AesBlockCipher> NewAes128(const std::string& key) override {
    return real_.NewAes128(key);
  }
  bool RandomBytes(size_t size, std::string* out) override { return real_.RandomBytes(size, out); }
  int stretches = 0;
  int localizations = 0;

 private:
  Crypto& real_;
};

// A FakeEnv whose network is the scripted agent on 10.0.0.9:161.
class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : counting_(*env_.crypto), agent_(*env_.crypto, kEngine) {
    env_.ctx.env.crypto = &counting_;
    agent_.AddUser("plain", tAuthProtocol::kNone, "", "");
    agent_.AddUser("md5auth", tAuthProtocol::kMd5, "md5 password", "");
    agent_.AddUser("shapriv", tAuthProtocol::kSha1, "sha password", "aes password");
    agent_.AddUser("sha256priv", tAuthProtocol::kSha256, "sha256 password", "aes256 password");
    env_.network.responder = [this](const FakeNetwork::Datagram& request,
                                    FakeNetwork::Answer* answer) {
      if (env_.network.sent.size() == answered_) return false;  // nothing new: silence
      answered_ = env_.network.sent.size();
      std::vector<std::string> replies = agent_.Answer(request.payload);
      if (replies.empty()) return false;
      *answer = {replies[0], kHost, kSnmpPort, 0};
      for (size_t i = 1; i < replies.size(); ++i) {
        env_.network.answers.push_back({replies[i], kHost, kSnmpPort, 0});
      }
      return true;
    };
  }

  void Configure(const tSNMPSettings& settings) {
    ASSERT_TRUE(ConfigureSnmpSession(env_.ctx, settings, &session_));
  }

  tSNMPResult Query(const char* oid = kOidUpsTemperature) {
    tSNMPRec rec{oid, "", kHost, &session_};
    return SNMPQuery(env_.ctx, rec);
  }

  std::string Send() { return SNMPSend(env_.ctx, {kOidUpsTemperature, "", kHost, &session_}); }

  // Everything the service wrote: the exception reports and the activity log.
  std::string Written() const {
    std::string all;
    for (const auto& w : env_.files.writes) all += w.data;
    return all;
  }

  FakeEnv env_;
  CountingCrypto counting_;
  V3Agent agent_;
  SnmpSession session_;
  size_t answered_ = 0;
};

std::string InLog(std::string text) {
  for (char& c : text) {
    if (c == '"') c = '\'';
  }
  return text;
}

tSNMPSettings V3(const char* user, const char* auth_protocol, const char* auth, const char* priv) {
  return {"3", user, auth_protocol, auth, "", priv, ""};
}

// Every security level reads the object: discovery, time synchronisation where the level
// authenticates, then the request; the next query goes straight to the request.
TEST_F(SessionTest, EachSecurityLevelReadsTheObject) {
  const struct {
    tSNMPSettings settings;
    tSecurityLevel level;
    size_t first_datagrams;
    int synchronisations;
  } cases[] = {
      {V3("plain", "", "", ""), tSecurityLevel::kNoAuthNoPriv, 2, 0},
      {V3("md5auth", "MD5", "md5 password", ""), tSecurityLevel::kAuthNoPriv, 3, 1},
      {V3("shapriv", "SHA", "sha password", "aes password"), tSecurityLevel::kAuthPriv, 3, 1},
      {V3("sha256priv", "sha256", "sha256 password", "aes256 password"), tSecurityLevel::kAuthPriv,
       3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.User);
    env_.network.sent.clear();
    answered_ = 0;
    Configure(c.settings);
    EXPECT_EQ(session_.level(), c.level);
    tSNMPResult r = Query();
    EXPECT_EQ(r.Outcome, tSNMPOutcome::kValue);
    EXPECT_EQ(r.Text, "27");
    EXPECT_EQ(env_.network.sent.size(), c.first_datagrams);
    EXPECT_EQ(session_.discoveries(), 1);
    EXPECT_EQ(session_.synchronisations(), c.synchronisations);

    agent_.value = "231";
    EXPECT_EQ(Query(kOidUpsInputVoltage).Text, "231");
    EXPECT_EQ(env_.network.sent.size(), c.first_datagrams + 1);
    EXPECT_EQ(session_.discoveries(), 1);
    agent_.value = "27";
    EXPECT_EQ(env_.network.open_sockets, 0);
  }
  // Nothing in clear on the wire at authPriv: not the object, not the value's request.
  std::string oid;
  ASSERT_TRUE(EncodeObjectId(kOidUpsInputVoltage, &oid));
  EXPECT_EQ(env_.network.sent.back().payload.find(oid), std::string::npos);
  EXPECT_EQ(Written(), "");
}

TEST_F(SessionTest, EngineTextAfterDiscovery) {
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  EXPECT_EQ(session_.EngineText(env_.ctx), "[EngineID=]");
  agent_.boots = 7;
  agent_.time = 5000;
  ASSERT_EQ(Query().Text, "27");
  env_.clock.Advance(61000);
  EXPECT_EQ(session_.EngineText(env_.ctx),
            "[EngineID=80001F888011223344][EngineBoots=7][EngineTime=5061]");
}

// The 1 MB password stretch runs once per password at start; the localization once per
// engine ID, however many queries follow.
TEST_F(SessionTest, KeysAreMadeOnceAndLocalizedOncePerEngine) {
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  EXPECT_EQ(counting_.stretches, 2);
  EXPECT_EQ(counting_.localizations, 0);
  for (int i = 0; i < 5; ++i) {
    agent_.time += 30;
    env_.clock.Advance(30000);
    ASSERT_EQ(Query().Text, "27");
  }
  EXPECT_EQ(counting_.stretches, 2);
  EXPECT_EQ(counting_.localizations, 2);  // auth and priv key
  EXPECT_EQ(agent_.answers, 5);
}

// The card restarts: its boots go up and its time starts again. The next query is refused as
// not in the time window, synchronises from the authentic report and reads the object: no
// sample is lost. The engine ID stays, so no key is localized again.
TEST_F(SessionTest, RestartedCardIsSynchronisedWithinTheSameQuery) {
  Configure(V3("sha256priv", "SHA256", "sha256 password", "aes256 password"));
  ASSERT_EQ(Query().Text, "27");
  const int localized = counting_.localizations;
  agent_.boots = 2;
  agent_.time = 3;
  agent_.value = "28";
  env_.network.sent.clear();
  answered_ = 0;
  EXPECT_EQ(Query().Text, "28");
  EXPECT_EQ(env_.network.sent.size(), 2u);
  EXPECT_EQ(session_.synchronisations(), 2);
  EXPECT_EQ(counting_.localizations, localized);
  EXPECT_EQ(Written(), "");
}

// The time is advanced on the tick count between queries: no synchronisation while the clock
// and the card agree, one when they drift beyond the window.
TEST_F(SessionTest, TimeAdvancesLocally) {
  Configure(V3("md5auth", "MD5", "md5 password", ""));
  ASSERT_EQ(Query().Text, "27");
  env_.clock.Advance(3600000);
  agent_.time += 3600;
  ASSERT_EQ(Query().Text, "27");
  EXPECT_EQ(session_.synchronisations(), 1);
  env_.clock.Advance(1000000);  // the card's clock did not move
  ASSERT_EQ(Query().Text, "27");
  EXPECT_EQ(session_.synchronisations(), 2);
}

// A card replaced by another (a new engine ID): discovered again, keys localized anew.
TEST_F(SessionTest, NewEngineIsDiscoveredAgain) {
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  ASSERT_EQ(Query().Text, "27");
  V3Agent other(*env_.crypto, std::string("\x80\x00\x00\x09\x03\x01", 6));
  other.AddUser("shapriv", tAuthProtocol::kSha1, "sha password", "aes password");
  other.value = "19";
  std::swap(agent_, other);
  EXPECT_EQ(Query().Text, "19");
  EXPECT_EQ(session_.discoveries(), 2);
}

// An answer whose digest is wrong (a forgery, or another key) is passed over, and the true
// answer after it taken.
TEST_F(SessionTest, ForgedAnswerIsIgnored) {
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  ASSERT_EQ(Query().Text, "27");
  agent_.forge_first = true;
  agent_.value = "26";
  const tSNMPResult r = Query();
  EXPECT_EQ(r.Text, "26");
  EXPECT_EQ(r.Ignored, 1);
}

// Only authentic answers count: an unauthenticated answer with the right msgID, or an answer
// from another port, is passed over until the wait ends.
TEST_F(SessionTest, UnauthenticatedAnswersAreNotTaken) {
  Configure(V3("md5auth", "MD5", "md5 password", ""));
  ASSERT_EQ(Query().Text, "27");
  env_.network.responder = [this](const FakeNetwork::Datagram& request,
                                  FakeNetwork::Answer* answer) {
    if (env_.network.sent.size() == answered_) return false;
    answered_ = env_.network.sent.size();
    tV3Message m;
    size_t offset = 0;
    EXPECT_TRUE(DecodeV3Message(request.payload, &m, &offset));
    // The same message, its flags cleared: no digest to check.
    std::vector<std::string> real = agent_.Answer(request.payload);
    tV3Message reply;
    EXPECT_TRUE(DecodeV3Message(real[0], &reply, &offset));
    reply.Flags = 0;
    reply.Usm.AuthParams.clear();
    *answer = {EncodeV3Message(reply, nullptr), kHost, kSnmpPort, 0};
    env_.network.answers.push_back({real[0], kHost, 1161, 0});
    return true;
  };
  const tSNMPResult r = Query();
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(r.Ignored, 2);
}

// Reports that say what is wrong: each a failure of its own, in the exception report and the
// activity log, without the passwords.
TEST_F(SessionTest, RefusalsAreClearFailures) {
  agent_.context = "ups";
  const struct {
    tSNMPSettings settings;
    const char* message;
  } cases[] = {
      {V3("nobody", "SHA", "sha password", ""),
       "the agent at 10.0.0.9 does not know the user \"nobody\" (usmStatsUnknownUserNames)"},
      {V3("shapriv", "SHA", "wrong password", "aes password"),
       "the agent at 10.0.0.9 refused the digest of user \"shapriv\": wrong SNMPAuthPassword or "
       "SNMPAuthProtocol (usmStatsWrongDigests)"},
      {V3("shapriv", "MD5", "sha password", "aes password"),
       "the agent at 10.0.0.9 refused the digest of user \"shapriv\": wrong SNMPAuthPassword or "
       "SNMPAuthProtocol (usmStatsWrongDigests)"},
      {V3("shapriv", "SHA", "sha password", "wrong password"),
       "the agent at 10.0.0.9 could not decrypt the request of user \"shapriv\": wrong "
       "SNMPPrivPassword (usmStatsDecryptionErrors)"},
      {V3("md5auth", "", "", ""),
       "the agent at 10.0.0.9 does not offer the security level noAuthNoPriv to user "
       "\"md5auth\" (usmStatsUnsupportedSecLevels)"},
      {{"3", "plain", "", "", "", "", "other"},
       "the agent at 10.0.0.9 does not know the context \"other\" (snmpUnknownContexts)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    env_.files.writes.clear();
    // An hour apart: the same failure again within the hour writes no second report.
    env_.clock.Advance(3601 * 1000);
    Configure(c.settings);
    EXPECT_EQ(Send(), "");
    const std::string written = Written();
    // The activity log's summary (its CSV field has ' for ") and the exception report.
    EXPECT_NE(
        written.find("[Function=SNMPSend][ClassName=ESNMPError][Message=" + InLog(c.message) + "]"),
        std::string::npos)
        << written;
    EXPECT_NE(written.find("<e.Message>" + XmlEscaped(c.message) + "</e.Message>"),
              std::string::npos)
        << written;
    for (const char* secret : {"sha password", "wrong password", "aes password"}) {
      EXPECT_EQ(written.find(secret), std::string::npos);
    }
  }
}

// An agent that drops what it cannot decrypt: right after it authenticated us in the same
// query, silence means the privacy password; later silence is just no answer.
TEST_F(SessionTest, SilenceAfterAuthenticationMeansTheWrongPrivPassword) {
  agent_.drop_undecryptable = true;
  Configure(V3("shapriv", "SHA", "sha password", "wrong password"));
  EXPECT_EQ(Send(), "");
  EXPECT_NE(Written().find("[Message=the agent at 10.0.0.9 authenticated user 'shapriv' but did "
                           "not answer the encrypted request: wrong SNMPPrivPassword (no "
                           "answer)]"),
            std::string::npos)
      << Written();
  env_.files.writes.clear();
  const tSNMPResult r = Query();
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(Written(), "");
}

// Settings that cannot work are refused at start, by name, and the queries then send nothing.
TEST_F(SessionTest, SettingsRefusedAtStart) {
  const struct {
    tSNMPSettings settings;
    const char* message;
  } cases[] = {
      {{"4", "", "", "", "", "", ""}, "SNMPVersion \"4\" is none of 1, 2c, 3"},
      {V3("", "", "", ""), "SNMPVersion 3 needs a user name in SNMPUser"},
      {V3("u", "SHA512", "long enough", ""),
       "SNMPAuthProtocol \"SHA512\" is none of SHA, SHA256, MD5"},
      {{"3", "u", "", "long enough", "DES", "", ""},
       "SNMPPrivProtocol \"DES\" is neither AES nor none"},
      {V3("u", "", "seven77", ""), "SNMPAuthPassword is shorter than 8 characters"},
      {V3("u", "", "long enough", "short"), "SNMPPrivPassword is shorter than 8 characters"},
      {V3("u", "", "", "long enough"),
       "SNMPPrivPassword is set without SNMPAuthPassword: privacy needs authentication"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    env_.files.writes.clear();
    EXPECT_FALSE(ConfigureSnmpSession(env_.ctx, c.settings, &session_));
    env_.network.sent.clear();  // the report's syslog announcement
    EXPECT_FALSE(session_.usable());
    const std::string written = Written();
    EXPECT_NE(written.find("[Function=SNMPSettings][ClassName=EConfigError][Message=" +
                           InLog(c.message) + "]"),
              std::string::npos)
        << written;
    EXPECT_EQ(written.find("seven77"), std::string::npos);
    EXPECT_EQ(Query().Outcome, tSNMPOutcome::kNotConfigured);
    EXPECT_TRUE(env_.network.sent.empty());
  }
  // What the levels come to.
  const struct {
    tSNMPSettings settings;
    tSecurityLevel level;
  } levels[] = {
      {V3("u", "", "", ""), tSecurityLevel::kNoAuthNoPriv},
      {V3("u", "", "8 chars!", ""), tSecurityLevel::kAuthNoPriv},
      {V3("u", "", "8 chars!", "8 chars!"), tSecurityLevel::kAuthPriv},
      {{"3", "u", "", "8 chars!", "none", "8 chars!", ""}, tSecurityLevel::kAuthNoPriv},
  };
  for (const auto& l : levels) {
    Configure(l.settings);
    EXPECT_EQ(session_.level(), l.level);
  }
}

// Version 2c: the version 1 request with version number 1; its exceptions give empty text.
TEST_F(SessionTest, Version2c) {
  Configure({"2c", "", "", "", "", "", ""});
  EXPECT_EQ(session_.version(), tSNMPVersion::kV2c);
  env_.network.responder = nullptr;
  std::string request;
  ASSERT_TRUE(EncodeCommunityGetRequest(1, "public", 0, kOidUpsTemperature, &request));
  const struct {
    uint8_t tag;
    std::string content;
    const char* text;
  } cases[] = {
      {kSnmpGauge, "\x1b", "27"},
      {kSnmpNoSuchObject, "", ""},
      {kSnmpNoSuchInstance, "", ""},
      {kSnmpEndOfMibView, "", ""},
  };
  for (const auto& c : cases) {
    env_.network.sent.clear();
    std::string answer;
    ASSERT_TRUE(
        EncodeGetResponse("public", 0, 0, 0, {{kOidUpsTemperature, c.tag, c.content}}, &answer));
    answer[4] = 1;  // version 2c
    env_.network.answers.push_back({answer, kHost, kSnmpPort, 0});
    tSNMPRec rec{kOidUpsTemperature, "public", kHost, &session_};
    const tSNMPResult r = SNMPQuery(env_.ctx, rec);
    EXPECT_EQ(r.Outcome, tSNMPOutcome::kValue);
    EXPECT_EQ(r.Text, c.text);
    ASSERT_EQ(env_.network.sent.size(), 1u);
    EXPECT_EQ(env_.network.sent[0].payload, request);
  }
}

}  // namespace
}  // namespace tw
