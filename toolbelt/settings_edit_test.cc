// Writing settings from the command line: only the named values change, every other byte of
// the administrator's file stays, and a value the service would not use is refused before the
// file is touched.
#include "toolbelt/settings_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolbelt/config.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";

std::string DefaultFile() {
  std::string text;
  for (const std::string& line : DefaultConfigLines()) text += line;
  return text;
}

TEST(SettingsEditTest, SetConfigValueChangesOnlyTheValueTheServiceReads) {
  struct Case {
    const char* what;
    std::string before;
    std::string key, value;
    std::string after;
  } cases[] = {
      {"replaced in place", "<XML>\r\n  <UPSHost>old</UPSHost> <!-- x -->\r\n</XML>\r\n", "UPSHost",
       "10.0.0.5", "<XML>\r\n  <UPSHost>10.0.0.5</UPSHost> <!-- x -->\r\n</XML>\r\n"},
      {"emptied", "<XML><EmailCCAddr>a@b</EmailCCAddr></XML>", "EmailCCAddr", "",
       "<XML><EmailCCAddr></EmailCCAddr></XML>"},
      {"the first of two, as the service reads",
       "<XML>\n<AlarmTemp>30</AlarmTemp>\n<AlarmTemp>31</AlarmTemp>\n</XML>\n", "AlarmTemp", "35",
       "<XML>\n<AlarmTemp>35</AlarmTemp>\n<AlarmTemp>31</AlarmTemp>\n</XML>\n"},
      {"entities", "<XML>\r\n</XML>\r\n", "SMTPPassword", "<p&ss> \"q\"",
       "<XML>\r\n  <SMTPPassword>&lt;p&amp;ss&gt; \"q\"</SMTPPassword>\r\n</XML>\r\n"},
      {"a new line before </XML>, with the file's line end", "<XML>\n  <A>1</A>\n</XML>\n",
       "SMTPPort", "587", "<XML>\n  <A>1</A>\n  <SMTPPort>587</SMTPPort>\n</XML>\n"},
      {"</XML> after other text on its line", "<XML><A>1</A></XML>", "SMTPPort", "587",
       "<XML><A>1</A>\n  <SMTPPort>587</SMTPPort>\n</XML>"},
      {"no </XML>: appended", "<A>1</A>", "UPSHost", "h", "<A>1</A>\n  <UPSHost>h</UPSHost>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = c.before;
    ASSERT_TRUE(SetConfigValue(&text, c.key, c.value));
    EXPECT_EQ(text, c.after);
    std::string back;
    ASSERT_TRUE(FindConfigValue(text, c.key, &back));
    EXPECT_EQ(back, c.value);
  }
  std::string open_only = "<XML><UPSHost>x\r\n</XML>";
  EXPECT_FALSE(SetConfigValue(&open_only, "UPSHost", "y"));
  EXPECT_EQ(open_only, "<XML><UPSHost>x\r\n</XML>");
}

TEST(SettingsEditTest, AMissingFileIsMadeWithTheDefaultsAndTheValuesSet) {
  FakeEnv env;
  EXPECT_EQ(WriteSettings(env.ctx, {{"UPSHost", "ups-7.example"},
                                    {"AlarmTemp", "35.5"},
                                    {"SMTPPort", "587"},
                                    {"SMTPSecurity", "starttls"}}),
            "");
  std::string want = DefaultFile();
  ASSERT_TRUE(SetConfigValue(&want, "UPSHost", "ups-7.example"));
  ASSERT_TRUE(SetConfigValue(&want, "AlarmTemp", "35.5"));
  ASSERT_TRUE(SetConfigValue(&want, "SMTPPort", "587"));
  ASSERT_TRUE(SetConfigValue(&want, "SMTPSecurity", "starttls"));
  ASSERT_TRUE(env.files.files().count(kPath));
  EXPECT_EQ(env.files.files().at(kPath), want);
  tConfigReadSite site;
  const tServiceConfig config = ReadStartConfig(env.ctx, site);
  EXPECT_EQ(config.UPSHost, "ups-7.example");
  EXPECT_EQ(config.AlarmTemp, 35.5);
  EXPECT_EQ(config.SMTPPort, 587);
  EXPECT_EQ(config.SMTPSecurity, "starttls");
}

// One bad value refuses them all, with the message the installer's log shows, and the file
// stays byte for byte.
TEST(SettingsEditTest, AValueTheServiceWouldNotUseIsRefusedAndNothingIsWritten) {
  struct Case {
    std::string key, value, message;
  } cases[] = {
      {"AlarmTemp", "hot", "AlarmTemp: the value \"hot\" is not usable (in its place: 0)."},
      {"AlarmTemp", "35,5", "AlarmTemp: the value \"35,5\" is not usable (in its place: 0)."},
      {"SMTPPort", "70000", "SMTPPort: the value \"70000\" is not usable (in its place: 25)."},
      {"SMTPSecurity", "ssl",
       "SMTPSecurity: the value \"ssl\" is not usable (in its place: no mail is sent (-623))."},
      {"TempSleep", "-5", "TempSleep: the value \"-5\" is not usable (in its place: 300)."},
      {"UpsHost", "x", "\"UpsHost\" is not a setting of TEMPWARDEN.XML."},
      {"EmailToAddr", "a@b\r\nBcc: c@d",
       "EmailToAddr: a value is one line; this one holds a "
       "line break."},
  };
  const std::string before = "<XML>\n  <UPSHost>keep</UPSHost>\n</XML>\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + "=" + c.value);
    FakeEnv env;
    env.files.Put(kPath, before);
    EXPECT_EQ(WriteSettings(env.ctx, {{"UPSHost", "new"}, {c.key, c.value}}), c.message);
    EXPECT_EQ(env.files.files().at(kPath), before);
  }
  // Empty means the default to the service, so it is usable for every key.
  FakeEnv env;
  EXPECT_EQ(WriteSettings(env.ctx, {{"AlarmTemp", ""}, {"SMTPPort", ""}}), "");
}

TEST(SettingsEditTest, AFileTheWriterCannotKeepByteForByteIsLeftAlone) {
  FakeEnv env;
  const std::string utf16("\xFF\xFE<\0X\0>\0", 8);
  env.files.Put(kPath, utf16);
  EXPECT_EQ(WriteSettings(env.ctx, {{"UPSHost", "h"}}),
            "/opt/tempwarden/TEMPWARDEN.XML is saved as UTF-16LE; save it as UTF-8 and set the "
            "values again.");
  EXPECT_EQ(env.files.files().at(kPath), utf16);
  // A byte-order mark of UTF-8 stays, and so does the rest.
  env.files.Put(kPath, "\xEF\xBB\xBF<XML>\r\n  <UPSHost></UPSHost>\r\n</XML>\r\n");
  EXPECT_EQ(WriteSettings(env.ctx, {{"UPSHost", "h\xC3\xA9"}}), "");
  EXPECT_EQ(env.files.files().at(kPath),
            "\xEF\xBB\xBF<XML>\r\n  <UPSHost>h\xC3\xA9</UPSHost>\r\n</XML>\r\n");
}

}  // namespace
}  // namespace tw
