// The command line of the simulated UPS, tempwarden-upsim.
#ifndef TEMPWARDEN_SIM_OPTIONS_H_
#define TEMPWARDEN_SIM_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ups_model.h"

namespace tw {

struct SimCommandLine {
  std::string address = "127.0.0.1";
  uint16_t port = 161;
  std::string community = "public";
  uint32_t duration_s = 0;  // 0: until stopped
  bool quiet = false;       // no line per datagram
  bool help = false;
  UpsSimOptions ups;
};

// Parses the arguments after the program name. False with a one-line reason for anything it
// does not understand: an unknown switch, a missing or malformed value, a value out of range.
bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error);

// The help text.
std::string SimUsage();

}  // namespace tw

#endif  // TEMPWARDEN_SIM_OPTIONS_H_
