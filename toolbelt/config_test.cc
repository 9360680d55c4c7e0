#include "toolbelt/config.h"

#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";

// The default file, byte for byte.
const char kDefaultFile[] =
    "<XML>\r\n"
    "  <!-- UPSHost=TELNET IP of APC UPS -->\r\n"
    "  <UPSHost></UPSHost>\r\n"
    "  <SNMPCommunity>public</SNMPCommunity>\r\n"
    "  <SysLogTrap>7</SysLogTrap>\r\n"
    "  <PhoneHomeServer>localhost/ordo/ordoisapi.dll/UPSPhoneHome</PhoneHomeServer>\r\n"
    "  <TempSleep>300</TempSleep>\r\n"
    "  <VoltageSleep>30</VoltageSleep>\r\n"
    "  <GUID></GUID>\r\n"
    "  <Location></Location>\r\n"
    "  <!-- PagerNo=My Ordo pager number -->\r\n"
    "  <PagerNos></PagerNos>\r\n"
    "  <TestPagerNo>0</TestPagerNo>\r\n"
    "  <AlarmTemp>30</AlarmTemp>\r\n"
    "  <EmailToAddr></EmailToAddr>\r\n"
    "  <EmailCCAddr></EmailCCAddr>\r\n"
    "  <SMTPRelay></SMTPRelay>\r\n"
    "  <EmailFromAddr></EmailFromAddr>\r\n"
    "  <SMTPUser></SMTPUser>\r\n"
    "  <SMTPPassword></SMTPPassword>\r\n"
    "  <DebugFile></DebugFile>\r\n"
    "</XML>\r\n";

std::string File(const std::string& body) { return "<XML>\r\n" + body + "</XML>\r\n"; }

tServiceConfig StartRead(FakeEnv& env, const std::string& file) {
  env.files.Put(kPath, file);
  tConfigReadSite site;
  return ReadStartConfig(env.ctx, site);
}

TEST(ConfigTest, DefaultFileByteForByte) {
  FakeEnv env;
  ASSERT_TRUE(EnsureConfigFile(env.ctx));
  EXPECT_EQ(env.files.Get(kPath), kDefaultFile);
  // Line 1 replaces (creates) the file; each further line is a separate append.
  ASSERT_EQ(env.files.writes.size(), 22u);
  EXPECT_FALSE(env.files.writes[0].append);
  EXPECT_EQ(env.files.writes[0].data, "<XML>\r\n");
  for (size_t i = 1; i < 22; ++i) {
    EXPECT_TRUE(env.files.writes[i].append) << "line " << i + 1;
  }
  EXPECT_EQ(env.files.writes[21].data, "</XML>\r\n");
}

TEST(ConfigTest, ExistingFileIsKeptAndUnwritableDirectoryMeansNoFile) {
  FakeEnv env;
  env.files.Put(kPath, "<XML><UPSHost>ups</UPSHost></XML>");
  EXPECT_TRUE(EnsureConfigFile(env.ctx));
  EXPECT_EQ(env.files.Get(kPath), "<XML><UPSHost>ups</UPSHost></XML>");
  EXPECT_TRUE(env.files.writes.empty());

  FakeEnv readonly;
  readonly.files.fail_all_writes = true;
  EXPECT_FALSE(EnsureConfigFile(readonly.ctx));
  EXPECT_FALSE(readonly.files.Has(kPath));
}

TEST(ConfigTest, SettingsFileOfTheCommandLineIsCreatedReadAndReReadThere) {
  FakeEnv env;
  env.files.AddDirectory("/etc");
  env.files.AddDirectory("/etc/tempwarden");
  env.ctx.layout.SettingsFile = "/etc/tempwarden/TEMPWARDEN.XML";
  EXPECT_EQ(SettingsFilePath(env.ctx), "/etc/tempwarden/TEMPWARDEN.XML");
  ASSERT_TRUE(EnsureConfigFile(env.ctx));
  EXPECT_EQ(env.files.Get("/etc/tempwarden/TEMPWARDEN.XML"), kDefaultFile);
  EXPECT_FALSE(env.files.Has(kPath));  // nothing beside the program
  // It is to hold passwords: created for its owner alone.
  EXPECT_EQ(env.files.private_files, std::set<std::string>{"/etc/tempwarden/TEMPWARDEN.XML"});

  // A file beside the program is not what this run reads.
  env.files.Put(kPath, File("<UPSHost>beside</UPSHost>"));
  env.files.Put("/etc/tempwarden/TEMPWARDEN.XML",
                File("<UPSHost>etc</UPSHost><TempSleep>60</TempSleep>"));
  tConfigReadSite site, pass_site;
  tServiceConfig config = ReadStartConfig(env.ctx, site);
  EXPECT_EQ(config.UPSHost, "etc");
  env.files.Put("/etc/tempwarden/TEMPWARDEN.XML", File("<UPSHost>etc2</UPSHost>"));
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.UPSHost, "etc2");
}

TEST(ConfigTest, DefaultFileReadBack) {
  FakeEnv env;
  ASSERT_TRUE(EnsureConfigFile(env.ctx));
  tConfigReadSite site;
  const tServiceConfig c = ReadStartConfig(env.ctx, site);
  EXPECT_EQ(c.DebugLevel, 7);
  EXPECT_EQ(c.UPSHost, "");
  EXPECT_EQ(c.SNMPCommunity, "public");
  EXPECT_EQ(c.PhoneHomeServer, "localhost/ordo/ordoisapi.dll/UPSPhoneHome");
  EXPECT_EQ(c.TempSleep, 300);
  EXPECT_EQ(c.VoltageSleep, 30);
  EXPECT_EQ(c.GUID, "");
  EXPECT_EQ(c.Location, "");
  EXPECT_EQ(c.TestPagerNos, 0);  // the default file carries "TestPagerNo", never read
  EXPECT_FALSE(site.Params.at("TestPagerNos").Found);
  EXPECT_DOUBLE_EQ(c.AlarmTemp, 30);
  EXPECT_EQ(c.EmailToAddr, "");
  EXPECT_EQ(c.EmailCCAddr, "");
  EXPECT_EQ(c.SMTPRelay, "");
  EXPECT_EQ(c.SMTPPort, 25);
  EXPECT_EQ(c.EmailFromAddr, "");
  EXPECT_EQ(c.SMTPUser, "");
  EXPECT_EQ(c.SMTPPassword, "");
  EXPECT_EQ(c.SyslogCollector, "127.0.0.1");
  EXPECT_EQ(c.PhoneHomeCollector, "localhost");
  EXPECT_EQ(c.SNMPVersion, "");  // version 1
  EXPECT_EQ(c.SNMPAuthPassword, "");
  EXPECT_EQ(c.OAuthClientSecret, "");
  EXPECT_EQ(c.OAuthScope, "");  // the adapter puts in the Microsoft 365 scope
  EXPECT_EQ(c.SMTPAuth, "auto");
  EXPECT_EQ(site.Params.size(), 38u);  // every key the start reads
}

TEST(ConfigTest, SnmpKeysAreReadAtStartAsTheyStand) {
  FakeEnv env;
  const tServiceConfig c =
      StartRead(env, File("  <SNMPVersion>3</SNMPVersion>\r\n  <SNMPUser>ups-reader</SNMPUser>\r\n"
                          "  <SNMPAuthProtocol>SHA256</SNMPAuthProtocol>\r\n"
                          "  <SNMPAuthPassword>auth pass 1</SNMPAuthPassword>\r\n"
                          "  <SNMPPrivProtocol>AES</SNMPPrivProtocol>\r\n"
                          "  <SNMPPrivPassword>priv pass 2</SNMPPrivPassword>\r\n"
                          "  <SNMPContext>ups</SNMPContext>\r\n"));
  EXPECT_EQ(c.SNMPVersion, "3");
  EXPECT_EQ(c.SNMPUser, "ups-reader");
  EXPECT_EQ(c.SNMPAuthProtocol, "SHA256");
  EXPECT_EQ(c.SNMPAuthPassword, "auth pass 1");
  EXPECT_EQ(c.SNMPPrivProtocol, "AES");
  EXPECT_EQ(c.SNMPPrivPassword, "priv pass 2");
  EXPECT_EQ(c.SNMPContext, "ups");
}

TEST(ConfigTest, TempSleepFallbacks) {
  struct Case {
    const char* name;
    std::string body;
    int32_t seconds;
  };
  const Case cases[] = {
      {"600", "<TempSleep>600</TempSleep>", 600},
      {"zero", "<TempSleep>0</TempSleep>", 300},
      {"empty", "<TempSleep></TempSleep>", 300},
      {"letters", "<TempSleep>abc</TempSleep>", 300},
      {"trailing blank", "<TempSleep>300 </TempSleep>", 300},
      {"absent", "<VoltageSleep>10</VoltageSleep>", 300},
      {"hexadecimal", "<TempSleep>$3C</TempSleep>", 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    EXPECT_EQ(StartRead(env, File(c.body)).TempSleep, c.seconds);
  }
}

TEST(ConfigTest, AlarmTempFollowsTheRegionalSeparator) {
  FakeEnv english;
  english.regional.mutable_settings() = EnglishSettings();
  EXPECT_DOUBLE_EQ(StartRead(english, File("<AlarmTemp>27.5</AlarmTemp>")).AlarmTemp, 27.5);

  FakeEnv german;
  german.regional.mutable_settings() = GermanSettings();
  EXPECT_DOUBLE_EQ(StartRead(german, File("<AlarmTemp>27.5</AlarmTemp>")).AlarmTemp, 0);
  EXPECT_DOUBLE_EQ(StartRead(german, File("<AlarmTemp>27,5</AlarmTemp>")).AlarmTemp, 27.5);

  // Line breaks are not blanks: a value spread over lines is no number.
  EXPECT_DOUBLE_EQ(StartRead(english, File("<AlarmTemp>\r\n30\r\n</AlarmTemp>")).AlarmTemp, 0);
  // ... and a level that is no number keeps the one in force (7 at start).
  EXPECT_EQ(StartRead(english, File("<SysLogTrap>\r\n5\r\n</SysLogTrap>")).DebugLevel, 7);
}

TEST(ConfigTest, TagPlacement) {
  FakeEnv env;
  // Two pairs: the first counts.
  EXPECT_EQ(StartRead(env, File("<UPSHost>ups-a</UPSHost><UPSHost>ups-b</UPSHost>")).UPSHost,
            "ups-a");
  // Another case is another key.
  EXPECT_EQ(StartRead(env, File("<upshost>ups-a</upshost>")).UPSHost, "");
  // A closing tag only before the opening tag: the value runs to the end of the file.
  EXPECT_EQ(StartRead(env, "</GUID>\r\n<GUID>g-1\r\n</XML>\r\n").GUID, "g-1\r\n</XML>\r\n");
}

TEST(ConfigTest, ExtraKeysAndTheirDefaults) {
  struct Case {
    const char* name;
    std::string body;
    int32_t port;
    const char* syslog;
    const char* phone_home;
  };
  const Case cases[] = {
      {"absent", "", 25, "127.0.0.1", "localhost"},
      {"set",
       "<SMTPPort>2525</SMTPPort><SyslogCollector>10.0.0.5</SyslogCollector>"
       "<PhoneHomeCollector>ph.example</PhoneHomeCollector>",
       2525, "10.0.0.5", "ph.example"},
      {"empty",
       "<SMTPPort></SMTPPort><SyslogCollector></SyslogCollector>"
       "<PhoneHomeCollector></PhoneHomeCollector>",
       25, "127.0.0.1", "localhost"},
      {"port zero", "<SMTPPort>0</SMTPPort>", 25, "127.0.0.1", "localhost"},
      {"port out of range", "<SMTPPort>70000</SMTPPort>", 25, "127.0.0.1", "localhost"},
      {"port negative", "<SMTPPort>-25</SMTPPort>", 25, "127.0.0.1", "localhost"},
      {"port letters", "<SMTPPort>smtp</SMTPPort>", 25, "127.0.0.1", "localhost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    const tServiceConfig config = StartRead(env, File(c.body));
    EXPECT_EQ(config.SMTPPort, c.port);
    EXPECT_EQ(config.SyslogCollector, c.syslog);
    EXPECT_EQ(config.PhoneHomeCollector, c.phone_home);
  }

  FakeEnv env;
  const tServiceConfig mail =
      StartRead(env, File("<SMTPRelay>relay.lan</SMTPRelay><EmailFromAddr>ups@lan</EmailFromAddr>"
                          "<SMTPUser>u</SMTPUser><SMTPPassword> p w </SMTPPassword>"));
  EXPECT_EQ(mail.SMTPRelay, "relay.lan");
  EXPECT_EQ(mail.EmailFromAddr, "ups@lan");
  EXPECT_EQ(mail.SMTPUser, "u");
  EXPECT_EQ(mail.SMTPPassword, " p w ");
}

TEST(ConfigTest, TemperatureObjectAndScale) {
  const char* kDefault = kDefaultTemperatureOID;
  const char* kTenths = "1.3.6.1.4.1.318.1.1.1.2.3.2.0";
  const struct {
    const char* name;
    std::string body;
    const char* oid;
    double scale;
    const char* german_scale_text;  // the same scale in a file of a German machine
  } cases[] = {
      {"absent", "", kDefault, 1, nullptr},
      {"empty", "<TemperatureOID></TemperatureOID><TemperatureScale></TemperatureScale>", kDefault,
       1, nullptr},
      {"tenths",
       "<TemperatureOID>1.3.6.1.4.1.318.1.1.1.2.3.2.0</TemperatureOID>"
       "<TemperatureScale>0.1</TemperatureScale>",
       kTenths, 0.1, "0,1"},
      {"a leading dot is dropped",
       "<TemperatureOID>.1.3.6.1.4.1.318.1.1.1.2.3.2.0</TemperatureOID>", kTenths, 1, nullptr},
      {"a name", "<TemperatureOID>upsAdvBatteryTemperature.0</TemperatureOID>", kDefault, 1,
       nullptr},
      {"blank inside", "<TemperatureOID>1.3.6.1 .4</TemperatureOID>", kDefault, 1, nullptr},
      {"scale 0", "<TemperatureScale>0</TemperatureScale>", kDefault, 1, nullptr},
      {"scale negative", "<TemperatureScale>-0.1</TemperatureScale>", kDefault, 1, nullptr},
      {"scale text", "<TemperatureScale>tenths</TemperatureScale>", kDefault, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    const tServiceConfig config = StartRead(env, File(c.body));
    EXPECT_EQ(config.TemperatureOID, c.oid);
    EXPECT_DOUBLE_EQ(config.TemperatureScale, c.scale);
    if (c.german_scale_text != nullptr) {
      FakeEnv german;
      german.regional.mutable_settings() = GermanSettings();
      EXPECT_DOUBLE_EQ(StartRead(german, File(c.body)).TemperatureScale, c.scale);
      EXPECT_DOUBLE_EQ(StartRead(german, File(std::string("<TemperatureScale>") +
                                              c.german_scale_text + "</TemperatureScale>"))
                           .TemperatureScale,
                       c.scale);
    }
  }
}

TEST(ConfigTest, NumericOid) {
  const struct {
    const char* oid;
    bool numeric;
  } cases[] = {
      {"1.3.6.1.4.1.318.1.1.1.2.2.2.0", true},
      {"1.3.6.1.4.1.318.1.1.25.1.2.1.6.1.1", true},
      {"0.0", true},
      {"2.999.1", true},          // under 2 the second arc has no limit
      {"1.3.4294967295", true},   // the largest arc
      {"1.3.4294967296", false},  // one more
      {"1", false},               // one arc
      {"3.1", false},             // first arc above 2
      {"1.40", false},            // second arc of 0 or 1 above 39
      {"1.3.06", false},          // a leading zero
      {"1.3.", false},            // ends in a dot
      {".1.3", false},            // begins with one (the setting drops it before)
      {"1..3", false},            // an empty arc
      {"1.3.6.a", false},         // a letter
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(NumericOid(c.oid), c.numeric) << c.oid;
}

TEST(ConfigTest, PassReReadKeepsItsOwnLastFoundValues) {
  FakeEnv env;
  tConfigReadSite start_site, pass_site;
  env.files.Put(kPath, File("<UPSHost>ups-a</UPSHost><SNMPCommunity>public</SNMPCommunity>"
                            "<VoltageSleep>10</VoltageSleep><TempSleep>60</TempSleep>"
                            "<AlarmTemp>28</AlarmTemp><EmailToAddr>a@lan</EmailToAddr>"));
  tServiceConfig config = ReadStartConfig(env.ctx, start_site);
  EXPECT_EQ(config.UPSHost, "ups-a");
  EXPECT_EQ(config.TempSleep, 60);

  // Edits take effect at the next pass, except for the start-only keys.
  env.files.Put(kPath, File("<UPSHost>ups-b</UPSHost><SNMPCommunity>private</SNMPCommunity>"
                            "<VoltageSleep>5</VoltageSleep><TempSleep>120</TempSleep>"
                            "<AlarmTemp>31.5</AlarmTemp><PhoneHomeServer>ph/p</PhoneHomeServer>"));
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(trace, 1220);
  EXPECT_EQ(config.UPSHost, "ups-b");
  EXPECT_EQ(config.PhoneHomeServer, "ph/p");
  EXPECT_EQ(config.TempSleep, 120);
  EXPECT_DOUBLE_EQ(config.AlarmTemp, 31.5);
  // The pass site has never found "EmailToAddr", so it counts as empty there.
  EXPECT_EQ(config.EmailToAddr, "");
  EXPECT_EQ(config.SNMPCommunity, "public");
  EXPECT_EQ(config.VoltageSleep, 10);
  EXPECT_EQ(pass_site.Params.size(), 9u);

  // Keys that disappear keep the value of the last re-read that found them.
  env.files.Put(kPath, File("<TempSleep>0</TempSleep>"));
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.UPSHost, "ups-b");
  EXPECT_DOUBLE_EQ(config.AlarmTemp, 31.5);
  EXPECT_EQ(config.TempSleep, 300);

  // A file deleted while the service runs: every value stays.
  env.files.RemoveFile(kPath);
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.UPSHost, "ups-b");
  EXPECT_EQ(config.PhoneHomeServer, "ph/p");
  EXPECT_EQ(config.TempSleep, 300);
  EXPECT_FALSE(pass_site.Params.at("UPSHost").Found);
  EXPECT_EQ(pass_site.Params.at("UPSHost").Value, "ups-b");
}

TEST(ConfigTest, PassReReadWithoutAnyFileGivesTheFallbacks) {
  FakeEnv env;
  tConfigReadSite pass_site;
  tServiceConfig config;
  config.TempSleep = 0;  // as the cycle may hold it when the start read was skipped
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(config.TempSleep, 300);
  EXPECT_DOUBLE_EQ(config.AlarmTemp, 0);
  EXPECT_EQ(config.PhoneHomeServer, "");
  EXPECT_FALSE(env.files.Has(kPath));  // the re-read never creates the file
}

}  // namespace
}  // namespace tw
