// Writes the systemd units that the Debian package ships, from the same text as the one that
// `tempwarden /install` writes: tempwarden.service (settings /etc/tempwarden/TEMPWARDEN.XML,
// data /var/lib/tempwarden) and the template tempwarden@.service for named instances
// (settings /etc/tempwarden/NAME/TEMPWARDEN.XML, data /var/lib/tempwarden/NAME), and the
// package's TEMPWARDEN.XML, the default file the service itself writes when it has none.
// usage: tw_unit_writer OUTPUT_DIR
#include <cstdio>
#include <fstream>
#include <string>

#include "install/systemd_unit.h"
#include "toolbelt/config.h"

namespace {

bool Write(const tw::SystemdUnit& unit, const std::string& file) {
  std::string text, error;
  if (!tw::SystemdUnitText(unit, &text, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  std::ofstream out(file, std::ios::binary);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tw_unit_writer OUTPUT_DIR\n");
    return 2;
  }
  const std::string out_dir = argv[1];
  // The package writes no registry key file: the start handler then leaves the description
  // alone, as it does for a key it cannot open.
  tw::SystemdUnit unit;
  unit.description = "Tempwarden";
  unit.executable = "/usr/sbin/tempwarden";
  unit.data_dir = tw::DefaultDataDirOf("");
  unit.settings_file = "/etc/tempwarden/TEMPWARDEN.XML";
  unit.user = tw::kServiceUser;
  unit.alias = true;
  unit.state_directory = true;  // the package's own place, made by systemd for the account
  if (!Write(unit, out_dir + "/" + tw::kUnitName + ".service")) return 1;

  tw::SystemdUnit instance = unit;
  instance.description = "Tempwarden (%i)";
  instance.data_dir = tw::DefaultDataDirOf("%i");
  instance.settings_file = "/etc/tempwarden/%i/TEMPWARDEN.XML";
  instance.instance = "%i";
  instance.alias = false;
  instance.specifiers = true;
  if (!Write(instance, out_dir + "/" + tw::kUnitName + "@.service")) return 1;

  std::ofstream settings(out_dir + "/" + tw::kConfigFileName, std::ios::binary);
  for (const std::string& line : tw::DefaultConfigLines()) settings << line;
  settings.close();
  return settings ? 0 : 1;
}
