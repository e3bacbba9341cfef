// The session operations of the web client slice: selecting an account, reading its tokens,
// asking for a sign-in, logging out and deleting everything kept for an account.
#include <cerrno>
#include <filesystem>

#include "model/account.h"
#include "model/keychain_utils.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/cookie.h"
#include "platform/net/cookie_storage.h"
#include "platform/net/url_request.h"
#include "platform/security/keychain.h"
#include "platform/services/search_index.h"
#include "platform/store/fetched_results_controller.h"
#include "platform/store/store_error.h"
#include "service/application_web_client.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

// User-notification authorisation options: badge, sound and alert.
constexpr int kNotificationOptionsBadgeSoundAlert = 7;
constexpr int64_t kKeychainInteractionNotAllowed = -25308;
// SQLite's primary result code for a full database or disk.
constexpr int64_t kSQLiteFull = 13;

std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

}  // namespace

std::optional<foundation::Error> HXApplicationWebClient::retrieveKeychainItems() {
    auto acct = account();
    if (!acct || acct->username().empty()) return std::nullopt;
    const std::string user = acct->username();
    std::optional<foundation::Error> authError, dictError;
    acct->setAuthV2(HXCKeychainUtils::getPasswordForUsername(user, std::string("HXC_AuthV2"), &authError));
    auto text = HXCKeychainUtils::getPasswordForUsername(user, std::string("HXC_OAuthDict"), &dictError);
    std::optional<foundation::Error> error = dictError ? dictError : authError;
    if (!error && text) {
        auto parsed = foundation::parseJSON(*text);
        if (parsed.ok() && parsed->isDictionary()) {
            foundation::Dictionary dict = parsed->asDictionary();
            if (const auto* expiry = dict.find("expirationDate"); expiry && expiry->isNumber())
                dict.set("expirationDate", foundation::Date{expiry->doubleValue()});
            acct->setOAuthDict(std::move(dict));
        } else {
            acct->setOAuthDict(std::nullopt);
        }
    }
    if (!error) post("kAccountSelectedNotification");
    return error;
}

void HXApplicationWebClient::selectAccountForUserName(const std::string& username) {
    // The last account's counts are not this one's, and its own are on their way.
    webClient().forgetServiceUnread();
    HXAwaitServiceUnreadCounts(*this);
    post("kLogoutNotification");
    auto prefs = defaults();
    (void)prefs->setObject(foundation::Value(username), "username");
    std::shared_ptr<HX_Account> selected;
    if (auto infos = prefs->dictionaryForKey("accountInfo")) {
        if (const auto* archive = infos->find(username); archive && archive->isData()) {
            auto unarchived = HX_Account::unarchived(archive->asData());
            if (unarchived.ok() && unarchived.value()) selected = unarchived.value();
        }
    }
    if (!selected) selected = std::make_shared<HX_Account>();
    setAccount(selected);
    post("kAccountSelectedNotification");

    const std::string& user = selected->username();
    std::optional<double> stored;
    if (auto times = prefs->dictionaryForKey("lastNotification")) {
        if (const auto* t = times->find(user); t && t->isNumber()) stored = static_cast<double>(t->int64Value());
    }
    setLastNotification(stored ? *stored : static_cast<double>(static_cast<int64_t>(dispatch::wallNow())));

    std::shared_ptr<CustomCookieJar> jar;
    if (auto archives = prefs->dictionaryForKey("cookies")) {
        if (const auto* archive = archives->find(user); archive && archive->isData()) {
            auto cookies = CustomCookieJar::cookiesFromArchive(archive->asData());
            if (cookies.ok()) jar = std::make_shared<CustomCookieJar>(cookies.value());
        }
    }
    setCookieJar(jar ? jar : std::make_shared<CustomCookieJar>());

    auto error = retrieveKeychainItems();
    bool loadStarted = false;
    if (!error || error->code != kKeychainInteractionNotAllowed) {
        const bool named = !selected->username().empty();
        if (named) registerForUserNotifications();
        if (named && selected->authV2()) {
            (void)retrieveOAuth();
            rearmInitialData();
            loadInitialData();
            loadStarted = true;
        } else {
            // No account, or one whose session token is gone (a keychain set aside as unreadable,
            // or an item deleted): nothing can load for it, and a token of its own would only
            // leave it half signed in. The sign-in panel asks again, with the kept name filled in
            // as after a refused session. Behind the launch's passcode lock the panel (whose page
            // comes from the service) waits for the unlock.
            std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
            dispatch::Queue::main()->after(0, [weakSelf] {
                auto self = weakSelf.lock();
                if (self && !self->webClient().heldUntilUnlock) self->displayLogin();
            });
        }
        if (named) requestNotificationAuthorization(kNotificationOptionsBadgeSoundAlert);
    }
    (void)HXCKeychainUtils::deleteItemForUsername(username, std::string("HXC_ClientAuth"), nullptr);
    // The next reachable report loads the account's data. A switch made after that report, over
    // the connection it reported, has started the load itself: the app goes on as after a report
    // (it opens URLs at once, knows when it is offline, counts as settled once the replies are
    // in) instead of waiting for one, which the platform gives only with a change of network.
    auto& web = webClient();
    web.firstReachabilityHandled = web.firstReachabilityHandled && loadStarted && connectionAvailable();
}

void HXApplicationWebClient::login() {
    bool signedIn;
    {
        std::lock_guard lock(monitor());
        auto acct = account();
        signedIn = acct && acct->authV2() && !acct->authV2()->empty();
        if (signedIn) showSignInOverlay(foundation::localizedString("Authenticating\u2026"));
    }
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    auto later = [weakSelf] {
        dispatch::Queue::main()->async([weakSelf] {
            if (auto self = weakSelf.lock()) self->displayLogin();
        });
    };
    if (signedIn) {
        later();
        return;
    }
    if (retrieveKeychainItems()) later();
}

bool HXApplicationWebClient::refusalOfCurrentSession(const AsyncURLConnection& connection) {
    if (connection.statusCode() != 401 || !connection.connection()) return false;
    const auto sent = connection.connection()->originalRequest().valueForHTTPHeaderField("Authorization");
    if (!sent || sent->empty()) return true;  // not a token's refusal: the session's own
    auto acct = account();
    const std::optional<foundation::Dictionary> dict = acct ? acct->oAuthDict() : std::nullopt;
    return dict && authorizationOf(*dict) == *sent;
}

void HXApplicationWebClient::displayLogin() {
    auto acct = account();
    auto jar = cookieJar();
    if (!acct || acct->username().empty() || !jar) return;
    auto& storage = net::HTTPCookieStorage::sharedHTTPCookieStorage();
    for (const auto& cookie : jar->_cookies()) storage.setCookie(cookie);
}

void HXApplicationWebClient::logout() {
    webClient().forgetServiceUnread();
    stopMonitoringRegions();
    updateAccountPrefs();
    setMocAccessCount(0);
    if (auto main = managedObjectContext()) saveMOC2Parent(main);
    dispatch::RunLoop::main().cancelPerform(this, "loadPhoneSettings", foundation::Value());
    cancelRequests([](const std::string&) { return true; });
    if (auto jar = cookieJar()) jar->empty();
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
    setAccount(std::make_shared<HX_Account>());
    post("kLogoutNotification");
    setBackgroundFetchIntervalNever();
    rearmInitialData();
}

void HXApplicationWebClient::completeWebSignIn(const std::string& username, std::vector<net::Cookie> cookies,
                                               const std::string& url) {
    post("kLogoutNotification");
    auto signedIn = std::make_shared<HX_Account>();
    signedIn->setUsername(username);
    setAccount(signedIn);
    setCookieJar(std::make_shared<CustomCookieJar>(std::move(cookies)));
    (void)defaults()->setObject(foundation::Value(username), "username");
    // The access token kept for an earlier session of the name belongs to that session (the
    // service may have refused it already): read back now, it would stand in for the token this
    // session is about to get.
    (void)HXCKeychainUtils::deleteItemForUsername(username, std::string("HXC_OAuthDict"), nullptr);
    // Token requests still in flight were sent with the previous account's cookies, and their
    // answers speak for that account. While one is in flight the new account's own would not be
    // sent (one of each kind at a time), and its answer ("signed out", or the old account's
    // session) would leave the new account without a token and its first data waiting for ever.
    cancelRequests(std::vector<std::string>{"OAuth_listSessions", "OAuth_issueToken"});
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    dispatch::Queue::main()->async([weakSelf, url] {
        auto self = weakSelf.lock();
        if (!self) return;
        (void)self->retrieveOAuth();
        self->startAsyncLoadWithRequest(net::URLRequest(url), "ClientAuth");
        self->showLoadingOverlay(foundation::localizedString("Loading settings\u2026"));
    });
}

void HXApplicationWebClient::saveAccountEntry() {
    updateAccountPrefs();
    auto prefs = defaults();
    // A failed write matters to the user only when the account's entry was not on disk yet: one
    // saved before and unchanged is kept, whatever else (a launch count) could not be written.
    if (auto written = prefs->synchronize();
        !written.ok() && (!prefs->isSaved("accountInfo") || !prefs->isSaved("cookies")))
        (void)alertIfStorageFull(written.error());
}

void HXApplicationWebClient::messageStoreCannotOpen(const foundation::Error& error) {
    // Asked for from any queue: the alert is the main thread's.
    std::weak_ptr<HXApplicationWebClient> weakSelf = weakWebClient();
    dispatch::Queue::main()->async([weakSelf, error] {
        if (auto self = weakSelf.lock()) (void)self->alertIfStorageFull(error, StorageLoss::Messages);
    });
}

bool HXApplicationWebClient::alertIfStorageFull(const foundation::Error& error, StorageLoss loss) {
    auto noRoom = [](int64_t code) { return code == ENOSPC || code == EDQUOT || code == EFBIG; };
    const foundation::Value& cause = error.userInfo.get(foundation::kUnderlyingErrorKey);
    const bool full =
        (error.domain == foundation::kPOSIXErrorDomain && noRoom(error.code)) ||
        (error.domain == foundation::kCocoaErrorDomain && error.code == foundation::kFileWriteOutOfSpaceError) ||
        // The keychain's store answers any failed write as an I/O error (and logs why).
        (error.domain == kHXCKeychainUtilsErrorDomain && error.code == security::errSecIO) ||
        // The message store: SQLite's own "full", or a write the system refused for want of room.
        (error.userInfo.get(store::kSQLiteErrorCodeKey).int64Value() & 0xff) == kSQLiteFull ||
        (cause.isDictionary() && cause["domain"].stringValue() == foundation::kPOSIXErrorDomain &&
         noRoom(cause["code"].int64Value()));
    bool& alerted = loss == StorageLoss::Messages ? messagesFullAlerted_ : storageFullAlerted_;
    if (!full || alerted) return full;
    alerted = true;
    // The account itself is safe when only its messages cannot be kept (they are the service's
    // and come back with the next load once there is room), unless its own save failed too.
    const std::string message =
        loss == StorageLoss::Messages
            ? (storageFullAlerted_
                   ? foundation::localizedString("HX Connect cannot save your messages because the device's storage "
                                                 "is full. Free some space and the messages are loaded again.")
                   : foundation::localizedString("HX Connect cannot save your messages because the device's storage "
                                                 "is full. Your account is saved; free some space and the messages "
                                                 "are loaded again."))
            : foundation::localizedString("HX Connect cannot save your account because the device's storage is full. "
                                          "Free some space, or it has to be signed in again.");
    presentAlert(HXAlert{"Storage Full", message, {{"OK", HXAlertAction::Style::Default, {}}}});
    return true;
}

std::string HXApplicationWebClient::cachesFolderForUser(const std::string& username) {
    auto& web = webClient();
    const std::string root = web.cachesDirectory ? *web.cachesDirectory : applicationCachesDirectory();
    return (std::filesystem::path(root) / HX_Account::pathComponentForUsername(username)).string();
}

void HXApplicationWebClient::deleteAccountForUsername(const std::string& username) {
    for (const char* service : {"HXC_Password", "HXC_authToken", "HXC_OAuthDict", "HXC_AuthV2"})
        (void)HXCKeychainUtils::deleteItemForUsername(username, std::string(service), nullptr);
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
    forgetStoreOfUser(username);
    dispatch::RunLoop::main().cancelPerform(this, "loadUnreadMessages", foundation::Value());
    auto prefs = defaults();
    for (const char* key : {"favorites", "accountInfo", "cookies", "lastNotification", "smsQueue"}) {
        auto value = prefs->objectForKey(key);
        if (const auto* dict = value.ifDictionary()) {
            foundation::Dictionary copy = *dict;
            copy.remove(username);
            if (copy.empty())
                prefs->removeObjectForKey(key);
            else
                (void)prefs->setObject(foundation::Value(std::move(copy)), key);
        } else {
            prefs->removeObjectForKey(key);
        }
    }
    // Without a name there is no store file or folder of this account; a path made from an empty
    // name must never reach the shared folders.
    if (!username.empty()) {
        (void)foundation::files::remove(storePathForAccount(username));
        for (const char* companion : {"-wal", "-shm", "-journal"})
            (void)foundation::files::remove(storePathForAccount(username) + companion);
        std::error_code ignored;
        std::filesystem::remove_all(cachesFolderForUser(username), ignored);
    }
    HXDeleteSearchItemsOfUser(username);
}

void HXDeleteSearchItemsOfUser(const std::string& username) {
    services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(
        {HXMessageStore::searchDomainOfUser(username)});
}
