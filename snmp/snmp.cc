#include "snmp/snmp.h"

#include "platform/network.h"
#include "toolbelt/failure.h"

namespace tw {
namespace {

[[noreturn]] void ThrowSocketError(const NetError& error) {
  throw Fault("ESocketError", error.message);
}

}  // namespace

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
  std::string request;
  if (!EncodeGetRequest(rec.Community, rec.OID, &request)) {
    throw Fault("EConvertError", "\"" + rec.OID + "\" is not a valid object identifier");
  }
  NetError error;
  std::string ipv4;
  if (!ctx.env.network->ResolveIPv4(rec.Host, &ipv4, &error)) ThrowSocketError(error);
  std::unique_ptr<UdpSocket> socket = ctx.env.network->OpenUdp(&error);
  if (!socket) ThrowSocketError(error);
  // Connected, so that the stack reports an ICMP port-unreachable on the next receive (as a
  // connection reset, 10054) on every platform, instead of letting the wait run out.
  if (!socket->Connect(ipv4, kSnmpPort, &error)) ThrowSocketError(error);
  if (!socket->SendTo(ipv4, kSnmpPort, request, &error)) {
    if (error.code != kWsaConnReset) ThrowSocketError(error);
    result.Outcome = tSNMPOutcome::kConnectionReset;
    return result;
  }

  const uint32_t sent_at = ctx.env.clock->TickCount();
  for (;;) {
    const uint32_t elapsed = ctx.env.clock->TickCount() - sent_at;  // wraps safely
    if (elapsed >= kSnmpAnswerWaitMs) break;
    std::string payload, from;
    uint16_t from_port = 0;
    if (!socket->ReceiveFrom(kSnmpAnswerBuffer, kSnmpAnswerWaitMs - elapsed, &payload, &from,
                             &from_port, &error)) {
      // A stop of the service ends the wait early: no answer, and nothing to report.
      if (error.code == kWsaTimedOut || error.code == kWsaInterrupted) break;
      if (error.code == kWsaConnReset) {
        result.Outcome = tSNMPOutcome::kConnectionReset;
        return result;
      }
      ThrowSocketError(error);
    }
    // With request-id always 0 nothing else ties an answer to this request, so anything that
    // does not come from the card's agent as a GetResponse is someone else's datagram.
    tSNMPMessage message;
    if (from != ipv4 || from_port != kSnmpPort || !DecodeSnmpMessage(payload, &message) ||
        message.PDUType != kSnmpGetResponse || message.RequestID != 0) {
      ++result.Ignored;
      continue;
    }
    const int32_t ignored = result.Ignored;
    result = AnswerResult(message, rec.OID);
    result.Ignored = ignored;
    return result;
  }
  result.Outcome = tSNMPOutcome::kNoAnswer;
  return result;
}

std::string SNMPSend(Context& ctx, tSNMPRec SNMPRec) {
  std::string text;
  const int32_t trace = 0;  // the query has no stages
  Guarded(ctx, "SNMPSend", trace, [&] { text = SNMPQuery(ctx, SNMPRec).Text; });
  return text;
}

}  // namespace tw
