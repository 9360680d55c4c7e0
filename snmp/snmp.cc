#include "snmp/snmp.h"

#include "snmp/exchange.h"
#include "snmp/session.h"
#include "toolbelt/failure.h"

namespace tw {

bool NamesObject(const tSNMPMessage& message, const std::string& oid) {
  for (const tSNMPBinding& binding : message.Bindings) {
    if (binding.OID == oid) return true;
  }
  return false;
}

int32_t RandomRequestId(Context& ctx) {
  std::string octets;
  if (ctx.env.crypto == nullptr || !ctx.env.crypto->RandomBytes(4, &octets)) {
    throw Fault("ESNMPError", "no random numbers from the platform for the request-id");
  }
  uint32_t id = 0;
  for (const char c : octets) id = (id << 8) | static_cast<unsigned char>(c);
  id &= 0x7FFFFFFFu;
  return id == 0 ? 1 : static_cast<int32_t>(id);
}

tSNMPResult AnswerResult(const tSNMPMessage& message, const std::string& oid) {
  constexpr int32_t kNoSuchName = 2;
  tSNMPResult result;
  result.ErrorStatus = message.ErrorStatus;
  if (message.ErrorStatus != 0) {
    result.Outcome = message.ErrorStatus == kNoSuchName ? tSNMPOutcome::kNotProvided
                                                        : tSNMPOutcome::kErrorStatus;
    return result;
  }
  result.Outcome = tSNMPOutcome::kNoSuchObject;
  for (const tSNMPBinding& binding : message.Bindings) {
    if (binding.OID == oid) {
      const bool missing = binding.Tag == kSnmpNoSuchObject || binding.Tag == kSnmpNoSuchInstance;
      result.Outcome = missing ? tSNMPOutcome::kNotProvided : tSNMPOutcome::kValue;
      result.Text = binding.Value;
      result.Tag = binding.Tag;
      break;
    }
  }
  return result;
}

tSNMPResult SNMPQuery(Context& ctx, const tSNMPRec& rec) {
  tSNMPResult result;
  // A service without a configured card polls an empty host at every pass; that is not news
  // worth an exception report each time.
  if (rec.Host.empty()) {
    result.Outcome = tSNMPOutcome::kNoHost;
    return result;
  }
  SnmpSession* session = rec.Session;
  if (session != nullptr && !session->usable()) {
    result.Outcome = tSNMPOutcome::kNotConfigured;
    return result;
  }
  if (session != nullptr && session->version() == tSNMPVersion::kV3) {
    return session->Query(ctx, rec);
  }
  const bool v2c = session != nullptr && session->version() == tSNMPVersion::kV2c;
  const int32_t version = v2c ? 1 : 0;
  // Version 1 keeps the octets it has always sent, request-id 0 included.
  const int32_t request_id = v2c ? RandomRequestId(ctx) : 0;
  std::string request;
  if (!EncodeCommunityGetRequest(version, rec.Community, request_id, rec.OID, &request)) {
    throw Fault("EConvertError", "\"" + rec.OID + "\" is not a valid object identifier");
  }
  AgentExchange exchange(ctx, rec.Host, rec.Port, session != nullptr ? session->pace() : nullptr);
  const auto finish = [&exchange](tSNMPResult r) {
    r.Ignored = exchange.ignored();
    r.Retransmissions = exchange.retransmissions();
    return r;
  };
  if (!exchange.Send(request)) {
    result.Outcome = tSNMPOutcome::kConnectionReset;
    return finish(result);
  }
  for (;;) {
    std::string payload;
    const AgentExchange::Got got = exchange.Receive(&payload);
    if (got == AgentExchange::Got::kTimeout) break;
    if (got == AgentExchange::Got::kReset) {
      result.Outcome = tSNMPOutcome::kConnectionReset;
      return finish(result);
    }
    // Only the answer to this request counts: a datagram of another version or community, or
    // for another request, or not about the object asked for, is someone else's (a flood of
    // answers about another object must not turn every sample into nothing).
    tSNMPMessage message;
    if (!DecodeSnmpMessage(payload, &message) || message.PDUType != kSnmpGetResponse ||
        message.Version != version || message.Community != rec.Community ||
        message.RequestID != request_id || !NamesObject(message, rec.OID)) {
      exchange.Ignore();
      continue;
    }
    exchange.Accepted();
    return finish(AnswerResult(message, rec.OID));
  }
  if (exchange.other_port() != 0) {
    throw Fault("ESNMPError", "no answer from " + exchange.address() + " port " +
                                  std::to_string(rec.Port) + exchange.OtherPortNote());
  }
  result.Outcome = tSNMPOutcome::kNoAnswer;
  return finish(result);
}

tSNMPResult SNMPRead(Context& ctx, const tSNMPRec& rec) {
  tSNMPResult result;
  const int32_t trace = 0;  // the query has no stages
  if (rec.Session == nullptr || rec.Session->version() == tSNMPVersion::kV1) {
    try {
      result = SNMPQuery(ctx, rec);
    } catch (...) {
      ReportCurrentException(ctx, "SNMPSend", trace, rec.Notes);
      result = tSNMPResult();
    }
    return result;
  }
  // Versions 2c and 3 are newer than the activity log's silence about queries: a refused user
  // or password must be seen where the administrator looks first.
  try {
    result = SNMPQuery(ctx, rec);
  } catch (...) {
    ReportAndLogCurrentException(ctx, "SNMPSend", trace, rec.Notes);
    result = tSNMPResult();
  }
  return result;
}

std::string SNMPSend(Context& ctx, tSNMPRec SNMPRec) { return SNMPRead(ctx, SNMPRec).Text; }

}  // namespace tw
