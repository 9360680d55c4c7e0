#include "service/program.h"

#include <gtest/gtest.h>

#include <cctype>

namespace tw {
namespace {

// Both halves of the platform in one recorder, so that the order of their calls shows.
class RecordingHost : public ServiceHost, public Installer {
 public:
  bool Install(const ServiceRegistration&, std::string* error) override {
    calls.push_back("install");
    *error = fail_text;
    return fail_text.empty();
  }
  bool Uninstall(const ServiceRegistration&, std::string* error) override {
    calls.push_back("uninstall");
    *error = fail_text;
    return fail_text.empty();
  }
  bool Dispatch(const ServiceDefinition&, std::string* error) override {
    calls.push_back("dispatch");
    *error = fail_text;
    return fail_text.empty();
  }
  void RunInConsole(const ServiceDefinition&) override { calls.push_back("console"); }
  void ShowMessage(const ServiceDefinition&, const std::string& text, bool is_error,
                   bool silent) override {
    calls.push_back(std::string(silent ? "silent " : "") + (is_error ? "error:" : "message:") +
                    text);
  }
  void WriteEventLog(const std::string& name, const std::string& text) override {
    calls.push_back("event:" + name + ":" + text);
  }
  std::string fail_text;
  std::vector<std::string> calls;
};

TEST(ProgramTest, CommandsRunWithoutTheServiceAndGiveTheirExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int testmail_status;
    std::vector<std::string> ran;
    int exit_code;
  } cases[] = {
      {{"/testmail"}, 0, {"testmail"}, 0},
      {{"-TestMail"}, 1, {"testmail"}, 1},
      {{"-query"}, 0, {"query"}, 0},
      {{"/QUERY"}, 0, {"query"}, 0},
      {{"testmail"}, 0, {}, 0},  // no "-" or "/": dispatches as the service
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  for (const auto& c : cases) {
    RecordingHost host;
    std::vector<std::string> ran;
    ProgramCommands commands;
    commands.testmail = [&] {
      ran.push_back("testmail");
      return c.testmail_status;
    };
    commands.query = [&] {
      ran.push_back("query");
      return 0;
    };
    EXPECT_EQ(RunProgram(c.args, host, host, def, commands), c.exit_code) << c.args[0];
    EXPECT_EQ(ran, c.ran) << c.args[0];
    // Neither command touches the service registration or starts the service.
    EXPECT_EQ(host.calls,
              c.ran.empty() ? std::vector<std::string>{"dispatch"} : std::vector<std::string>{})
        << c.args[0];
  }
}

TEST(ProgramTest, ProtectIsHandedItsKeyAndNeverStartsTheService) {
  const struct {
    std::vector<std::string> args;
    std::string ran;
  } cases[] = {
      {{"/protect", "SMTPPassword"}, "smtppassword remove=0 env="},
      {{"-PROTECT=smtppassword", "--remove"}, "smtppassword remove=1 env="},
      {{"/protect", "SMTPPassword", "/secret-env", "TW_PW", "/config", "/etc/t.xml"},
       "smtppassword remove=0 env=TW_PW"},
      {{"/instance", "lab", "/protect", "WebhookToken"}, "webhooktoken remove=0 env="},
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    RecordingHost host;
    std::string ran;
    ProgramCommands commands;
    commands.protect = [&](const std::string& key, bool remove, const std::string& env) {
      std::string lower;
      for (char ch : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      ran = lower + " remove=" + (remove ? "1" : "0") + " env=" + env;
      return 0;
    };
    EXPECT_EQ(RunProgram(c.args, host, host, def, commands), 0);
    EXPECT_EQ(ran, c.ran);
    EXPECT_TRUE(host.calls.empty());
  }
  // Without its key the line is wrong, and nothing runs.
  RecordingHost host;
  EXPECT_EQ(RunProgram({"/protect"}, host, host, def, ProgramCommands()), 2);
  EXPECT_EQ(host.calls, std::vector<std::string>{"error:The switch /protect needs a value."});
}

TEST(ProgramTest, Switches) {
  struct Case {
    std::vector<std::string> args;
    std::string fail_text;
    std::vector<std::string> calls;
    int exit_code;
  } cases[] = {
      {{"/install", "/silent"}, "", {"install"}, 0},
      {{"-Install"}, "", {"install", "message:Service installed successfully"}, 0},
      {{"/INSTALL", "/UNINSTALL"}, "", {"install", "message:Service installed successfully"}, 0},
      {{"/uninstall"}, "", {"uninstall", "message:Service uninstalled successfully"}, 0},
      {{"/install"},
       "Access is denied.",
       {"install",
        "error:Service \"Tempwarden\" failed to install with error: \"Access is denied.\""},
       1},
      {{"/install", "-silent"},
       "The specified service already exists.",
       {"install",
        "silent error:Service \"Tempwarden\" failed to install with error: \"The specified "
        "service already exists.\""},
       1},
      {{"/uninstall", "/silent"},
       "Access is denied.",
       {"uninstall",
        "silent error:Service \"Tempwarden\" failed to uninstall with error: \"Access is "
        "denied.\""},
       1},
      {{"-console"}, "", {"console"}, 0},
      {{}, "", {"dispatch"}, 0},
      {{"install", "x"}, "", {"dispatch"}, 0},  // no "-" or "/": not a switch
      {{},
       "The service process could not connect to the service controller.",
       {"dispatch",
        "event:VOZIvazure:The service process could not connect to the service controller."},
       1},
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  def.display_name = "Tempwarden";
  for (const auto& c : cases) {
    RecordingHost host;
    host.fail_text = c.fail_text;
    EXPECT_EQ(RunProgram(c.args, host, host, def), c.exit_code);
    EXPECT_EQ(host.calls, c.calls) << (c.args.empty() ? "" : c.args[0]);
  }
}

TEST(ProgramTest, SettingsFileDataDirectoryAndInstanceFromTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string settings_file, data_dir, instance, error;
    bool install;
  } cases[] = {
      {{}, "", "", "", "", false},
      {{"/config", "/etc/tempwarden/TEMPWARDEN.XML", "-data", "/var/lib/tempwarden"},
       "/etc/tempwarden/TEMPWARDEN.XML",
       "/var/lib/tempwarden",
       "",
       "",
       false},
      {{"-CONFIG=C:\\ProgramData\\Tempwarden\\TEMPWARDEN.XML", "/Data=C:\\ProgramData\\Tempwarden"},
       "C:\\ProgramData\\Tempwarden\\TEMPWARDEN.XML",
       "C:\\ProgramData\\Tempwarden",
       "",
       "",
       false},
      {{"/install", "ups2", "/silent"}, "", "", "ups2", "", true},
      {{"/install", "/silent"}, "", "", "", "", true},
      {{"-instance", "Room_B-1", "-console"}, "", "", "Room_B-1", "", false},
      {{"/uninstall", "ups2"}, "", "", "ups2", "", false},
      {{"/data"}, "", "", "", "The switch /data needs a value.", false},
      {{"/config="}, "", "", "", "The switch /config= needs a value.", false},
      {{"/install", "../etc"},
       "",
       "",
       "../etc",
       "The instance name \"../etc\" is not usable: up to 32 letters, digits, \"-\" or \"_\".",
       true},
      {{"-instance", std::string(33, 'a')},
       "",
       "",
       std::string(33, 'a'),
       "The instance name \"" + std::string(33, 'a') +
           "\" is not usable: up to 32 letters, digits, \"-\" or \"_\".",
       false},
  };
  for (const auto& c : cases) {
    const ProgramSwitches s = ParseSwitches(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(s.settings_file, c.settings_file) << label;
    EXPECT_EQ(s.data_dir, c.data_dir) << label;
    EXPECT_EQ(s.instance, c.instance) << label;
    EXPECT_EQ(s.error, c.error) << label;
    EXPECT_EQ(s.install, c.install) << label;
  }
}

// Help and version print and end; an unknown switch is named with the usage and nothing runs.
TEST(ProgramTest, HelpVersionAndUnknownSwitchesPrintAndRunNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string printed;  // "out:" or "err:" and the first line
    int exit_code;
  } cases[] = {
      {{"--help"}, "out:Usage: tempwarden [SWITCH...]", 0},
      {{"-h"}, "out:Usage: tempwarden [SWITCH...]", 0},
      {{"/?"}, "out:Usage: tempwarden [SWITCH...]", 0},
      {{"/HELP", "/install"}, "out:Usage: tempwarden [SWITCH...]", 0},
      {{"--version"}, "out:tempwarden 1.2.3.4", 0},
      {{"/Version"}, "out:tempwarden 1.2.3.4", 0},
      {{"--bogus"}, "err:Unknown switch: --bogus", 2},
      {{"/install", "/quiet"}, "err:Unknown switch: /quiet", 2},
      {{"--help", "-x"}, "err:Unknown switch: -x", 2},
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  for (const auto& c : cases) {
    RecordingHost host;
    std::string printed;
    ProgramCommands commands;
    commands.version = [] { return std::string("1.2.3.4"); };
    commands.print = [&](const std::string& text, bool is_error) {
      printed += (is_error ? "err:" : "out:") + text;
    };
    EXPECT_EQ(RunProgram(c.args, host, host, def, commands), c.exit_code) << c.args[0];
    EXPECT_EQ(printed.substr(0, printed.find('\n')), c.printed) << c.args[0];
    EXPECT_EQ(host.calls, std::vector<std::string>{}) << c.args[0];
    if (c.exit_code == 2) EXPECT_NE(printed.find(UsageText()), std::string::npos);
  }
}

// What /install hands the platform: the instance and the places the command line named.
class RegistrationRecorder : public RecordingHost {
 public:
  bool Install(const ServiceRegistration& r, std::string* error) override {
    seen = r;
    return RecordingHost::Install(r, error);
  }
  ServiceRegistration seen;
};

TEST(ProgramTest, InstallIsHandedTheInstanceAndItsPlacesAndABadLineRunsNothing) {
  ServiceDefinition def;
  def.name = "VOZIvazure$ups2";
  def.display_name = "Tempwarden (ups2)";
  RegistrationRecorder host;
  EXPECT_EQ(RunProgram({"/install", "ups2", "/silent", "/data", "/srv/ups2"}, host, host, def), 0);
  EXPECT_EQ(host.seen.name, "VOZIvazure$ups2");
  EXPECT_EQ(host.seen.display_name, "Tempwarden (ups2)");
  EXPECT_EQ(host.seen.instance, "ups2");
  EXPECT_EQ(host.seen.data_dir, "/srv/ups2");
  EXPECT_EQ(host.seen.settings_file, "");

  RecordingHost bad;
  EXPECT_EQ(RunProgram({"/console", "/config"}, bad, bad, def), 2);
  EXPECT_EQ(bad.calls, std::vector<std::string>{"error:The switch /config needs a value."});
}

// Run as root in a folder another user owns, nothing that works in the data folder runs;
// installing and removing still do.
TEST(ProgramTest, AnObjectionToTheDataFolderStopsEverythingButInstalling) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> calls;
    int exit_code;
  } cases[] = {
      {{"-console"}, {"silent error:refused"}, 1},  {{}, {"silent error:refused"}, 1},
      {{"/testmail"}, {"silent error:refused"}, 1}, {{"/query"}, {"silent error:refused"}, 1},
      {{"/install", "/silent"}, {"install"}, 0},    {{"/uninstall", "/silent"}, {"uninstall"}, 0},
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  def.display_name = "Tempwarden";
  for (const auto& c : cases) {
    RecordingHost host;
    ProgramCommands commands;
    commands.testmail = [] { return 0; };
    commands.query = [] { return 0; };
    commands.why_not_run = [] { return std::string("refused"); };
    EXPECT_EQ(RunProgram(c.args, host, host, def, commands), c.exit_code);
    EXPECT_EQ(host.calls, c.calls) << (c.args.empty() ? "" : c.args[0]);
  }
}

// A host that leaves something behind on purpose (the Linux host: the account and the files).
class NotingHost : public RecordingHost {
 public:
  std::string UninstallNote(const ServiceRegistration&) override { return "The user stays."; }
};

TEST(ProgramTest, WhatUninstallLeavesIsSaidAfterItsSuccessUnlessSilent) {
  struct Case {
    std::vector<std::string> args;
    std::string fail_text;
    std::vector<std::string> calls;
  } cases[] = {
      {{"/uninstall"},
       "",
       {"uninstall", "message:Service uninstalled successfully", "message:The user stays."}},
      {{"/uninstall", "/silent"}, "", {"uninstall"}},
      {{"/uninstall"},
       "Access is denied.",
       {"uninstall",
        "error:Service \"Tempwarden\" failed to uninstall with error: \"Access is denied.\""}},
      {{"/install"}, "", {"install", "message:Service installed successfully"}},
  };
  ServiceDefinition def;
  def.name = "VOZIvazure";
  def.display_name = "Tempwarden";
  for (const auto& c : cases) {
    NotingHost host;
    host.fail_text = c.fail_text;
    RunProgram(c.args, host, host, def);
    EXPECT_EQ(host.calls, c.calls) << c.args[0] << " " << c.fail_text;
  }
}

// "/set KEY=VALUE" collects its words in order and runs nothing but the writer; a word
// without "=" (or with nothing before it) is a wrong command line.
TEST(ProgramTest, SetHandsItsAssignmentsToTheWriterAndRunsNothingElse) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> handed;
    int exit_code;
    std::string error;
  } cases[] = {
      {{"/set", "UPSHost=10.0.0.5", "-SET=AlarmTemp=35", "/set", "EmailCCAddr="},
       {"UPSHost=10.0.0.5", "AlarmTemp=35", "EmailCCAddr="},
       0,
       ""},
      {{"/set", "UPSHost=a=b"}, {"UPSHost=a=b"}, 0, ""},
      {{"/set", "UPSHost"}, {}, 2, "The switch /set needs KEY=VALUE, not \"UPSHost\"."},
      {{"/set", "=x"}, {}, 2, "The switch /set needs KEY=VALUE, not \"=x\"."},
      {{"/set"}, {}, 2, "The switch /set needs a value."},
  };
  ServiceDefinition def;
  for (const auto& c : cases) {
    RecordingHost host;
    std::vector<std::string> handed;
    ProgramCommands commands;
    commands.set = [&](const std::vector<std::string>& a) {
      handed = a;
      return 0;
    };
    EXPECT_EQ(RunProgram(c.args, host, host, def, commands), c.exit_code) << c.args[0];
    EXPECT_EQ(handed, c.handed);
    EXPECT_EQ(ParseSwitches(c.args).error, c.error);
    // Neither the service nor an installer runs; a wrong line is shown.
    EXPECT_EQ(host.calls, c.error.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{"error:" + c.error});
  }
  RecordingHost host;
  ProgramCommands commands;
  commands.set = [](const std::vector<std::string>&) { return 1; };
  EXPECT_EQ(RunProgram({"/set", "AlarmTemp=hot"}, host, host, def, commands), 1);
}

}  // namespace
}  // namespace tw
