#include "snmp/session.h"

#include <gtest/gtest.h>

#include <functional>

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
    if (lacks_sha224 && kind == HashKind::kSha224) return false;
    if (data.size() == 1048576) ++stretches;
    if (data.find(kEngine) != std::string::npos) ++localizations;
    return real_.Hash(kind, data, digest);
  }
  bool Hmac(HashKind kind, const std::string& key, const std::string& data,
            std::string* mac) override {
    if (lacks_sha224 && kind == HashKind::kSha224) return false;
    return real_.Hmac(kind, key, data, mac);
  }
  std::unique_ptr<AesBlockCipher> NewAes128(const std::string& key) override {
    return real_.NewAes128(key);
  }
  std::unique_ptr<AesBlockCipher> NewAes(const std::string& key) override {
    return real_.NewAes(key);
  }
  std::unique_ptr<DesBlockCipher> NewDes(const std::string& key) override {
    return real_.NewDes(key);
  }
  bool RandomBytes(size_t size, std::string* out) override { return real_.RandomBytes(size, out); }
  int stretches = 0;
  int localizations = 0;
  bool lacks_sha224 = false;  // as Windows' BCrypt

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

// Every security level reads the object: discovery, then the request with the boots and time
// the discovery reported; the next query goes straight to the request.
TEST_F(SessionTest, EachSecurityLevelReadsTheObject) {
  const struct {
    tSNMPSettings settings;
    tSecurityLevel level;
    size_t first_datagrams;
    int synchronisations;
  } cases[] = {
      {V3("plain", "", "", ""), tSecurityLevel::kNoAuthNoPriv, 2, 0},
      {V3("md5auth", "MD5", "md5 password", ""), tSecurityLevel::kAuthNoPriv, 2, 0},
      {V3("shapriv", "SHA", "sha password", "aes password"), tSecurityLevel::kAuthPriv, 2, 0},
      {V3("sha256priv", "sha256", "sha256 password", "aes256 password"), tSecurityLevel::kAuthPriv,
       2, 0},
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
  EXPECT_EQ(session_.synchronisations(), 1);
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
  EXPECT_EQ(session_.synchronisations(), 0);
  env_.clock.Advance(1000000);  // the card's clock did not move
  ASSERT_EQ(Query().Text, "27");
  EXPECT_EQ(session_.synchronisations(), 1);
}

// The card's time is kept on the 32-bit tick count: its wrap (49.7 days of uptime) between
// two queries moves the time on by the hour that passed, not back by 49 days.
TEST_F(SessionTest, TimeAdvancesOverTheTickCountsWrap) {
  env_.clock.set_tick(0xFFFFFFFFu - 1800000);  // half an hour before the wrap
  Configure(V3("md5auth", "MD5", "md5 password", ""));
  ASSERT_EQ(Query().Text, "27");
  const int32_t before = session_.Engine(env_.clock.TickCount()).Time;
  env_.clock.Advance(3600000);
  agent_.time += 3600;
  EXPECT_LT(env_.clock.TickCount(), 1800000u);
  EXPECT_EQ(session_.Engine(env_.clock.TickCount()).Time, before + 3600);
  ASSERT_EQ(Query().Text, "27");
  EXPECT_EQ(session_.synchronisations(), 0);  // the time sent was still in the card's window
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
  // Nothing is taken, and the answer from the other port is named.
  try {
    Query();
    ADD_FAILURE() << "no failure";
  } catch (const Fault& f) {
    EXPECT_STREQ(f.what(), "no answer from 10.0.0.9 port 161 (an answer came from port 1161)");
  }
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
       "SNMPAuthProtocol (usmStatsWrongDigests; the report is not authenticated and may not be "
       "the card's)"},
      {V3("shapriv", "MD5", "sha password", "aes password"),
       "the agent at 10.0.0.9 refused the digest of user \"shapriv\": wrong SNMPAuthPassword or "
       "SNMPAuthProtocol (usmStatsWrongDigests; the report is not authenticated and may not be "
       "the card's)"},
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

// An agent that drops what it cannot decrypt (a wrong privacy password, a DES user, a context
// it lacks) sends no report. After it answered our discovery, the timeout names what to check
// instead of the host and community; once the engine is known, silence is just no answer.
TEST_F(SessionTest, SilenceAfterTheDiscoveryNamesUserPrivacyAndContext) {
  agent_.drop_undecryptable = true;
  Configure({"3", "shapriv", "SHA", "sha password", "AES", "wrong password", "ups"});
  EXPECT_EQ(Send(), "");
  // The whole text in the exception report; the activity log keeps the first 200 bytes of it.
  EXPECT_NE(Written().find("<e.Message>the agent at 10.0.0.9 answered the discovery but not the "
                           "request of user &quot;shapriv&quot; (authPriv, privacy AES, context "
                           "&quot;ups&quot;): check SNMPUser, SNMPAuthProtocol, SNMPAuthPassword, "
                           "SNMPPrivProtocol, SNMPPrivPassword and SNMPContext; or its answer "
                           "came after the wait of 5 s</e.Message>"),
            std::string::npos)
      << Written();
  EXPECT_NE(Written().find("[Message=the agent at 10.0.0.9 answered the discovery but not the "
                           "request of user 'shapriv' (authPriv, privacy AES, context 'ups'): "
                           "check SNMPUser, SNMPAuthProtocol, SNMPAuthPassword, "),
            std::string::npos);
  EXPECT_EQ(Written().find("wrong SNMPPrivPassword"), std::string::npos);
  env_.files.writes.clear();
  const tSNMPResult r = Query();
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(r.Retransmissions, 2);
  EXPECT_EQ(Written(), "");
}

// The faults a foreign stack or a stranger shows, each with what the query makes of it.
TEST_F(SessionTest, FaultsOfOtherStacks) {
  struct Case {
    const char* name;
    std::function<void(V3Agent&)> setup;
    const char* text;     // the reading, when there is one
    const char* message;  // else the named cause, when there is one
  };
  const Case cases[] = {
      {"an agent that echoes the request's boots and time", [](V3Agent& a) { a.echo_time = true; },
       "27", ""},
      {"a wrongDigests report signed with the card's key (pysnmp)",
       [](V3Agent& a) { a.sign_wrong_digest_report = true; }, "",
       "sent a report for user 'shapriv' that does not verify with our key: wrong "
       "SNMPAuthPassword or SNMPAuthProtocol"},
      {"an answer at a lower security level",
       [](V3Agent& a) { a.answer_flags_mask = kMsgFlagAuth; }, "",
       "answered the discovery but not the request"},
      {"an answer for another context engine",
       [](V3Agent& a) { a.answer_context_engine = "other"; }, "",
       "answered the discovery but not the request"},
      {"an answer for another context name", [](V3Agent& a) { a.context = "ups"; }, "",
       "does not know the context"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    V3Agent agent(*env_.crypto, kEngine);
    agent.AddUser("shapriv", tAuthProtocol::kSha1, "sha password", "aes password");
    c.setup(agent);
    std::swap(agent_, agent);
    env_.files.writes.clear();
    env_.clock.Advance(3601 * 1000);  // one report an hour per failure
    const bool wrong_key = std::string(c.name).find("pysnmp") != std::string::npos;
    Configure(V3("shapriv", "SHA", wrong_key ? "wrong password" : "sha password", "aes password"));
    EXPECT_EQ(Send(), c.text);
    if (*c.message != '\0') {
      EXPECT_NE(Written().find(c.message), std::string::npos) << Written();
    }
  }
}

// An agent that echoes boots and time (the npm agent) is read long after the discovery: the
// first request carries the discovered values, advanced on the clock.
TEST_F(SessionTest, EchoingAgentIsReadPastTheWindow) {
  agent_.echo_time = true;
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(Query().Text, "27") << i;
    env_.clock.Advance(100000);
    agent_.time += 100;
  }
  EXPECT_EQ(session_.discoveries(), 1);
  EXPECT_EQ(Written(), "");
}

// An authentic answer outside the window is dropped, and the next query discovers the engine
// again; the third in a row is logged with the card's and the expected engine time.
TEST_F(SessionTest, AnswersOutsideTheWindowLeadToANewDiscovery) {
  agent_.echo_time = true;
  Configure(V3("md5auth", "MD5", "md5 password", ""));
  ASSERT_EQ(Query().Text, "27");
  // From now on the card answers with a time an hour behind what we sent.
  env_.network.responder = [this](const FakeNetwork::Datagram& request,
                                  FakeNetwork::Answer* answer) {
    if (env_.network.sent.size() == answered_) return false;
    answered_ = env_.network.sent.size();
    std::vector<std::string> replies = agent_.Answer(request.payload);
    if (replies.empty()) return false;
    tV3Message m;
    size_t offset = 0;
    EXPECT_TRUE(DecodeV3Message(replies[0], &m, &offset));
    if (m.Flags & kMsgFlagAuth) {
      m.Usm.Time -= 3600;
      std::string key, localized, digest;
      PasswordToKey(*env_.crypto, tAuthProtocol::kMd5, "md5 password", &key);
      LocalizeKey(*env_.crypto, tAuthProtocol::kMd5, key, kEngine, &localized);
      m.Usm.AuthParams.assign(12, '\0');
      std::string datagram = EncodeV3Message(m, &offset);
      AuthParams(*env_.crypto, tAuthProtocol::kMd5, localized, datagram, &digest);
      replies[0] = datagram.replace(offset, digest.size(), digest);
    }
    *answer = {replies[0], kHost, kSnmpPort, 0};
    return true;
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Query().Outcome, tSNMPOutcome::kNoAnswer);
    EXPECT_EQ(session_.discoveries(), 1 + i);
  }
  const std::string written = Written();
  EXPECT_NE(written.find("40930"), std::string::npos) << written;
  EXPECT_NE(written.find("[Function=SNMPSend][Msg=SNMP answers outside the time window][Host="
                         "10.0.0.9][EngineBoots=1][EngineTime=-2600][ExpectedBoots=1]"
                         "[ExpectedTime=1000]"),
            std::string::npos)
      << written;
}

// An unknownEngineIDs report is taken only as the answer to our discovery: one that answers a
// request starts a discovery of our own, and its engine ID is not adopted.
TEST_F(SessionTest, UnknownEngineReportOnlyWhileDiscovering) {
  Configure(V3("plain", "", "", ""));
  ASSERT_EQ(Query().Text, "27");
  int injected = 0;
  env_.network.responder = [&](const FakeNetwork::Datagram& request, FakeNetwork::Answer* answer) {
    if (env_.network.sent.size() == answered_) return false;
    answered_ = env_.network.sent.size();
    tV3Message m;
    size_t offset = 0;
    EXPECT_TRUE(DecodeV3Message(request.payload, &m, &offset));
    if (injected++ == 0) {
      // A stranger's report naming another engine, with the right msgID.
      V3Agent stranger(*env_.crypto, "stranger");
      m.Usm.EngineID = "x";
      *answer = {stranger.Answer(EncodeV3Message(m, nullptr))[0], kHost, kSnmpPort, 0};
      return true;
    }
    *answer = {agent_.Answer(request.payload)[0], kHost, kSnmpPort, 0};
    return true;
  };
  EXPECT_EQ(Query().Text, "27");
  EXPECT_EQ(session_.discoveries(), 2);
  EXPECT_EQ(session_.Engine(0).ID, kEngine);
}

// One datagram lost each way costs nothing: the same request goes again after 1 s.
TEST_F(SessionTest, LostDatagramsAreSentAgain) {
  Configure(V3("shapriv", "SHA", "sha password", "aes password"));
  size_t drops = 0;
  auto inner = env_.network.responder;
  env_.network.responder = [&](const FakeNetwork::Datagram& request, FakeNetwork::Answer* answer) {
    if (env_.network.sent.size() == answered_) return false;
    // The first datagram of every round is lost.
    if (drops < 2 && (env_.network.sent.size() == 1 || env_.network.sent.size() == 3)) {
      ++drops;
      answered_ = env_.network.sent.size();
      return false;
    }
    return inner(request, answer);
  };
  const tSNMPResult r = Query();
  EXPECT_EQ(r.Text, "27");
  EXPECT_EQ(r.Retransmissions, 2);
  ASSERT_EQ(env_.network.sent.size(), 4u);
  EXPECT_EQ(env_.network.sent[0].payload, env_.network.sent[1].payload);
  EXPECT_EQ(env_.network.sent[2].payload, env_.network.sent[3].payload);
}

// Settings that cannot work are refused at start, by name, and the queries then send nothing.
TEST_F(SessionTest, SettingsRefusedAtStart) {
  const struct {
    tSNMPSettings settings;
    const char* message;
  } cases[] = {
      {{"4", "", "", "", "", "", ""}, "SNMPVersion \"4\" is none of 1, 2c, 3"},
      {V3("", "", "", ""), "SNMPVersion 3 needs a user name in SNMPUser"},
      {V3("u", "SHA3", "long enough", ""),
       "SNMPAuthProtocol \"SHA3\" is none of SHA, SHA224, SHA256, SHA384, SHA512, MD5"},
      {{"3", "u", "", "long enough", "3DES", "", ""},
       "SNMPPrivProtocol \"3DES\" is none of AES, AES192, AES256, DES, none"},
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
  // A protocol the platform's cryptography lacks (Windows has no SHA-224) is named, not
  // replaced by another hash.
  counting_.lacks_sha224 = true;
  env_.files.writes.clear();
  EXPECT_FALSE(ConfigureSnmpSession(env_.ctx, V3("u", "SHA224", "long enough", ""), &session_));
  EXPECT_NE(Written().find("[Message=SNMPAuthProtocol SHA224 is not available from this "
                           "platform's cryptography: choose another"),
            std::string::npos)
      << Written();
  EXPECT_EQ(Query().Outcome, tSNMPOutcome::kNotConfigured);
  counting_.lacks_sha224 = false;
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

// Version 2c: the version 1 request with version number 1 and a request-id of its own; its
// exceptions give empty text, noSuchObject and noSuchInstance as a missing object.
TEST_F(SessionTest, Version2c) {
  Configure({"2c", "", "", "", "", "", ""});
  EXPECT_EQ(session_.version(), tSNMPVersion::kV2c);
  const struct {
    uint8_t tag;
    std::string content;
    tSNMPOutcome outcome;
    const char* text;
  } cases[] = {
      {kSnmpGauge, "\x1b", tSNMPOutcome::kValue, "27"},
      {kSnmpNoSuchObject, "", tSNMPOutcome::kNotProvided, ""},
      {kSnmpNoSuchInstance, "", tSNMPOutcome::kNotProvided, ""},
      {kSnmpEndOfMibView, "", tSNMPOutcome::kValue, ""},
  };
  for (const auto& c : cases) {
    env_.network.sent.clear();
    int32_t id = 0;
    env_.network.responder = [&](const FakeNetwork::Datagram& request, FakeNetwork::Answer* a) {
      tSNMPMessage m;
      EXPECT_TRUE(DecodeSnmpMessage(request.payload, &m));
      EXPECT_EQ(m.Version, 1);
      id = m.RequestID;
      std::string answer;
      EXPECT_TRUE(
          EncodeGetResponse("public", id, 0, 0, {{kOidUpsTemperature, c.tag, c.content}}, &answer));
      answer[4] = 1;  // version 2c
      *a = {answer, kHost, kSnmpPort, 0};
      return true;
    };
    tSNMPRec rec{kOidUpsTemperature, "public", kHost, &session_};
    const tSNMPResult r = SNMPQuery(env_.ctx, rec);
    EXPECT_EQ(r.Outcome, c.outcome);
    EXPECT_EQ(r.Text, c.text);
    EXPECT_NE(id, 0);
    ASSERT_EQ(env_.network.sent.size(), 1u);
    std::string request;
    ASSERT_TRUE(EncodeCommunityGetRequest(1, "public", id, kOidUpsTemperature, &request));
    EXPECT_EQ(env_.network.sent[0].payload, request);
  }
}

}  // namespace
}  // namespace tw
