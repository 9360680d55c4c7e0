// OAuth 2.0 access tokens for SMTP AUTH XOAUTH2, by the client credentials grant (RFC 6749
// 4.4): the application's id and secret posted as a form to the provider's token endpoint
// over HTTPS, the JSON answer read, the token kept until shortly before it expires.
//
// How SendMail uses it: the caller that sends the mails keeps a ClientCredentialsTokenSource
// (so that one token serves every mail of its lifetime) and hands SendMail an OAuthTokens over
// it as tSmtpAccount::Tokens; the relay's refusal of a token drops it; no token gives
// kMailNoToken, with TokenFailureText as the reason.
#ifndef TEMPWARDEN_MAIL_OAUTH_TOKEN_H_
#define TEMPWARDEN_MAIL_OAUTH_TOKEN_H_

#include <cstdint>
#include <string>

#include "mail/smtp_client.h"
#include "mail/token_source.h"
#include "toolbelt/settings.h"

namespace tw {

// The scope that grants SMTP AUTH on Microsoft 365 (Exchange Online).
constexpr char kDefaultOAuthScope[] = "https://outlook.office365.com/.default";

// One token fetch in all, connect and TLS handshake included (the name lookup aside).
constexpr uint32_t kTokenFetchLimitMs = 60000;

// A token is renewed this long before the endpoint says it expires (at most half its life),
// so that it does not run out between the token request and the relay's check.
constexpr uint64_t kTokenRenewMarginMs = 300000;

// From the settings "OAuthTokenURL", "OAuthClientID", "OAuthClientSecret", "OAuthScope" and
// "SMTPCAFile". The endpoint's certificate is always checked: it receives the client secret,
// so "SMTPTLSVerify" 0, which an administrator sets for a relay with a certificate of its own
// making, must not hand the secret to whoever answers in the endpoint's name.
struct tOAuthSettings {
  std::string TokenURL;  // https://login.microsoftonline.com/<tenant>/oauth2/v2.0/token
  std::string ClientID;
  std::string ClientSecret;  // a secret like the password: never shown, never logged
  std::string Scope = kDefaultOAuthScope;
  std::string CAFile;  // absolute path, empty for none: trusted besides the system's roots
};

struct TokenResult {
  std::string access_token;  // empty when none could be had
  // Why not: the endpoint's "error" and "error_description" when it answered with them
  // ("invalid_client", "AADSTS7000215: Invalid client secret provided..."); otherwise one of
  // this client's own words with the reason: "settings", "connection", "tls", "untrusted",
  // "answer".
  std::string error;
  std::string error_description;
  bool ok() const { return !access_token.empty(); }
};

// The client credentials grant against the endpoint of the settings. Not thread-safe: one
// caller (the service thread) uses it.
class ClientCredentialsTokenSource {
 public:
  // A valid access token for `settings`: the one kept, or a new one from the endpoint.
  // Uses ctx.env.network, ctx.env.tls and ctx.env.clock, within `limits` (connect, the whole
  // answer, and total_ms for everything), ending at once when the network's stop event is
  // raised. Never throws.
  TokenResult Get(Context& ctx, const tOAuthSettings& settings, const SmtpLimits& limits);

  // Drops the token kept (the relay refused it).
  void Forget() { token_.clear(); }

 private:
  std::string token_;
  std::string kept_for_;      // the settings the token was had with
  uint64_t renew_at_ms_ = 0;  // on the clock's MonotonicMs
};

// The SMTP client's token source for one delivery: asks `kept` (which outlives it, so that one
// token serves many mails) with the delivery's context, settings and limits.
class OAuthTokens : public TokenSource {
 public:
  OAuthTokens(Context& ctx, ClientCredentialsTokenSource& kept, const tOAuthSettings& settings,
              const SmtpLimits& limits)
      : ctx_(ctx), kept_(kept), settings_(settings), limits_(limits) {}
  // Within the smallest of `limit_ms`, kTokenFetchLimitMs and the limits' total.
  bool AccessToken(uint32_t limit_ms, std::string* token, std::string* error) override;
  void Forget() override { kept_.Forget(); }
  std::string FailureItems() const override;

 private:
  Context& ctx_;
  ClientCredentialsTokenSource& kept_;
  const tOAuthSettings& settings_;
  const SmtpLimits& limits_;
  TokenResult failure_;  // of the last AccessToken that had no token
};

// The token endpoint's answer read: an access token and its life in seconds (0 when the
// endpoint does not say), or the error. `status` is the HTTP status. Exposed for tests and
// the fuzz target.
TokenResult ReadTokenAnswer(int status, const std::string& body, uint64_t* expires_in_s);

// "error: error_description" with control characters replaced by blanks and cut to 200
// characters each, for the console and the activity log.
std::string TokenFailureText(const TokenResult& result);

// The activity-log items of a failure: "[OAuthError=...][OAuthErrorDescription=...]", each
// text as LogFieldText makes it (control characters blanked, "[" and "]" shown as "(" and ")",
// cut to 200 bytes), so that what an endpoint answers cannot close an item and forge another.
std::string TokenFailureItems(const TokenResult& result);

// The initial client response of AUTH XOAUTH2, before base64:
// "user=" user ^A "auth=Bearer " token ^A ^A.
std::string XOAuth2Response(const std::string& user, const std::string& access_token);

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_OAUTH_TOKEN_H_
