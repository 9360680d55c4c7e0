#include "mail/smtp_xoauth2.h"

#include "mail/base64.h"
#include "toolbelt/failure.h"

namespace tw {

int32_t AuthXOAuth2(Context& ctx, SmtpClient& client, TokenSource& tokens, const std::string& user,
                    const tOAuthSettings& settings, const SmtpLimits& limits, TokenResult* token) {
  *token = tokens.Get(ctx, settings, limits);
  if (!token->ok()) return kMailNoToken;
  SmtpReply reply =
      client.Command("AUTH XOAUTH2 " + Base64Encode(XOAuth2Response(user, token->access_token)));
  // The 334 carries the relay's reason as base64 JSON; the exchange ends with an empty line
  // (RFC 4954 4, the client's cancel), and the relay then gives its final answer.
  if (reply.code == 334) reply = client.Command("");
  if (reply.code == 235) return 0;
  tokens.Forget();
  throw Fault("ESMTPReplyError", reply.Text());
}

}  // namespace tw
