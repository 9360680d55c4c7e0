// A scripted SNMP version 3 agent for the unit tests: an authoritative engine with users, that
// answers the service's requests as RFC 3414 says an agent does (discovery report, time window
// report, refusals) and can be told to misbehave. Built on the service's own codec, so the
// real agent (Debian's snmpd, in snmpd_v3_test.cc) keeps both sides honest.
#ifndef TEMPWARDEN_TESTS_V3_AGENT_H_
#define TEMPWARDEN_TESTS_V3_AGENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "snmp/ber.h"
#include "snmp/session.h"
#include "snmp/usm.h"
#include "snmp/v3_message.h"

namespace tw {
namespace snmp_test {

class V3Agent {
 public:
  struct User {
    tAuthProtocol auth = tAuthProtocol::kNone;
    std::string auth_key;  // localized
    std::string priv_key;  // localized
  };

  V3Agent(Crypto& crypto, std::string engine_id)
      : crypto_(&crypto), engine_id_(std::move(engine_id)) {}

  void AddUser(const std::string& name, tAuthProtocol auth, const std::string& auth_password,
               const std::string& priv_password) {
    User user;
    user.auth = auth;
    std::string key;
    if (!auth_password.empty()) {
      PasswordToKey(*crypto_, auth, auth_password, &key);
      LocalizeKey(*crypto_, auth, key, engine_id_, &user.auth_key);
    }
    if (!priv_password.empty()) {
      PasswordToKey(*crypto_, auth, priv_password, &key);
      LocalizeKey(*crypto_, auth, key, engine_id_, &user.priv_key);
    }
    users_[name] = user;
  }

  // The card's state and the value it serves for every object asked.
  int32_t boots = 1;
  int32_t time = 1000;
  std::string value = "27";
  std::string context;  // the one context it knows
  // Misbehaviour: a forged answer (digest of another key) before each real one.
  bool forge_first = false;
  // What agents do with AES: drop a request that decrypts to garbage, without a report.
  bool drop_undecryptable = false;
  // Answers carry the request's boots and time instead of the engine's (as the npm net-snmp
  // agent does).
  bool echo_time = false;
  // The wrongDigests report is signed with the user's key and the auth flag set (as pysnmp
  // does).
  bool sign_wrong_digest_report = false;
  // Every request but the discovery goes unanswered.
  bool drop_requests = false;
  // Answers: the value's type, the flags kept from the request, the context engine ID (empty:
  // the engine's own).
  uint8_t value_tag = kBerOctetString;
  uint8_t answer_flags_mask = kMsgFlagAuth | kMsgFlagPriv;
  std::string answer_context_engine;
  // Records.
  std::vector<std::string> reports;  // the OIDs of the reports sent, in order
  int answers = 0;

  // The datagrams that answer `request`, in order (none: the request is dropped).
  std::vector<std::string> Answer(const std::string& request) {
    tV3Message m;
    size_t auth_offset = 0;
    if (!DecodeV3Message(request, &m, &auth_offset)) return {};
    if (m.Usm.EngineID != engine_id_) return {Report(m, kUsmStatsUnknownEngineIDs, nullptr)};
    if (drop_requests) return {};
    auto user_it = users_.find(m.Usm.User);
    if (user_it == users_.end()) return {Report(m, kUsmStatsUnknownUserNames, nullptr)};
    const User& user = user_it->second;
    const bool auth = (m.Flags & kMsgFlagAuth) != 0;
    const bool priv = (m.Flags & kMsgFlagPriv) != 0;
    if ((auth && user.auth_key.empty()) || (priv && user.priv_key.empty()) ||
        (!auth && !user.auth_key.empty())) {
      return {Report(m, kUsmStatsUnsupportedSecLevels, nullptr)};
    }
    if (auth) {
      std::string zeroed = request, digest;
      zeroed.replace(auth_offset, m.Usm.AuthParams.size(),
                     std::string(m.Usm.AuthParams.size(), '\0'));
      AuthParams(*crypto_, user.auth, user.auth_key, zeroed, &digest);
      if (digest != m.Usm.AuthParams) {
        return {Report(m, kUsmStatsWrongDigests, sign_wrong_digest_report ? &user : nullptr)};
      }
      if (m.Usm.Boots != boots || m.Usm.Time < time - 150 || m.Usm.Time > time + 150) {
        return {Report(m, kUsmStatsNotInTimeWindows, &user)};
      }
    }
    std::string plain = m.Data;
    if (priv) {
      std::unique_ptr<AesBlockCipher> aes = crypto_->NewAes128(user.priv_key.substr(0, 16));
      Cfb128Decrypt(*aes, AesIv(m.Usm.Boots, m.Usm.Time, m.Usm.PrivParams), m.Data, &plain);
    }
    tScopedPdu scoped;
    if (!DecodeScopedPdu(plain, &scoped)) {
      if (drop_undecryptable) return {};
      return {Report(m, kUsmStatsDecryptionErrors, nullptr)};
    }
    if (scoped.ContextName != context) return {Report(m, kSnmpUnknownContexts, nullptr)};
    std::vector<tSNMPVarBind> bindings;
    for (const tSNMPBinding& b : scoped.Pdu.Bindings) {
      bindings.push_back({b.OID, value_tag, value});
    }
    std::vector<std::string> out;
    if (forge_first) {
      User forger = user;
      forger.auth_key = std::string(forger.auth_key.size(), 'x');
      out.push_back(Response(m, scoped.Pdu.RequestID, bindings, forger));
    }
    out.push_back(Response(m, scoped.Pdu.RequestID, bindings, user));
    ++answers;
    return out;
  }

 private:
  // A report, authenticated with `user` when given (notInTimeWindows), plaintext.
  std::string Report(const tV3Message& request, const char* oid, const User* user) {
    reports.push_back(oid);
    std::string pdu_bindings =
        BerTlv(kBerSequence, BerTlv(kBerSequence, ObjectId(oid) + BerTlv(kSnmpCounter, "\x01")));
    const std::string zero = BerTlv(kBerInteger, std::string(1, '\0'));
    const std::string pdu = BerTlv(kSnmpReport, zero + zero + zero + pdu_bindings);
    tV3Message m;
    m.MsgID = request.MsgID;
    m.MaxSize = 65507;
    m.Usm.EngineID = engine_id_;
    m.Usm.Boots = boots;
    m.Usm.Time = time;
    m.Usm.User = request.Usm.User;
    m.Data = EncodeScopedPdu(engine_id_, "", pdu);
    if (user == nullptr) return EncodeV3Message(m, nullptr);
    m.Flags = kMsgFlagAuth;
    return Sign(&m, *user);
  }

  std::string Response(const tV3Message& request, int32_t request_id,
                       const std::vector<tSNMPVarBind>& bindings, const User& user) {
    std::string list;
    for (const tSNMPVarBind& b : bindings) {
      list += BerTlv(kBerSequence, ObjectId(b.OID) + BerTlv(b.Tag, b.Content));
    }
    const std::string zero = BerTlv(kBerInteger, std::string(1, '\0'));
    const std::string pdu =
        BerTlv(kSnmpGetResponse, BerTlv(kBerInteger, IntegerContent(request_id)) + zero + zero +
                                     BerTlv(kBerSequence, list));
    const std::string scoped = EncodeScopedPdu(
        answer_context_engine.empty() ? engine_id_ : answer_context_engine, context, pdu);
    tV3Message m;
    m.MsgID = request.MsgID;
    m.MaxSize = 65507;
    m.Flags = request.Flags & answer_flags_mask;
    m.Usm.EngineID = engine_id_;
    m.Usm.Boots = echo_time ? request.Usm.Boots : boots;
    m.Usm.Time = echo_time ? request.Usm.Time : time;
    m.Usm.User = request.Usm.User;
    m.Data = scoped;
    if ((m.Flags & kMsgFlagPriv) != 0) {
      m.Usm.PrivParams = std::string("\0\0\0\0\0\0\0", 7) + static_cast<char>(answers + 1);
      std::unique_ptr<AesBlockCipher> aes = crypto_->NewAes128(user.priv_key.substr(0, 16));
      Cfb128Encrypt(*aes, AesIv(m.Usm.Boots, m.Usm.Time, m.Usm.PrivParams), scoped, &m.Data);
    }
    if ((m.Flags & kMsgFlagAuth) == 0) return EncodeV3Message(m, nullptr);
    return Sign(&m, user);
  }

  std::string Sign(tV3Message* m, const User& user) {
    m->Usm.AuthParams.assign(AuthParamsSize(user.auth), '\0');
    size_t offset = 0;
    std::string datagram = EncodeV3Message(*m, &offset);
    std::string digest;
    AuthParams(*crypto_, user.auth, user.auth_key, datagram, &digest);
    datagram.replace(offset, digest.size(), digest);
    return datagram;
  }

  static std::string ObjectId(const std::string& dotted) {
    std::string content;
    EncodeObjectId(dotted, &content);
    return BerTlv(kBerObjectId, content);
  }

  Crypto* crypto_;
  std::string engine_id_;
  std::map<std::string, User> users_;
};

}  // namespace snmp_test
}  // namespace tw

#endif  // TEMPWARDEN_TESTS_V3_AGENT_H_
