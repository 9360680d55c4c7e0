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

tSNMPResult AnswerResult(const tSNMPMessage& message, const std::string& oid) {
  tSNMPResult result;
  result.ErrorStatus = message.ErrorStatus;
  if (message.ErrorStatus != 0) {
    result.Outcome = tSNMPOutcome::kErrorStatus;
    return result;
  }
  result.Outcome = tSNMPOutcome::kNoSuchObject;
  for (const tSNMPBinding& binding : message.Bindings) {
    if (binding.OID == oid) {
      result.Outcome = tSNMPOutcome::kValue;
      result.Text = binding.Value;
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
  const int32_t version = session != nullptr && session->version() == tSNMPVersion::kV2c ? 1 : 0;
  std::string request;
  if (!EncodeCommunityGetRequest(version, rec.Community, 0, rec.OID, &request)) {
    throw Fault("EConvertError", "\"" + rec.OID + "\" is not a valid object identifier");
  }
  AgentExchange exchange(ctx, rec.Host);
  if (!exchange.Send(request)) {
    result.Outcome = tSNMPOutcome::kConnectionReset;
    return result;
  }
  for (;;) {
    std::string payload;
    const AgentExchange::Got got = exchange.Receive(&payload);
    if (got == AgentExchange::Got::kTimeout) break;
    if (got == AgentExchange::Got::kReset) {
      result.Outcome = tSNMPOutcome::kConnectionReset;
      result.Ignored = exchange.ignored();
      return result;
    }
    // With request-id always 0 nothing else ties an answer to this request, so anything that
    // is not a GetResponse about the object asked for is someone else's datagram (a flood of
    // answers about another object must not turn every sample into nothing).
    tSNMPMessage message;
    if (!DecodeSnmpMessage(payload, &message) || message.PDUType != kSnmpGetResponse ||
        message.RequestID != 0 || !NamesObject(message, rec.OID)) {
      exchange.Ignore();
      continue;
    }
    result = AnswerResult(message, rec.OID);
    result.Ignored = exchange.ignored();
    return result;
  }
  result.Outcome = tSNMPOutcome::kNoAnswer;
  result.Ignored = exchange.ignored();
  return result;
}

std::string SNMPSend(Context& ctx, tSNMPRec SNMPRec) {
  std::string text;
  const int32_t trace = 0;  // the query has no stages
  if (SNMPRec.Session == nullptr || SNMPRec.Session->version() == tSNMPVersion::kV1) {
    Guarded(ctx, "SNMPSend", trace, [&] { text = SNMPQuery(ctx, SNMPRec).Text; });
    return text;
  }
  // Versions 2c and 3 are newer than the activity log's silence about queries: a refused user
  // or password must be seen where the administrator looks first.
  try {
    text = SNMPQuery(ctx, SNMPRec).Text;
  } catch (...) {
    ReportAndLogCurrentException(ctx, "SNMPSend", trace);
    text.clear();
  }
  return text;
}

}  // namespace tw
