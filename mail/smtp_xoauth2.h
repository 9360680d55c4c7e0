// AUTH XOAUTH2, the SASL mechanism of Microsoft 365 and Gmail: the user name and an OAuth 2.0
// access token in one initial response.
#ifndef TEMPWARDEN_MAIL_SMTP_XOAUTH2_H_
#define TEMPWARDEN_MAIL_SMTP_XOAUTH2_H_

#include <cstdint>
#include <string>

#include "mail/oauth_token.h"
#include "mail/smtp_client.h"
#include "toolbelt/settings.h"

namespace tw {

// Takes a token from `tokens` and sends "AUTH XOAUTH2 " with base64 of XOAuth2Response(user,
// token). Returns 0 when the relay answers 235. Returns kMailNoToken, with the reason in
// `token`, when no token could be had; nothing has been sent to the relay then. A relay that
// refuses the token answers 334 with an error of its own first: the client ends that with an
// empty line, drops the token kept (the next mail asks for a new one) and throws
// Fault("ESMTPReplyError", final reply) like SmtpClient::AuthLogin.
int32_t AuthXOAuth2(Context& ctx, SmtpClient& client, TokenSource& tokens, const std::string& user,
                    const tOAuthSettings& settings, const SmtpLimits& limits, TokenResult* token);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_SMTP_XOAUTH2_H_
