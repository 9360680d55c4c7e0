// Writes the systemd unit that the Debian package ships, from the same text as the one that
// `tempwarden /install` writes, for the program in DIR.
// usage: tw_unit_writer DIR OUTPUT_FILE
#include <cstdio>
#include <fstream>
#include <string>

#include "install/systemd_unit.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tw_unit_writer DIR OUTPUT_FILE\n");
    return 2;
  }
  tw::SystemdUnit unit;
  unit.description = "Tempwarden";
  unit.directory = argv[1];
  unit.executable = unit.directory + "/tempwarden";
  unit.user = tw::kServiceUser;
  // The package writes no registry key file: the start handler then leaves the description
  // alone, as it does for a key it cannot open.
  std::string text, error;
  if (!tw::SystemdUnitText(unit, &text, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << text;
  out.close();
  return out ? 0 : 1;
}
