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
  if (code == 530) return kMailAuthRequired;
  if (mail_from && code == 535) return kMailAuthRejected;
  if (!mail_from && code == 550) return kMailNoMailbox;
  return 0;
}

bool ValidHostName(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  size_t labels = 0, at = 0;
  bool all_digits_last = false;
  while (at <= name.size()) {
    size_t end = name.find('.', at);
    if (end == std::string::npos) end = name.size();
    const std::string label = name.substr(at, end - at);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
      return false;
    }
    all_digits_last = true;
    for (char c : label) {
      const bool digit = c >= '0' && c <= '9';
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      if (!digit && !letter && c != '-') return false;
      all_digits_last = all_digits_last && digit;
    }
    ++labels;
    at = end + 1;
  }
  return labels >= 2 && !all_digits_last;
}

const char* AuthTypeName(SmtpAuth auth) {
  switch (auth) {
    case SmtpAuth::kPlain:
      return "atPlain";
    case SmtpAuth::kXOAuth2:
      return "atXOAuth2";
    default:
      return "atLogin";
  }
}

// The mechanism to use: the one the settings name, or with kAuto PLAIN when offered, else
// LOGIN.
SmtpAuth Mechanism(SmtpAuth wanted, const std::vector<std::string>& offered) {
  if (wanted != SmtpAuth::kAuto) return wanted;
  for (const std::string& name : offered) {
    if (name == "PLAIN") return SmtpAuth::kPlain;
  }
  return SmtpAuth::kLogin;
}

[[noreturn]] void ThrowReply(const SmtpReply& reply) {
  throw Fault("ESMTPReplyError", reply.Text());
}

// Gathers the refusal lines of one delivery into its report within the report's bounds; the
// lines beyond them are counted, and named at the end (Finish).
class ReplyLines {
 public:
  explicit ReplyLines(tSmtpReport& report) : report_(report) {}
  void Add(const std::string& line) {
    const size_t joined = report_.Reply.size() + (report_.Reply.empty() ? 0 : 3) + line.size();
    if (left_out_ == 0 && kept_ < kReportReplyLines && joined <= kReportReplyLength) {
      report_.Reply += (report_.Reply.empty() ? "" : " / ") + line;
      ++kept_;
    } else {
      ++left_out_;  // and every later line too, so that what is kept stays in order
    }
  }
  void Finish() {
    if (left_out_ == 0) return;
    const std::string more = "(" + std::to_string(left_out_) + " more lines)";
    report_.Reply += report_.Reply.empty() ? more : " / " + more;
    left_out_ = 0;
  }

 private:
  tSmtpReport& report_;
  size_t kept_ = 0;
  size_t left_out_ = 0;
};

// The TLS part of the greeting: the handshake first (SmtpSecurity::kTls), or the greeting
// with STARTTLS, or only the greeting. Returns a result when TLS was required and did not
// come about; nothing more is sent then. 0 when the exchange goes on.
int32_t Secure(Context& ctx, const tEmail& mail, const tSmtpAccount& account,
               const SmtpLimits& limits, const std::string& ehlo, SmtpClient& client,
               TlsFacts* facts) {
  if (account.Security == SmtpSecurity::kNone) {
    client.Greet(ehlo);
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
      client.Greet(ehlo);
      return 0;
    }
    client.Greet(ehlo);
    if (!client.Connected()) return 0;  // reported as not connected
    if (!client.starttls_offered()) {
      client.Quit();
      Say(ctx, " " + mail.SMTPRelay + " offers no STARTTLS", ConsoleColour::kBrightRed);
      return kMailNoStartTls;
    }
    client.StartTls(*ctx.env.tls, options, ehlo, facts);
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
  rec.Msg =
      "[Function=smtp.SendMail()][Msg=TLS certificate of the relay not verified"
      " (SMTPTLSVerify=0)][SMTPRelay=" +
      mail.SMTPRelay + "][TLS=" + tls.version + " " + tls.cipher +
      "][Certificate=" + LogFieldText(tls.peer_subject) + "]";
  std::string file;
  LogEntry(ctx, rec, file);
}

// What to change after a 530, fitting what the relay offered.
std::string AuthAdvice(const SmtpClient& client, const tSmtpAccount& account) {
  if (account.Security == SmtpSecurity::kNone && client.starttls_offered()) {
    return "the relay wants encryption before a login: set SMTPSecurity starttls";
  }
  if (account.User.empty()) {
    return client.auth_offered() ? "the relay wants a login: set SMTPUser and SMTPPassword"
                                 : "the relay wants a login but offers no AUTH on this "
                                   "connection: check SMTPPort and SMTPSecurity";
  }
  if (!client.auth_offered()) {
    return "the relay offers no AUTH on this connection: check SMTPPort and SMTPSecurity";
  }
  return "the relay did not take the login: check SMTPUser, SMTPPassword and SMTPAuth";
}

// The exchange after the connection: the caller's guard sends QUIT on every way out.
int32_t Exchange(Context& ctx, const tEmail& mail, const std::vector<std::string>& recipients,
                 const tSmtpAccount& account, const SmtpLimits& limits, SmtpClient& client,
                 tSmtpReport& report, ReplyLines& refusals) {
  const std::string port_text = std::to_string(mail.SMTPPort);
  const std::string fqdn = ctx.env.host != nullptr ? ctx.env.host->FullyQualifiedName() : "";
  const std::string ehlo = EhloName(fqdn, client.local_address(), ctx.settings.HostName);
  TlsFacts tls;
  if (const int32_t refused = Secure(ctx, mail, account, limits, ehlo, client, &tls)) {
    return refused;
  }
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
  // RFC 4954 4: no AUTH where the relay offers none; the relay says so when it wants one.
  const bool authenticate = !account.User.empty() && client.auth_offered();
  if (!account.User.empty() && !client.auth_offered()) {
    Say(ctx, " SMTP.Authenticate: " + mail.SMTPRelay + " offers no AUTH, going on without",
        ConsoleColour::kNormal);
  }
  if (authenticate) {
    const SmtpAuth mechanism = Mechanism(account.Auth, client.auth_mechanisms());
    std::string secret = account.Password;
    // A caller that keeps no token source gets one token for this mail.
    ClientCredentialsTokenSource once;
    OAuthTokens for_this_mail(ctx, once, account.OAuth, limits);
    TokenSource* tokens = account.Tokens != nullptr ? account.Tokens : &for_this_mail;
    if (mechanism == SmtpAuth::kXOAuth2) {
      std::string why;
      if (!tokens->AccessToken(client.TimeLeft(), &secret, &why)) {
        Say(ctx, " SMTP.OAuth token: " + RefusalLine(why), ConsoleColour::kBrightRed);
        refusals.Add(RefusalLine(why));
        report.TokenItems = tokens->FailureItems();
        return kMailNoToken;
      }
    }
    Say(ctx, " SMTP.Authenticate SMTP.UserName=" + account.User, ConsoleColour::kBrightGreen);
    // Console output may end up in screenshots and tickets: the password stays masked.
    Say(ctx, " SMTP.Password=********", ConsoleColour::kBrightGreen);
    Say(ctx, std::string(" SMTP.AuthenticationType=") + AuthTypeName(mechanism),
        ConsoleColour::kNormal);
    Say(ctx, " SMTP.Authenticating", ConsoleColour::kNormal);
    const SmtpReply reply = mechanism == SmtpAuth::kPlain ? client.AuthPlain(account.User, secret)
                            : mechanism == SmtpAuth::kXOAuth2
                                ? client.AuthXOAuth2(account.User, secret)
                                : client.AuthLogin(account.User, secret);
    if (reply.code == 534 || reply.code == 535 || reply.code == 538) {
      if (mechanism == SmtpAuth::kXOAuth2) tokens->Forget();
      return kMailAuthRejected;
    }
    if (reply.code == 530) return kMailAuthRequired;
    if (reply.code != 235) ThrowReply(reply);
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
  if (data.code == 530) return kMailAuthRequired;
  if (data.code != 354) ThrowReply(data);
  // The EHLO name is this host's name for the relay, so the message ID's domain as well.
  const MessageLines message = ComposeMessage(ctx, mail, NewMessageId(ctx, ehlo));
  for (size_t i = 0; i < message.lines.size(); ++i) {
    if (i == message.date_line) {
      Say(ctx, " <-" + message.lines[i], ConsoleColour::kBrightGreen);
    }
    client.SendMessageLine(message.lines[i]);
  }
  client.SendLine(".");
  const SmtpReply done = client.ReadReply();
  if (done.code / 100 != 2) ThrowReply(done);
  return kMailSent;
}

int32_t Deliver(Context& ctx, const tEmail& mail, const std::vector<std::string>& recipients,
                const tSmtpAccount& account, const SmtpLimits& limits, tSmtpReport& report,
                ReplyLines& refusals) {
  if (mail.SMTPPort < 0 || mail.SMTPPort > 65535) {
    throw Fault("ESocketError", MakeNetError(10049).message, 10049);
  }
  SmtpClient client(*ctx.env.network, *ctx.env.clock, limits);
  client.set_refusal_observer([&](const std::string& line) {
    Say(ctx, " SMTP.Reply=" + line, ConsoleColour::kBrightRed);
    refusals.Add(line);
  });
  const std::string port_text = std::to_string(mail.SMTPPort);
  client.Connect(
      mail.SMTPRelay, static_cast<uint16_t>(mail.SMTPPort),
      [&](const std::string& address, const NetError* error) {
        if (error == nullptr) {
          Say(ctx,
              " Connecting to " + mail.SMTPRelay + " [" + address + "] on TCP port " + port_text,
              ConsoleColour::kNormal);
        } else {
          std::string text = error->message;
          for (char& c : text) {
            if (c == '\r' || c == '\n') c = ' ';
          }
          Say(ctx, " Not connected to [" + address + "]: " + text, ConsoleColour::kBrightRed);
        }
      });
  // QUIT on every way out once connected: a relay that refused something still hears the end.
  struct QuitAtEnd {
    SmtpClient& client;
    ~QuitAtEnd() { client.Quit(); }
  } quit{client};
  int32_t result = Exchange(ctx, mail, recipients, account, limits, client, report, refusals);
  if (result == kMailAuthRequired) {
    report.Advice = AuthAdvice(client, account);
    Say(ctx, " SMTP.Advice: " + report.Advice, ConsoleColour::kBrightRed);
  }
  return result;
}

}  // namespace

std::string EhloName(const std::string& fqdn, const std::string& local_address,
                     const std::string& fallback) {
  std::string name = fqdn;
  while (!name.empty() && name.back() == '.') name.pop_back();  // the root's dot
  if (ValidHostName(name)) return name;
  if (local_address.find(':') != std::string::npos) return "[IPv6:" + local_address + "]";
  if (!local_address.empty()) return "[" + local_address + "]";
  return fallback;
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

namespace {

int32_t Send(Context& ctx, const tEmail& mail, const tSmtpAccount& account,
             const SmtpLimits& limits, tSmtpReport& out, ReplyLines& refusals) {
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
    if (account.Security == SmtpSecurity::kInvalid) return kMailBadSecurity;
    // A message without a sender lands in spam or is bounced nowhere: not sent at all.
    if (mail.FromAddr.empty()) return kMailNoSender;
    return Deliver(ctx, mail, recipients, account, limits, out, refusals);
  } catch (const Fault& e) {
    return ResultFromFailure(e.socket_error(), e.what());
  } catch (const std::exception& e) {
    return ResultFromFailure(0, e.what());
  } catch (...) {
    return kMailOtherFailure;
  }
}

}  // namespace

int32_t SendMail(Context& ctx, tEmail mail, const tSmtpAccount& account, const SmtpLimits& limits,
                 tSmtpReport* report) {
  tSmtpReport ignored;
  tSmtpReport& out = report != nullptr ? *report : ignored;
  out = tSmtpReport();
  ReplyLines refusals(out);
  const int32_t result = Send(ctx, mail, account, limits, out, refusals);
  try {
    refusals.Finish();
  } catch (...) {
    // Out of memory for a few characters: the report keeps what it has.
  }
  return result;
}

}  // namespace tw
