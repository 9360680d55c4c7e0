#include "snmp/session.h"

#include <cctype>

#include "snmp/exchange.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/failure.h"
#include "toolbelt/items.h"

namespace tw {
namespace {

// Discovery, time synchronisation, the request, and a discovery and request more for an
// engine that changed under us; an agent that keeps sending us round after that gets no
// further request.
constexpr int kMaxRounds = 5;
constexpr size_t kMinPasswordLength = 8;
constexpr size_t kSaltSize = 8;
// Authentic answers in a row dropped for their boots or time, after which the service says so.
constexpr int32_t kOutOfWindowToLog = 3;
constexpr int32_t kOutOfWindowCode = 40930;

std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string HexText(const std::string& octets) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : octets) {
    out.push_back(kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

const char* LevelName(tSecurityLevel level) {
  switch (level) {
    case tSecurityLevel::kAuthNoPriv:
      return "authNoPriv";
    case tSecurityLevel::kAuthPriv:
      return "authPriv";
    default:
      return "noAuthNoPriv";
  }
}

const char* PrivName(tPrivProtocol priv) {
  switch (priv) {
    case tPrivProtocol::kAes128:
      return "AES";
    case tPrivProtocol::kAes192:
      return "AES192";
    case tPrivProtocol::kAes256:
      return "AES256";
    case tPrivProtocol::kDes:
      return "DES";
    default:
      return "none";
  }
}

// A setting that works but is weak, said as the settings' own warnings are.
void LogWeakSetting(Context& ctx, const std::string& key, const std::string& value,
                    const std::string& why) {
  tLogRec rec;
  rec.Code = 40200;
  rec.Msg = "[Function=SNMPSettings][Msg=Setting weak][Key=" + key + "][Value=" + value +
            "][Used=" + value + "][Note=" + why + "]";
  std::string file;
  LogEntry(ctx, rec, file);
}

[[noreturn]] void ConfigError(const std::string& message) { throw Fault("EConfigError", message); }

void CheckPassword(const char* key, const std::string& password) {
  if (password.size() < kMinPasswordLength) {
    ConfigError(std::string(key) + " is shorter than 8 characters");
  }
}

}  // namespace

struct SnmpSession::Outgoing {
  std::string datagram;
  int32_t msg_id = 0;
  bool discovery = false;
};

void SnmpSession::Configure(Context& ctx, const tSNMPSettings& settings) {
  *this = SnmpSession();
  usable_ = false;
  const std::string version = Upper(settings.Version);
  if (version.empty() || version == "1") {
    version_ = tSNMPVersion::kV1;
  } else if (version == "2C") {
    version_ = tSNMPVersion::kV2c;
  } else if (version == "3") {
    version_ = tSNMPVersion::kV3;
  } else {
    ConfigError("SNMPVersion \"" + settings.Version + "\" is none of 1, 2c, 3");
  }
  if (version_ != tSNMPVersion::kV3) {
    usable_ = true;
    return;
  }
  if (settings.User.empty()) ConfigError("SNMPVersion 3 needs a user name in SNMPUser");
  const std::string auth = Upper(settings.AuthProtocol);
  tAuthProtocol auth_protocol = tAuthProtocol::kSha1;
  if (auth.empty() || auth == "SHA" || auth == "SHA1" || auth == "SHA-1") {
    auth_protocol = tAuthProtocol::kSha1;
  } else if (auth == "SHA224" || auth == "SHA-224") {
    auth_protocol = tAuthProtocol::kSha224;
  } else if (auth == "SHA256" || auth == "SHA-256") {
    auth_protocol = tAuthProtocol::kSha256;
  } else if (auth == "SHA384" || auth == "SHA-384") {
    auth_protocol = tAuthProtocol::kSha384;
  } else if (auth == "SHA512" || auth == "SHA-512") {
    auth_protocol = tAuthProtocol::kSha512;
  } else if (auth == "MD5") {
    auth_protocol = tAuthProtocol::kMd5;
  } else {
    ConfigError("SNMPAuthProtocol \"" + settings.AuthProtocol +
                "\" is none of SHA, SHA224, SHA256, SHA384, SHA512, MD5");
  }
  const std::string priv = Upper(settings.PrivProtocol);
  tPrivProtocol priv_protocol = tPrivProtocol::kAes128;
  if (priv.empty() || priv == "AES" || priv == "AES128" || priv == "AES-128") {
    priv_protocol = tPrivProtocol::kAes128;
  } else if (priv == "AES192" || priv == "AES-192") {
    priv_protocol = tPrivProtocol::kAes192;
  } else if (priv == "AES256" || priv == "AES-256") {
    priv_protocol = tPrivProtocol::kAes256;
  } else if (priv == "DES") {
    priv_protocol = tPrivProtocol::kDes;
  } else if (priv == "NONE") {
    priv_protocol = tPrivProtocol::kNone;
  } else {
    ConfigError("SNMPPrivProtocol \"" + settings.PrivProtocol +
                "\" is none of AES, AES192, AES256, DES, none");
  }
  const bool want_priv = priv_protocol != tPrivProtocol::kNone;
  if (settings.AuthPassword.empty()) {
    if (!settings.PrivPassword.empty() && want_priv) {
      ConfigError("SNMPPrivPassword is set without SNMPAuthPassword: privacy needs authentication");
    }
    level_ = tSecurityLevel::kNoAuthNoPriv;
  } else {
    CheckPassword("SNMPAuthPassword", settings.AuthPassword);
    auth_ = auth_protocol;
    level_ = tSecurityLevel::kAuthNoPriv;
    if (want_priv && !settings.PrivPassword.empty()) {
      CheckPassword("SNMPPrivPassword", settings.PrivPassword);
      priv_ = priv_protocol;
      level_ = tSecurityLevel::kAuthPriv;
    }
  }
  if (level_ != tSecurityLevel::kNoAuthNoPriv) {
    if (ctx.env.crypto == nullptr) ConfigError("no cryptography on this platform");
    // Checked by name first: Windows' BCrypt has no SHA-224, and "failed to make the keys"
    // would not tell the administrator which setting to change.
    std::string probe;
    if (!ctx.env.crypto->Hash(AuthHash(auth_), std::string(), &probe)) {
      ConfigError("SNMPAuthProtocol " + settings.AuthProtocol +
                  " is not available from this platform's cryptography: choose another (SHA, "
                  "SHA256, SHA384, SHA512) here and on the card");
    }
    // RFC 3826: the privacy key comes from its password by the authentication protocol's hash.
    if (!PasswordToKey(*ctx.env.crypto, auth_, settings.AuthPassword, &auth_key_) ||
        (priv_ != tPrivProtocol::kNone &&
         !PasswordToKey(*ctx.env.crypto, auth_, settings.PrivPassword, &priv_key_))) {
      ConfigError("the platform's cryptography failed to make the keys");
    }
  }
  if (priv_ == tPrivProtocol::kDes) {
    // Checked now, so that a platform without DES says so at start and not at every query.
    if (!ctx.env.crypto->NewDes(std::string(kDesBlockSize, '\x01'))) {
      ConfigError("SNMPPrivProtocol DES is not available from this platform's cryptography");
    }
    LogWeakSetting(ctx, "SNMPPrivProtocol", settings.PrivProtocol,
                   "DES keys of 56 bits can be broken: use AES where the card offers it");
  }
  user_ = settings.User;
  context_ = settings.Context;
  usable_ = true;
}

int32_t SnmpSession::EngineTimeNow(uint32_t tick) const {
  const int64_t now = static_cast<int64_t>(time_) + (tick - time_tick_) / 1000;  // wraps safely
  return now > 2147483647 ? 2147483647 : static_cast<int32_t>(now);
}

tSNMPEngine SnmpSession::Engine(uint32_t tick) const {
  tSNMPEngine engine;
  engine.Known = engine_known_;
  engine.ID = engine_id_;
  engine.Boots = boots_;
  engine.Time = engine_known_ ? EngineTimeNow(tick) : 0;
  return engine;
}

std::string SnmpSession::EngineText(Context& ctx) const {
  if (!engine_known_) return Items().Add("EngineID", "").str();
  const tSNMPEngine engine = Engine(ctx.env.clock->TickCount());
  return Items()
      .Add("EngineID", HexText(engine.ID))
      .Add("EngineBoots", engine.Boots)
      .Add("EngineTime", engine.Time)
      .str();
}

int32_t SnmpSession::RandomId(Context& ctx) {
  std::string octets;
  if (ctx.env.crypto == nullptr || !ctx.env.crypto->RandomBytes(4, &octets)) {
    throw Fault("ESNMPError", "no random numbers from the platform for the msgID");
  }
  uint32_t id = 0;
  for (const char c : octets) id = (id << 8) | static_cast<unsigned char>(c);
  id &= 0x7FFFFFFFu;
  return id == 0 ? 1 : static_cast<int32_t>(id);
}

std::string SnmpSession::NextSalt(Context& ctx) {
  if (!salt_ready_) {
    std::string octets;
    if (!ctx.env.crypto->RandomBytes(kSaltSize, &octets)) {
      throw Fault("ESNMPError", "no random numbers from the platform for the salt");
    }
    for (const char c : octets) salt_ = (salt_ << 8) | static_cast<unsigned char>(c);
    salt_ready_ = true;
  }
  ++salt_;  // RFC 3826: a counter, so that no IV repeats under one key
  std::string salt;
  for (int shift = 56; shift >= 0; shift -= 8) {
    salt.push_back(static_cast<char>((salt_ >> shift) & 0xFF));
  }
  return salt;
}

void SnmpSession::AdoptEngine(Context& ctx, const tUsmParams& usm) {
  engine_known_ = true;
  engine_id_ = usm.EngineID;
  boots_ = usm.Boots;
  time_ = usm.Time;
  time_tick_ = ctx.env.clock->TickCount();
  // The first authenticated request carries the boots and time the discovery reported, as
  // net-snmp's tools do (RFC 3414 4 allows it): agents that echo the request's values, or
  // that never send notInTimeWindows, are read at once. An agent that disagrees answers with
  // an authentic notInTimeWindows report, which then sets the clock.
  time_synced_ = true;
  ++discoveries_;
  if (level_ == tSecurityLevel::kNoAuthNoPriv || localized_for_ == engine_id_) return;
  Crypto& crypto = *ctx.env.crypto;
  std::string priv_localized;
  if (!LocalizeKey(crypto, auth_, auth_key_, engine_id_, &auth_localized_) ||
      (priv_ != tPrivProtocol::kNone &&
       !LocalizeKey(crypto, auth_, priv_key_, engine_id_, &priv_localized))) {
    engine_known_ = false;
    throw Fault("ESNMPError", "the platform's cryptography failed to localize the keys");
  }
  aes_.reset();
  des_.reset();
  if (priv_ != tPrivProtocol::kNone) {
    // AES takes the first 16, 24 or 32 octets of the (extended) localized key, DES the first
    // 8 as its key and the next 8 as the pre-IV.
    std::string key;
    bool ok = PrivKey(crypto, auth_, priv_, priv_localized, &key);
    if (ok && priv_ == tPrivProtocol::kDes) {
      des_ = crypto.NewDes(key.substr(0, kDesBlockSize));
      des_pre_iv_ = key.substr(kDesBlockSize, kDesBlockSize);
      ok = des_ != nullptr;
    } else if (ok) {
      aes_ = crypto.NewAes(key);
      ok = aes_ != nullptr;
    }
    if (!ok) {
      engine_known_ = false;
      throw Fault("ESNMPError", "the platform's cryptography refused the privacy key");
    }
  }
  localized_for_ = engine_id_;
}

void SnmpSession::AdoptTime(Context& ctx, const tUsmParams& usm) {
  boots_ = usm.Boots;
  time_ = usm.Time;
  time_tick_ = ctx.env.clock->TickCount();
  time_synced_ = true;
  ++synchronisations_;
}

bool SnmpSession::BuildRequest(Context& ctx, const tSNMPRec& rec, bool discovery, Outgoing* out) {
  out->discovery = discovery;
  out->msg_id = RandomId(ctx);
  tV3Message message;
  message.MsgID = out->msg_id;
  message.MaxSize = static_cast<int32_t>(kSnmpAnswerBuffer);
  message.Flags = kMsgFlagReportable;
  std::string pdu;
  if (discovery) {
    // RFC 3414 4: noAuthNoPriv, no engine, no user, no binding.
    EncodeGetPdu(out->msg_id, std::string(), &pdu);
    message.Data = EncodeScopedPdu(std::string(), std::string(), pdu);
    out->datagram = EncodeV3Message(message, nullptr);
    return true;
  }
  if (!EncodeGetPdu(out->msg_id, rec.OID, &pdu)) return false;
  const std::string scoped = EncodeScopedPdu(engine_id_, context_, pdu);
  tUsmParams& usm = message.Usm;
  usm.EngineID = engine_id_;
  usm.User = user_;
  // Until synchronised, boots and time 0 ask the agent for an authentic notInTimeWindows
  // report that carries its clock.
  if (time_synced_) {
    usm.Boots = boots_;
    usm.Time = EngineTimeNow(ctx.env.clock->TickCount());
  }
  if (level_ == tSecurityLevel::kNoAuthNoPriv) {
    message.Data = scoped;
    out->datagram = EncodeV3Message(message, nullptr);
    return true;
  }
  message.Flags |= kMsgFlagAuth;
  usm.AuthParams.assign(AuthParamsSize(auth_), '\0');
  if (level_ == tSecurityLevel::kAuthPriv) {
    message.Flags |= kMsgFlagPriv;
    usm.PrivParams = NextSalt(ctx);
    if (!Encrypt(usm, scoped, &message.Data)) {
      throw Fault("ESNMPError", "the platform's cryptography failed to encrypt the request");
    }
  } else {
    message.Data = scoped;
  }
  size_t auth_offset = 0;
  out->datagram = EncodeV3Message(message, &auth_offset);
  std::string params;
  if (!AuthParams(*ctx.env.crypto, auth_, auth_localized_, out->datagram, &params)) {
    throw Fault("ESNMPError", "the platform's cryptography failed to sign the request");
  }
  out->datagram.replace(auth_offset, params.size(), params);
  return true;
}

std::string SnmpSession::DesIv(const std::string& salt) const {
  std::string iv = des_pre_iv_;
  for (size_t i = 0; i < iv.size() && i < salt.size(); ++i)
    iv[i] = static_cast<char>(iv[i] ^ salt[i]);
  return iv;
}

bool SnmpSession::Encrypt(const tUsmParams& usm, const std::string& plain, std::string* out) {
  if (des_) return DesCbcEncrypt(*des_, DesIv(usm.PrivParams), plain, out);
  return aes_ && Cfb128Encrypt(*aes_, AesIv(usm.Boots, usm.Time, usm.PrivParams), plain, out);
}

bool SnmpSession::Decrypt(const tUsmParams& usm, const std::string& cipher, std::string* out) {
  if (des_) return DesCbcDecrypt(*des_, DesIv(usm.PrivParams), cipher, out);
  return aes_ && Cfb128Decrypt(*aes_, AesIv(usm.Boots, usm.Time, usm.PrivParams), cipher, out);
}

bool SnmpSession::Authentic(Context& ctx, const std::string& datagram, const tV3Message& message,
                            size_t auth_offset) {
  const size_t size = AuthParamsSize(auth_);
  if (message.Usm.AuthParams.size() != size || auth_offset + size > datagram.size()) return false;
  std::string zeroed = datagram;
  zeroed.replace(auth_offset, size, std::string(size, '\0'));
  std::string expected;
  return AuthParams(*ctx.env.crypto, auth_, auth_localized_, zeroed, &expected) &&
         ConstantTimeEqual(expected, message.Usm.AuthParams);
}

SnmpSession::Verdict SnmpSession::Judge(Context& ctx, const std::string& datagram,
                                        const Outgoing& sent, const std::string& oid,
                                        tSNMPResult* result) {
  tV3Message message;
  size_t auth_offset = 0;
  if (!DecodeV3Message(datagram, &message, &auth_offset) || message.MsgID != sent.msg_id ||
      message.SecurityModel != kUsmSecurityModel) {
    return Verdict::kIgnore;
  }
  const bool auth_flag = (message.Flags & kMsgFlagAuth) != 0;
  const bool priv_flag = (message.Flags & kMsgFlagPriv) != 0;
  bool authentic = false;
  if (auth_flag) {
    if (level_ == tSecurityLevel::kNoAuthNoPriv || !engine_known_ ||
        message.Usm.EngineID != engine_id_ || message.Usm.User != user_) {
      return Verdict::kIgnore;  // meant for someone else
    }
    if (!Authentic(ctx, datagram, message, auth_offset)) {
      // Signed for our user by the card's engine, but not with our key: the card has another
      // password or protocol for the user (pysnmp signs its wrongDigests report), or this is a
      // forgery. A plaintext report says which; anything else is remembered for the timeout.
      tScopedPdu report;
      if (!priv_flag && DecodeScopedPdu(message.Data, &report) &&
          report.Pdu.PDUType == kSnmpReport) {
        throw Fault("ESNMPError", "the agent at " + sent_host_ + " sent a report for user \"" +
                                      user_ +
                                      "\" that does not verify with our key: wrong "
                                      "SNMPAuthPassword or SNMPAuthProtocol");
      }
      unverified_ = true;
      return Verdict::kIgnore;
    }
    authentic = true;
  }
  std::string plain = message.Data;
  if (priv_flag) {
    if (!authentic || level_ != tSecurityLevel::kAuthPriv ||
        message.Usm.PrivParams.size() != kSaltSize || !Decrypt(message.Usm, message.Data, &plain)) {
      return Verdict::kIgnore;
    }
  }
  tScopedPdu scoped;
  if (!DecodeScopedPdu(plain, &scoped)) return Verdict::kIgnore;
  const tSNMPMessage& pdu = scoped.Pdu;

  if (pdu.PDUType == kSnmpReport) {
    const std::string what = pdu.Bindings.empty() ? std::string() : pdu.Bindings[0].OID;
    // Some agents (the npm net-snmp agent) answer the discovery with a report without a
    // binding: any report to our discovery that names an engine is its answer.
    if (what == kUsmStatsUnknownEngineIDs || (sent.discovery && what.empty())) {
      // Only the answer to our discovery may name the engine: an unauthenticated report at
      // any other time would re-target the queries.
      if (message.Usm.EngineID.empty()) return Verdict::kIgnore;
      if (!sent.discovery) {
        // The card may have been replaced: find out with a discovery of our own, whose
        // answer is tied to it by its msgID.
        engine_known_ = false;
        return Verdict::kRetry;
      }
      AdoptEngine(ctx, message.Usm);
      discovery_answered_ = true;
      return Verdict::kRetry;
    }
    if (what == kUsmStatsNotInTimeWindows) {
      // Only an authentic report may set the clock; anyone can send the other kind.
      if (!authentic || sent.discovery) return Verdict::kIgnore;
      AdoptTime(ctx, message.Usm);
      return Verdict::kRetry;
    }
    // Reports that explain a refusal cannot be authentic (the agent could not check us), so
    // they are taken as they come: a forged one costs one sample, as a dropped answer would.
    const std::string agent = "the agent at " + sent_host_;
    const std::string user = "user \"" + user_ + "\"";
    std::string text;
    if (what == kUsmStatsUnknownUserNames) {
      text = agent + " does not know the " + user + " (usmStatsUnknownUserNames)";
    } else if (what == kUsmStatsWrongDigests) {
      // An agent that finds our digest wrong cannot authenticate its report to us, so anyone
      // on the path could have sent it instead: say so, rather than accuse the password alone.
      text = agent + " refused the digest of " + user +
             ": wrong SNMPAuthPassword or SNMPAuthProtocol (usmStatsWrongDigests" +
             (authentic ? std::string(")")
                        : "; the report is not authenticated and may not be the card's)");
    } else if (what == kUsmStatsDecryptionErrors) {
      text = agent + " could not decrypt the request of " + user +
             ": wrong SNMPPrivPassword (usmStatsDecryptionErrors)";
    } else if (what == kUsmStatsUnsupportedSecLevels) {
      text = agent + " does not offer the security level " + LevelName(level_) + " to " + user +
             " (usmStatsUnsupportedSecLevels)";
    } else if (what == kSnmpUnknownContexts) {
      text = agent + " does not know the context \"" + context_ + "\" (snmpUnknownContexts)";
    } else {
      text = agent + " sent the report " + (what.empty() ? std::string("(no binding)") : what) +
             " instead of an answer";
    }
    throw Fault("ESNMPError", text);
  }

  if (pdu.PDUType != kSnmpGetResponse || sent.discovery || pdu.RequestID != sent.msg_id) {
    return Verdict::kIgnore;
  }
  // RFC 3412 7.2 step 12: the answer has the request's security level and context.
  const bool want_auth = level_ != tSecurityLevel::kNoAuthNoPriv;
  const bool want_priv = level_ == tSecurityLevel::kAuthPriv;
  if (auth_flag != want_auth || priv_flag != want_priv || scoped.ContextEngineID != engine_id_ ||
      scoped.ContextName != context_) {
    return Verdict::kIgnore;
  }
  if (want_auth) {
    if (!authentic) return Verdict::kIgnore;
    const uint32_t tick = ctx.env.clock->TickCount();
    const int32_t now = EngineTimeNow(tick);
    if (message.Usm.Boots != boots_ || message.Usm.Time < now - kTimeWindowSeconds) {
      // A restarted card, a replay, or a card whose clock we lost: the next query discovers
      // the engine again (its keys stay localized while its ID stays).
      window_card_ = message.Usm;
      window_expected_ = now;
      window_dropped_ = true;
      engine_known_ = false;
      return Verdict::kIgnore;
    }
    if (message.Usm.Time > now) {
      time_ = message.Usm.Time;
      time_tick_ = tick;
    }
  }
  if (!NamesObject(pdu, oid)) return Verdict::kIgnore;
  *result = AnswerResult(pdu, oid);
  return Verdict::kAnswer;
}

tSNMPResult SnmpSession::Query(Context& ctx, const tSNMPRec& rec) {
  tSNMPResult result;
  std::string oid_content;
  if (!EncodeObjectId(rec.OID, &oid_content)) {
    throw Fault("EConvertError", "\"" + rec.OID + "\" is not a valid object identifier");
  }
  AgentExchange exchange(ctx, rec.Host, rec.Port, &pace_);
  sent_host_ = exchange.address();
  sent_port_ = rec.Port;
  unverified_ = false;
  discovery_answered_ = false;
  window_dropped_ = false;
  const auto finish = [this, &ctx, &exchange, &result](tSNMPOutcome outcome) {
    if (outcome == tSNMPOutcome::kValue || outcome == tSNMPOutcome::kNotProvided) {
      out_of_window_ = 0;
    } else if (window_dropped_) {
      NoteOutOfWindow(ctx, window_card_, window_expected_);
    }
    result.Outcome = outcome;
    result.Ignored = exchange.ignored();
    result.Retransmissions = exchange.retransmissions();
    return result;
  };
  for (int round = 0; round < kMaxRounds; ++round) {
    Outgoing out;
    BuildRequest(ctx, rec, !engine_known_, &out);
    if (!exchange.Send(out.datagram)) return finish(tSNMPOutcome::kConnectionReset);
    Verdict verdict = Verdict::kIgnore;
    while (verdict == Verdict::kIgnore) {
      std::string payload;
      const AgentExchange::Got got = exchange.Receive(&payload);
      sent_host_ = exchange.address();  // the name's next address, when the first refused
      if (got == AgentExchange::Got::kReset) return finish(tSNMPOutcome::kConnectionReset);
      if (got == AgentExchange::Got::kTimeout) {
        ThrowSilenceCause(exchange, out.discovery);
        return finish(tSNMPOutcome::kNoAnswer);
      }
      verdict = Judge(ctx, payload, out, rec.OID, &result);
      if (verdict == Verdict::kIgnore) exchange.Ignore();
    }
    exchange.Accepted();
    if (verdict == Verdict::kAnswer) return finish(result.Outcome);
  }
  return finish(tSNMPOutcome::kNoAnswer);
}

void SnmpSession::ThrowSilenceCause(const AgentExchange& exchange, bool discovering) const {
  if (window_dropped_) return;  // the answer came, but outside the window: logged by count
  const std::string agent = "the agent at " + sent_host_;
  const std::string user = "user \"" + user_ + "\"";
  if (unverified_) {
    throw Fault("ESNMPError", agent + " answered " + user +
                                  " with a digest that does not verify with our key: wrong "
                                  "SNMPAuthPassword or SNMPAuthProtocol" +
                                  exchange.OtherPortNote());
  }
  if (discovery_answered_ && !discovering) {
    // The card is there and named its engine, so host and port are right; what it did not
    // answer is the request of this user. Agents drop, without a report, what they cannot
    // authenticate or decrypt, or a context they do not serve; and a busy card may simply
    // answer after the wait.
    throw Fault("ESNMPError",
                agent + " answered the discovery but not the request of " + user + " (" +
                    LevelName(level_) + ", privacy " + PrivName(priv_) + ", context \"" + context_ +
                    "\"): check SNMPUser, SNMPAuthProtocol, SNMPAuthPassword, SNMPPrivProtocol, "
                    "SNMPPrivPassword and SNMPContext; or its answer came after the wait of " +
                    std::to_string(kSnmpAnswerWaitMs / 1000) + " s" + exchange.OtherPortNote());
  }
  if (exchange.other_port() != 0) {
    throw Fault("ESNMPError", "no answer from " + sent_host_ + " port " +
                                  std::to_string(sent_port_) + exchange.OtherPortNote());
  }
}

void SnmpSession::NoteOutOfWindow(Context& ctx, const tUsmParams& usm, int32_t expected) {
  if (++out_of_window_ != kOutOfWindowToLog) return;
  tLogRec rec;
  rec.Code = kOutOfWindowCode;
  rec.Msg = "[Function=SNMPSend][Msg=SNMP answers outside the time window][Host=" + sent_host_ +
            "][EngineBoots=" + std::to_string(usm.Boots) +
            "][EngineTime=" + std::to_string(usm.Time) +
            "][ExpectedBoots=" + std::to_string(boots_) +
            "][ExpectedTime=" + std::to_string(expected) + "]";
  std::string file;
  LogEntry(ctx, rec, file);
}

bool ConfigureSnmpSession(Context& ctx, const tSNMPSettings& settings, SnmpSession* session) {
  try {
    session->Configure(ctx, settings);
    return true;
  } catch (...) {
    ReportAndLogCurrentException(ctx, "SNMPSettings", 0);
    return false;
  }
}

}  // namespace tw
