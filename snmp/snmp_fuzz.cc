// Fuzz target for the SNMP answer decoder: any datagram must decode to values or empty text
// without reading outside it, and the query must pass it over or take it without failing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "snmp/ber.h"
#include "snmp/snmp.h"
#include "toolbelt/fake_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tw::tSNMPMessage message;
  if (tw::DecodeSnmpMessage(data, size, &message)) {
    tw::AnswerResult(message, tw::kOidUpsTemperature);
  }
  if (size > 0) tw::SnmpValueText(data[0], data + 1, size - 1);
  tw::ObjectIdText(data, size);

  // The whole query, with the input arriving as the card's answer.
  static tw::FakeEnv env;
  env.network.answers.clear();
  env.network.sent.clear();
  env.network.receive_timeouts.clear();
  env.network.answers.push_back(
      {std::string(reinterpret_cast<const char*>(data), size), "10.0.0.9", tw::kSnmpPort, 0});
  const tw::tSNMPRec rec{tw::kOidUpsTemperature, "public", "10.0.0.9"};
  tw::SNMPQuery(env.ctx, rec);
  return 0;
}
