#include "toolbelt/config.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "toolbelt/activity_log.h"
#include "toolbelt/config_text.h"
#include "toolbelt/field_text.h"
#include "toolbelt/files.h"
#include "toolbelt/items.h"
#include "toolbelt/number_text.h"
#include "toolbelt/secrets.h"

namespace tw {
namespace {

// Converts one key's text into `config`. Returns the text of the value used when the text was
// not usable (not a number, negative, out of range) and a fallback applies, else "".
using Convert = std::string (*)(Context& ctx, const std::string& value, tServiceConfig& config);

constexpr int32_t kFallbackCode = 40200;
constexpr int32_t kClearSecretsCode = 50210;

// An interval: 0 means the default (as it always has), and so does anything negative or not a
// number, which is named as a fallback.
std::string Interval(const std::string& v, int32_t fallback, int32_t& field) {
  const int32_t n = StrToIntDef(v, 0);
  const bool number = StrToIntDef(v, -1) == n;  // both defaults agree only for a number
  field = n > 0 ? n : fallback;
  return (!v.empty() && (!number || n < 0)) ? std::to_string(fallback) : std::string();
}

// One key of the file: where its text goes (a text setting taken as it is, or a conversion)
// and, for the keys the passes re-read, the cycle's trace stage while it is re-read (0: start
// only) and after it (0: unchanged). The pass re-read goes in the order of these stages.
struct KeyRule {
  const char* key;
  int32_t pass_stage;
  int32_t stage_after;
  std::string tServiceConfig::*text;
  Convert convert;
  // How an unusable text is named in the log: as it stands, cleaned of control characters
  // and brackets (LogFieldText), or not at all (a secret).
  enum class Shown { kAsIs, kCleaned, kHidden } shown = Shown::kAsIs;
};

// A missing or unusable level keeps the one in force (the 7 of the start), so that a typing
// error cannot silence the activity log, failure summaries included.
std::string DebugLevel(Context&, const std::string& v, tServiceConfig& c) {
  const int32_t n = StrToIntDef(v, 0);
  if (StrToIntDef(v, -1) == n) {
    c.DebugLevel = n;
    return "";
  }
  return v.empty() ? std::string() : std::to_string(c.DebugLevel);
}
std::string TempSleep(Context&, const std::string& v, tServiceConfig& c) {
  return Interval(v, kDefaultTempSleep, c.TempSleep);
}
std::string VoltageSleep(Context&, const std::string& v, tServiceConfig& c) {
  return Interval(v, kDefaultVoltageSleep, c.VoltageSleep);
}
std::string TestPagerNos(Context&, const std::string& v, tServiceConfig& c) {
  c.TestPagerNos = StrToIntDef(v, 0);
  return "";
}
std::string AlarmTemp(Context& ctx, const std::string& v, tServiceConfig& c) {
  double value = 0;
  if (TryStrToFloat(ctx, v, &value)) {
    c.AlarmTemp = value;
    return "";
  }
  c.AlarmTemp = 0;
  return v.empty() ? std::string() : "0";
}
std::string SMTPPort(Context&, const std::string& v, tServiceConfig& c) {
  const int32_t port = StrToIntDef(v, 0);
  c.SMTPPort = port >= 1 && port <= 65535 ? port : kDefaultSMTPPort;
  return v.empty() || c.SMTPPort == port ? std::string() : std::to_string(kDefaultSMTPPort);
}
std::string UPSPort(Context&, const std::string& v, tServiceConfig& c) {
  const int32_t port = StrToIntDef(v, 0);
  c.UPSPort = port >= 1 && port <= 65535 ? port : kDefaultUPSPort;
  return v.empty() || c.UPSPort == port ? std::string() : std::to_string(kDefaultUPSPort);
}
// Letter case and surrounding blanks do not matter. An unknown word fails closed: it is kept
// as written, and the mail delivery refuses it (-623) rather than guess plain SMTP and send the
// password in clear.
std::string SMTPSecurity(Context&, const std::string& v, tServiceConfig& c) {
  std::string word;
  for (char ch : v) {
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') continue;
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  if (word.empty()) word = "none";
  const bool known = word == "none" || word == "starttls" || word == "tls";
  c.SMTPSecurity = known ? word : v;
  return known ? std::string() : "no mail is sent (-623)";
}
// "auto" (empty), "plain", "login" or "xoauth2"; anything else is named and means auto.
std::string SMTPAuth(Context&, const std::string& v, tServiceConfig& c) {
  std::string word;
  for (char ch : v) {
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') continue;
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  if (word.empty()) word = "auto";
  const bool known = word == "auto" || word == "plain" || word == "login" || word == "xoauth2";
  c.SMTPAuth = known ? word : "auto";
  return known ? std::string() : "auto";
}
// A control character in the login would change the framing of the SASL exchange (PLAIN
// separates its parts with NUL, XOAUTH2 with ^A, every command ends in CR LF), so that the
// relay reads another user or password than the one written, or a command of the file's
// making: such a text is refused and no login is attempted with it. A tab frames nothing.
std::string LoginText(const std::string& v, std::string& field) {
  for (const char ch : v) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if ((u < 0x20 && u != '\t') || u == 0x7f) {
      field.clear();
      return "none: a control character (NUL, CR, LF, ^A, ...) is in it";
    }
  }
  field = v;
  return "";
}
std::string SMTPUser(Context&, const std::string& v, tServiceConfig& c) {
  return LoginText(v, c.SMTPUser);
}
std::string SMTPPassword(Context&, const std::string& v, tServiceConfig& c) {
  return LoginText(v, c.SMTPPassword);
}
// Only an explicit 0 turns the check off: a typo must not silently weaken it.
std::string SMTPTLSVerify(Context&, const std::string& v, tServiceConfig& c) {
  c.SMTPTLSVerify = !(StrToIntDef(v, 1) == 0);
  return v.empty() || StrToIntDef(v, -1) == StrToIntDef(v, 0) ? std::string() : "1";
}
std::string SyslogCollector(Context&, const std::string& v, tServiceConfig& c) {
  c.SyslogCollector = v.empty() ? kDefaultSyslogCollector : v;
  return "";
}
std::string PhoneHomeCollector(Context&, const std::string& v, tServiceConfig& c) {
  c.PhoneHomeCollector = v.empty() ? kDefaultPhoneHomeCollector : v;
  return "";
}

// A leading "." (as net-snmp's tools print OIDs) is dropped; anything else that is not a
// numeric OID would make every query fail, so the object the service has always read is used.
std::string TemperatureOID(Context&, const std::string& v, tServiceConfig& c) {
  const std::string oid = !v.empty() && v[0] == '.' ? v.substr(1) : v;
  const bool usable = NumericOid(oid);
  c.TemperatureOID = usable ? oid : kDefaultTemperatureOID;
  return v.empty() || usable ? std::string() : kDefaultTemperatureOID;
}
// "1", "0.1", "0.01", with "." or the regional separator, so that a file copied between
// machines of different languages still reads. Nothing but a number above 0 makes sense.
std::string TemperatureScale(Context& ctx, const std::string& v, tServiceConfig& c) {
  std::string text = v;
  std::replace(text.begin(), text.end(), '.', ctx.fmt().decimal_separator);
  double value = 0;
  const bool usable = TryStrToFloat(ctx, text, &value) && value > 0;
  c.TemperatureScale = usable ? value : 1;
  return v.empty() || usable ? std::string() : "1";
}

using C = tServiceConfig;

// In the order of the start read.
const KeyRule kKeys[] = {
    {"SysLogTrap", 0, 0, nullptr, DebugLevel},
    {"UPSHost", 1120, 0, &C::UPSHost, nullptr},
    {"SNMPCommunity", 0, 0, &C::SNMPCommunity, nullptr},
    {"PhoneHomeServer", 1130, 0, &C::PhoneHomeServer, nullptr},
    {"TempSleep", 1180, 1190, nullptr, TempSleep},
    {"VoltageSleep", 0, 0, nullptr, VoltageSleep},
    {"GUID", 1140, 0, &C::GUID, nullptr},
    {"Location", 1150, 0, &C::Location, nullptr},
    {"TestPagerNos", 1160, 1170, nullptr, TestPagerNos},
    {"AlarmTemp", 1190, 0, nullptr, AlarmTemp},
    {"EmailToAddr", 1210, 0, &C::EmailToAddr, nullptr},
    {"EmailCCAddr", 1220, 0, &C::EmailCCAddr, nullptr},
    {"SMTPRelay", 0, 0, &C::SMTPRelay, nullptr},
    {"SMTPPort", 0, 0, nullptr, SMTPPort},
    {"EmailFromAddr", 0, 0, &C::EmailFromAddr, nullptr},
    {"SMTPUser", 0, 0, nullptr, SMTPUser, KeyRule::Shown::kCleaned},
    {"SMTPPassword", 0, 0, nullptr, SMTPPassword, KeyRule::Shown::kHidden},
    {"SMTPSecurity", 0, 0, nullptr, SMTPSecurity},
    {"SMTPAuth", 0, 0, nullptr, SMTPAuth},
    {"SMTPTLSVerify", 0, 0, nullptr, SMTPTLSVerify},
    {"SMTPCAFile", 0, 0, &C::SMTPCAFile, nullptr},
    {"OAuthTokenURL", 0, 0, &C::OAuthTokenURL, nullptr},
    {"OAuthClientID", 0, 0, &C::OAuthClientID, nullptr},
    {"OAuthClientSecret", 0, 0, &C::OAuthClientSecret, nullptr},
    {"OAuthScope", 0, 0, &C::OAuthScope, nullptr},
    {"SyslogCollector", 0, 0, nullptr, SyslogCollector},
    {"PhoneHomeCollector", 0, 0, nullptr, PhoneHomeCollector},
    // SNMP version and version 3's security.
    {"SNMPVersion", 0, 0, &C::SNMPVersion, nullptr},
    {"SNMPUser", 0, 0, &C::SNMPUser, nullptr},
    {"SNMPAuthProtocol", 0, 0, &C::SNMPAuthProtocol, nullptr},
    {"SNMPAuthPassword", 0, 0, &C::SNMPAuthPassword, nullptr},
    {"SNMPPrivProtocol", 0, 0, &C::SNMPPrivProtocol, nullptr},
    {"SNMPPrivPassword", 0, 0, &C::SNMPPrivPassword, nullptr},
    {"SNMPContext", 0, 0, &C::SNMPContext, nullptr},
    {"UPSPort", 0, 0, nullptr, UPSPort},
    // The temperature object and the metrics file.
    {"TemperatureOID", 0, 0, nullptr, TemperatureOID},
    {"TemperatureScale", 0, 0, nullptr, TemperatureScale},
    {"MetricsFile", 0, 0, &C::MetricsFile, nullptr},
};

void NameUnusable(Context& ctx, const std::string& key, const std::string& value,
                  const std::string& used) {
  tLogRec rec;
  rec.Code = kFallbackCode;
  rec.Msg = Items()
                .Add("Function", "toolbelt.ReadConfig")
                .Add("Msg", "Setting not usable")
                .Add("Key", key)
                .Add("Value", value)
                .Add("Used", used)
                .str();
  std::string file;
  LogEntry(ctx, rec, file);
}

// Looks one key up in the file's text (none: the file is missing) into its site entry and
// converts the entry's value, found now or earlier.
void ReadKey(Context& ctx, tConfigReadSite& site, const KeyRule& rule, const std::string* text,
             tServiceConfig& config) {
  tXMLParam& param = site.Params[rule.key];
  param.Found = false;
  std::string value;
  if (text != nullptr && FindConfigValue(*text, rule.key, &value)) {
    param.Value = std::move(value);
    param.Found = true;
  }
  // A secret is resolved first (credential, sealed value, clear value); a key with checks of
  // its own (the SMTP login) then checks what is in use, wherever it came from.
  std::string in_use = param.Value;
  if (const tSecretKey* secret = FindSecretKey(rule.key)) {
    const SecretOrigin origin =
        ResolveSecret(ctx, *secret, param.Value, site.ReadStoredSecrets, &in_use);
    if (origin == SecretOrigin::kUnsealable) site.UnsealableSecrets.push_back(rule.key);
    // A clear value the credential overrides is still in the file for anybody to read.
    const bool sealed = param.Value.compare(0, sizeof kSealedPrefix - 1, kSealedPrefix) == 0;
    if (!param.Value.empty() && !sealed) site.ClearSecrets.push_back(rule.key);
  }
  if (rule.text != nullptr) {
    config.*rule.text = std::move(in_use);
    return;
  }
  const std::string used = rule.convert(ctx, in_use, config);
  // Named once for each unusable text, not at every pass.
  std::string& named = site.Fallbacks[rule.key];
  if (used.empty()) {
    named.clear();
    return;
  }
  if (named == param.Value) return;
  named = param.Value;
  NameUnusable(ctx, rule.key,
               rule.shown == KeyRule::Shown::kHidden    ? std::string("(not shown)")
               : rule.shown == KeyRule::Shown::kCleaned ? LogFieldText(param.Value)
                                                        : param.Value,
               used);
}

// The sealed values that do not open (each by its key; the sealed text is no use to a reader),
// then the keys in clear, together, with the command that protects them.
void NameSecrets(Context& ctx, const tConfigReadSite& site) {
  for (const std::string& key : site.UnsealableSecrets) {
    tLogRec rec;
    rec.Code = kFallbackCode;
    rec.Msg = Items()
                  .Add("Function", "toolbelt.ReadConfig")
                  .Add("Msg", "Protected value does not open on this machine")
                  .Add("Key", key)
                  .Add("Used", "empty")
                  .str();
    std::string file;
    LogEntry(ctx, rec, file);
  }
  if (site.ClearSecrets.empty()) return;
  std::string keys;
  for (const std::string& key : site.ClearSecrets) keys += (keys.empty() ? "" : " ") + key;
  tLogRec rec;
  rec.Code = kClearSecretsCode;
  rec.Msg = Items()
                .Add("Function", "toolbelt.ReadConfig")
                .Add("Msg", "Secrets in clear in the settings file")
                .Add("Keys", keys)
                .Add("Protect", "tempwarden /protect KEY")
                .str();
  std::string file;
  LogEntry(ctx, rec, file);
}

// A file that gives nothing to use is named in the activity log, once for as long as the same
// problem lasts at this site.
void NoteFileProblem(Context& ctx, tConfigReadSite& site, const std::string& items) {
  const std::string msg = "[Function=toolbelt.ReadConfig]" + items + "[File=" + kConfigFileName +
                          "][Used=settings in force]";
  if (site.Problem == msg) return;
  site.Problem = msg;
  tLogRec rec;
  rec.Code = kFallbackCode;
  rec.Msg = msg;
  std::string file;
  LogEntry(ctx, rec, file);
}

// The text to look the keys up in, after one read of the file: null when the file is missing,
// or (with `*keep` set) when it cannot be used at all, which is named where it may be a
// mistake of the user's: too large a file, or one without a single setting (saved in an
// encoding that is not read, or not a settings file at all). A file that cannot be read is
// reported only when `report_unreadable` (the start read; the passes keep quiet, as a file
// locked by an editor for a moment is no fault).
const std::string* UsableText(Context& ctx, tConfigReadSite& site, const tSettingsFile& file,
                              bool report_unreadable, bool* keep) {
  *keep = false;
  switch (file.Read) {
    case tSettingsFile::Result::kMissing:
      return nullptr;
    case tSettingsFile::Result::kUnreadable:
      if (report_unreadable) ReportUnreadableSettings(ctx, file);
      *keep = true;
      return nullptr;
    case tSettingsFile::Result::kTooLarge:
      NoteFileProblem(
          ctx, site,
          "[Msg=Settings file too large][Limit=" + std::to_string(kConfigFileMaxBytes) + " bytes]");
      *keep = true;
      return nullptr;
    case tSettingsFile::Result::kRead:
      break;
  }
  std::string unused;
  for (const KeyRule& rule : kKeys) {
    if (FindConfigValue(file.Text.Text, rule.key, &unused)) {
      site.Problem.clear();
      return &file.Text.Text;
    }
  }
  NoteFileProblem(ctx, site,
                  "[Msg=No setting found][Bytes=" + std::to_string(file.Bytes) +
                      "][Encoding=" + ConfigEncodingName(file.Text.Encoding) + "]");
  *keep = true;
  return nullptr;
}

}  // namespace

bool NumericOid(const std::string& oid) {
  std::vector<uint64_t> arcs;
  size_t i = 0;
  while (i < oid.size()) {
    const size_t start = i;
    uint64_t arc = 0;
    for (; i < oid.size() && oid[i] >= '0' && oid[i] <= '9'; ++i) {
      arc = arc * 10 + static_cast<uint64_t>(oid[i] - '0');
      if (arc > 0xFFFFFFFFu) return false;
    }
    const size_t digits = i - start;
    if (digits == 0 || (digits > 1 && oid[start] == '0')) return false;
    arcs.push_back(arc);
    if (i == oid.size()) break;
    if (oid[i] != '.' || i + 1 == oid.size()) return false;
    ++i;
  }
  if (arcs.size() < 2 || arcs[0] > 2) return false;
  return arcs[0] == 2 || arcs[1] < 40;
}

std::vector<std::string> DefaultConfigLines() {
  const char* const kLines[] = {
      "<XML>",
      "  <!-- UPSHost=TELNET IP of APC UPS -->",
      "  <UPSHost></UPSHost>",
      "  <SNMPCommunity>public</SNMPCommunity>",
      "  <SysLogTrap>7</SysLogTrap>",
      nullptr,  // the phone-home line, built below
      "  <TempSleep>300</TempSleep>",
      "  <VoltageSleep>30</VoltageSleep>",
      "  <GUID></GUID>",
      "  <Location></Location>",
      "  <!-- PagerNo=My Ordo pager number -->",
      "  <PagerNos></PagerNos>",
      "  <TestPagerNo>0</TestPagerNo>",
      "  <AlarmTemp>30</AlarmTemp>",
      "  <EmailToAddr></EmailToAddr>",
      "  <EmailCCAddr></EmailCCAddr>",
      "  <SMTPRelay></SMTPRelay>",
      "  <EmailFromAddr></EmailFromAddr>",
      "  <SMTPUser></SMTPUser>",
      "  <SMTPPassword></SMTPPassword>",
      "  <DebugFile></DebugFile>",
      "</XML>",
  };
  std::vector<std::string> lines;
  for (const char* line : kLines) {
    const std::string text = line != nullptr
                                 ? std::string(line)
                                 : std::string("  <PhoneHomeServer>") + kDefaultPhoneHomeHost +
                                       "/ordo/ordoisapi.dll/UPSPhoneHome</PhoneHomeServer>";
    lines.push_back(text + "\r\n");
  }
  return lines;
}

std::string SettingsFilePath(const Context& ctx) {
  return ctx.layout.SettingsFile.empty() ? std::string(kConfigFileName) : ctx.layout.SettingsFile;
}

bool EnsureConfigFile(Context& ctx) {
  try {
    // The working directory, where the cycle also reads it; an ExePath that failed to become
    // the working directory must not make the service rewrite an existing file at every start.
    const std::string file = SettingsFilePath(ctx);
    if (ctx.env.files->IsPlainFile(file)) return true;
    // It will hold the mail and SNMP passwords.
    ctx.env.files->MarkPrivate(file);
    const std::vector<std::string> lines = DefaultConfigLines();
    for (size_t i = 0; i < lines.size(); ++i) {
      WriteStringToFile(ctx, lines[i], file, i > 0);
    }
    return ctx.env.files->IsPlainFile(file);
  } catch (...) {
    return false;
  }
}

tServiceConfig ReadStartConfig(Context& ctx, tConfigReadSite& site) {
  tServiceConfig config;
  config.DebugLevel = ctx.settings.Log.DebugLevel;
  site.ClearSecrets.clear();
  site.UnsealableSecrets.clear();
  const tSettingsFile file = ReadSettingsFile(ctx, SettingsFilePath(ctx));
  bool keep = false;
  // Unusable at start: every key counts as not found, so the values in force are the initial
  // ones (and the debug level the start's).
  const std::string* text = UsableText(ctx, site, file, true, &keep);
  for (const KeyRule& rule : kKeys) ReadKey(ctx, site, rule, text, config);
  // A relay without a sender: the mail delivery refuses every mail, and the start says so
  // rather than the first alarm.
  if (!config.SMTPRelay.empty() && config.EmailFromAddr.empty()) {
    NameUnusable(ctx, "EmailFromAddr", "", "no mail is sent (-640)");
  }
  NameSecrets(ctx, site);
  return config;
}

void ReReadPassConfig(Context& ctx, tConfigReadSite& site, tServiceConfig& config, int32_t& trace) {
  // One read for all keys. A file that is there but cannot be used (locked by an editor, no
  // permission, too large, no setting in it) leaves every value in force: each key would
  // otherwise count as not found and fall back.
  const tSettingsFile file = ReadSettingsFile(ctx, SettingsFilePath(ctx));
  bool keep = false;
  const std::string* text = UsableText(ctx, site, file, false, &keep);
  if (keep) return;
  std::vector<const KeyRule*> pass_keys;
  for (const KeyRule& rule : kKeys) {
    if (rule.pass_stage != 0) pass_keys.push_back(&rule);
  }
  std::sort(pass_keys.begin(), pass_keys.end(),
            [](const KeyRule* a, const KeyRule* b) { return a->pass_stage < b->pass_stage; });
  for (const KeyRule* rule : pass_keys) {
    trace = rule->pass_stage;
    ReadKey(ctx, site, *rule, text, config);
    if (rule->stage_after != 0) trace = rule->stage_after;
  }
}

std::string CheckSettingValue(Context& ctx, const std::string& key, const std::string& value) {
  for (const KeyRule& rule : kKeys) {
    if (key != rule.key) continue;
    if (rule.convert == nullptr) return "";
    tServiceConfig scratch;
    scratch.DebugLevel = ctx.settings.Log.DebugLevel;
    const std::string used = rule.convert(ctx, value, scratch);
    if (used.empty()) return "";
    return key + ": the value \"" + value + "\" is not usable (in its place: " + used + ").";
  }
  return "\"" + key + "\" is not a setting of TEMPWARDEN.XML.";
}

}  // namespace tw
