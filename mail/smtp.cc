#include "mail/smtp.h"

#include <exception>

#include "mail/mime.h"
#include "platform/console.h"
#include "platform/tls.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/datetime.h"
#include "toolbelt/failure.h"
#include "toolbelt/field_text.h"
#include "toolbelt/syslog.h"

namespace tw {

const char kBuiltInSmtpUser[] = "opsmail.brindle";
const char kBuiltInSmtpPassword[] = "pq4tnvkxe";

namespace {

// A progress line: a blank, the local time stamp and the text. Only for a console that is
// there; a service has none and goes on without the lines.
void Say(Context& ctx, const std::string& text, ConsoleColour colour) {
  Console* console = ctx.env.console;
  if (console == nullptr || !console->Attached()) return;
  try {
    const std::string stamp =
        FormatDateTime("YYYY-MM-DD HH:NN:SS.ZZZ", ctx.env.clock->Now(), ctx.fmt());
    console->WriteLine(" " + stamp + text, colour);
  } catch (...) {
    // A progress line is never worth the mail.
  }
}

// What a relay's reply to MAIL FROM or to the recipients means when it is a known rejection;
// 0 otherwise.
int32_t RejectionResult(int code, bool mail_from) {
  if (code == 501) return kMailSyntaxError;
  if (mail_from && code == 530) return kMailAuthRequired;
  if (mail_from && code == 535) return kMailAuthRejected;
  if (!mail_from && code == 550) return kMailNoMailbox;
  return 0;
}

[[noreturn]] void ThrowReply(const SmtpReply& reply) {
  throw Fault("ESMTPReplyError", reply.Text());
}

// The TLS part of the greeting: the handshake first (SmtpSecurity::kTls), or the greeting
// with STARTTLS, or only the greeting. Returns a result when TLS was required and did not
// come about; nothing more is sent then. 0 when the exchange goes on.
int32_t Secure(Context& ctx, const tEmail& mail, const tSmtpAccount& account,
               const SmtpLimits& limits, SmtpClient& client, TlsFacts* facts) {
  if (account.Security == SmtpSecurity::kNone) {
    client.Greet(ctx.settings.HostName);
    return 0;
  }
  TlsOptions options;
  options.host = mail.SMTPRelay;
  options.verify = account.TLSVerify;
  options.ca_file = account.CAFile;
  options.timeout_ms = limits.reply_ms;
  try {
    if (ctx.env.tls == nullptr) throw TlsFault(TlsFailure::kHandshake, "No TLS on this system");
    if (account.Security == SmtpSecurity::kTls) {
      client.Secure(*ctx.env.tls, options, facts);
      client.Greet(ctx.settings.HostName);
      return 0;
    }
    client.Greet(ctx.settings.HostName);
    if (!client.Connected()) return 0;  // reported as not connected
    if (!client.starttls_offered()) {
      client.Close();
      Say(ctx, " " + mail.SMTPRelay + " offers no STARTTLS", ConsoleColour::kBrightRed);
      return kMailNoStartTls;
    }
    client.StartTls(*ctx.env.tls, options, ctx.settings.HostName, facts);
    return 0;
  } catch (const TlsFault& fault) {
    const bool untrusted = fault.kind() == TlsFailure::kUntrusted;
    Say(ctx, std::string(" SMTP.TLS failed: ") + fault.what(), ConsoleColour::kBrightRed);
    return untrusted ? kMailTlsUntrusted : kMailTlsFailed;
  }
}

// Every delivery without certificate verification leaves a warning, so that a setting meant
// for a first test does not stay unnoticed.
void LogUnverified(Context& ctx, const tEmail& mail, const TlsFacts& tls) {
  tLogRec rec;
  rec.Code = kLogTlsNotVerified;
  rec.Msg = "[Function=smtp.SendMail()][Msg=TLS certificate of the relay not verified"
            " (SMTPTLSVerify=0)][SMTPRelay=" + mail.SMTPRelay + "][TLS=" + tls.version + " " +
            tls.cipher + "][Certificate=" +
            LogFieldText(tls.peer_subject) + "]";
  std::string file;
  LogEntry(ctx, rec, file);
}

int32_t Deliver(Context& ctx, const tEmail& mail, const std::vector<std::string>& recipients,
                const tSmtpAccount& account, const SmtpLimits& limits) {
  const std::string port_text = std::to_string(mail.SMTPPort);
  if (mail.SMTPPort < 0 || mail.SMTPPort > 65535) {
    throw Fault("ESocketError", MakeNetError(10049).message, 10049);
  }
  SmtpClient client(*ctx.env.network, *ctx.env.clock, limits);
  client.Connect(mail.SMTPRelay, static_cast<uint16_t>(mail.SMTPPort));
  TlsFacts tls;
  if (const int32_t refused = Secure(ctx, mail, account, limits, client, &tls)) return refused;
  if (!client.Connected()) {
    Say(ctx, " Not connected to " + mail.SMTPRelay, ConsoleColour::kBrightRed);
    return kMailNotConnected;
  }

  Say(ctx, " Connected to " + mail.SMTPRelay + " on TCP port " + port_text,
      ConsoleColour::kBrightGreen);
  if (account.Security != SmtpSecurity::kNone) {
    Say(ctx, " SMTP.TLS=" + tls.version + " " + tls.cipher, ConsoleColour::kBrightGreen);
    Say(ctx, " SMTP.TLSCertificate=" + tls.peer_subject, ConsoleColour::kBrightGreen);
    if (!account.TLSVerify) LogUnverified(ctx, mail, tls);
  }
  const bool own_account = !account.User.empty();
  const bool authenticate = own_account || client.auth_offered();
  if (authenticate) {
    const std::string user = own_account ? account.User : kBuiltInSmtpUser;
    const std::string password = own_account ? account.Password : kBuiltInSmtpPassword;
    Say(ctx, " SMTP.Authenticate SMTP.UserName=" + user, ConsoleColour::kBrightGreen);
    // Console output may end up in screenshots and tickets: the password stays masked.
    Say(ctx, " SMTP.Password=********", ConsoleColour::kBrightGreen);
    Say(ctx, " SMTP.AuthenticationType=atLogin", ConsoleColour::kNormal);
    Say(ctx, " SMTP.Authenticating", ConsoleColour::kNormal);
    client.AuthLogin(user, password);
  }
  if (mail.Debug) {
    tSyslogRec rec;
    rec.Code = 77000;
    rec.Msg = "smtp.SendMail():400 Connecting to " + mail.SMTPRelay + " on TCP port " + port_text;
    rec.Source = "smtp.SendMail()";
    rec.Port = 0;
    PostSyslogMsg(ctx, rec, "");
    Say(ctx, std::string(" SMTP.Authenticate=") + (authenticate ? "True" : "False"),
        ConsoleColour::kBrightGreen);
  }

  const SmtpReply from = client.Command("MAIL FROM:<" + mail.FromAddr + ">");
  if (const int32_t rejected = RejectionResult(from.code, true)) return rejected;
  if (from.code != 250) ThrowReply(from);

  // Every recipient's reply counts: the mail goes out when the relay took any of them, so
  // that one mistyped Cc address does not hold back the alert from everybody else.
  bool accepted = false;
  SmtpReply last;
  for (const std::string& address : recipients) {
    const std::string command = "RCPT TO:<" + address + ">";
    Say(ctx, " <-" + command, ConsoleColour::kBrightGreen);
    last = client.Command(command);
    if (last.code / 100 == 2) accepted = true;
  }
  if (!accepted) {
    if (const int32_t rejected = RejectionResult(last.code, false)) return rejected;
    ThrowReply(last);
  }

  Say(ctx, " <-DATA", ConsoleColour::kBrightGreen);
  const SmtpReply data = client.Command("DATA");
  if (data.code != 354) ThrowReply(data);
  const MessageLines message = ComposeMessage(ctx, mail);
  for (size_t i = 0; i < message.lines.size(); ++i) {
    if (i == message.date_line) {
      Say(ctx, " <-" + message.lines[i], ConsoleColour::kBrightGreen);
    }
    client.SendMessageLine(message.lines[i]);
  }
  client.SendLine(".");
  const SmtpReply done = client.ReadReply();
  client.Quit();
  if (done.code / 100 != 2) ThrowReply(done);
  return kMailSent;
}

}  // namespace

std::vector<std::string> SplitAddresses(const std::string& list) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find_first_of(",;\r\n", at);
    if (end == std::string::npos) end = list.size();
    const size_t first = list.find_first_not_of(" \t", at);
    if (first != std::string::npos && first < end) {
      const size_t last = list.find_last_not_of(" \t", end - 1);
      out.push_back(list.substr(first, last - first + 1));
    }
    at = end + 1;
  }
  return out;
}

int32_t ResultFromFailure(int socket_error, const std::string& message) {
  switch (socket_error) {
    case kWsaConnReset:
    case kWsaTimedOut:
    case kWsaConnRefused:
    case kWsaHostNotFound:
    case kWsaNoData:
      return -socket_error;
    default:
      break;
  }
  if (message.find("4.3.2") != std::string::npos) return kMailRelayBusy;
  return kMailOtherFailure;
}

int32_t SendMail(Context& ctx, tEmail mail, const tSmtpAccount& account, const SmtpLimits& limits) {
  try {
    if (mail.SMTPRelay.empty()) return kMailNoRelay;
    if (mail.ToAddr.empty() && mail.CCAddr.empty() && mail.OtherAddr.empty()) {
      return kMailNoRecipient;
    }
    for (const std::string* list : {&mail.ToAddr, &mail.CCAddr, &mail.OtherAddr}) {
      if (list->find("<>") != std::string::npos) return kMailBadRecipient;
    }
    std::vector<std::string> recipients = SplitAddresses(mail.ToAddr);
    for (std::string& cc : SplitAddresses(mail.CCAddr)) recipients.push_back(std::move(cc));
    // Without an address the relay would refuse DATA anyway; do not bother it.
    if (recipients.empty()) return kMailNoRecipient;
    return Deliver(ctx, mail, recipients, account, limits);
  } catch (const Fault& e) {
    return ResultFromFailure(e.socket_error(), e.what());
  } catch (const std::exception& e) {
    return ResultFromFailure(0, e.what());
  } catch (...) {
    return kMailOtherFailure;
  }
}

}  // namespace tw
