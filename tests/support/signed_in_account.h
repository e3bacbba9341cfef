// An account as a sign-in leaves it, for tests that start signed in: the user's name, a session
// and, when one is given, a bearer token.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/account.h"
#include "platform/foundation/value.h"

namespace hxtest {

// A bearer token as the token service's reply is kept: it runs out at expiresAt (wall-clock
// seconds) and names the signed-in session by its login hint when there is one.
inline foundation::Dictionary bearerToken(const std::string& access, double expiresAt,
                                          const std::optional<std::string>& loginHint = std::nullopt) {
    foundation::Dictionary token{{"access_token", foundation::Value(access)},
                                 {"token_type", foundation::Value("Bearer")}};
    if (loginHint) token.set("login_hint", foundation::Value(*loginHint));
    token.set("expirationDate", foundation::Value(foundation::Date{expiresAt}));
    return token;
}

inline std::shared_ptr<HX_Account> signedInAccount(const std::string& user,
                                                   const std::optional<foundation::Dictionary>& token = std::nullopt,
                                                   const std::string& session = "AUTH") {
    auto account = std::make_shared<HX_Account>();
    account->setUsername(user);
    account->setAuthV2(session);
    if (token) account->setOAuthDict(*token);
    return account;
}

}  // namespace hxtest
