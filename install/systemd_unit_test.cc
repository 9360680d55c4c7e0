#include "install/systemd_unit.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace tw {
namespace {

SystemdUnit Unit(const std::string& dir) {
  SystemdUnit u;
  u.description = "Tempwarden";
  u.executable = dir + "/tempwarden";
  u.data_dir = dir + "/";
  u.user = "tempwarden";
  u.key_file = "/etc/systemd/system/VOZIvazure.key";
  return u;
}

// The value of the one line "Key=...", or "<missing>".
std::string Setting(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  }
  return "<missing>";
}

TEST(SystemdUnitTest, PathsAreQuotedOnlyWhereSystemdTakesQuotes) {
  struct Case {
    std::string dir;
    std::string exec_start;
    std::string working_directory;
    std::string read_write_paths;
  } cases[] = {
      {"/opt/tempwarden", "\"/opt/tempwarden/tempwarden\" -data \"/opt/tempwarden\"",
       "/opt/tempwarden",
       "/opt/tempwarden -/etc/systemd/system/VOZIvazure.key -/var/lib/prometheus/node-exporter"},
      {"/srv/ups watch", "\"/srv/ups watch/tempwarden\" -data \"/srv/ups watch\"", "/srv/ups watch",
       "\"/srv/ups watch\" -/etc/systemd/system/VOZIvazure.key -/var/lib/prometheus/node-exporter"},
      // % starts a specifier everywhere, \ an escape in quotes; "$" expands in the arguments
      // but not in the program's path.
      {"/srv/100%", "\"/srv/100%%/tempwarden\" -data \"/srv/100%%\"", "/srv/100%%",
       "/srv/100%% -/etc/systemd/system/VOZIvazure.key -/var/lib/prometheus/node-exporter"},
      {"/srv/$HOME", "\"/srv/$HOME/tempwarden\" -data \"/srv/$$HOME\"", "/srv/$HOME",
       "/srv/$HOME -/etc/systemd/system/VOZIvazure.key -/var/lib/prometheus/node-exporter"},
  };
  for (const Case& c : cases) {
    std::string text, error;
    ASSERT_TRUE(SystemdUnitText(Unit(c.dir), &text, &error)) << c.dir << ": " << error;
    EXPECT_EQ(Setting(text, "ExecStart"), c.exec_start) << c.dir;
    EXPECT_EQ(Setting(text, "WorkingDirectory"), c.working_directory) << c.dir;
    EXPECT_EQ(Setting(text, "ReadWritePaths"), c.read_write_paths) << c.dir;
  }
}

TEST(SystemdUnitTest, RunsAsItsOwnUserUnderTheWatchdog) {
  std::string text, error;
  ASSERT_TRUE(SystemdUnitText(Unit("/opt/tempwarden"), &text, &error));
  const std::pair<const char*, const char*> expected[] = {
      {"Type", "notify"},
      {"User", "tempwarden"},
      {"Group", "tempwarden"},
      {"WatchdogSec", "120"},
      {"Restart", "on-failure"},
      {"RestartSec", "60"},
      {"StartLimitIntervalSec", "0"},
      {"StartLimitBurst", "<missing>"},
      {"UMask", "0027"},
      {"Description", "Tempwarden"},
      {"Documentation", "man:tempwarden(8)"},
      {"RestrictAddressFamilies", "AF_INET AF_INET6 AF_UNIX AF_NETLINK"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(Setting(text, key), value) << key;
}

// The program and its folder are read-only to the service: it writes its data directory only,
// which below /var/lib systemd creates for the account.
TEST(SystemdUnitTest, PackageUnitsKeepProgramSettingsAndDataApart) {
  SystemdUnit unit;
  unit.description = "Tempwarden";
  unit.executable = "/usr/sbin/tempwarden";
  unit.data_dir = DefaultDataDirOf("");
  unit.settings_file = "/etc/tempwarden/TEMPWARDEN.XML";
  unit.user = "tempwarden";
  unit.alias = true;
  unit.state_directory = true;
  SystemdUnit instance = unit;
  instance.description = "Tempwarden (%i)";
  instance.data_dir = DefaultDataDirOf("%i");
  instance.settings_file = "/etc/tempwarden/%i/TEMPWARDEN.XML";
  instance.instance = "%i";
  instance.alias = false;
  instance.specifiers = true;
  struct Case {
    const SystemdUnit* unit;
    std::vector<std::pair<const char*, const char*>> settings;
  } cases[] = {
      {&unit,
       {{"ExecStart",
         "\"/usr/sbin/tempwarden\" -data \"/var/lib/tempwarden\" -config "
         "\"/etc/tempwarden/TEMPWARDEN.XML\""},
        {"StateDirectory", "tempwarden"},
        {"StateDirectoryMode", "0750"},
        {"WorkingDirectory", "/var/lib/tempwarden"},
        // Only the exporter's text-file folder, where "MetricsFile" may point.
        {"ReadWritePaths", "-/var/lib/prometheus/node-exporter"},
        {"ReadOnlyPaths", "/run"},
        {"Alias", "VOZIvazure.service"}}},
      {&instance,
       {{"Description", "Tempwarden (%i)"},
        {"ExecStart",
         "\"/usr/sbin/tempwarden\" -data \"/var/lib/tempwarden/%i\" -config "
         "\"/etc/tempwarden/%i/TEMPWARDEN.XML\" -instance \"%i\""},
        {"StateDirectory", "tempwarden/%i"},
        {"WorkingDirectory", "/var/lib/tempwarden/%i"},
        {"Alias", "<missing>"}}},
  };
  for (const auto& c : cases) {
    std::string text, error;
    ASSERT_TRUE(SystemdUnitText(*c.unit, &text, &error)) << error;
    for (const auto& [key, value] : c.settings) {
      EXPECT_EQ(Setting(text, key), value) << c.unit->description << " " << key;
    }
  }
  EXPECT_EQ(UnitNameOf(""), "tempwarden");
  EXPECT_EQ(UnitNameOf("ups2"), "tempwarden@ups2");
  EXPECT_EQ(DefaultDataDirOf("ups2"), "/var/lib/tempwarden/ups2");
}

// systemd reads a backslash or a double quote differently in ExecStart=, WorkingDirectory= and
// the path lists, and WorkingDirectory= drops a trailing blank: such paths are refused, never
// written so that systemd runs another program or opens another folder.
TEST(SystemdUnitTest, PathsAUnitCannotHoldAreRefused) {
  struct Case {
    std::string dir;
    std::string data_dir;  // empty: dir + "/"
    const char* why;
  } cases[] = {
      {"relative/dir", "", "is not absolute"},
      {"/srv/line\nbreak", "", "holds a control character"},
      {"/srv/tab\there", "", "holds a control character"},
      {"/srv/bell\x07", "", "holds a control character"},
      {"/srv/a\\b", "", "holds a backslash or a double quote"},
      {"/srv/a\"b", "", "holds a backslash or a double quote"},
      {"/srv/ok", "/srv/data ", "ends in a blank"},
      {"/srv/ok", "/srv/data /", "ends in a blank"},
      {"/srv/ok", "/srv/data\x1b[0m", "holds a control character"},
  };
  for (const Case& c : cases) {
    SystemdUnit unit = Unit(c.dir);
    if (!c.data_dir.empty()) unit.data_dir = c.data_dir;
    std::string text, error;
    EXPECT_FALSE(SystemdUnitText(unit, &text, &error)) << c.dir << " " << c.data_dir;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
  SystemdUnit unit = Unit("/srv/ok");
  unit.description = "Tempwarden (a\nb)";
  std::string text, error;
  EXPECT_FALSE(SystemdUnitText(unit, &text, &error));
  EXPECT_EQ(error,
            "\"Tempwarden (a\nb)\" holds a control character (such as a line break or a "
            "tab), which a systemd unit cannot carry");
}

// StateDirectory= hands the folder and all it holds to the account: only where the caller says
// so (the package's place, a folder /install made), and only below /var/lib.
TEST(SystemdUnitTest, StateDirectoryOnlyWhereAllowed) {
  struct Case {
    std::string data_dir;
    bool state_directory;
    const char* state;
    const char* read_write;
  } cases[] = {
      {"/var/lib/tempwarden", true, "tempwarden", "-/k -/var/lib/prometheus/node-exporter"},
      {"/var/lib/postgresql", false, "<missing>",
       "/var/lib/postgresql -/k -/var/lib/prometheus/node-exporter"},
      {"/var/lib/new/ups", true, "new/ups", "-/k -/var/lib/prometheus/node-exporter"},
      {"/srv/ups", true, "<missing>", "/srv/ups -/k -/var/lib/prometheus/node-exporter"},
  };
  for (const Case& c : cases) {
    SystemdUnit unit = Unit("/usr/local/sbin");
    unit.data_dir = c.data_dir;
    unit.key_file = "/k";
    unit.state_directory = c.state_directory;
    std::string text, error;
    ASSERT_TRUE(SystemdUnitText(unit, &text, &error)) << error;
    EXPECT_EQ(Setting(text, "StateDirectory"), c.state) << c.data_dir;
    EXPECT_EQ(Setting(text, "ReadWritePaths"), c.read_write) << c.data_dir;
  }
}

}  // namespace
}  // namespace tw
