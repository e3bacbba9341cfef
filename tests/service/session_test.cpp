// The session operations against the emulated service over loopback: selecting, logging out and
// deleting accounts, the token flow, the completion of a sign-in, and the account settings.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "model/keychain_utils.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/property_list.h"
#include "platform/net/cookie_storage.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "tests/service/web_client_fixture.h"
#include "tests/support/full_disk.h"
#include "tests/support/log_capture.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/small_disk.h"
#include "tests/support/voice_paths.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

using hxtest::kApi;

std::optional<std::string> keychainItem(const std::string& user, const std::string& service) {
    return HXCKeychainUtils::getPasswordForUsername(user, service, nullptr);
}

void storeKeychainItem(const std::string& user, const std::string& service, const std::string& value) {
    ASSERT_TRUE(HXCKeychainUtils::storeUsername(user, value, service, true, nullptr));
}

// The messages of the "Storage Full" alerts.
const std::string kAccountNotSaved =
    "HX Connect cannot save your account because the device's storage is full. Free some space, or it has to be "
    "signed in again.";
const std::string kMessagesNotSaved =
    "HX Connect cannot save your messages because the device's storage is full. Free some space and the messages "
    "are loaded again.";
const std::string kMessagesNotSavedAccountSaved =
    "HX Connect cannot save your messages because the device's storage is full. Your account is saved; free some "
    "space and the messages are loaded again.";

struct SessionTest : WebClientFixture {
    std::vector<std::string> posted;

    void SetUp() override {
        WebClientFixture::SetUp();
        foundation::NotificationCenter::defaultCenter().addObserver(this, "",
                                                                    [this](const foundation::Notification& n) {
                                                                        if (n.name.rfind("k", 0) == 0)
                                                                            posted.push_back(n.name);
                                                                    });
    }
    // Signs in; the settings arrive and change the account, which is saved again (on a full disk,
    // failing again).
    ::testing::AssertionResult signInAndSaveTheAccount() {
        app->completeWebSignIn("full@example.test",
                               {net::Cookie{.name = "SID", .value = service.sessionValue(), .domain = "127.0.0.1"}},
                               page() + "b/0");
        if (!runUntil([&] { return app->account() && app->account()->authV2(); }))
            return ::testing::AssertionFailure() << "no account signed in";
        if (!runUntil([&] { return inFlight() == 0; })) return ::testing::AssertionFailure() << "requests still out";
        app->saveAccountEntry();
        return ::testing::AssertionSuccess();
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        app->logout();
        WebClientFixture::TearDown();
    }
    size_t timesPosted(const std::string& name) { return std::count(posted.begin(), posted.end(), name); }
    // The messages of the alerts the shell has shown under "Storage Full", in order.
    std::vector<std::string> storageFullAlerts() {
        std::vector<std::string> messages;
        for (const auto& alert : app->shell().alerts())
            if (alert.title == "Storage Full") messages.push_back(alert.message);
        return messages;
    }
    std::vector<emulator::RecordedRequest> requestsTo(const std::string& prefix) {
        std::vector<emulator::RecordedRequest> out;
        for (auto& r : service.requests())
            if (r.target.rfind(prefix, 0) == 0) out.push_back(r);
        return out;
    }
    // A signed-in account whose token is valid for an hour.
    void signIn(const std::string& user = "alice@example.test") {
        app->setAccount(hxtest::signedInAccount(user, hxtest::bearerToken("TOK", clock->wallNow() + 3600, "hint")));
    }
    // Stores what the app keeps for user: archived account, cookies, preferences, tokens.
    void storeAccount(const std::string& user, bool withToken = true) {
        HX_Account account;
        account.setUsername(user);
        account.setHXnumber(std::string("+1555" + std::to_string(user.size())));
        auto archive = account.archived();
        ASSERT_TRUE(archive.ok());
        auto add = [&](const char* key, Value value) {
            Dictionary d = prefs()->dictionaryForKey(key).value_or(Dictionary{});
            d.set(user, std::move(value));
            ASSERT_TRUE(prefs()->setObject(Value(std::move(d)), key).ok());
        };
        add("accountInfo", Value(archive.value()));
        CustomCookieJar jar({net::Cookie{.name = "SID", .value = "v-" + user, .domain = "127.0.0.1"}});
        add("cookies", Value(jar.archivedCookies().value()));
        add("lastNotification", Value(1234.75));
        add("favorites", Value(Dictionary{{"x", 1}}));
        add("smsQueue", Value(Dictionary{{"k", 1}}));
        if (withToken) {
            storeKeychainItem(user, "HXC_AuthV2", "AUTH-" + user);
            storeKeychainItem(user, "HXC_OAuthDict",
                              "{\"access_token\":\"TOK\",\"token_type\":\"Bearer\",\"expirationDate\":" +
                                  std::to_string(static_cast<int64_t>(clock->wallNow()) + 3600) + "}");
        }
        for (const char* item : {"HXC_ClientAuth", "HXC_Password", "HXC_authToken"}) storeKeychainItem(user, item, "x");
    }
};

// ---- selecting, signing in, logging out

TEST_F(SessionTest, SelectingAStoredAccountRestoresItAndLoadsItsDataOnce) {
    storeAccount("alice@example.test");
    app->selectAccountForUserName("alice@example.test");
    auto account = app->account();
    ASSERT_TRUE(account);
    EXPECT_EQ(account->username(), "alice@example.test");
    EXPECT_EQ(account->HXnumber().value_or(""), "+155518");
    EXPECT_EQ(account->authV2().value_or(""), "AUTH-alice@example.test");
    ASSERT_TRUE(account->oAuthDict());
    EXPECT_TRUE(account->oAuthDict()->get("expirationDate").isDate());
    EXPECT_EQ(app->lastNotification(), 1234.0);  // whole seconds
    EXPECT_EQ(app->cookieJar()->numberOfCookies(), 1u);
    EXPECT_EQ(prefs()->stringForKey("username").value_or(""), "alice@example.test");
    // Logout first, then the new account, then its keychain items read without error.
    ASSERT_GE(posted.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(posted.begin(), posted.begin() + 3),
              (std::vector<std::string>{"kLogoutNotification", "kAccountSelectedNotification",
                                        "kAccountSelectedNotification"}));
    EXPECT_FALSE(keychainItem("alice@example.test", "HXC_ClientAuth"));
    EXPECT_TRUE(keychainItem("alice@example.test", "HXC_Password"));
    EXPECT_EQ(asked("registerForUserNotifications"), 1u);
    // Badge, sound and alert were asked for (and granted by the stand-in's user).
    EXPECT_EQ(services::NotificationSettings::shared().grantedOptions(), 7);

    // The initial data: settings now, then the unread list with its counts, spam and archive,
    // then the queued messages; each once, with its body and the account's token.
    ASSERT_TRUE(runUntil([&] { return asked("sendQueuedSMS") == 1 && inFlight() == 0; }));
    std::map<std::string, std::vector<std::string>> bodies;
    for (const auto& r : requestsTo(kApi)) {
        bodies[r.target.substr(kApi.size())].push_back(r.body);
        EXPECT_EQ(r.header("Authorization").value_or(""), "Bearer TOK") << r.target;
    }
    // Parallel connections reach the server in any order.
    for (auto& [target, list] : bodies) std::sort(list.begin(), list.end());
    EXPECT_EQ(bodies, (std::map<std::string, std::vector<std::string>>{
                          {"account/get?alt=json", {"[null,1]"}},
                          {"api2thread/list?alt=json",
                           {"[1,20,15,null,null,[null,true,true]]", "[5,20,15,null,null,[null,true,true]]",
                            "[6,20,15,null,null,[null,true,true]]"}},
                          {"threadinginfo/get?alt=json", {"[]"}}}));
    EXPECT_EQ(timesPosted("kLoginNotification"), 1u);
    EXPECT_TRUE(requestsTo("/o/oauth2/").empty());  // the stored token was valid
    const size_t sent = service.requestCount();
    app->loadInitialData();  // not re-armed: only re-indexes
    clock->advance(5);
    EXPECT_EQ(service.requestCount(), sent);
}

TEST_F(SessionTest, AnUnknownUserGetsAnEmptyAccountAndTheSignInPanel) {
    app->selectAccountForUserName("nobody@example.test");
    EXPECT_EQ(app->account()->username(), "");
    EXPECT_EQ(asked("displayLogin"), 0u);  // scheduled, not yet shown
    clock->runUntilIdle();
    EXPECT_EQ(asked("displayLogin"), 1u);
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(app->cookieJar()->numberOfCookies(), 0u);
}

// An account kept without its session token (the keychain was unreadable and set aside, or the
// item is gone) is not signed in: it goes to the sign-in panel, named, and asks the service for
// nothing, where it used to ask for tokens and settings and never for a list.
TEST_F(SessionTest, AnAccountWithoutItsSessionTokenGoesToTheSignInPanel) {
    storeAccount("alice@example.test", false);
    app->setConnectionAvailable(true);
    app->selectAccountForUserName("alice@example.test");
    EXPECT_EQ(app->account()->username(), "alice@example.test");  // the name the panel fills in
    EXPECT_FALSE(app->account()->authV2());
    EXPECT_EQ(asked("displayLogin"), 0u);  // scheduled, not yet shown
    clock->advance(5);
    EXPECT_EQ(asked("displayLogin"), 1u);
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(timesPosted("kLoginNotification"), 0u);
}

TEST_F(SessionTest, ALockedKeychainLoadsNothingAndShowsNoPanel) {
    storeAccount("alice@example.test");
    security::Keychain::defaultKeychain()->setInteractionNotAllowed(true);
    app->selectAccountForUserName("alice@example.test");
    security::Keychain::defaultKeychain()->setInteractionNotAllowed(false);
    EXPECT_EQ(app->account()->username(), "alice@example.test");  // the account is in place
    EXPECT_FALSE(app->account()->authV2());
    clock->advance(5);
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(asked("displayLogin"), 0u);
    EXPECT_EQ(timesPosted("kAccountSelectedNotification"), 1u);  // not the second, keychain one
}

TEST_F(SessionTest, LoginShowsTheOverlayAndThePanelOnlyWhenTheSessionCannotBeRenewedQuietly) {
    signIn();
    app->login();
    EXPECT_EQ(asked("showLoadingOverlay Authenticating\u2026"), 1u);
    EXPECT_EQ(asked("displayLogin"), 0u);  // later, on the main queue
    clock->runUntilIdle();
    EXPECT_EQ(asked("displayLogin"), 1u);
    // No session token: the keychain is read again; nothing there is no error, so no panel.
    app->shell().clear();
    app->account()->setAuthV2(std::nullopt);
    app->login();
    clock->runUntilIdle();
    EXPECT_EQ(asked("displayLogin"), 0u);
    // A keychain failure does show it.
    security::Keychain::defaultKeychain()->setInteractionNotAllowed(true);
    app->login();
    security::Keychain::defaultKeychain()->setInteractionNotAllowed(false);
    clock->runUntilIdle();
    EXPECT_EQ(asked("displayLogin"), 1u);
    EXPECT_EQ(asked("showLoadingOverlay"), 0u);
}

TEST_F(SessionTest, DisplayLoginCopiesTheJarIntoTheSharedCookieStorage) {
    auto& shared = net::HTTPCookieStorage::sharedHTTPCookieStorage();
    shared.removeAllCookies();
    shared.setCookie(net::Cookie{.name = "SID", .value = "old", .domain = "127.0.0.1"});
    app->setCookieJar(std::make_shared<CustomCookieJar>(
        std::vector<net::Cookie>{net::Cookie{.name = "SID", .value = "new", .domain = "127.0.0.1"},
                                 net::Cookie{.name = "HSID", .value = "h", .domain = ".example.test", .path = "/a"}}));
    app->displayLogin();  // no user name: nothing copied
    EXPECT_EQ(shared.cookies().size(), 1u);
    signIn();
    app->displayLogin();
    auto cookies = shared.cookies();
    ASSERT_EQ(cookies.size(), 2u);  // the namesake was replaced, not doubled
    EXPECT_EQ(cookies[0].value, "new");
    EXPECT_EQ(cookies[1].path, "/a");
    EXPECT_EQ(asked("displayLogin"), 2u);  // the shell's panel both times
    shared.removeAllCookies();
}

TEST_F(SessionTest, LogoutCancelsRequestsKeepsStoredDataAndCanBeRepeated) {
    storeAccount("alice@example.test");
    app->selectAccountForUserName("alice@example.test");
    ASSERT_TRUE(runUntil([&] { return asked("sendQueuedSMS") == 1 && inFlight() == 0; }));
    service.script("/voice/inbox/", {.hold = true});
    const std::string list = HXWebClientOf(*app).endpoints.servicePageBase() + "inbox/recent/sms/";
    app->startAsyncLoadWithRequest(net::URLRequest(list), list);
    ASSERT_EQ(inFlight(), 1u);
    posted.clear();
    app->shell().clear();
    EXPECT_FALSE(app->initialDataArmed());
    app->logout();
    EXPECT_EQ(inFlight(), 0u);
    EXPECT_EQ(app->account()->username(), "");
    EXPECT_EQ(app->cookieJar()->numberOfCookies(), 0u);
    EXPECT_TRUE(app->initialDataArmed());
    EXPECT_EQ(app->shell().calls(),
              (std::vector<std::string>{"updateAccountPrefs", "setBackgroundFetchIntervalNever"}));
    EXPECT_EQ(timesPosted("kLogoutNotification"), 1u);
    // Nothing persistent goes.
    EXPECT_TRUE(keychainItem("alice@example.test", "HXC_AuthV2"));
    EXPECT_TRUE(prefs()->dictionaryForKey("accountInfo")->contains("alice@example.test"));
    service.releaseHeld();
    clock->advance(2);
    EXPECT_EQ(timesPosted("kSMSNotification"), 0u);  // the cancelled list is never routed
    app->logout();
    EXPECT_EQ(timesPosted("kLogoutNotification"), 2u);
}

TEST_F(SessionTest, DeletingAnAccountRemovesExactlyItsOwnData) {
    const std::string alice = "alice@example.test", bob = "bob@example.test";
    storeAccount(alice);
    storeAccount(bob);
    Dictionary otherWarnings{{"MissingForwardingPhone", true}};
    ASSERT_TRUE(prefs()->setObject(Value(otherWarnings), "displayedWarnings").ok());
    auto index = services::SearchableIndex::defaultSearchableIndex();
    index->deleteAllSearchableItems();
    auto item = [](const std::string& id, const std::string& domain) {
        services::SearchableItem i;
        i.uniqueIdentifier = id;
        i.domainIdentifier = domain;
        return i;
    };
    index->indexSearchableItems({item("a1", "aliceexampletest"), item("b1", "bobexampletest")});
    for (const auto& user : {alice, bob}) {
        std::filesystem::create_directories(app->cachesFolderForUser(user));
        std::ofstream(app->cachesFolderForUser(user) + "/m.mp3") << "audio";
        std::filesystem::create_directories(std::filesystem::path(app->storePathForAccount(user)).parent_path());
        std::ofstream(app->storePathForAccount(user)) << "db";
        std::ofstream(app->storePathForAccount(user) + "-wal") << "wal";
    }
    app->deleteAccountForUsername(alice);
    for (const char* service : {"HXC_Password", "HXC_authToken", "HXC_OAuthDict", "HXC_AuthV2"}) {
        EXPECT_FALSE(keychainItem(alice, service)) << service;
        EXPECT_TRUE(keychainItem(bob, service)) << service;
    }
    for (const char* key : {"favorites", "accountInfo", "cookies", "lastNotification", "smsQueue"}) {
        auto d = prefs()->dictionaryForKey(key);
        ASSERT_TRUE(d) << key;
        EXPECT_FALSE(d->contains(alice)) << key;
        EXPECT_TRUE(d->contains(bob)) << key;
    }
    EXPECT_FALSE(std::filesystem::exists(app->storePathForAccount(alice)));
    EXPECT_FALSE(std::filesystem::exists(app->storePathForAccount(alice) + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(app->cachesFolderForUser(alice)));
    EXPECT_TRUE(std::filesystem::exists(app->storePathForAccount(bob)));
    EXPECT_TRUE(std::filesystem::exists(app->cachesFolderForUser(bob) + "/m.mp3"));
    ASSERT_EQ(index->items().size(), 1u);
    EXPECT_EQ(index->items()[0].uniqueIdentifier, "b1");
    // The last account: the five keys go altogether, other preferences stay.
    app->deleteAccountForUsername(bob);
    for (const char* key : {"favorites", "accountInfo", "cookies", "lastNotification", "smsQueue"})
        EXPECT_TRUE(prefs()->objectForKey(key).isNull()) << key;
    EXPECT_EQ(prefs()->dictionaryForKey("displayedWarnings").value_or(Dictionary{}), otherWarnings);
    EXPECT_TRUE(std::filesystem::exists(home / "Caches"));
}

TEST_F(SessionTest, UserNamesThatAreNoPathComponentNeverReachAPathOutsideTheirFolder) {
    const auto root = home / "Caches";
    std::filesystem::create_directories(root / "keep");
    std::ofstream(home / "outside.txt") << "x";
    for (const std::string& name : {std::string(""), std::string(".."), std::string("../.."), std::string("a/../../b"),
                                    std::string("."), std::string(400, 'n')}) {
        const std::filesystem::path folder = app->cachesFolderForUser(name);
        EXPECT_EQ(folder.parent_path(), root) << name;
        EXPECT_LE(folder.filename().string().size(), 255u) << name;
        const std::filesystem::path store = app->storePathForAccount(name);
        EXPECT_EQ(store.parent_path(), std::filesystem::path(app->applicationDocumentsDirectory())) << name;
        // With the journal beside it, the store's name still fits the file-name limit.
        EXPECT_LE(store.filename().string().size() + std::string("-journal").size(), 255u) << name;
        app->deleteAccountForUsername(name);
        EXPECT_TRUE(std::filesystem::exists(root / "keep")) << name;
        EXPECT_TRUE(std::filesystem::exists(home / "outside.txt")) << name;
    }
}

// ---- tokens

TEST_F(SessionTest, TokensComeFromListSessionsThenIssueTokenAndAreRenewedWhenTheyExpire) {
    auto account = std::make_shared<HX_Account>();
    account->setUsername("user@example.test");
    app->setAccount(account);
    // The session cookie that the emulator's sign-in sets.
    app->setCookieJar(std::make_shared<CustomCookieJar>(
        std::vector<net::Cookie>{net::Cookie{.name = "SID", .value = service.sessionValue(), .domain = "127.0.0.1"}}));
    EXPECT_FALSE(app->retrieveOAuth());
    EXPECT_FALSE(app->retrieveOAuth());  // one request in flight is enough
    ASSERT_TRUE(runUntil([&] { return app->retrieveOAuth().has_value(); }));
    auto tokenRequests = requestsTo("/o/oauth2/tokenrpc");
    ASSERT_EQ(tokenRequests.size(), 2u);
    const std::string origin = "http%3A%2F%2F127.0.0.1%3A" + std::to_string(service.port());
    const std::string suffix = "&client_id=418205736914-q7mzk2c0xwv8pd3hn5ty1rb6je9slafg.apps.hxusercontent.example"
                               "&origin=" +
                               origin + "&scope=" + origin + "%2Fauth%2Fhxvoice%20" + origin +
                               "%2Fauth%2Fnotifications%20" + origin + "%2Fauth%2Fcontacts.readwrite%20" + origin +
                               "%2Fauth%2Fsipregistrar&ss_domain=" + origin;
    EXPECT_EQ(tokenRequests[0].target, "/o/oauth2/tokenrpc?action=listSessions" + suffix);
    EXPECT_EQ(tokenRequests[1].target,
              "/o/oauth2/tokenrpc?action=issueToken&response_type=token&login_hint=hint-user@example.test" + suffix);
    EXPECT_EQ(tokenRequests[0].header("referer").value_or(""), service.origin() + "/o/oauth2/tokenframe");
    EXPECT_EQ(tokenRequests[0].header("x-requested-with").value_or(""), "XmlHttpRequest");
    EXPECT_NE(tokenRequests[0].header("User-Agent").value_or("").find("iPhone OS 8_1_3"), std::string::npos);
    const std::string authorization = *app->retrieveOAuth();
    ASSERT_EQ(authorization.rfind("Bearer ", 0), 0u);
    EXPECT_TRUE(service.isValidAccessToken(authorization.substr(7)));
    // The keychain copy: the reply without "expires_in", the expiry as seconds since 1970.
    auto stored = foundation::parseJSON(keychainItem("user@example.test", "HXC_OAuthDict").value_or(""));
    ASSERT_TRUE(stored.ok());
    const auto& dict = stored->asDictionary();
    EXPECT_FALSE(dict.contains("expires_in"));
    EXPECT_TRUE(dict.contains("scope"));  // other keys of the reply stay
    const double expiry = dict.get("expirationDate").doubleValue();
    EXPECT_NEAR(expiry, clock->wallNow() + 3599, 5);
    // Exactly at the expiry the token is no longer used. The token reply replaced the dictionary
    // that held the hint, so the round starts with listSessions again.
    clock->advance(expiry - clock->wallNow());
    EXPECT_FALSE(app->retrieveOAuth());
    ASSERT_TRUE(runUntil([&] { return app->retrieveOAuth().has_value(); }));
    tokenRequests = requestsTo("/o/oauth2/tokenrpc");
    ASSERT_EQ(tokenRequests.size(), 4u);
    EXPECT_EQ(tokenRequests[2].target, tokenRequests[0].target);
    EXPECT_EQ(tokenRequests[3].target, tokenRequests[1].target);
    EXPECT_NE(*app->retrieveOAuth(), authorization);
}

TEST_F(SessionTest, WorkThatWaitedForATokenIsReplayedOnceInOrder) {
    signIn();
    app->account()->setOAuthDict(Dictionary{{"login_hint", "hint"}});  // hint known, no token
    app->setSettingsLoadPending(true);
    app->setDirectCallPending(true);
    app->setUnreadLoadPending(true);
    app->setConnectionAvailable(true);
    service.script("/o/oauth2/tokenrpc",
                   {.body = R"({"access_token":"A1","token_type":"Bearer","expires_in":600,"session_state":"s"})"});
    EXPECT_FALSE(app->retrieveOAuth());
    ASSERT_TRUE(runUntil([&] { return requestsTo(kApi).size() == 3; }));
    EXPECT_FALSE(app->settingsLoadPending() || app->directCallPending() || app->unreadLoadPending());
    EXPECT_EQ(asked("startDirectCall"), 1u);
    std::vector<std::string> targets;
    for (const auto& r : requestsTo(kApi)) targets.push_back(r.target.substr(kApi.size()));
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, (std::vector<std::string>{"account/get?alt=json", "api2thread/list?alt=json",
                                                 "threadinginfo/get?alt=json"}));
    EXPECT_EQ(requestsTo(kApi)[0].header("Authorization").value_or(""), "Bearer A1");
    EXPECT_FALSE(app->account()->oAuthDict()->contains("session_state"));
    // A second token replays nothing.
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    app->account()->setOAuthDict(Dictionary{{"login_hint", "hint"}});
    service.script("/o/oauth2/tokenrpc", {.body = R"({"access_token":"A2","token_type":"Bearer","expires_in":"600"})"});
    EXPECT_FALSE(app->retrieveOAuth());
    ASSERT_TRUE(runUntil([&] { return app->retrieveOAuth() == std::optional<std::string>("Bearer A2"); }));
    clock->runUntilIdle();
    EXPECT_EQ(requestsTo(kApi).size(), 3u);
    EXPECT_EQ(asked("startDirectCall"), 1u);
}

TEST_F(SessionTest, TokenRepliesThatAreErrorsRestartOnceAskForASignInOrChangeNothing) {
    signIn();
    struct Case {
        const char* reply;
        bool dictionaryKept;
        size_t signIns;
    };
    // (reply, dictionary kept, sign-ins asked for)
    const Case cases[] = {
        {R"({"error":"something_else"})", true, 0},
        {R"({"access_token":"X","token_type":"Bearer"})", true, 0},  // no "expires_in"
        {"not json", true, 0},
        {R"({"error":"USER_LOGGED_OUT"})", true, 1},
    };
    for (const auto& c : cases) {
        app->shell().clear();
        app->account()->setOAuthDict(Dictionary{{"login_hint", "hint"}});
        service.script("/o/oauth2/tokenrpc", {.body = c.reply});
        EXPECT_FALSE(app->retrieveOAuth());
        ASSERT_TRUE(runUntil([&] { return inFlight() == 0; })) << c.reply;
        EXPECT_EQ(app->account()->oAuthDict() == std::optional<Dictionary>(Dictionary{{"login_hint", "hint"}}),
                  c.dictionaryKept)
            << c.reply;
        EXPECT_EQ(asked("showLoadingOverlay"), c.signIns) << c.reply;
    }
    // "invalid_grant" drops the dictionary and starts over with listSessions, once; a second
    // refusal in a row asks the user to sign in instead of going round again.
    app->shell().clear();
    service.clearRequests();
    app->account()->setOAuthDict(Dictionary{{"login_hint", "hint"}});
    service.script("/o/oauth2/tokenrpc?action=issueToken", {.body = R"({"error":"invalid_grant"})"}, 2);
    service.script("/o/oauth2/tokenrpc?action=listSessions", {.body = R"({"sessions":[{"login_hint":"h2"}]})"});
    EXPECT_FALSE(app->retrieveOAuth());
    ASSERT_TRUE(runUntil([&] { return asked("showLoadingOverlay") == 1 && inFlight() == 0; }));
    std::vector<std::string> actions;
    for (const auto& r : requestsTo("/o/oauth2/tokenrpc")) {
        const size_t at = r.target.find("action=") + 7;
        actions.push_back(r.target.substr(at, r.target.find('&', at) - at));
    }
    EXPECT_EQ(actions, (std::vector<std::string>{"issueToken", "listSessions", "issueToken"}));
    EXPECT_FALSE(app->account()->oAuthDict());
}

TEST_F(SessionTest, UnreadableTokenRepliesAreFailedRequests) {
    signIn();
    app->setConnectionAvailable(true);
    struct Case {
        const char* action;
        std::string reply;
    };
    const Case cases[] = {
        {"issueToken", "not json"},
        {"issueToken", R"({"access_token":"A1","token_type":"Bearer","expires_in":60)"},  // truncated
        {"issueToken", R"({"access_token":7,"token_type":"Bearer","expires_in":60})"},
        {"issueToken", R"({"access_token":"A1","token_type":["Bearer"],"expires_in":60})"},
        {"issueToken", R"({"access_token":"A1","token_type":"Bearer","expires_in":true})"},
        {"issueToken", R"({"access_token":"A1","token_type":"Bearer","expires_in":"soon"})"},
        {"issueToken", R"({"access_token":"A1","token_type":"Bearer","expires_in":-5})"},
        {"issueToken", R"({"access_token":"A1","token_type":"Bearer"})"},
        {"issueToken", R"({"access_token":"","token_type":"Bearer","expires_in":60})"},
        {"issueToken", R"({"error":"something_else"})"},
        {"issueToken", R"(["access_token","A1"])"},
        {"issueToken", std::string(40u << 20, ' ') + "{}"},  // past the limit of an API reply
        {"listSessions", R"({"sessions":)"},
        {"listSessions", R"({"sessions":{"login_hint":"h"}})"},
        {"listSessions", R"({"sessions":[{"login_hint":5}]})"},
        {"listSessions", R"({"sessions":["h"]})"},
        {"listSessions", R"({"sessions":[]})"},
        {"listSessions", "[]"},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.action) + " " + c.reply.substr(0, 60);
        const bool issue = std::string(c.action) == "issueToken";
        const std::optional<Dictionary> before =
            issue ? std::optional<Dictionary>(Dictionary{{"login_hint", "hint"}}) : std::nullopt;
        app->account()->setOAuthDict(before);
        int completions = 0;
        // A completion that waits for this token request.
        app->setCompletionHandler([&] { ++completions; }, issue ? "OAuth_issueToken" : "OAuth_listSessions");
        service.clearRequests();
        service.script("/o/oauth2/tokenrpc", {.body = c.reply});
        EXPECT_FALSE(app->retrieveOAuth());
        ASSERT_TRUE(runUntil([&] { return inFlight() == 0; })) << what;
        clock->runUntilIdle();
        // Failed like any request: whoever waited for the reply hears of it once, and nothing
        // was taken from it.
        EXPECT_EQ(completions, 1) << what;
        EXPECT_EQ(app->account()->oAuthDict(), before) << what;
        EXPECT_EQ(requestsTo("/o/oauth2/tokenrpc").size(), 1u) << what;
        EXPECT_EQ(asked("showLoadingOverlay"), 0u) << what;
    }
}

TEST_F(SessionTest, TheConsentPageIsAnsweredAndTheClientFlagsPageCompletesTheSignIn) {
    auto account = std::make_shared<HX_Account>();
    account->setUsername("new@example.test");
    app->setAccount(account);
    const std::string consent =
        "<html><form id=\"challenge\" action=\"/signin/consent/save\" method=\"post\">"
        "<input type=\"hidden\" name=\"state\" value=\" s&amp;1 \"/><input name=\"empty\" value=\"\"/>"
        "<input type=\"submit\" name=\"allow\" value=\"Allow\"/></form>"
        "<script>_hx.pageProto['ClientFlags'] = [\"client_flags-response\",\"https://x\",\"NOPE\"]</script></html>";
    const std::string flags = "<script>_hx.pageProto['ClientFlags'] = [ [1],\n\"client_flags.response\", "
                              "[\"https://h.example/a\",\"TOKEN-1\",\"x\"]]</script>";
    // The initial data was loaded once already (its once-only mark is down): the completed
    // sign-in loads it again for the account it signed in.
    app->loadInitialData();
    ASSERT_FALSE(app->initialDataArmed());
    const size_t loadsBefore = timesPosted("kLoginNotification");
    service.script("/voice/b/0", {.body = consent});
    service.script("/signin/consent/save", {.body = flags});
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/0"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return asked("closeLoginPanel") == 1; }));
    EXPECT_EQ(timesPosted("kLoginNotification"), loadsBefore + 1);
    auto posts = requestsTo("/signin/consent/save");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].method, "POST");
    // The form's fields, form-encoded, without the empty one or the action.
    EXPECT_EQ(posts[0].body, "state=s%261&allow=Allow");
    EXPECT_EQ(app->account()->authV2().value_or(""), "TOKEN-1");
    EXPECT_EQ(keychainItem("new@example.test", "HXC_AuthV2").value_or(""), "TOKEN-1");
    EXPECT_EQ(asked("updateAccountPrefs"), 1u);
    EXPECT_EQ(asked("registerForUserNotifications"), 1u);
    // A new account (none archived yet) is announced as newly selected.
    EXPECT_GE(timesPosted("kAccountSelectedNotification"), 1u);
    EXPECT_GE(timesPosted("kLoginNotification"), 1u);  // the initial data started
    EXPECT_EQ(timesPosted("kSettingsUpdateNotification"), 1u);
}

TEST_F(SessionTest, AClientFlagsPageWithoutATokenShowsThePanelAgainInsteadOfClosingIt) {
    auto account = std::make_shared<HX_Account>();
    account->setUsername("new@example.test");
    app->setAccount(account);
    service.script("/voice/b/0", {.body = "<script>_hx.pageProto['ClientFlags'] = []</script>"});
    app->showLoadingOverlay("Signing in\u2026");
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/0"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return asked("displayLogin") == 1; }));
    EXPECT_EQ(asked("closeLoginPanel"), 0u);
    EXPECT_EQ(asked("removeLoadingOverlay"), 1u);
    EXPECT_FALSE(app->account()->authV2());
    EXPECT_EQ(timesPosted("kLoginNotification"), 0u);
    // A consent page that keeps coming back is answered a few times, then the panel starts over.
    app->shell().clear();
    const std::string consent =
        "<form id=\"challenge\" action=\"/signin/consent/save\"><input name=\"a\" value=\"1\"></form>";
    service.script("/voice/b/1", {.body = consent});
    service.script("/signin/consent/save", {.body = consent}, -1);
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/1"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return asked("displayLogin") == 1 && inFlight() == 0; }));
    EXPECT_EQ(requestsTo("/signin/consent/save").size(), 3u);
    // A page the sign-in redirects back to the sign-in page takes the overlay down too.
    app->shell().clear();
    service.clearScripts();
    app->showLoadingOverlay("Signing in\u2026");
    service.script("/voice/b/2", {.redirectTo = service.origin() + "/accounts/AccountLogin"});
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/2"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return asked("displayLogin") == 1 && inFlight() == 0; }));
    EXPECT_EQ(asked("removeLoadingOverlay"), 1u);
}

TEST_F(SessionTest, SignInWithoutThePanelFromTheCookiesTheServiceSetThroughTheFirstSettings) {
    auto account = std::make_shared<HX_Account>();
    account->setUsername("user@example.test");
    app->setAccount(account);
    // Without the session cookie the page sends us to sign in: the panel, no session token.
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/0"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return asked("displayLogin") == 1 && inFlight() == 0; }));
    EXPECT_FALSE(app->account()->authV2());
    // With it: the page's session token, then tokens, then the account's settings.
    app->setCookieJar(std::make_shared<CustomCookieJar>(
        std::vector<net::Cookie>{net::Cookie{.name = "SID", .value = service.sessionValue(), .domain = "127.0.0.1"}}));
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/voice/b/0"), "ClientAuth");
    ASSERT_TRUE(runUntil([&] { return timesPosted("kSettingsUpdateNotification") == 2 && inFlight() == 0; }));
    const std::string expected = "AuthV2-" + service.sessionValue();
    EXPECT_EQ(app->account()->authV2().value_or(""), expected);
    EXPECT_EQ(keychainItem("user@example.test", "HXC_AuthV2").value_or(""), expected);
    EXPECT_TRUE(keychainItem("user@example.test", "HXC_OAuthDict"));
    EXPECT_EQ(app->account()->HXnumber().value_or(""), "+15550100");  // the emulator's account
    EXPECT_FALSE(app->settingsLoading());
    // The settings request waited for the token and went out once, with it.
    auto settings = requestsTo(kApi + "account/get");
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_TRUE(service.isValidAccessToken(settings[0].header("Authorization").value_or("").substr(7)));
}

}  // namespace

TEST_F(SessionTest, ASignInTheDiskHasNoRoomForKeepsItsBehaviourLogsAndAlertsOnce) {
    hxtest::LogCapture log;
    {
        hxtest::FullDisk full;
        ASSERT_TRUE(signInAndSaveTheAccount());
        clock->runUntilIdle();
    }
    // Signed in as before, for this run.
    EXPECT_EQ(app->account()->username(), "full@example.test");
    EXPECT_EQ(storageFullAlerts(), std::vector<std::string>{kAccountNotSaved});
    // One line for the keychain and one for the preferences, however often each failed.
    size_t keychainLines = 0, preferenceLines = 0;
    for (const auto& line : log.lines()) {
        keychainLines += line.find("keychain") != std::string::npos;
        preferenceLines += line.find("preferences") != std::string::npos;
    }
    EXPECT_EQ(keychainLines, 1u);
    EXPECT_EQ(preferenceLines, 1u);
    // With room again, the next save keeps the account.
    app->saveAccountEntry();
    auto stored = foundation::readPropertyListFile(prefs()->path());
    ASSERT_TRUE(stored.ok());
    EXPECT_TRUE(stored->asDictionary().get("accountInfo").asDictionary().contains("full@example.test"));
}

// A launch on a full disk: what the launch itself changes (its count) cannot be written, but the
// account's entry, saved at the last launch and unchanged by the settings that arrive, is safe on
// disk. No alert says otherwise.
TEST_F(SessionTest, AFullDiskAtLaunchAlertsNothingForAnAccountSavedBefore) {
    storeAccount("alice@example.test");
    // A session and a token the service knows, so that the settings arrive.
    storeKeychainItem("alice@example.test", "HXC_OAuthDict",
                      "{\"access_token\":\"" + service.issueAccessToken() +
                          "\",\"token_type\":\"Bearer\",\"expirationDate\":" +
                          std::to_string(static_cast<int64_t>(clock->wallNow()) + 3600) + "}");
    CustomCookieJar jar({net::Cookie{.name = "SID", .value = service.sessionValue(), .domain = "127.0.0.1"}});
    ASSERT_TRUE(
        prefs()->setObject(Dictionary{{"alice@example.test", Value(jar.archivedCookies().value())}}, "cookies").ok());
    app->selectAccountForUserName("alice@example.test");
    ASSERT_TRUE(runUntil([&] { return asked("sendQueuedSMS") == 1 && inFlight() == 0; }));
    ASSERT_EQ(asked("updateAccountPrefs"), 1u);
    ASSERT_TRUE(prefs()->isSaved("accountInfo"));
    app->logout();  // the run ends; the next launch selects the account again
    ASSERT_TRUE(prefs()->synchronize().ok());
    app->shell().clear();
    hxtest::LogCapture log;
    {
        hxtest::FullDisk full;
        prefs()->setInteger(prefs()->integerForKey("launchCount") + 1, "launchCount");
        app->selectAccountForUserName("alice@example.test");
        ASSERT_TRUE(runUntil([&] { return asked("sendQueuedSMS") == 1 && inFlight() == 0; }));
        clock->runUntilIdle();
    }
    EXPECT_EQ(asked("updateAccountPrefs"), 1u);  // the settings came and the entry was saved again
    EXPECT_FALSE(prefs()->isSaved("launchCount"));
    for (const auto& alert : app->shell().alerts()) EXPECT_NE(alert.title, "Storage Full") << alert.message;
}

// When the account's own save failed on the full disk and was alerted, the message store's alert
// does not say that the account is saved (it used to).
TEST_F(SessionTest, StorageFullSaysTheAccountIsSavedOnlyWhenItsSaveWasNotAlertedAsFailed) {
    {
        hxtest::FullDisk full;
        ASSERT_TRUE(signInAndSaveTheAccount());
        EXPECT_FALSE(app->managedObjectContext());
        clock->runUntilIdle();
    }
    EXPECT_EQ(storageFullAlerts(), (std::vector<std::string>{kAccountNotSaved, kMessagesNotSaved}));
}

// A message store that cannot be made on a full disk loses the account's messages, not the account
// (saved before): the alert says so, once however often the store is asked for.
TEST_F(SessionTest, AMessageStoreOnAFullDiskSaysTheMessagesAreLostNotTheAccount) {
    signIn("full@example.test");
    app->shell().clear();
    {
        hxtest::FullDisk full;
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(app->managedObjectContext()) << i;
        clock->runUntilIdle();
    }
    EXPECT_EQ(storageFullAlerts(), std::vector<std::string>{kMessagesNotSavedAccountSaved});
    EXPECT_TRUE(app->managedObjectContext()) << "with room again the store opens";
}

// A disk with a few dozen kilobytes free: the store's file can be made, but not its tables. The
// account then keeps no messages for the run; that is said once in the log and once to the user,
// however often the store is asked for, and a later open with room makes the store whole.
TEST_F(SessionTest, AMessageStoreTheDiskHasNoRoomForLogsAndAlertsOnce) {
    signIn("full@example.test");
    const auto documents = foundation::documentsDirectory();
    hxtest::SmallDisk disk(documents, 32 * 1024);
    if (!disk.available()) GTEST_SKIP() << disk.why();
    // What the disk has left when the store is made: 16 KB.
    ASSERT_TRUE(foundation::files::writeAtomically(documents / "filler", std::string(16 * 1024, 'x')).ok());
    hxtest::LogCapture log;
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(app->managedObjectContext()) << i;
    clock->runUntilIdle();
    EXPECT_EQ(storageFullAlerts().size(), 1u);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find(app->storePathForAccount("full@example.test")), std::string::npos) << log.lines()[0];

    disk.unmount();
    auto context = app->managedObjectContext();
    ASSERT_TRUE(context);
    // An independent reader finds the tables.
    std::string tables;
    ASSERT_EQ(hxtest::runCommand("sqlite3 '" + app->storePathForAccount("full@example.test") +
                                     "' \"SELECT count(*) FROM sqlite_master WHERE type = 'table'\"",
                                 &tables),
              0);
    EXPECT_GT(std::stoi(tables), 1) << tables;
}

// ---- a kill soon after signing in

// The child of SignInUnderKill: signs in at its own emulator in the home it is given, says so,
// lets a few seconds of an ordinary run pass (nothing goes to the background, nothing exits)
// and waits to be killed.
TEST_F(SessionTest, ChildSignsInAndWaitsToBeKilled) {
    const char* childHome = std::getenv("HX_SIGNIN_CHILD_HOME");
    if (!childHome) GTEST_SKIP() << "the child of SignInUnderKill.TheAccountOutlivesAKillSecondsAfterTheSignIn";
    foundation::setHomeDirectory(childHome);
    security::Keychain::setDefaultPath(std::filesystem::path(childHome) / "keychain.json");
    foundation::UserDefaults::resetStandardUserDefaults();
    app->completeWebSignIn("kept@example.test",
                           {net::Cookie{.name = "SID", .value = service.sessionValue(), .domain = "127.0.0.1"}},
                           page() + "b/0");
    ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2(); }));
    hxtest::tellParent("signed in");
    clock->advance(5);
    hxtest::tellParent("waiting");
    ::pause();
}

TEST(SignInUnderKill, TheAccountOutlivesAKillSecondsAfterTheSignIn) {
    hxtest::TempDir home;
    int fd = -1;
    const pid_t child =
        hxtest::spawnSelf("SessionTest.ChildSignsInAndWaitsToBeKilled",
                          {"HX_SIGNIN_CHILD_HOME=" + home.path().string()}, &fd, (home / "child.log").string());
    ASSERT_GT(child, 0);
    std::string said;
    char buffer[256];
    for (int waited = 0; said.find("waiting\n") == std::string::npos && waited < 120; ++waited) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) continue;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        said.append(buffer, static_cast<size_t>(n));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fd);
    std::string log;
    hxtest::runCommand("cat " + (home / "child.log").string(), &log);
    ASSERT_NE(said.find("waiting\n"), std::string::npos) << said << log;

    // What the next launch finds: the account's entries and its session, written while it ran.
    foundation::Dictionary prefs;
    for (const auto& e : std::filesystem::directory_iterator(home / "Library" / "Preferences"))
        if (auto stored = foundation::readPropertyListFile(e.path());
            stored.ok() && stored->isDictionary() && stored->asDictionary().contains("username"))
            prefs = stored->asDictionary();
    EXPECT_EQ(prefs.get("username").stringValue(), "kept@example.test");
    for (const char* key : {"accountInfo", "cookies"}) {
        const auto* entries = prefs.find(key);
        ASSERT_TRUE(entries && entries->isDictionary()) << key;
        EXPECT_TRUE(entries->asDictionary().contains("kept@example.test")) << key;
    }
    security::Keychain keychain(home / "keychain.json");
    EXPECT_EQ(keychain.copyMatching(security::KeychainQuery::item("HXC_AuthV2", "kept@example.test"), nullptr),
              security::errSecSuccess);
}
