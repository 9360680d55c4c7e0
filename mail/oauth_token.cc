#include "mail/oauth_token.h"

#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>

#include "mail/http_exchange.h"
#include "toolbelt/field_text.h"
#include "toolbelt/items.h"

namespace tw {
namespace {

constexpr size_t kShownLength = 200;
// Longer lives are taken as this: a year is far beyond any provider's token.
constexpr uint64_t kLongestLifeS = 365ull * 86400;

TokenResult Failure(const std::string& error, const std::string& description) {
  TokenResult result;
  result.error = error;
  result.error_description = description;
  return result;
}

// Text from the endpoint goes on one console line and one log entry.
std::string Shown(const std::string& text) {
  std::string out = text.substr(0, kShownLength);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = ' ';
  }
  return out;
}

std::string StringField(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::string();
  return it->get<std::string>();
}

// "expires_in" is a number by RFC 6749 5.1; some endpoints send it as a string of digits.
uint64_t LifeSeconds(const nlohmann::json& object) {
  const auto it = object.find("expires_in");
  if (it == object.end()) return 0;
  uint64_t life = 0;
  if (it->is_number_unsigned()) {
    life = it->get<uint64_t>();
  } else if (it->is_number_integer()) {
    life = it->get<int64_t>() > 0 ? static_cast<uint64_t>(it->get<int64_t>()) : 0;
  } else if (it->is_number_float()) {
    const double value = it->get<double>();
    life = value >= 1 && value < static_cast<double>(kLongestLifeS)
               ? static_cast<uint64_t>(value)
               : (value >= 1 ? kLongestLifeS : 0);
  } else if (it->is_string()) {
    const std::string text = it->get<std::string>();
    if (text.empty() || text.size() > 10) return 0;
    for (char c : text) {
      if (c < '0' || c > '9') return 0;
      life = life * 10 + static_cast<uint64_t>(c - '0');
    }
  }
  return std::min(life, kLongestLifeS);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TokenResult ReadTokenAnswer(int status, const std::string& body, uint64_t* expires_in_s) {
  *expires_in_s = 0;
  const bool success = status >= 200 && status <= 299;
  // No exceptions: a body that is no JSON is "discarded".
  const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    if (success) return Failure("answer", "The token endpoint's answer is not a JSON object");
    return Failure("answer", "HTTP " + std::to_string(status) +
                                 " from the token endpoint: " + body.substr(0, kShownLength));
  }
  const std::string token = StringField(answer, "access_token");
  if (success && !token.empty()) {
    const std::string type = StringField(answer, "token_type");
    if (!type.empty() && Lower(type) != "bearer") {
      return Failure("answer", "The token is of type " + type + ", not Bearer");
    }
    // It goes into the XOAUTH2 response between separators; RFC 6750's token characters
    // are all printable.
    for (char c : token) {
      if (c <= 0x20 || c >= 0x7f) {
        return Failure("answer", "The access token holds characters no token holds");
      }
    }
    TokenResult result;
    result.access_token = token;
    *expires_in_s = LifeSeconds(answer);
    return result;
  }
  TokenResult result =
      Failure(StringField(answer, "error"), StringField(answer, "error_description"));
  if (result.error.empty()) {
    result.error = "answer";
    if (result.error_description.empty()) {
      result.error_description =
          success ? "The answer holds no access_token"
                  : "HTTP " + std::to_string(status) + " from the token endpoint";
    }
  }
  return result;
}

TokenResult ClientCredentialsTokenSource::Get(Context& ctx, const tOAuthSettings& settings,
                                              const SmtpLimits& limits) {
  try {
    const uint64_t now = ctx.env.clock->MonotonicMs();
    // The secret is part of the key, so that a corrected secret is used at once.
    const std::string key = settings.TokenURL + '\n' + settings.ClientID + '\n' +
                            settings.ClientSecret + '\n' + settings.Scope;
    if (!token_.empty() && key == kept_for_ && now < renew_at_ms_) {
      TokenResult kept;
      kept.access_token = token_;
      return kept;
    }
    token_.clear();
    if (settings.TokenURL.empty()) return Failure("settings", "OAuthTokenURL is empty");
    if (settings.ClientID.empty()) return Failure("settings", "OAuthClientID is empty");
    if (settings.ClientSecret.empty()) return Failure("settings", "OAuthClientSecret is empty");
    HttpsPost post;
    std::string why;
    if (!ParseHttpsUrl(settings.TokenURL, &post.url, &why)) {
      return Failure("settings", "OAuthTokenURL: " + why);
    }
    if (ctx.env.network == nullptr || ctx.env.tls == nullptr) {
      return Failure("tls", "No TLS on this system");
    }
    std::vector<std::pair<std::string, std::string>> form = {
        {"grant_type", "client_credentials"},
        {"client_id", settings.ClientID},
        {"client_secret", settings.ClientSecret}};
    if (!settings.Scope.empty()) form.emplace_back("scope", settings.Scope);
    post.content_type = "application/x-www-form-urlencoded";
    post.body = FormEncode(form);
    post.ca_file = settings.CAFile;

    HttpResponse response;
    HttpFailure failure;
    if (!PostHttps(*ctx.env.network, *ctx.env.tls, *ctx.env.clock, limits, post, &response,
                   &failure)) {
      const char* error = failure.tls == TlsFailure::kUntrusted ? "untrusted"
                          : failure.tls != TlsFailure::kNone    ? "tls"
                          : failure.socket_error != 0           ? "connection"
                                                                : "answer";
      return Failure(error, failure.message);
    }
    uint64_t life_s = 0;
    TokenResult result = ReadTokenAnswer(response.status, response.body, &life_s);
    if (result.ok()) {
      // Without a stated life the token serves this one mail only.
      const uint64_t life_ms = life_s * 1000;
      token_ = result.access_token;
      kept_for_ = key;
      renew_at_ms_ = now + life_ms - std::min(kTokenRenewMarginMs, life_ms / 2);
    }
    return result;
  } catch (const std::exception& e) {
    return Failure("answer", e.what());
  } catch (...) {
    return Failure("answer", "Unknown failure");
  }
}

bool OAuthTokens::AccessToken(uint32_t limit_ms, std::string* token, std::string* error) {
  SmtpLimits limits = limits_;
  limits.total_ms = std::min({limits.total_ms, limit_ms, kTokenFetchLimitMs});
  const TokenResult result = kept_.Get(ctx_, settings_, limits);
  if (!result.ok()) {
    *error = TokenFailureText(result);
    failure_ = result;
    return false;
  }
  *token = result.access_token;
  return true;
}

std::string TokenFailureText(const TokenResult& result) {
  const std::string description = Shown(result.error_description);
  return Shown(result.error) + (description.empty() ? "" : ": " + description);
}

std::string OAuthTokens::FailureItems() const {
  return failure_.error.empty() && failure_.error_description.empty() ? std::string()
                                                                      : TokenFailureItems(failure_);
}

std::string TokenFailureItems(const TokenResult& result) {
  return Items()
      .Add("OAuthError", LogFieldText(result.error))
      .Add("OAuthErrorDescription", LogFieldText(result.error_description))
      .str();
}

std::string XOAuth2Response(const std::string& user, const std::string& access_token) {
  return "user=" + user + "\x01" + "auth=Bearer " + access_token + "\x01\x01";
}

}  // namespace tw
