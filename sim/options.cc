#include "sim/options.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace tw {
namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > max) return false;
  *value = n;
  return true;
}

template <typename T>
bool ParseUnsignedAs(const std::string& text, T* value) {
  uint64_t n = 0;
  if (!ParseUnsigned(text, static_cast<T>(-1), &n)) return false;
  *value = static_cast<T>(n);
  return true;
}

// A decimal number with "." as its separator, whatever the machine's regional settings.
bool ParseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double v = 0;
  in >> v;
  if (in.fail() || !in.eof() || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// "HH:MM" as hours of the day.
bool ParseClockTime(const std::string& text, double* hours) {
  uint64_t h = 0, m = 0;
  const size_t colon = text.find(':');
  if (colon == std::string::npos || !ParseUnsigned(text.substr(0, colon), 23, &h) ||
      !ParseUnsigned(text.substr(colon + 1), 59, &m) || text.size() - colon != 3) {
    return false;
  }
  *hours = static_cast<double>(h) + static_cast<double>(m) / 60;
  return true;
}

bool ParseListen(const std::string& text, std::string* address, uint16_t* port) {
  const size_t colon = text.rfind(':');
  std::string host = text;
  if (colon != std::string::npos) {
    uint64_t p = 0;
    if (!ParseUnsigned(text.substr(colon + 1), 65535, &p) || p == 0) return false;
    *port = static_cast<uint16_t>(p);
    host = text.substr(0, colon);
  }
  if (host.empty()) return false;
  *address = host;
  return true;
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error) {
  SimCommandLine c;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      c.help = true;
      continue;
    }
    if (name == "--quiet") {
      c.quiet = true;
      continue;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        *error = name + ": a value is missing";
        return false;
      }
      value = args[++i];
    }
    UpsSimOptions& u = c.ups;
    bool ok = true;
    if (name == "--listen") {
      ok = ParseListen(value, &c.address, &c.port);
    } else if (name == "--community") {
      c.community = value;
    } else if (name == "--duration") {
      ok = ParseUnsignedAs(value, &c.duration_s);
    } else if (name == "--temps") {
      ok = ParseValueList(value, &u.temps);
    } else if (name == "--volts") {
      ok = ParseValueList(value, &u.volts);
    } else if (name == "--mean") {
      ok = ParseNumber(value, &u.mean_temp);
    } else if (name == "--swing") {
      ok = ParseNumber(value, &u.swing) && u.swing >= 0;
    } else if (name == "--noise") {
      ok = ParseNumber(value, &u.noise) && u.noise >= 0;
    } else if (name == "--speed") {
      ok = ParseNumber(value, &u.speed) && u.speed > 0 && u.speed <= 86400;
    } else if (name == "--start") {
      ok = ParseClockTime(value, &u.start_hour);
    } else if (name == "--mains") {
      ok = ParseUnsignedAs(value, &u.mains) && u.mains > 0;
    } else if (name == "--mains-noise") {
      ok = ParseUnsignedAs(value, &u.mains_noise);
    } else if (name == "--outage-every") {
      ok = ParseUnsignedAs(value, &u.outage_every_s);
    } else if (name == "--outage-for") {
      ok = ParseUnsignedAs(value, &u.outage_for_s);
    } else if (name == "--seed") {
      ok = ParseUnsignedAs(value, &u.seed);
    } else {
      *error = name + ": unknown switch";
      return false;
    }
    if (!ok) {
      *error = name + ": \"" + value + "\" is not a valid value";
      return false;
    }
  }
  if (c.ups.mains_noise >= c.ups.mains) {
    *error = "--mains-noise must be smaller than --mains";
    return false;
  }
  if (c.ups.outage_every_s > 0 && c.ups.outage_for_s >= c.ups.outage_every_s) {
    *error = "--outage-for must be shorter than --outage-every";
    return false;
  }
  *out = c;
  return true;
}

std::string SimUsage() {
  return "usage: tempwarden-upsim [switches]\n"
         "A simulated UPS network card: an SNMP version 1 agent that answers the UPS\n"
         "temperature (1.3.6.1.4.1.318.1.1.1.2.2.2.0) and input voltage\n"
         "(1.3.6.1.4.1.318.1.1.1.3.2.1.0) as Gauge32. Stops on Ctrl+C or SIGTERM.\n"
         "\n"
         "  --listen ADDRESS[:PORT]  where to listen (default 127.0.0.1:161)\n"
         "  --community TEXT         the community it accepts (default public);\n"
         "                           requests with another one get no answer\n"
         "  --duration SECONDS       stop by itself after this long (default: never)\n"
         "  --quiet                  no line per request on standard output\n"
         "\n"
         "Temperature, whole degrees Celsius:\n"
         "  --temps 25,29,31         one value per query, the last one stays\n"
         "                           (one value: a fixed temperature)\n"
         "  otherwise a daily curve, warmest at 15:00, coolest at 03:00:\n"
         "  --mean C                 its mean (default 26)\n"
         "  --swing C                half its range (default 4)\n"
         "  --noise C                random noise, at most this much (default 0.6)\n"
         "  --speed N                simulated seconds per second (144: a day in 10 minutes)\n"
         "  --start HH:MM            time of day the simulated day starts at (default now)\n"
         "\n"
         "Input voltage, whole volts:\n"
         "  --volts 230,0,230        one value per query, the last one stays\n"
         "  otherwise the mains, failing now and then:\n"
         "  --mains V                its voltage (default 230)\n"
         "  --mains-noise V          random noise, at most this much (default 2)\n"
         "  --outage-every SECONDS   a mains failure in every such period of running time\n"
         "                           (default 3600; 0: never)\n"
         "  --outage-for SECONDS     lasting this long, at the period's end (default 60)\n"
         "\n"
         "  --seed N                 seed of the noise (default 1)\n";
}

}  // namespace tw
