// Fuzz target for the simulated UPS's agent: any datagram must be answered or dropped without
// reading outside it, and every answer it sends must be a GetResponse the service's decoder
// reads whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fake_env.h"
#include "sim/agent.h"
#include "snmp/ber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tw::FakeClock clock;
  tw::UpsSimOptions options;
  options.temps = {25, 29};
  tw::SimulatedUps ups(options, clock);
  const std::string datagram(reinterpret_cast<const char*>(data), size);
  const tw::AgentAnswer answer = tw::AnswerRequest(datagram, "public", ups);
  if (!answer.reply.empty()) {
    tw::tSNMPMessage reply;
    if (!tw::DecodeSnmpMessage(answer.reply, &reply) || reply.PDUType != tw::kSnmpGetResponse ||
        reply.Community != "public") {
      __builtin_trap();  // an answer the service could not read
    }
  }
  return 0;
}
