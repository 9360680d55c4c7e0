// How the service talks to the card beyond version 1: the version chosen in the settings and,
// for version 3, the user-based security (RFC 3414) with the engine the card runs.
//
// The monitoring cycle owns one SnmpSession for its whole run and hands it to every query in
// tSNMPRec::Session. It keeps what a version 3 query learns: the engine's ID, boots and time
// (the time advanced locally on the clock's tick count), and the keys localized to that engine
// ID, so that the password-to-key expansion (1 MB hashed) runs once per run and the
// localization once per engine ID, never per query. Passwords are turned into keys at start
// and not kept; neither they nor the keys are ever logged or printed.
#ifndef TEMPWARDEN_SNMP_SESSION_H_
#define TEMPWARDEN_SNMP_SESSION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/crypto.h"
#include "snmp/snmp.h"
#include "snmp/usm.h"
#include "snmp/v3_message.h"
#include "toolbelt/settings.h"

namespace tw {

enum class tSNMPVersion { kV1, kV2c, kV3 };
enum class tSecurityLevel { kNoAuthNoPriv, kAuthNoPriv, kAuthPriv };

// The settings as read from the configuration file ("SNMPVersion", "SNMPUser",
// "SNMPAuthProtocol", "SNMPAuthPassword", "SNMPPrivProtocol", "SNMPPrivPassword",
// "SNMPContext").
struct tSNMPSettings {
  std::string Version;
  std::string User;
  std::string AuthProtocol;
  std::string AuthPassword;
  std::string PrivProtocol;
  std::string PrivPassword;
  std::string Context;
};

// The engine as the session knows it.
struct tSNMPEngine {
  bool Known = false;
  std::string ID;
  int32_t Boots = 0;
  int32_t Time = 0;  // the engine's time now, as advanced locally
};

// The report OIDs an agent explains itself with.
constexpr char kUsmStatsUnsupportedSecLevels[] = "1.3.6.1.6.3.15.1.1.1.0";
constexpr char kUsmStatsNotInTimeWindows[] = "1.3.6.1.6.3.15.1.1.2.0";
constexpr char kUsmStatsUnknownUserNames[] = "1.3.6.1.6.3.15.1.1.3.0";
constexpr char kUsmStatsUnknownEngineIDs[] = "1.3.6.1.6.3.15.1.1.4.0";
constexpr char kUsmStatsWrongDigests[] = "1.3.6.1.6.3.15.1.1.5.0";
constexpr char kUsmStatsDecryptionErrors[] = "1.3.6.1.6.3.15.1.1.6.0";
constexpr char kSnmpUnknownContexts[] = "1.3.6.1.6.3.12.1.5.0";

// The window of RFC 3414 3.2: an answer more than 150 s older than the engine's time as we
// know it is a replay.
constexpr int32_t kTimeWindowSeconds = 150;

class AgentExchange;  // snmp/exchange.h

class SnmpSession {
 public:
  // Version 1 until configured.
  SnmpSession() = default;

  // Takes the settings: checks them, and for version 3 turns the passwords into keys (on
  // ctx.env.crypto). Throws Fault ("EConfigError") with a message that names the key for a
  // setting it cannot use (an unknown version or protocol, a version 3 without a user, an
  // auth or priv password shorter than 8 characters, a priv password without an auth
  // password); the session is then unusable and every query sends nothing.
  void Configure(Context& ctx, const tSNMPSettings& settings);

  tSNMPVersion version() const { return version_; }
  tSecurityLevel level() const { return level_; }
  bool usable() const { return usable_; }
  // The card's pace, for the exchanges of every version.
  tAgentPace* pace() { return &pace_; }

  // One version 3 GET of rec.OID on rec.Host and rec.Port, inside one 5000 ms wait on one
  // socket, each datagram resent as AgentExchange says: engine discovery when the engine is
  // not known (an empty request; only the usmStatsUnknownEngineIDs report that answers it
  // names the engine), then the request, which carries the boots and time the discovery
  // reported; at authNoPriv and authPriv an authenticated usmStatsNotInTimeWindows report
  // synchronises the time and the request goes again. An unknownEngineIDs report to a request
  // starts a discovery of our own. Answers are matched by msgID and request-id, and must have
  // the request's security level, contextEngineID and contextName (RFC 3412 7.2 step 12); at
  // authNoPriv and authPriv only an authentic answer (digest compared in constant time) inside
  // the time window counts, and an authentic answer outside it (other boots, or older than
  // the window) makes the next query discover the engine again; the third such answer in a
  // row is logged (40930) with the card's and the expected boots and time. Anything else is
  // passed over until the wait ends.
  //
  // Throws Fault ("ESNMPError") naming the cause: a report that says what is wrong (unknown
  // user, wrong digest, decryption error, unsupported security level, unknown context); a
  // report, or at the timeout an answer, signed for our user that does not verify with our
  // key (wrong auth password or protocol); at the timeout after the card answered the
  // discovery in this query, the user, level, privacy protocol and context to check; and a
  // timeout when only another port of the card's address answered. Socket failures throw as
  // in SNMPQuery.
  tSNMPResult Query(Context& ctx, const tSNMPRec& rec);

  // The engine now (its time advanced to the clock's tick count `tick`).
  tSNMPEngine Engine(uint32_t tick) const;
  // "[EngineID=<hex>][EngineBoots=<n>][EngineTime=<s>]", or "[EngineID=]" before discovery:
  // for a command that shows what the query found.
  std::string EngineText(Context& ctx) const;

  // How often the engine was discovered (unknownEngineIDs) and the time synchronised
  // (notInTimeWindows), for tests and the log.
  int32_t discoveries() const { return discoveries_; }
  int32_t synchronisations() const { return synchronisations_; }

 private:
  struct Outgoing;
  bool BuildRequest(Context& ctx, const tSNMPRec& rec, bool discovery, Outgoing* out);
  // What became of one datagram from the agent.
  enum class Verdict { kIgnore, kAnswer, kRetry };
  Verdict Judge(Context& ctx, const std::string& datagram, const Outgoing& sent,
                const std::string& oid, tSNMPResult* result);
  void AdoptEngine(Context& ctx, const tUsmParams& usm);
  void AdoptTime(Context& ctx, const tUsmParams& usm);
  int32_t EngineTimeNow(uint32_t tick) const;
  // Throws the cause of a query that ran out of time, when there is one to name.
  void ThrowSilenceCause(const AgentExchange& exchange, bool discovering) const;
  void NoteOutOfWindow(Context& ctx, const tUsmParams& usm, int32_t expected);
  int32_t RandomId(Context& ctx);
  std::string NextSalt(Context& ctx);
  std::string DesIv(const std::string& salt) const;
  bool Encrypt(const tUsmParams& usm, const std::string& plain, std::string* out);
  bool Decrypt(const tUsmParams& usm, const std::string& cipher, std::string* out);
  bool Authentic(Context& ctx, const std::string& datagram, const tV3Message& message,
                 size_t auth_offset);

  tSNMPVersion version_ = tSNMPVersion::kV1;
  tSecurityLevel level_ = tSecurityLevel::kNoAuthNoPriv;
  bool usable_ = true;
  std::string user_;
  std::string context_;
  tAuthProtocol auth_ = tAuthProtocol::kNone;
  tPrivProtocol priv_ = tPrivProtocol::kNone;
  std::string auth_key_;  // from the password, not yet localized
  std::string priv_key_;

  // The engine and the keys localized to it.
  bool engine_known_ = false;
  bool time_synced_ = false;
  std::string engine_id_;
  int32_t boots_ = 0;
  int32_t time_ = 0;
  uint32_t time_tick_ = 0;  // the tick count when time_ was learnt
  std::string localized_for_;
  std::string auth_localized_;
  std::unique_ptr<AesBlockCipher> aes_;
  std::unique_ptr<DesBlockCipher> des_;
  std::string des_pre_iv_;
  uint64_t salt_ = 0;
  bool salt_ready_ = false;
  int32_t discoveries_ = 0;
  int32_t synchronisations_ = 0;
  std::string sent_host_;  // for the failure texts
  uint16_t sent_port_ = 0;
  // Of the query under way: an answer signed for us that did not verify; the discovery
  // answered.
  bool unverified_ = false;
  bool discovery_answered_ = false;
  bool window_dropped_ = false;  // an authentic answer dropped for its boots or time
  tUsmParams window_card_;       // its boots and time
  int32_t window_expected_ = 0;  // the engine time we expected then
  int32_t out_of_window_ = 0;    // queries in a row that ended so
  tAgentPace pace_;
};

// Configures `session` from the settings under the failure convention: a setting it cannot
// use is reported as "SNMPSettings" (exception report and activity log). Returns whether the
// session is usable. Never throws.
bool ConfigureSnmpSession(Context& ctx, const tSNMPSettings& settings, SnmpSession* session);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_SESSION_H_
