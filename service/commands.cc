#include "service/commands.h"

#include <exception>

#include "mail/smtp.h"
#include "platform/console.h"
#include "service/config_adapters.h"
#include "service/protect.h"
#include "service/ups_reading.h"
#include "snmp/session.h"
#include "toolbelt/config.h"
#include "toolbelt/field_text.h"
#include "toolbelt/files.h"
#include "toolbelt/host_info.h"
#include "toolbelt/numbers.h"
#include "toolbelt/secrets.h"
#include "toolbelt/settings_edit.h"
#include "toolbelt/text_time.h"

namespace tw {
namespace {

// The console of a command run from a prompt: the SMTP client's progress lines always reach
// the person (or script) who ran it, in colour on a terminal and plain text otherwise.
class PromptConsole : public Console {
 public:
  PromptConsole(Console* system, std::ostream& out) : system_(system), out_(out) {}
  bool Attached() override { return true; }
  void WriteLine(const std::string& text, ConsoleColour colour) override {
    if (system_ != nullptr && system_->Attached()) {
      out_.flush();
      system_->WriteLine(text, colour);
    } else {
      out_ << text << std::endl;
    }
  }

 private:
  Console* system_;
  std::ostream& out_;
};

// The settings both commands start from; false (and why, on `out`) when there are none.
bool ReadSettings(Context& ctx, std::ostream& out, tServiceConfig* config) {
  const std::string dir = SetPathToEXEPath(ctx);
  if (!FileExists(ctx, SettingsFilePath(ctx))) {
    if (ctx.layout.SettingsFile.empty()) {
      out << kConfigFileName << " not found in " << dir << std::endl;
    } else {
      out << ctx.layout.SettingsFile << " not found" << std::endl;
    }
    return false;
  }
  tConfigReadSite site;
  // Outside the service manager: the stored credentials, where this process may open them.
  site.ReadStoredSecrets = true;
  *config = ReadStartConfig(ctx, site);
  for (const std::string& key : site.UnsealableSecrets) {
    out << key << ": its protected value does not open on this machine; it counts as empty"
        << std::endl;
  }
  ctx.settings.HostName = GetHostName(ctx);
  return true;
}

std::string Item(const std::string& key, const std::string& value) {
  return "[" + key + "=" + value + "]\r\n";
}

}  // namespace

std::string MailResultMeaning(int32_t result) {
  static const struct {
    int32_t result;
    const char* meaning;
  } kMeanings[] = {
      {kMailSent, "delivered: the relay took the mail"},
      {kMailSyntaxError, "the relay refused the sender or a recipient address as malformed (501)"},
      {kMailAuthRequired, "the relay wants a login or encryption first (530)"},
      {kMailAuthRejected,
       "the relay refused the login (534, 535 or 538): check SMTPUser, SMTPPassword and SMTPAuth"},
      {kMailNoMailbox, "the relay refused every recipient (550)"},
      {kMailNoRelay, "no SMTPRelay is set in TEMPWARDEN.XML"},
      {kMailNoRecipient, "no recipient: EmailToAddr and EmailCCAddr are empty"},
      {kMailBadRecipient, "\"<>\" in EmailToAddr or EmailCCAddr"},
      {kMailRelayBusy, "the relay is busy for now (4.3.2)"},
      {kMailNotConnected, "the relay closed the connection at once"},
      {kMailNoStartTls, "STARTTLS is required but the relay does not offer it"},
      {kMailTlsFailed, "the TLS handshake with the relay failed"},
      {kMailTlsUntrusted, "the relay's certificate is not trusted or does not name SMTPRelay"},
      {kMailBadSecurity, "SMTPSecurity is none of none, starttls, tls: nothing was sent"},
      {kMailNoToken, "no OAuth access token could be had (see the reason above)"},
      {kMailNoSender, "no EmailFromAddr is set in TEMPWARDEN.XML: nothing was sent"},
      {kMailOtherFailure, "the exchange failed (see the relay's reply)"},
      {-10054, "the relay reset the connection"},
      {-10060, "the relay did not answer in time"},
      {-10061, "the connection was refused: nothing listens at SMTPRelay on SMTPPort"},
      {-11001, "SMTPRelay: host not found"},
      {-11004, "SMTPRelay: the name has no address"},
  };
  for (const auto& m : kMeanings) {
    if (m.result == result) return m.meaning;
  }
  return "not delivered";
}

int TestMailCommand(Context& ctx, std::ostream& out) {
  tServiceConfig config;
  if (!ReadSettings(ctx, out, &config)) return 1;
  tEmail mail;
  mail.Subject = "APC UPS: test mail";
  mail.SMTPRelay = config.SMTPRelay;
  mail.SMTPPort = config.SMTPPort;
  mail.FromAddr = config.EmailFromAddr;
  mail.ToAddr = config.EmailToAddr;
  mail.CCAddr = config.EmailCCAddr;
  const FormatSettings& fmt = ctx.fmt();
  mail.Body =
      Item("Msg", "Test mail of the UPS temperature service") +
      Item("Host", ctx.settings.HostName) + Item("ExePath", ctx.settings.ExePath) +
      Item("SMTPRelay", config.SMTPRelay) + Item("SMTPPort", std::to_string(config.SMTPPort)) +
      Item("EmailFromAddr", config.EmailFromAddr) + Item("EmailToAddr", config.EmailToAddr) +
      Item("EmailCCAddr", config.EmailCCAddr) + Item("SMTPUser", config.SMTPUser) +
      Item("UPSHost", config.UPSHost) + Item("AlarmTemp", FloatToStr(config.AlarmTemp, fmt)) +
      Item("TempSleep", std::to_string(config.TempSleep)) +
      Item("VoltageSleep", std::to_string(config.VoltageSleep)) +
      Item("PhoneHomeServer", config.PhoneHomeServer) + Item("SMTPSecurity", config.SMTPSecurity) +
      Item("SMTPAuth", config.SMTPAuth) + Item("SMTPTLSVerify", config.SMTPTLSVerify ? "1" : "0") +
      Item("SMTPCAFile", config.SMTPCAFile) + "[SyslogCollector=" + config.SyslogCollector + "]";
  out << "Sending \"" << mail.Subject << "\" to \"" << mail.ToAddr << "\", Cc \"" << mail.CCAddr
      << "\", from \"" << mail.FromAddr << "\" through " << mail.SMTPRelay << " on TCP port "
      << mail.SMTPPort << std::endl;

  PromptConsole console(ctx.env.console, out);
  Context prompt = ctx;
  prompt.env.console = &console;
  tSmtpReport report;
  const int32_t result = SendMail(prompt, mail, SmtpAccountFromConfig(config, ctx.settings.ExePath),
                                  SmtpLimits(), &report);
  out << "Result " << result << ": " << MailResultMeaning(result) << std::endl;
  if (!report.Reply.empty()) out << "Relay's reply: " << report.Reply << std::endl;
  if (!report.Advice.empty()) out << "Advice: " << report.Advice << std::endl;
  return result == kMailSent ? 0 : 1;
}

void PrintQueryLine(std::ostream& out, const tQueryLine& line) {
  const tSNMPResult& r = line.Result;
  const tUpsObject& object = line.Object;
  const tUpsReading reading = ReadingOf(object, r);
  const bool number =
      line.Failure.empty() && !r.Text.empty() && reading.Kind == tReadingKind::kNumber;
  // The value stays last on the line, as scripts that read it expect; what it is goes with
  // the object in the parentheses.
  out << line.At << " " << line.Name << " (" << line.OID;
  if (number) {
    out << ", " << reading.Type;
    if (object.Scale != 1)
      out << " " << r.Text << " x " << FloatToStr(object.Scale, FormatSettings());
  }
  out << "): ";
  if (!line.Failure.empty()) {
    out << "no answer: " << line.Failure;
  } else {
    switch (r.Outcome) {
      case tSNMPOutcome::kValue: {
        if (r.Text.empty()) {
          out << "no answer: the value has no text";
        } else if (reading.Kind != tReadingKind::kNumber) {
          out << "no reading: " << reading.Type << " \"" << LogFieldText(r.Text)
              << "\" is no number from " << object.Min << " to " << object.Max;
        } else {
          out << (object.Scale != 1 ? FloatToStr(reading.Value, FormatSettings()) : r.Text);
        }
        break;
      }
      case tSNMPOutcome::kNoSuchObject:
        out << "no answer: the agent's answer does not hold the object";
        break;
      case tSNMPOutcome::kErrorStatus:
        out << "no answer: the agent answered with error-status " << r.ErrorStatus;
        break;
      case tSNMPOutcome::kNotProvided:
        out << "no answer: the card does not provide the object (noSuchName, noSuchObject or "
               "noSuchInstance)";
        break;
      case tSNMPOutcome::kNoAnswer:
        out << "no answer within " << kSnmpAnswerWaitMs
            << " ms (check UPSHost and SNMPCommunity, and that the card is on)";
        break;
      case tSNMPOutcome::kConnectionReset:
        out << "no answer: the host refused it, nothing listens on UDP port " << line.Port;
        break;
      case tSNMPOutcome::kNoHost:
        out << "no answer: no UPSHost is set in " << kConfigFileName;
        break;
    }
  }
  out << std::endl;
}

int QueryCommand(Context& ctx, std::ostream& out) {
  tServiceConfig config;
  if (!ReadSettings(ctx, out, &config)) return 1;
  out << "Querying " << (config.UPSHost.empty() ? "(no UPSHost)" : config.UPSHost)
      << " on UDP port " << config.UPSPort << std::endl;
  const tUpsObject objects[] = {TemperatureObject(config.TemperatureOID, config.TemperatureScale),
                                kUpsInputVoltage};
  // Version 2c and 3 settings as the service takes them at start; a setting it cannot use
  // is said here and nothing is sent.
  SnmpSession session;
  try {
    session.Configure(ctx, SnmpSettingsOf(config));
  } catch (const std::exception& e) {
    out << "SNMP settings: " << e.what() << std::endl;
    return 1;
  }
  bool all = true;
  for (const tUpsObject& object : objects) {
    tSNMPRec rec;
    rec.OID = object.OID;
    rec.Community = config.SNMPCommunity;
    rec.Host = config.UPSHost;
    rec.Session = &session;
    rec.Port = static_cast<uint16_t>(config.UPSPort);
    tQueryLine line;
    line.Name = object.Name;
    line.OID = object.OID;
    line.Object = object;
    line.Port = rec.Port;
    try {
      line.Result = SNMPQuery(ctx, rec);
    } catch (const std::exception& e) {
      line.Failure = e.what();
    } catch (...) {
      line.Failure = "unknown failure";
    }
    line.At = DateTimeToStr(ctx, ctx.env.clock->Now());
    PrintQueryLine(out, line);
    // What version 3 discovered: the engine ID, its boots and its time.
    if (session.version() == tSNMPVersion::kV3) out << "  " << session.EngineText(ctx) << std::endl;
    all =
        all && line.Failure.empty() && ReadingOf(object, line.Result).Kind == tReadingKind::kNumber;
  }
  return all ? 0 : 1;
}

int SetCommand(Context& ctx, const std::vector<std::string>& assignments, std::ostream& err) {
  // A secret key's value goes where the system keeps the service's secrets (service/protect.h),
  // never in clear into the file; an empty one only empties the file's value.
  std::vector<tSettingAssignment> values, secrets;
  for (const std::string& text : assignments) {
    tSettingAssignment v;
    if (!ParseSettingAssignment(text, &v)) {
      err << "Not KEY=VALUE: " << text << std::endl;
      return 1;
    }
    const bool secret = !v.Value.empty() && FindSecretKey(v.Key) != nullptr;
    if (secret && v.Value.find_first_of("\r\n") != std::string::npos) {
      err << v.Key << ": a value is one line; this one holds a line break." << std::endl;
      return 1;
    }
    (secret ? secrets : values).push_back(v);
  }
  const std::string why = WriteSettings(ctx, values);
  if (!why.empty()) {
    err << why << std::endl;
    return 1;
  }
  for (const tSettingAssignment& v : secrets) {
    tProtectOutcome outcome;
    if (!StoreSecret(ctx, v.Key, v.Value, &outcome)) {
      err << v.Key << ": " << outcome.Error << std::endl;
      return 1;
    }
  }
  return 0;
}

}  // namespace tw
