// Fuzz target for the version 3 codec and the session that judges what comes back: any
// datagram must decode to a message or be refused without reading outside it, and a session
// that gets it as the agent's answer (with the msgID of its request, so that it is judged
// rather than passed over at once) must take it, pass it over or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "snmp/session.h"
#include "snmp/snmp.h"
#include "snmp/v3_message.h"
#include "tests/v3_agent.h"
#include "toolbelt/failure.h"
#include "toolbelt/fake_context.h"

namespace {

const std::string kEngine("\x80\x00\x1f\x88\x80\x01\x02\x03\x04", 9);

struct Rig {
  Rig() : agent(*env.crypto, kEngine) {
    agent.AddUser("plain", tw::tAuthProtocol::kNone, "", "");
    agent.AddUser("shapriv", tw::tAuthProtocol::kSha1, "sha password", "aes password");
    secure.Configure(env.ctx, {"3", "shapriv", "SHA", "sha password", "AES", "aes password", ""});
  }
  tw::FakeEnv env;
  tw::snmp_test::V3Agent agent;
  tw::SnmpSession secure;  // authPriv, configured once: the password stretch is slow
};

void Query(Rig& rig, tw::SnmpSession& session, const std::string& input) {
  rig.env.network.answers.clear();
  rig.env.network.sent.clear();
  rig.env.network.receive_timeouts.clear();
  rig.agent.reports.clear();
  size_t answered = 0;
  rig.env.network.responder = [&](const tw::FakeNetwork::Datagram& request,
                                  tw::FakeNetwork::Answer* answer) {
    if (rig.env.network.sent.size() == answered) return false;
    answered = rig.env.network.sent.size();
    tw::tV3Message sent;
    size_t offset = 0;
    if (!tw::DecodeV3Message(request.payload, &sent, &offset)) return false;
    if (sent.Usm.EngineID.empty()) {  // discovery: the agent's real report
      *answer = {rig.agent.Answer(request.payload)[0], "10.0.0.9", tw::kSnmpPort, 0};
      return true;
    }
    *answer = {input, "10.0.0.9", tw::kSnmpPort, 0};
    tw::tV3Message m;
    if (tw::DecodeV3Message(input, &m, &offset)) {
      m.MsgID = sent.MsgID;
      rig.env.network.answers.push_back(
          {tw::EncodeV3Message(m, nullptr), "10.0.0.9", tw::kSnmpPort, 0});
    }
    return true;
  };
  try {
    tw::tSNMPRec rec{tw::kOidUpsTemperature, "", "10.0.0.9", &session};
    session.Query(rig.env.ctx, rec);
  } catch (const tw::Fault&) {
    // A report that explains a refusal: the failure SNMPSend reports.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  tw::tV3Message message;
  size_t offset = 0;
  if (tw::DecodeV3Message(input, &message, &offset)) {
    tw::tScopedPdu scoped;
    tw::DecodeScopedPdu(message.Data, &scoped);
  }
  tw::tScopedPdu scoped;
  tw::DecodeScopedPdu(input, &scoped);

  static Rig rig;
  tw::SnmpSession plain;
  plain.Configure(rig.env.ctx, {"3", "plain", "", "", "", "", ""});
  Query(rig, plain, input);
  Query(rig, rig.secure, input);
  return 0;
}
