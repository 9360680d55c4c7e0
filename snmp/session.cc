#include "snmp/session.h"

#include <cctype>

#include "snmp/exchange.h"
#include "toolbelt/failure.h"
#include "toolbelt/items.h"

namespace tw {
namespace {

// Discovery, time synchronisation, the request, and one more for an engine that changed
// under us; an agent that keeps sending us round after that gets no further request.
constexpr int kMaxRounds = 4;
constexpr size_t kMinPasswordLength = 8;
constexpr size_t kSaltSize = 8;

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
  } else if (auth == "SHA256" || auth == "SHA-256") {
    auth_protocol = tAuthProtocol::kSha256;
  } else if (auth == "MD5") {
    auth_protocol = tAuthProtocol::kMd5;
  } else {
    ConfigError("SNMPAuthProtocol \"" + settings.AuthProtocol + "\" is none of SHA, SHA256, MD5");
  }
  const std::string priv = Upper(settings.PrivProtocol);
  bool want_priv = true;
  if (priv.empty() || priv == "AES" || priv == "AES128") {
    want_priv = true;
  } else if (priv == "NONE") {
    want_priv = false;
  } else {
    ConfigError("SNMPPrivProtocol \"" + settings.PrivProtocol + "\" is neither AES nor none");
  }
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
      priv_ = tPrivProtocol::kAes128;
      level_ = tSecurityLevel::kAuthPriv;
    }
  }
  if (level_ != tSecurityLevel::kNoAuthNoPriv) {
    if (ctx.env.crypto == nullptr) ConfigError("no cryptography on this platform");
    // RFC 3826: the privacy key comes from its password by the authentication protocol's hash.
    if (!PasswordToKey(*ctx.env.crypto, auth_, settings.AuthPassword, &auth_key_) ||
        (priv_ != tPrivProtocol::kNone &&
         !PasswordToKey(*ctx.env.crypto, auth_, settings.PrivPassword, &priv_key_))) {
      ConfigError("the platform's cryptography failed to make the keys");
    }
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
  // Without authentication nothing checks the time; with it, only an authentic report may set
  // it, and this one was not.
  time_synced_ = level_ == tSecurityLevel::kNoAuthNoPriv;
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
  if (priv_ != tPrivProtocol::kNone) {
    // AES-128 takes the first 16 octets of the localized key, whatever the hash's length.
    aes_ = crypto.NewAes128(priv_localized.substr(0, 16));
    if (!aes_) {
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
    if (!Cfb128Encrypt(*aes_, AesIv(usm.Boots, usm.Time, usm.PrivParams), scoped, &message.Data)) {
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
        message.Usm.EngineID != engine_id_ || message.Usm.User != user_ ||
        !Authentic(ctx, datagram, message, auth_offset)) {
      return Verdict::kIgnore;  // a forgery, or meant for someone else
    }
    authentic = true;
  }
  std::string plain = message.Data;
  if (priv_flag) {
    if (!authentic || level_ != tSecurityLevel::kAuthPriv ||
        message.Usm.PrivParams.size() != kSaltSize ||
        !Cfb128Decrypt(*aes_, AesIv(message.Usm.Boots, message.Usm.Time, message.Usm.PrivParams),
                       message.Data, &plain)) {
      return Verdict::kIgnore;
    }
  }
  tScopedPdu scoped;
  if (!DecodeScopedPdu(plain, &scoped)) return Verdict::kIgnore;
  const tSNMPMessage& pdu = scoped.Pdu;

  if (pdu.PDUType == kSnmpReport) {
    const std::string what = pdu.Bindings.empty() ? std::string() : pdu.Bindings[0].OID;
    if (what == kUsmStatsUnknownEngineIDs) {
      if (message.Usm.EngineID.empty()) return Verdict::kIgnore;
      AdoptEngine(ctx, message.Usm);
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
      text = agent + " refused the digest of " + user +
             ": wrong SNMPAuthPassword or SNMPAuthProtocol (usmStatsWrongDigests)";
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
  if (level_ != tSecurityLevel::kNoAuthNoPriv) {
    if (!authentic) return Verdict::kIgnore;
    if (message.Usm.Boots != boots_) {
      // The card restarted: the next request synchronises again.
      time_synced_ = false;
      return Verdict::kIgnore;
    }
    const uint32_t tick = ctx.env.clock->TickCount();
    const int32_t now = EngineTimeNow(tick);
    if (message.Usm.Time < now - kTimeWindowSeconds) return Verdict::kIgnore;  // a replay
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
  AgentExchange exchange(ctx, rec.Host);
  sent_host_ = exchange.ipv4();
  const int32_t synchronised_before = synchronisations_;
  for (int round = 0; round < kMaxRounds; ++round) {
    Outgoing out;
    BuildRequest(ctx, rec, !engine_known_, &out);
    if (!exchange.Send(out.datagram)) {
      result.Outcome = tSNMPOutcome::kConnectionReset;
      result.Ignored = exchange.ignored();
      return result;
    }
    Verdict verdict = Verdict::kIgnore;
    while (verdict == Verdict::kIgnore) {
      std::string payload;
      const AgentExchange::Got got = exchange.Receive(&payload);
      if (got != AgentExchange::Got::kDatagram) {
        // An agent that cannot decrypt an AES request sends no report (CFB decrypts anything,
        // to garbage that it then drops). When it has just authenticated us (the
        // synchronisation's report) but the encrypted request goes unanswered, the privacy
        // password is what is wrong.
        if (got == AgentExchange::Got::kTimeout && level_ == tSecurityLevel::kAuthPriv &&
            !out.discovery && synchronisations_ > synchronised_before) {
          throw Fault("ESNMPError", "the agent at " + sent_host_ + " authenticated user \"" +
                                        user_ +
                                        "\" but did not answer the encrypted request: wrong "
                                        "SNMPPrivPassword (no answer)");
        }
        result.Outcome = got == AgentExchange::Got::kReset ? tSNMPOutcome::kConnectionReset
                                                           : tSNMPOutcome::kNoAnswer;
        result.Ignored = exchange.ignored();
        return result;
      }
      verdict = Judge(ctx, payload, out, rec.OID, &result);
      if (verdict == Verdict::kIgnore) exchange.Ignore();
    }
    if (verdict == Verdict::kAnswer) {
      result.Ignored = exchange.ignored();
      return result;
    }
  }
  result.Outcome = tSNMPOutcome::kNoAnswer;
  result.Ignored = exchange.ignored();
  return result;
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
