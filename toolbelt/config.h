// The service's configuration file "TEMPWARDEN.XML": its default contents and the one place
// that reads the whole set of settings, with their conversions and fallbacks.
//
// How the monitoring cycle uses it:
//
//   tConfigReadSite start_site, pass_site;   // one per read site, alive for the whole run
//   tServiceConfig config;                   // fallbacks until something is read
//   if (EnsureConfigFile(ctx)) {
//     config = ReadStartConfig(ctx, start_site);
//     ctx.settings.Log.DebugLevel = config.DebugLevel;
//   }
//   ...
//   // at every temperature pass:
//   ReReadPassConfig(ctx, pass_site, config, trace);
//
// Each read site keeps, per key, the raw text of the last read that found the key, and the
// settings are converted from that text. So a key that disappears from the file keeps its last
// value at that site, and a key the site has never found counts as empty (its fallback), even
// when another site found it.
#ifndef TEMPWARDEN_TOOLBELT_CONFIG_H_
#define TEMPWARDEN_TOOLBELT_CONFIG_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "toolbelt/settings.h"
#include "toolbelt/xml_param.h"

namespace tw {

constexpr char kConfigFileName[] = "TEMPWARDEN.XML";

// The settings file this run reads (and creates when missing): the one the command line named
// (ctx.layout.SettingsFile), else kConfigFileName in the working directory, which the start
// makes the data directory.
std::string SettingsFilePath(const Context& ctx);
// The phone-home host of the default file's "PhoneHomeServer" line.
constexpr char kDefaultPhoneHomeHost[] = "localhost";
constexpr char kDefaultSyslogCollector[] = "127.0.0.1";
constexpr char kDefaultPhoneHomeCollector[] = "localhost";
constexpr int32_t kDefaultTempSleep = 300;
constexpr int32_t kDefaultVoltageSleep = 30;
constexpr int32_t kDefaultSMTPPort = 25;
constexpr int32_t kDefaultUPSPort = 161;
// The UPS's own (battery) temperature in whole degrees Celsius, as the service always read it.
constexpr char kDefaultTemperatureOID[] = "1.3.6.1.4.1.318.1.1.1.2.2.2.0";

// The settings, converted, with the fallbacks applied. The initial values are what a file
// without any of the keys gives.
struct tServiceConfig {
  // Read at start only.
  // "SysLogTrap": the activity log's highest level digit; missing or no number keeps the level
  // in force.
  int32_t DebugLevel = 0;
  std::string SNMPCommunity;
  int32_t VoltageSleep = kDefaultVoltageSleep;  // seconds; 0, negative or invalid means 30
  // Read at start and renewed by every pass re-read.
  std::string UPSHost;                    // the start value is the SNMP target for the whole run
  std::string PhoneHomeServer;            // host followed by a path; empty: no phone-home call
  int32_t TempSleep = kDefaultTempSleep;  // seconds; 0, negative or invalid means 300
  std::string GUID;                       // no effect
  std::string Location;                   // no effect
  int32_t TestPagerNos = 0;               // no effect
  double AlarmTemp = 0;  // degrees Celsius, regional decimal separator; invalid gives 0
  std::string EmailToAddr;
  std::string EmailCCAddr;
  // Read at start only; none of these is in the default file.
  std::string SMTPRelay;                // empty: the mail delivery contacts no server
  int32_t SMTPPort = kDefaultSMTPPort;  // 1 to 65535; anything else means 25
  std::string EmailFromAddr;
  std::string SMTPUser;
  std::string SMTPPassword;
  // "none", "starttls" or "tls"; anything else is kept as written and refused by the delivery.
  std::string SMTPSecurity = "none";
  std::string SMTPAuth = "auto";  // "auto", "plain", "login" or "xoauth2"; anything else auto
  bool SMTPTLSVerify = true;      // "SMTPTLSVerify" 0 turns the certificate check off
  std::string SMTPCAFile;         // as written: relative to the program's directory or absolute
  // OAuth 2.0 client credentials for AUTH XOAUTH2 (mail/oauth_token.h).
  std::string OAuthTokenURL;
  std::string OAuthClientID;
  std::string OAuthClientSecret;  // a secret like SMTPPassword: never shown, never logged
  std::string OAuthScope;         // empty: the Microsoft 365 scope
  // Where the start announcement and new-high messages go a second time; empty means the
  // default, because an empty host would turn the second send into another broadcast.
  std::string SyslogCollector = kDefaultSyslogCollector;
  std::string PhoneHomeCollector = kDefaultPhoneHomeCollector;  // empty means the default
  // SNMP version and version 3's user-based security; read at start only, none in the default
  // file (snmp/session.h checks them).
  std::string SNMPVersion;  // "1" (empty), "2c" or "3"
  std::string SNMPUser;
  std::string SNMPAuthProtocol;  // "SHA" (empty), "SHA256", "MD5"
  std::string SNMPAuthPassword;  // empty: noAuthNoPriv
  std::string SNMPPrivProtocol;  // "AES" (empty) or "none"
  std::string SNMPPrivPassword;  // empty: authNoPriv
  std::string SNMPContext;
  int32_t UPSPort = kDefaultUPSPort;  // the card's SNMP port; 1 to 65535, otherwise 161
  // The object read as the temperature and what one unit of it is worth; read at start only.
  // An OID that is not dotted numeric (a leading "." is dropped), or a scale that is no number
  // above 0, is named (40200) and the default used.
  std::string TemperatureOID = kDefaultTemperatureOID;
  double TemperatureScale = 1;
  // The Prometheus text file written after every pass and delivery; empty: none. Start only.
  std::string MetricsFile;
};

// Whether `oid` is a dotted numeric object identifier the SNMP encoder takes: at least two
// arcs, the first 0 to 2, the second below 40 under 0 and 1, each below 2^32, no leading zeros.
bool NumericOid(const std::string& oid);

// One read site: per key, the result of its last read (a key not yet read has no entry).
struct tConfigReadSite {
  std::map<std::string, tXMLParam> Params;
  // Per key, the unusable text last named in the activity log (code 40200), so that a fallback
  // is named once and again only when the text changes.
  std::map<std::string, std::string> Fallbacks;
  // The last problem of the whole file named in the activity log (40200: too large, no setting
  // in it), so that it is named once for as long as it lasts; empty after a usable read.
  std::string Problem;
  // The commands run from a prompt also read the stored credentials (toolbelt/secrets.h);
  // the service takes only what the service manager hands it.
  bool ReadStoredSecrets = false;
  // After a start read: the secret keys whose value is in clear in the file, and those whose
  // sealed value does not open here (they count as empty).
  std::vector<std::string> ClearSecrets;
  std::vector<std::string> UnsealableSecrets;
};

// The 22 lines of the default file, each ending in CR LF.
std::vector<std::string> DefaultConfigLines();

// Writes the default file into the working directory unless a file of that name is there:
// line 1 replaces (creates) the file, lines 2 to 22 are appended one call each. Returns true
// when the file exists afterwards; false means the start read is to be skipped. Never throws.
bool EnsureConfigFile(Context& ctx);

// The file is read once per read (at most kConfigFileMaxBytes of it; UTF-8 with or without a
// byte-order mark, UTF-16 with one, toolbelt/config_text.h) and every key looked up in that
// text, with the five XML entities decoded. A file that is too large or yields not a single
// setting is named once (40200, see tConfigReadSite::Problem) and counts as unusable.
//
// The start read: every key, in the order the cycle has always read them, into `site`, then
// converted; an unusable or unreadable (reported as by FileToStr) file gives every key as not
// found. Call it only when EnsureConfigFile returned true; otherwise the cycle keeps its
// initial values (settings.Log.DebugLevel is not touched here). The reads report their own
// failures; only an exhausted resource can escape, to the cycle's failure handler.
tServiceConfig ReadStartConfig(Context& ctx, tConfigReadSite& site);

// Secret keys (toolbelt/secrets.h) take their value from the stored credential or the sealed
// value where there is one. A sealed value that does not open is named in an entry 40200 and
// the secret counts as empty; the keys still in clear are named together, once, in an entry
// 50210 that says how to protect them.
//
// Settings whose text is not usable (not a number, negative, out of range) are named once per
// site and text in an activity-log entry 40200 with the value used.
//
// The re-read at every temperature pass (skipped whole, every value kept, when the file is
// there but cannot be read or used): "UPSHost", "PhoneHomeServer", "GUID", "Location",
// "TestPagerNos", "TempSleep", "AlarmTemp", "EmailToAddr", "EmailCCAddr" into `site`, and
// those fields of `config` renewed from the site's values; the start-only fields stay.
// `trace` advances through the cycle's stages 1120 to 1220 as the keys are read, so that a
// failure the cycle catches shows how far the re-read got. Failures as for ReadStartConfig.
void ReReadPassConfig(Context& ctx, tConfigReadSite& site, tServiceConfig& config, int32_t& trace);

// Whether `value` is usable for the setting `key` as the service reads it: "" when it is (an
// empty value is: it means the default), else why not, naming the key, the value and what the
// service would use instead. A key the service does not read is refused as well. For the
// writers of the file (toolbelt/settings_edit.h), so that they refuse what the service would
// only fall back from.
std::string CheckSettingValue(Context& ctx, const std::string& key, const std::string& value);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_CONFIG_H_
