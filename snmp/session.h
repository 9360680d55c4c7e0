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

  // One version 3 GET of rec.OID on rec.Host, inside one 5000 ms wait on one socket: engine
  // discovery when the engine is not known (an empty request; the usmStatsUnknownEngineIDs
  // report names the engine), at authNoPriv and authPriv time synchronisation from the
  // authenticated usmStatsNotInTimeWindows report, then the request itself. Discovery and
  // synchronisation start again after such reports and when an authentic answer shows other
  // boots. Answers are matched by msgID; at authNoPriv and authPriv only an authentic answer
  // (digest compared in constant time) inside the time window counts; anything else is passed
  // over until the wait ends. A report that says what is wrong throws Fault ("ESNMPError")
  // naming it: unknown user, wrong digest, decryption error, unsupported security level,
  // unknown context; so does an authPriv request left unanswered right after the agent
  // authenticated us in the same query (agents drop what they cannot decrypt: a wrong privacy
  // password). Socket failures throw as in SNMPQuery.
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
  int32_t RandomId(Context& ctx);
  std::string NextSalt(Context& ctx);
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
  uint64_t salt_ = 0;
  bool salt_ready_ = false;
  int32_t discoveries_ = 0;
  int32_t synchronisations_ = 0;
  std::string sent_host_;  // for the failure texts
};

// Configures `session` from the settings under the failure convention: a setting it cannot
// use is reported as "SNMPSettings" (exception report and activity log). Returns whether the
// session is usable. Never throws.
bool ConfigureSnmpSession(Context& ctx, const tSNMPSettings& settings, SnmpSession* session);

}  // namespace tw

#endif  // TEMPWARDEN_SNMP_SESSION_H_
