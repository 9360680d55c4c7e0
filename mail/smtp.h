// Mail delivery: one mail, one connection to the SMTP relay, a result code.
#ifndef TEMPWARDEN_MAIL_SMTP_H_
#define TEMPWARDEN_MAIL_SMTP_H_

#include <cstdint>
#include <string>
#include <vector>

#include "mail/email.h"
#include "mail/smtp_client.h"
#include "toolbelt/settings.h"

namespace tw {

// Results of SendMail. Failures that carry a socket error number give its negative
// (-10054 reset, -10060 timed out, -10061 refused, -11001 host not found, -11004 no address).
constexpr int32_t kMailSent = 0;
constexpr int32_t kMailSyntaxError = -501;   // 501 to MAIL FROM or to the recipients
constexpr int32_t kMailAuthRequired = -530;  // 530 to MAIL FROM
constexpr int32_t kMailAuthRejected = -535;  // 535 to MAIL FROM
constexpr int32_t kMailNoMailbox = -550;     // 550 to the recipients
constexpr int32_t kMailNoRelay = -600;       // SMTPRelay empty
constexpr int32_t kMailNoRecipient = -601;   // no address to deliver to
constexpr int32_t kMailBadRecipient = -602;  // "<>" in an address list
constexpr int32_t kMailRelayBusy = -606;     // failure text holds "4.3.2"
constexpr int32_t kMailNotConnected = -607;  // the relay closed the connection at once
constexpr int32_t kMailNoStartTls = -620;    // STARTTLS required, the relay does not offer it
constexpr int32_t kMailTlsFailed = -621;     // STARTTLS refused, or the TLS handshake failed
constexpr int32_t kMailTlsUntrusted = -622;  // certificate not trusted, or not for the relay
constexpr int32_t kMailOtherFailure = -699;

// The account used when the settings name none.
extern const char kBuiltInSmtpUser[];
extern const char kBuiltInSmtpPassword[];

// The activity-log warning of a delivery over TLS without certificate verification.
constexpr int32_t kLogTlsNotVerified = 40800;

enum class SmtpSecurity {
  kNone,      // plain SMTP
  kStartTls,  // STARTTLS required: without it nothing more is sent, above all no AUTH, no MAIL
  kTls,       // TLS from the first byte (port 465)
};

// How to reach the relay beyond what the mail record says: an account for AUTH LOGIN, from
// the settings "SMTPUser" and "SMTPPassword", and the transport security from "SMTPSecurity",
// "SMTPTLSVerify" and "SMTPCAFile" (SmtpAccountFromConfig in service/config_adapters.h fills it).
// With an empty User the built-in account is used, and only when the relay offers AUTH: a
// relay inside the network that needs no login must still get the alert.
struct tSmtpAccount {
  std::string User;
  std::string Password;
  SmtpSecurity Security = SmtpSecurity::kNone;
  bool TLSVerify = true;  // false: encrypt without checking the certificate (logged as 40800)
  std::string CAFile;     // absolute path of a PEM file of further CAs; empty for none
};

// Delivers `mail` through mail.SMTPRelay at mail.SMTPPort, sender mail.FromAddr; recipients
// are the addresses of ToAddr and CCAddr. Writes progress lines to the console when one is
// attached; with mail.Debug announces the connection by syslog. Never throws.
int32_t SendMail(Context& ctx, tEmail mail, const tSmtpAccount& account = tSmtpAccount(),
                 const SmtpLimits& limits = SmtpLimits());

// The addresses of an address list: split at ",", ";" and line breaks, blanks and tabs
// trimmed, empty pieces dropped.
std::vector<std::string> SplitAddresses(const std::string& list);

// The result for a failure: its socket error number (0: none) first, then "4.3.2" in its
// message text (a relay's reply).
int32_t ResultFromFailure(int socket_error, const std::string& message);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_H_
