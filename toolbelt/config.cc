#include "toolbelt/config.h"

#include <algorithm>
#include <cctype>

#include "toolbelt/files.h"
#include "toolbelt/number_text.h"

namespace tw {
namespace {

using Convert = void (*)(Context& ctx, const std::string& value, tServiceConfig& config);

// One key of the file: where its text goes (a text setting taken as it is, or a conversion)
// and, for the keys the passes re-read, the cycle's trace stage while it is re-read (0: start
// only) and after it (0: unchanged). The pass re-read goes in the order of these stages.
struct KeyRule {
  const char* key;
  int32_t pass_stage;
  int32_t stage_after;
  std::string tServiceConfig::*text;
  Convert convert;
};

int32_t IntOr(const std::string& value, int32_t zero_means) {
  const int32_t n = StrToIntDef(value, 0);
  return n == 0 ? zero_means : n;
}

void DebugLevel(Context&, const std::string& v, tServiceConfig& c) {
  c.DebugLevel = StrToIntDef(v, 0);
}
void TempSleep(Context&, const std::string& v, tServiceConfig& c) {
  c.TempSleep = IntOr(v, kDefaultTempSleep);
}
void VoltageSleep(Context&, const std::string& v, tServiceConfig& c) {
  c.VoltageSleep = IntOr(v, kDefaultVoltageSleep);
}
void TestPagerNos(Context&, const std::string& v, tServiceConfig& c) {
  c.TestPagerNos = StrToIntDef(v, 0);
}
void AlarmTemp(Context& ctx, const std::string& v, tServiceConfig& c) {
  c.AlarmTemp = SafeStrToFloat(ctx, v);
}
void SMTPPort(Context&, const std::string& v, tServiceConfig& c) {
  const int32_t port = StrToIntDef(v, 0);
  c.SMTPPort = port >= 1 && port <= 65535 ? port : kDefaultSMTPPort;
}
// Letter case and surrounding blanks do not matter; an unknown word keeps the plain exchange.
void SMTPSecurity(Context&, const std::string& v, tServiceConfig& c) {
  std::string word;
  for (char ch : v) {
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') continue;
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  c.SMTPSecurity = word == "starttls" || word == "tls" ? word : "none";
}
// Only an explicit 0 turns the check off: a typo must not silently weaken it.
void SMTPTLSVerify(Context&, const std::string& v, tServiceConfig& c) {
  c.SMTPTLSVerify = !(StrToIntDef(v, 1) == 0);
}
void SyslogCollector(Context&, const std::string& v, tServiceConfig& c) {
  c.SyslogCollector = v.empty() ? kDefaultSyslogCollector : v;
}
void PhoneHomeCollector(Context&, const std::string& v, tServiceConfig& c) {
  c.PhoneHomeCollector = v.empty() ? kDefaultPhoneHomeCollector : v;
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
    {"SMTPUser", 0, 0, &C::SMTPUser, nullptr},
    {"SMTPPassword", 0, 0, &C::SMTPPassword, nullptr},
    {"SMTPSecurity", 0, 0, nullptr, SMTPSecurity},
    {"SMTPTLSVerify", 0, 0, nullptr, SMTPTLSVerify},
    {"SMTPCAFile", 0, 0, &C::SMTPCAFile, nullptr},
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
};

// Reads one key into its site entry and converts the entry's value, found now or earlier.
void ReadKey(Context& ctx, tConfigReadSite& site, const KeyRule& rule, tServiceConfig& config) {
  tXMLParam& param = site.Params[rule.key];
  GetParamFromXMLFile(ctx, kConfigFileName, rule.key, param);
  if (rule.text != nullptr) {
    config.*rule.text = param.Value;
  } else {
    rule.convert(ctx, param.Value, config);
  }
}

}  // namespace

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

bool EnsureConfigFile(Context& ctx) {
  try {
    // The working directory, where the cycle also reads it; an ExePath that failed to become
    // the working directory must not make the service rewrite an existing file at every start.
    if (ctx.env.files->IsPlainFile(kConfigFileName)) return true;
    const std::vector<std::string> lines = DefaultConfigLines();
    for (size_t i = 0; i < lines.size(); ++i) {
      WriteStringToFile(ctx, lines[i], kConfigFileName, i > 0);
    }
    return ctx.env.files->IsPlainFile(kConfigFileName);
  } catch (...) {
    return false;
  }
}

tServiceConfig ReadStartConfig(Context& ctx, tConfigReadSite& site) {
  tServiceConfig config;
  for (const KeyRule& rule : kKeys) ReadKey(ctx, site, rule, config);
  return config;
}

void ReReadPassConfig(Context& ctx, tConfigReadSite& site, tServiceConfig& config, int32_t& trace) {
  std::vector<const KeyRule*> pass_keys;
  for (const KeyRule& rule : kKeys) {
    if (rule.pass_stage != 0) pass_keys.push_back(&rule);
  }
  std::sort(pass_keys.begin(), pass_keys.end(),
            [](const KeyRule* a, const KeyRule* b) { return a->pass_stage < b->pass_stage; });
  for (const KeyRule* rule : pass_keys) {
    trace = rule->pass_stage;
    ReadKey(ctx, site, *rule, config);
    if (rule->stage_after != 0) trace = rule->stage_after;
  }
}

}  // namespace tw
