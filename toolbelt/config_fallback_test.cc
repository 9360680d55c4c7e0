// Settings that cannot be used as written: the level in force stays, fallbacks are named once,
// and a file that cannot be read leaves every value in force.
#include <gtest/gtest.h>

#include "toolbelt/config.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";

std::string File(const std::string& body) { return "<XML>\r\n" + body + "</XML>\r\n"; }

// The activity-log entries with the fallback code, in order.
std::vector<std::string> FallbackEntries(const FakeEnv& env) {
  std::vector<std::string> out;
  for (const auto& f : env.files.files()) {
    if (f.first.find("/APC-") == std::string::npos) continue;
    size_t at = 0;
    while ((at = f.second.find(",40200,\"", at)) != std::string::npos) {
      const size_t end = f.second.find("\"\r\n", at);
      out.push_back(f.second.substr(at + 8, end - at - 8));
      at = end;
    }
  }
  return out;
}

TEST(ConfigFallbackTest, SysLogTrapThatIsMissingOrNoNumberKeepsTheLevelInForce) {
  struct Case {
    const char* name;
    std::string body;
    int32_t in_force;
    int32_t level;
    bool named;
  } cases[] = {
      {"a number", "<SysLogTrap>3</SysLogTrap>", 7, 3, false},
      {"zero", "<SysLogTrap>0</SysLogTrap>", 7, 0, false},
      {"missing", "<TempSleep>300</TempSleep>", 7, 7, false},
      {"empty", "<SysLogTrap></SysLogTrap>", 5, 5, false},
      {"letters", "<SysLogTrap>seven</SysLogTrap>", 7, 7, true},
      {"trailing blank", "<SysLogTrap>4 </SysLogTrap>", 7, 7, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    env.ctx.settings.Log.DebugLevel = c.in_force;
    env.files.Put(kPath, File(c.body));
    tConfigReadSite site;
    EXPECT_EQ(ReadStartConfig(env.ctx, site).DebugLevel, c.level);
    EXPECT_EQ(FallbackEntries(env).size(), c.named ? 1u : 0u);
  }
}

TEST(ConfigFallbackTest, UnusableSettingsAreNamedOnceWithTheValueUsed) {
  struct Case {
    std::string body;
    const char* entry;  // "" for none
    int32_t temp_sleep;
    int32_t voltage_sleep;
    double alarm_temp;
    int32_t smtp_port;
  } cases[] = {
      {"<TempSleep>-5</TempSleep>",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=TempSleep][Value=-5][Used=300]",
       300, 30, 0, 25},
      {"<VoltageSleep>-1</VoltageSleep>",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=VoltageSleep][Value=-1]"
       "[Used=30]",
       300, 30, 0, 25},
      {"<VoltageSleep>ten</VoltageSleep>",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=VoltageSleep][Value=ten]"
       "[Used=30]",
       300, 30, 0, 25},
      {"<AlarmTemp>hot</AlarmTemp>",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=AlarmTemp][Value=hot][Used=0]",
       300, 30, 0, 25},
      {"<SMTPPort>70000</SMTPPort>",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=SMTPPort][Value=70000]"
       "[Used=25]",
       300, 30, 0, 25},
      {"<TempSleep>0</TempSleep><VoltageSleep>10</VoltageSleep><AlarmTemp>31.5</AlarmTemp>", "",
       300, 10, 31.5, 25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    FakeEnv env;
    env.files.Put(kPath, File(c.body));
    tConfigReadSite start_site, pass_site;
    tServiceConfig config = ReadStartConfig(env.ctx, start_site);
    int32_t trace = 1110;
    ReReadPassConfig(env.ctx, pass_site, config, trace);
    ReReadPassConfig(env.ctx, pass_site, config, trace);  // the same text: not named again
    EXPECT_EQ(config.TempSleep, c.temp_sleep);
    EXPECT_EQ(config.VoltageSleep, c.voltage_sleep);
    EXPECT_DOUBLE_EQ(config.AlarmTemp, c.alarm_temp);
    EXPECT_EQ(config.SMTPPort, c.smtp_port);
    const std::vector<std::string> entries = FallbackEntries(env);
    const bool pass_key = c.body.find("<TempSleep>-") != std::string::npos ||
                          c.body.find("<AlarmTemp>hot") != std::string::npos;
    // Named once by the start read, and once by the pass site that reads the key too.
    const size_t want = c.entry[0] == '\0' ? 0 : (pass_key ? 2 : 1);
    ASSERT_EQ(entries.size(), want);
    for (const auto& e : entries) EXPECT_EQ(e, c.entry);
  }
}

TEST(ConfigFallbackTest, AChangedUnusableTextIsNamedAgain) {
  FakeEnv env;
  env.files.Put(kPath, File("<TempSleep>-5</TempSleep>"));
  tConfigReadSite site;
  tServiceConfig config;
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, site, config, trace);
  env.files.Put(kPath, File("<TempSleep>600</TempSleep>"));
  ReReadPassConfig(env.ctx, site, config, trace);
  EXPECT_EQ(config.TempSleep, 600);
  env.files.Put(kPath, File("<TempSleep>-5</TempSleep>"));
  ReReadPassConfig(env.ctx, site, config, trace);
  EXPECT_EQ(FallbackEntries(env).size(), 2u);
}

TEST(ConfigFallbackTest, AReReadThatCannotReadTheFileKeepsTheValuesInForce) {
  FakeEnv env;
  env.files.Put(kPath, File("<TempSleep>60</TempSleep><AlarmTemp>35</AlarmTemp>"
                            "<EmailToAddr>ops@example.test</EmailToAddr>"));
  tConfigReadSite start_site, pass_site;
  tServiceConfig config = ReadStartConfig(env.ctx, start_site);
  env.files.unreadable.insert(kPath);
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.TempSleep, 60);
  EXPECT_DOUBLE_EQ(config.AlarmTemp, 35);  // not 0, which would raise a false alarm
  EXPECT_EQ(config.EmailToAddr, "ops@example.test");
  // Readable again: the pass site reads as before.
  env.files.unreadable.clear();
  env.files.Put(kPath, File("<TempSleep>120</TempSleep><AlarmTemp>36</AlarmTemp>"));
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.TempSleep, 120);
  EXPECT_DOUBLE_EQ(config.AlarmTemp, 36);
}

TEST(ConfigFallbackTest, LoginWithControlCharactersIsRefusedByName) {
  struct Case {
    const char* name;
    std::string body;
    const char* user;
    const char* password;
    const char* entry;  // "" for none
  } cases[] = {
      {"plain", "<SMTPUser>ups@lan</SMTPUser><SMTPPassword>p\tw</SMTPPassword>", "ups@lan", "p\tw",
       ""},
      {"NUL in the password",
       "<SMTPUser>u</SMTPUser><SMTPPassword>pw" + std::string(1, '\0') + "admin</SMTPPassword>",
       "u", "",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=SMTPPassword]"
       "[Value=(not shown)][Used=none: a control character (NUL, CR, LF, ^A, ...) is in it]"},
      {"line break around the password",
       "<SMTPUser>u</SMTPUser><SMTPPassword>\r\n  secret\r\n</SMTPPassword>", "u", "",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=SMTPPassword]"
       "[Value=(not shown)][Used=none: a control character (NUL, CR, LF, ^A, ...) is in it]"},
      {"^A in the user",
       "<SMTPUser>u\x01"
       "auth=x</SMTPUser><SMTPPassword>pw</SMTPPassword>",
       "", "pw",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=SMTPUser][Value=u auth=x]"
       "[Used=none: a control character (NUL, CR, LF, ^A, ...) is in it]"},
      {"CR LF and a command in the user", "<SMTPUser>u\r\nMAIL FROM:&lt;x&gt;</SMTPUser>", "", "",
       "[Function=toolbelt.ReadConfig][Msg=Setting not usable][Key=SMTPUser]"
       "[Value=u  MAIL FROM:<x>][Used=none: a control character (NUL, CR, LF, ^A, ...) is in it]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    env.files.Put(kPath, File(c.body));
    tConfigReadSite site;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    EXPECT_EQ(config.SMTPUser, c.user);
    EXPECT_EQ(config.SMTPPassword, c.password);
    EXPECT_EQ(FallbackEntries(env), std::string(c.entry).empty()
                                        ? std::vector<std::string>{}
                                        : std::vector<std::string>{c.entry});
  }
}

}  // namespace
}  // namespace tw
