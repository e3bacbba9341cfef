// Access tokens for the service's API (listSessions -> issueToken on the sign-in host, kept in the
// keychain and renewed when they expire, with the work that waited for them replayed once), and
// the ClientAuth step that completes a sign-in by taking the session token out of the service's
// page.
#include <cmath>

#include "model/account.h"
#include "model/keychain_utils.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "service/application_web_client.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

constexpr const char* kOAuthClientID = "418205736914-q7mzk2c0xwv8pd3hn5ty1rb6je9slafg";
constexpr const char* kTokenUserAgent = "Mozilla/5.0 (iPhone; CPU iPhone OS 8_1_3 like Mac OS X) AppleWebKit/600.1.4 "
                                        "(KHTML, like Gecko) Mobile/12B466";
constexpr const char* kScopes[] = {"hxvoice", "notifications", "contacts.readwrite", "sipregistrar"};
// Consent pages answered in one sign-in before it is given up as a loop.
constexpr int kMaxConsentPosts = 3;

// Everything but the unreserved characters escaped (":" and "/" included).
std::string escaped(std::string_view s) {
    static const auto unreserved = [] {
        return foundation::CharacterSet::fromRange('a', 'z')
            .unionWith(foundation::CharacterSet::fromRange('A', 'Z'))
            .unionWith(foundation::CharacterSet::fromRange('0', '9'))
            .unionWith(foundation::CharacterSet::fromCharacters("-._~"));
    }();
    return foundation::percentEncode(s, unreserved);
}

// "expires_in" as the service sends it: a number, or a number in a string.
std::optional<double> secondsValue(const foundation::Value& v) {
    if (v.isNumber()) return v.doubleValue();
    if (const auto* s = v.ifString()) {
        try {
            size_t used = 0;
            double d = std::stod(*s, &used);
            if (used == s->size()) return d;
        } catch (...) {}
    }
    return std::nullopt;
}

}  // namespace

net::URLRequest HXApplicationWebClient::oAuthRequest(const std::string& action,
                                                     const std::optional<std::string>& loginHint) {
    const auto& endpoints = webClient().endpoints;
    const std::string origin = escaped(endpoints.webClient);
    std::string scope;
    for (const char* name : kScopes) {
        if (!scope.empty()) scope += "%20";
        scope += escaped(endpoints.protobufApi) + "%2Fauth%2F" + name;
    }
    std::string url = endpoints.signIn + "/o/oauth2/tokenrpc?action=" + action;
    if (loginHint) url += "&response_type=token&login_hint=" + *loginHint;
    url += "&client_id=" + std::string(kOAuthClientID) + endpoints.clientIdDomain;
    url += "&origin=" + origin + "&scope=" + scope + "&ss_domain=" + origin;
    net::URLRequest request(url);
    request.setHTTPMethod("GET");
    request.setValue(endpoints.signIn + "/o/oauth2/tokenframe", "referer");
    request.setValue(kTokenUserAgent, "User-Agent");
    request.setValue("XmlHttpRequest", "x-requested-with");
    return request;
}

std::optional<std::string> HXApplicationWebClient::authorizationOf(const foundation::Dictionary& oAuthDict) {
    const auto* token = oAuthDict.find("access_token");
    const auto* type = oAuthDict.find("token_type");
    if (!token || !token->isString() || !type || !type->isString()) return std::nullopt;
    return type->asString() + " " + token->asString();
}

std::optional<std::string> HXApplicationWebClient::retrieveOAuth() {
    auto acct = account();
    if (!acct || webClient().heldUntilUnlock) return std::nullopt;
    const auto& dict = acct->oAuthDict();
    if (dict) {
        const auto* expiry = dict->find("expirationDate");
        auto authorization = authorizationOf(*dict);
        if (authorization && expiry && expiry->isDate() && dispatch::wallNow() < expiry->ifDate()->secondsSince1970) {
            replayWorkWaitingForToken(false);
            return authorization;
        }
        if (const auto* hint = dict->find("login_hint"); hint && hint->isString()) {
            if (!requestInFlight("OAuth_issueToken"))
                startAsyncLoadWithRequest(oAuthRequest("issueToken", hint->asString()), "OAuth_issueToken");
            return std::nullopt;
        }
    }
    if (!requestInFlight("OAuth_listSessions"))
        startAsyncLoadWithRequest(oAuthRequest("listSessions", std::nullopt), "OAuth_listSessions");
    return std::nullopt;
}

bool HXApplicationWebClient::listSessionsReply(const HXRoutedReply& reply) {
    auto acct = account();
    if (!acct || acct->username().empty()) return true;  // the account it was for is gone
    auto parsed = foundation::parseJSON(reply.text);
    if (!parsed.ok() || !parsed->isDictionary()) return false;
    // The cookies prove no session any more (it ended, or the service no longer knows it): as
    // when a token is refused for the same reason, the user signs in again.
    if (const auto* error = parsed->asDictionary().find("error");
        error && error->isString() && error->asString() == "USER_LOGGED_OUT") {
        login();
        return true;
    }
    const auto* sessions = parsed->asDictionary().find("sessions");
    if (!sessions || !sessions->isArray() || sessions->asArray().empty()) return false;
    const auto& first = sessions->asArray()[0];
    const auto* hint = first.isDictionary() ? first.asDictionary().find("login_hint") : nullptr;
    if (!hint || !hint->isString() || hint->asString().empty()) return false;
    foundation::Dictionary dict = acct->oAuthDict().value_or(foundation::Dictionary{});
    dict.set("login_hint", *hint);
    acct->setOAuthDict(std::move(dict));
    (void)retrieveOAuth();
    return true;
}

bool HXApplicationWebClient::issueTokenReply(const HXRoutedReply& reply) {
    auto parsed = foundation::parseJSON(reply.text);
    if (!parsed.ok() || !parsed->isDictionary()) return false;
    foundation::Dictionary dict = parsed->asDictionary();
    auto acct = account();
    const auto* error = dict.find("error");
    if (error && error->isString() && error->asString() == "invalid_grant") {
        webClient().requests.erase("OAuth_issueToken");
        if (acct) acct->setOAuthDict(std::nullopt);
        // The session cookies no longer prove a session: a second refusal in a row would only
        // start the same round again, so the user is asked to sign in instead.
        if (++tokenRestarts_ > 1) {
            tokenRestarts_ = 0;
            login();
            return true;
        }
        (void)retrieveOAuth();
        return true;
    }
    if (error && error->isString() && error->asString() == "USER_LOGGED_OUT") {
        login();
        return true;
    }
    // A token is kept only whole: a string token and type and a lifetime ahead.
    const auto* token = dict.find("access_token");
    const auto* type = dict.find("token_type");
    const auto* expiresIn = dict.find("expires_in");
    if (!token || !token->isString() || token->asString().empty() || !type || !type->isString() ||
        type->asString().empty() || !expiresIn)
        return false;
    auto seconds = secondsValue(*expiresIn);
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) return false;
    if (!acct) return true;
    tokenRestarts_ = 0;
    const double expiration = dispatch::wallNow() + *seconds;
    dict.remove("expires_in");
    dict.remove("session_state");
    dict.set("expirationDate", foundation::Value(expiration));
    if (auto text = foundation::toJSON(foundation::Value(dict)); text.ok() && !acct->username().empty())
        (void)HXCKeychainUtils::storeUsername(acct->username(), *text, std::string("HXC_OAuthDict"), true, nullptr);
    dict.set("expirationDate", foundation::Date{expiration});
    acct->setOAuthDict(std::move(dict));
    replayWorkWaitingForToken(true);
    return true;
}

void HXApplicationWebClient::replayWorkWaitingForToken(bool includingSettings) {
    // Each flag is cleared before its work runs: the work may find no token again and set it.
    if (includingSettings && settingsLoadPending_) {
        settingsLoadPending_ = false;
        loadPhoneSettings();
    }
    if (directCallPending_) {
        directCallPending_ = false;
        startDirectCall();
    }
    if (unreadLoadPending_) {
        unreadLoadPending_ = false;
        loadUnreadMessages();
    }
    // Only a token just issued drains the queue: a drain starts its sends through this very
    // check of the token.
    if (includingSettings && webClient().sendQueueAfterToken) {
        webClient().sendQueueAfterToken = false;
        sendQueuedSMS();
    }
}

void HXApplicationWebClient::clientAuthReply(const HXRoutedReply& reply) {
    const std::string& text = reply.text;
    if (text.find("/signin/consent/save") != std::string::npos) {
        auto form = parseFormFromData(text, std::nullopt, foundation::Dictionary{});
        // A page without a form to send back, or one that keeps coming back, cannot complete the
        // sign-in: the panel starts over rather than posting nothing or looping.
        if (!form || ++consentPosts_ > kMaxConsentPosts) {
            consentPosts_ = 0;
            removeLoadingOverlay();
            displayLogin();
            return;
        }
        form->remove(kHXFormSubmissionURLKey);
        startAsyncLoadWithRequest(
            postRequestForURLWithDict(webClient().endpoints.signIn + "/signin/consent/save", *form), "ClientAuth");
        return;
    }
    if (text.find("_hx.pageProto['ClientFlags']") == std::string::npos) return;
    consentPosts_ = 0;
    auto acct = account();
    if (!acct) return;
    auto authV2 = parseAuthV2FromString(text);
    if (!authV2) {
        // A page without a session token is a failed sign-in, not a completed one: the panel
        // is shown again instead of closing on an account that cannot load anything.
        removeLoadingOverlay();
        displayLogin();
        return;
    }
    acct->setAuthV2(authV2);
    post("kSettingsUpdateNotification");
    closeLoginPanel();
    registerForUserNotifications();
    auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    if (!infos || !infos->contains(acct->username())) {
        post("kLogoutNotification");
        post("kAccountSelectedNotification");
    }
    std::optional<foundation::Error> keychainError;
    if (!HXCKeychainUtils::storeUsername(acct->username(), *authV2, std::string("HXC_AuthV2"), true, &keychainError) &&
        keychainError)
        (void)alertIfStorageFull(*keychainError);
    saveAccountEntry();
    rearmInitialData();
    loadInitialData();
}
