// The settings file as a whole: read once per read site, in the encodings editors save, up to
// its size limit, and named when it yields nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolbelt/config.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/xml_param.h"

namespace tw {
namespace {

constexpr char kPath[] = "/opt/tempwarden/TEMPWARDEN.XML";

// Counts the reads of the files it passes through to.
class CountingFiles : public FileSystem {
 public:
  explicit CountingFiles(FileSystem* base) : base_(base) {}
  bool WriteFile(const std::string& p, const std::string& d, bool a) override {
    return base_->WriteFile(p, d, a);
  }
  bool ReadFile(const std::string& p, std::string* d, std::string* e) override {
    ++reads;
    return base_->ReadFile(p, d, e);
  }
  bool IsPlainFile(const std::string& p) override { return base_->IsPlainFile(p); }
  std::vector<std::string> FindFiles(const std::string& p) override { return base_->FindFiles(p); }
  bool RemoveFile(const std::string& p) override { return base_->RemoveFile(p); }
  bool SetWorkingDirectory(const std::string& d) override { return base_->SetWorkingDirectory(d); }
  const char* PathDelimiters() const override { return base_->PathDelimiters(); }
  char PathSeparator() const override { return base_->PathSeparator(); }
  int reads = 0;

 private:
  FileSystem* base_;
};

std::string Utf16(const std::string& ascii, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return out;
}

const std::string kSettings =
    "<XML>\r\n  <UPSHost>10.0.0.9</UPSHost>\r\n  <SNMPCommunity>pub&amp;lic</SNMPCommunity>\r\n"
    "  <TempSleep>600</TempSleep>\r\n  <AlarmTemp>27.5</AlarmTemp>\r\n"
    "  <SMTPPassword>&lt;p&amp;ss&gt; &quot;x&quot; &apos;y&apos; a&b</SMTPPassword>\r\n"
    "</XML>\r\n";

// The activity log's 40200 entries.
std::vector<std::string> Named(const FakeEnv& env) {
  std::vector<std::string> out;
  for (const auto& f : env.files.files()) {
    if (f.first.find("/APC-") == std::string::npos) continue;
    for (size_t at = 0; (at = f.second.find(",40200,\"", at)) != std::string::npos;) {
      const size_t end = f.second.find("\"\r\n", at);
      out.push_back(f.second.substr(at + 8, end - at - 8));
      at = end;
    }
  }
  return out;
}

TEST(ConfigFileTest, EncodingsEditorsSaveAreRead) {
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"8-bit", kSettings},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + kSettings},
      {"UTF-16LE with a mark (Notepad's Unicode)", Utf16(kSettings, false)},
      {"UTF-16BE with a mark", Utf16(kSettings, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeEnv env;
    env.files.Put(kPath, c.bytes);
    tConfigReadSite site;
    const tServiceConfig config = ReadStartConfig(env.ctx, site);
    EXPECT_EQ(config.UPSHost, "10.0.0.9");
    EXPECT_EQ(config.SNMPCommunity, "pub&lic");
    EXPECT_EQ(config.TempSleep, 600);
    EXPECT_EQ(config.AlarmTemp, 27.5);
    EXPECT_EQ(config.SMTPPassword, "<p&ss> \"x\" 'y' a&b");
    EXPECT_TRUE(Named(env).empty());
    // The one-key reader (the start handler's) reads the same.
    tXMLParam param;
    GetParamFromXMLFile(env.ctx, "TEMPWARDEN.XML", "SMTPPassword", param);
    EXPECT_TRUE(param.Found);
    EXPECT_EQ(param.Value, "<p&ss> \"x\" 'y' a&b");
  }
}

TEST(ConfigFileTest, OneReadPerReadSite) {
  FakeEnv env;
  env.files.Put(kPath, kSettings);
  CountingFiles counting(&env.files);
  env.ctx.env.files = &counting;
  tConfigReadSite start_site, pass_site;
  tServiceConfig config = ReadStartConfig(env.ctx, start_site);
  EXPECT_EQ(counting.reads, 1);
  int32_t trace = 1110;
  ReReadPassConfig(env.ctx, pass_site, config, trace);
  EXPECT_EQ(counting.reads, 2);
  EXPECT_EQ(trace, 1220);
}

// A file that gives nothing to use leaves the values in force and is named once, for as long
// as it stays so; a usable file afterwards is read again as usual.
TEST(ConfigFileTest, UnusableFileKeepsTheSettingsInForceAndIsNamedOnce) {
  std::string oversize = kSettings;
  oversize.resize(kConfigFileMaxBytes + 1, ' ');
  std::string at_limit = kSettings;
  at_limit.resize(kConfigFileMaxBytes, ' ');
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  struct Case {
    const char* what;
    std::string bytes;
    const char* named;  // "" when the file is usable
  } cases[] = {
      {"one byte over the limit", oversize,
       "[Function=toolbelt.ReadConfig][Msg=Settings file too large][Limit=1048576 bytes]"
       "[File=TEMPWARDEN.XML][Used=settings in force]"},
      {"exactly at the limit", at_limit, ""},
      {"random bytes", garbage,
       "[Function=toolbelt.ReadConfig][Msg=No setting found][Bytes=3000][Encoding=bytes]"
       "[File=TEMPWARDEN.XML][Used=settings in force]"},
      {"UTF-16 without a byte-order mark", Utf16(kSettings, false).substr(2),
       "[Function=toolbelt.ReadConfig][Msg=No setting found][Bytes=468][Encoding=bytes]"
       "[File=TEMPWARDEN.XML][Used=settings in force]"},
      {"empty", "",
       "[Function=toolbelt.ReadConfig][Msg=No setting found][Bytes=0][Encoding=bytes]"
       "[File=TEMPWARDEN.XML][Used=settings in force]"},
      {"a UTF-8 mark and nothing else", "\xEF\xBB\xBF",
       "[Function=toolbelt.ReadConfig][Msg=No setting found][Bytes=3][Encoding=UTF-8]"
       "[File=TEMPWARDEN.XML][Used=settings in force]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeEnv env;
    env.files.Put(kPath, kSettings);
    tConfigReadSite start_site, pass_site;
    tServiceConfig config = ReadStartConfig(env.ctx, start_site);
    env.files.Put(kPath, "<XML><TempSleep>60</TempSleep><UPSHost>10.0.0.7</UPSHost></XML>");
    int32_t trace = 1110;
    ReReadPassConfig(env.ctx, pass_site, config, trace);
    ASSERT_EQ(config.TempSleep, 60);

    env.files.Put(kPath, c.bytes);
    for (int pass = 0; pass < 3; ++pass) ReReadPassConfig(env.ctx, pass_site, config, trace);
    const bool usable = c.named[0] == '\0';
    EXPECT_EQ(config.TempSleep, usable ? 600 : 60);
    EXPECT_EQ(config.UPSHost, usable ? "10.0.0.9" : "10.0.0.7");
    EXPECT_EQ(config.SNMPCommunity, "pub&lic");  // start only
    const std::vector<std::string> named = Named(env);
    if (usable) {
      EXPECT_TRUE(named.empty());
      continue;
    }
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0], c.named);

    // A usable file again, then the same problem once more: named again.
    env.files.Put(kPath, kSettings);
    ReReadPassConfig(env.ctx, pass_site, config, trace);
    EXPECT_EQ(config.TempSleep, 600);
    env.files.Put(kPath, c.bytes);
    ReReadPassConfig(env.ctx, pass_site, config, trace);
    EXPECT_EQ(Named(env).size(), 2u);

    // At start: the initial values, the start's debug level, and the same entry.
    FakeEnv fresh;
    fresh.files.Put(kPath, c.bytes);
    fresh.ctx.settings.Log.DebugLevel = 7;
    tConfigReadSite site;
    const tServiceConfig initial = ReadStartConfig(fresh.ctx, site);
    EXPECT_EQ(initial.DebugLevel, 7);
    EXPECT_EQ(initial.TempSleep, kDefaultTempSleep);
    EXPECT_EQ(initial.UPSHost, "");
    EXPECT_EQ(Named(fresh), std::vector<std::string>{c.named});
  }
}

}  // namespace
}  // namespace tw
