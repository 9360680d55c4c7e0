// Mail delivery: one mail, one connection to the SMTP relay, a result code.
#ifndef TEMPWARDEN_MAIL_SMTP_H_
#define TEMPWARDEN_MAIL_SMTP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mail/email.h"
#include "mail/mime.h"
#include "mail/oauth_token.h"
#include "mail/smtp_client.h"
#include "mail/token_source.h"
#include "toolbelt/settings.h"

namespace tw {

// Results of SendMail. Failures that carry a socket error number give its negative
// (-10054 reset, -10060 timed out, -10061 refused, -11001 host not found, -11004 no address).
constexpr int32_t kMailSent = 0;
constexpr int32_t kMailSyntaxError = -501;   // 501 to MAIL FROM or to the recipients
constexpr int32_t kMailAuthRequired = -530;  // 530 at any stage
constexpr int32_t kMailAuthRejected = -535;  // 534, 535 or 538 to AUTH; 535 to MAIL FROM
constexpr int32_t kMailNoMailbox = -550;     // 550 to the recipients
constexpr int32_t kMailNoRelay = -600;       // SMTPRelay empty
constexpr int32_t kMailNoRecipient = -601;   // no address to deliver to
constexpr int32_t kMailBadRecipient = -602;  // "<>" in an address list
constexpr int32_t kMailRelayBusy = -606;     // failure text holds "4.3.2"
constexpr int32_t kMailNotConnected = -607;  // the relay closed the connection at once
constexpr int32_t kMailNoStartTls = -620;    // STARTTLS required, the relay does not offer it
constexpr int32_t kMailTlsFailed = -621;     // STARTTLS refused, or the TLS handshake failed
constexpr int32_t kMailTlsUntrusted = -622;  // certificate not trusted, or not for the relay
constexpr int32_t kMailBadSecurity = -623;   // "SMTPSecurity" is no known word: nothing is sent
constexpr int32_t kMailNoToken = -630;       // XOAUTH2: no access token could be had
constexpr int32_t kMailNoSender = -640;      // "EmailFromAddr" empty: nothing is sent
constexpr int32_t kMailOtherFailure = -699;

// The activity-log warning of a delivery over TLS without certificate verification.
constexpr int32_t kLogTlsNotVerified = 40800;

enum class SmtpSecurity {
  kNone,      // plain SMTP
  kStartTls,  // STARTTLS required: without it nothing more is sent, above all no AUTH, no MAIL
  kTls,       // TLS from the first byte (port 465)
  kInvalid,   // a word the settings do not know: refused with kMailBadSecurity, fail closed
};

// The AUTH mechanism ("SMTPAuth").
enum class SmtpAuth {
  kAuto,  // PLAIN when the relay offers it, else LOGIN
  kPlain,
  kLogin,
  kXOAuth2,  // the password is not used: the token comes from tSmtpAccount::Tokens
};

// How to reach the relay beyond what the mail record says: an account from the settings
// "SMTPUser", "SMTPPassword" and "SMTPAuth", and the transport security from "SMTPSecurity",
// "SMTPTLSVerify" and "SMTPCAFile" (SmtpAccountFromConfig in service/config_adapters.h fills it).
// The client logs in only with a User and only when the relay offers AUTH (RFC 4954 4): a
// relay inside the network that needs no login must still get the alert, and no account is
// ever sent that the settings do not name.
struct tSmtpAccount {
  std::string User;
  std::string Password;
  SmtpAuth Auth = SmtpAuth::kAuto;
  TokenSource* Tokens = nullptr;  // for kXOAuth2; not owned; null: a token for this mail only
  SmtpSecurity Security = SmtpSecurity::kNone;
  bool TLSVerify = true;  // false: encrypt without checking the certificate (logged as 40800)
  std::string CAFile;     // absolute path of a PEM file of further CAs; empty for none
  tOAuthSettings OAuth;   // the token endpoint for AUTH XOAUTH2
};

// How much of the relay's refusals a report keeps: a relay may answer every pass with a
// reply of many kilobytes, and the report goes into a log entry that is never purged.
constexpr size_t kReportReplyLines = 5;
constexpr size_t kReportReplyLength = 2048;

// What a delivery learned beyond its result, for the console of /testmail and the log.
struct tSmtpReport {
  // The lines of the 4xx and 5xx replies up to QUIT (RefusalLine; the reply to QUIT says
  // nothing about the mail), and the token endpoint's reason for kMailNoToken, joined with
  // " / ": the first kReportReplyLines lines within kReportReplyLength characters, then
  // "(N more lines)" for the rest.
  std::string Reply;
  // For kMailNoToken: the token endpoint's error as items (TokenSource::FailureItems), for the
  // log entry of an undelivered mail; empty when the source gave none.
  std::string TokenItems;
  // For kMailAuthRequired: what to change, fitting what the relay offered.
  std::string Advice;
};

// Delivers `mail` through mail.SMTPRelay at mail.SMTPPort, sender mail.FromAddr; recipients
// are the addresses of ToAddr and CCAddr. Writes progress lines to the console when one is
// attached; with mail.Debug announces the connection by syslog. Once the relay's greeting is
// read, every way out sends QUIT. `report` (may be null) gets the relay's refusals. Never
// throws.
int32_t SendMail(Context& ctx, tEmail mail, const tSmtpAccount& account = tSmtpAccount(),
                 const SmtpLimits& limits = SmtpLimits(), tSmtpReport* report = nullptr);

// The name EHLO gives: `fqdn` when it is a valid fully qualified host name, else the address
// literal of `local_address` ("[10.1.2.3]", "[IPv6:fd00::5]"), else `fallback`.
std::string EhloName(const std::string& fqdn, const std::string& local_address,
                     const std::string& fallback);

// The result for a failure: its socket error number (0: none) first, then "4.3.2" in its
// message text (a relay's reply).
int32_t ResultFromFailure(int socket_error, const std::string& message);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_H_
