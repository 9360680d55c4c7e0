// Where the XOAUTH2 login of the SMTP client takes its access token from (an OAuth 2.0 token
// endpoint in the service, a fixed text in tests).
#ifndef TEMPWARDEN_MAIL_TOKEN_SOURCE_H_
#define TEMPWARDEN_MAIL_TOKEN_SOURCE_H_

#include <cstdint>
#include <string>

namespace tw {

class TokenSource {
 public:
  virtual ~TokenSource() = default;

  // A current access token in `token`; false when none can be had, with the reason for
  // people in `error` (the endpoint's error and description). A fetch takes at most
  // `limit_ms` (what is left of the delivery's time). Called on the service thread once per
  // delivery that logs in with XOAUTH2. Never throws.
  virtual bool AccessToken(uint32_t limit_ms, std::string* token, std::string* error) = 0;

  // The relay refused the token: the next AccessToken must not hand out the same one.
  virtual void Forget() {}

  // The activity-log items of the last failed AccessToken, from the endpoint's own words
  // ("[OAuthError=...][OAuthErrorDescription=...]", made safe as log fields); empty when the
  // source has none. Never throws except for want of memory.
  virtual std::string FailureItems() const { return std::string(); }
};

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_TOKEN_SOURCE_H_
