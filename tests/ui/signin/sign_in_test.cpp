// The sign-in panel end to end: the phone form of the application object presents it, the page
// comes from the emulated provider, the account name is typed and submitted through hit-testing,
// and the navigation into the service page base completes the sign-in through ClientAuth.
#include "tests/support/headless_run.h"
#include "tests/ui/signin/signin_fixture.h"

#include "emulator/ingestion_service.h"
#include "model/keychain_utils.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/property_list.h"

namespace {

using SignIn = hxtest::SignInFixture;

TEST_F(SignIn, TheTypedAccountSignsInThroughClientAuthAndTheSettingsLoad) {
    // The provider shows its new-features page once between the sign-in and the service page.
    service->withAccount([](emulator::Account& a) { return a.consentPending = true; });
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    VC_LoginPanel* p = panel();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->title(), "HX Voice Login");
    EXPECT_FALSE(VC_LoginPanel::reSignInPending());  // no account was current
    // A fresh installation has no account to go back to: no Cancel.
    EXPECT_EQ(p->navigationItem().rightBarButtonItem(), nullptr);
    // The start page names the service and continues to the service page base, form-encoded.
    auto identify = requestsTo("/signin/identify");
    ASSERT_EQ(identify.size(), 1u);
    const std::string base = "http%3A%2F%2F127.0.0.1%3A" + std::to_string(service->port()) + "%2Fvoice%2F";
    EXPECT_EQ(identify[0].target,
              "/signin/identify?service=grandcentral&continue=" + base + "&followup=" + base + "&rip=1&ltmpl=open");
    // The sign-up offers are hidden.
    EXPECT_FALSE(p->webView()->document()->getElementById("link-signup")->isRendered());
    EXPECT_EQ(harness.find("Sign up"), nullptr);
    EXPECT_EQ(harness.find("Create account"), nullptr);
    EXPECT_NE(harness.find("Sign in"), nullptr);

    const size_t before = notificationCount();
    typeAndSubmit("Email", user());
    // One step after the other: each may wait for the loopback service in real time.
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->account()->authV2().has_value(); }, 30)) << trace();
    ASSERT_TRUE(harness.clock().runUntil([&] { return !panel(); }, 10)) << trace();
    ASSERT_TRUE(harness.clock().runUntil([&] { return requestsBelow("/voice/v1/voiceclient/account/get") > 0; }, 30))
        << trace();

    // The form went to the provider; its redirect into the service page base never loaded in the
    // web view: the only fetch of that page is ClientAuth's, with the account jar's cookie.
    auto posts = requestsTo("/signin/challenge");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_NE(posts[0].body.find("Email=" + std::string("user%40example.test")), std::string::npos) << posts[0].body;
    auto pages = requestsTo("/voice/");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].header("Cookie").value_or(""), "SID=" + service->sessionValue());
    // ClientAuth answered the new-features page, whose reply carried the session token.
    EXPECT_EQ(requestsTo("/signin/consent/save").size(), 1u);
    // The new account: its name, a jar made from the web view's cookies, the web view's own
    // cookies gone, the session token from the service page, stored.
    EXPECT_EQ(app->account()->username(), user());
    EXPECT_EQ(*app->account()->authV2(), "AuthV2-" + service->sessionValue());
    ASSERT_EQ(app->cookieJar()->numberOfCookies(), 1u);
    EXPECT_EQ(app->cookieJar()->_cookies()[0].value, service->sessionValue());
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookies().empty());
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->stringForKey("username").value_or(""), user());
    // The token flow ran with the new cookies, and the settings were asked for after it.
    EXPECT_FALSE(requestsTo("/o/oauth2/tokenrpc").empty());
    EXPECT_TRUE(app->account()->oAuthDict());
    // The sign-in began with a logout notice and ended with the settings announced.
    const size_t logout = index("kLogoutNotification", before);
    EXPECT_LT(logout, index("kSettingsUpdateNotification", logout));
    // The panel closed over the settings view, which the overlay covers while they load.
    EXPECT_EQ(app->shell().count("closeLoginPanel"), 1u);
    EXPECT_EQ(app->tabBarController()->selectedIndex(), 4u);
    EXPECT_GE(app->shell().count("showLoadingOverlay Loading settings\u2026"), 1u);
}

// A token request made before the sign-in (for the account shown then, with its cookies) may
// still be on its way when the sign-in completes: the new account's token flow does not wait for
// its answer, which speaks for the old account.
// A second launch with the session a sign-in left: no panel, and the account's data loads.
struct SignedIn : hxtest::SignInFixture {
    SignedIn() { setup.signedIn = true; }
};

TEST_F(SignedIn, ALaunchWithTheStoredSessionSkipsThePanelAndLoadsTheAccount) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(harness.clock().runUntil([&] { return requestsBelow("/voice/v1/voiceclient/account/get") > 0; }, 30))
        << trace();
    EXPECT_EQ(panel(), nullptr);
    EXPECT_TRUE(requestsTo("/signin/identify").empty());
    ASSERT_TRUE(app->account());
    EXPECT_EQ(app->account()->username(), user());
    EXPECT_EQ(*app->account()->authV2(), "AuthV2-" + service->sessionValue());
    for (const auto& r : requestsTo("/voice/v1/voiceclient/account/get"))
        EXPECT_TRUE(r.header("Authorization").value_or("").starts_with("Bearer hxat.")) << r.target;
}

// A launch with a kept session that the service no longer knows (it was restarted, or the session
// ended): the service refuses it, the user is asked to sign in again with the account's name on
// the page, and after that sign-in the lists load from the service.
struct ForgottenSession : SignedIn {
    // tokenKept: a token kept from before, still within its lifetime, which the API refuses;
    // without one the session itself is asked for a token and refused. overlay: the shell call
    // the refusal goes through before the panel, if any.
    void expectSignInAgain(bool tokenKept, const char* overlay) {
        if (tokenKept) {
            const std::string kept = R"({"access_token":"hxat.kept","token_type":"Bearer","expirationDate":)" +
                                     std::to_string(dispatch::wallNow() + 3000) + "}";
            ASSERT_TRUE(HXCKeychainUtils::storeUsername(user(), kept, std::string("HXC_OAuthDict"), true, nullptr));
        }
        const std::string forgotten = service->sessionValue();
        service->forgetSessions();
        ASSERT_TRUE(launch());
        ASSERT_TRUE(waitForPage()) << trace();
        // The refusal leads to the panel, with the kept account's name on its page.
        ASSERT_NE(field("Email"), nullptr);
        EXPECT_EQ(field("Email")->text(), user());
        // (Each refused token request asks again: the overlay may come more than once.)
        if (overlay) {
            EXPECT_GE(app->shell().count(overlay), 1u) << trace();
        }
        // The service was asked with the session it no longer knows.
        bool asked = false;
        for (const auto& r : service->requests())
            asked |= r.header("Cookie").value_or("").find("SID=" + forgotten) != std::string::npos;
        EXPECT_TRUE(asked) << trace();

        ASSERT_TRUE(harness.tap(*harness.find("Next")));
        ASSERT_TRUE(harness.clock().runUntil(
            [&] { return app->account()->authV2() == "AuthV2-" + service->sessionValue() && !panel(); }, 30))
            << trace();
        EXPECT_EQ(app->account()->username(), user());
        // The lists ask the service for their threads with a token of the new session.
        ASSERT_TRUE(harness.clock().runUntil(
            [&] {
                for (const auto& r : requestsTo("/voice/v1/voiceclient/api2thread/list"))
                    if (service->isValidAccessToken(r.header("Authorization").value_or("").substr(7))) return true;
                return false;
            },
            30))
            << trace();
    }
};

// A request sent with the refused token may be answered only after the user has signed in again:
// that late refusal speaks for the old session and does not bring the panel back.
TEST_F(ForgottenSession, ALateRefusalOfTheOldTokenAfterTheNewSignInLeavesThePanelClosed) {
    const std::string kept = R"({"access_token":"hxat.kept","token_type":"Bearer","expirationDate":)" +
                             std::to_string(dispatch::wallNow() + 3000) + "}";
    ASSERT_TRUE(HXCKeychainUtils::storeUsername(user(), kept, std::string("HXC_OAuthDict"), true, nullptr));
    service->forgetSessions();
    // The first list request waits for the test's word before the service answers it.
    service->inject(emulator::Fault::Slow, "/voice/v1/voiceclient/api2thread/list", 1);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage()) << trace();
    // The launch's first loads go out with the kept token while the panel is up; one is held.
    ASSERT_TRUE(harness.clock().runUntil(
        [&] {
            for (const auto& r : service->requests())
                if (r.path == "/voice/v1/voiceclient/api2thread/list") return true;
            return false;
        },
        5))
        << trace();
    ASSERT_TRUE(harness.tap(*harness.find("Next")));
    ASSERT_TRUE(harness.clock().runUntil(
        [&] { return app->account()->authV2() == "AuthV2-" + service->sessionValue() && !panel(); }, 30))
        << trace();
    const size_t shown = app->shell().count("displayLogin");
    const size_t relogins = app->shell().count("showLoadingOverlay Authenticating\u2026");
    service->releaseHeld();
    // The held request is refused and its reply routed; nothing asks for a sign-in again.
    harness.clock().runUntil([&] { return panel() != nullptr; }, 5);
    harness.clock().runUntilIdle();
    EXPECT_EQ(panel(), nullptr) << trace();
    EXPECT_EQ(app->shell().count("displayLogin"), shown) << trace();
    EXPECT_EQ(app->shell().count("showLoadingOverlay Authenticating\u2026"), relogins) << trace();
    EXPECT_EQ(app->account()->authV2(), "AuthV2-" + service->sessionValue());
}

TEST_F(ForgottenSession, WithoutAKeptTokenTheRefusedSessionReauthenticatesThroughThePanel) {
    expectSignInAgain(false, "showLoadingOverlay Authenticating\u2026");
}

TEST_F(ForgottenSession, AKeptTokenTheServiceRefusesBringsThePanel) { expectSignInAgain(true, nullptr); }

TEST_F(SignIn, ATokenRequestLeftFromBeforeTheSignInDoesNotHoldUpTheNewAccount) {
    service->inject(emulator::Fault::Slow, "/o/oauth2/tokenrpc?action=listSessions", 1);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    // The settings view asked for its settings at the launch: a token request without a session.
    ASSERT_TRUE(harness.clock().runUntil([&] { return requestsTo("/o/oauth2/tokenrpc").size() == 1; }, 10));
    typeAndSubmit("Email", user());
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->account()->authV2().has_value() && !panel(); }, 30))
        << trace();
    ASSERT_TRUE(harness.clock().runUntil([&] { return requestsBelow("/voice/v1/voiceclient/account/get") > 0; }, 30))
        << trace();
    auto tokens = requestsTo("/o/oauth2/tokenrpc");
    ASSERT_GE(tokens.size(), 3u) << trace();
    EXPECT_EQ(tokens[0].header("Cookie"), std::nullopt);  // the held one, from before
    EXPECT_EQ(tokens[1].header("Cookie").value_or(""), "SID=" + service->sessionValue());
    service->releaseHeld();
}

// A first sign-in has no Cancel and the panel no back button: each of the provider's footer
// pages has to lead back to the form, which then still signs in into the service page.
TEST_F(SignIn, EveryFooterPageOfTheProviderLeadsBackToAFormThatStillSignsIn) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    ASSERT_EQ(panel()->navigationItem().rightBarButtonItem(), nullptr);
    for (const std::string page : {"Help", "Privacy", "Terms"}) {
        SCOPED_TRACE(page);
        auto* link = harness.find(page);
        ASSERT_NE(link, nullptr) << harness.outline();
        ASSERT_TRUE(harness.tap(*link));
        ASSERT_TRUE(waitForPage("/signin/" + foundation::asciiLowercase(page))) << trace();
        EXPECT_EQ(harness.find("Next"), nullptr);
        auto* back = harness.find("Back to sign in");
        ASSERT_NE(back, nullptr) << harness.outline();
        ASSERT_TRUE(harness.tap(*back));
        ASSERT_TRUE(waitForPage()) << trace();
    }
    // The way back kept the service page to continue to: the sign-in completes there.
    typeAndSubmit("Email", user());
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->account()->authV2().has_value(); }, 30)) << trace();
    EXPECT_EQ(requestsTo("/voice/").size(), 1u);
    EXPECT_EQ(app->account()->username(), user());
}

TEST_F(SignIn, CancelClearsTheWebCookiesAndLeavesTheAccountAlone) {
    ASSERT_TRUE(launch());
    // An account is stored by the time the panel appears: it may be cancelled.
    storeAccount("kept@example.test");
    net::HTTPCookieStorage::sharedHTTPCookieStorage().setCookie(
        net::Cookie{.name = "NID", .value = "1", .domain = "127.0.0.1"});
    ASSERT_TRUE(waitForPage());
    auto account = app->account();
    ASSERT_NE(panel()->navigationItem().rightBarButtonItem(), nullptr);
    // The page was asked for with the cookie the shared store held.
    EXPECT_EQ(requestsTo("/signin/identify").at(0).header("Cookie").value_or(""), "NID=1");
    ASSERT_TRUE(harness.tapBarButton("Cancel"));
    ASSERT_TRUE(harness.clock().runUntil([&] { return !panel(); }, 5));
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookies().empty());
    EXPECT_EQ(app->account(), account);
    EXPECT_TRUE(requestsTo("/voice/").empty());
    EXPECT_EQ(app->shell().count("closeLoginPanel"), 0u);
}

TEST_F(SignIn, AReSignInFillsTheNameAsTextAndSendsTheSharedStoresCookies) {
    // The current account's jar is copied into the shared store, which is the web view's own.
    struct Case {
        std::string name;
    } cases[] = {{"user@example.test"}, {"o'neil\"</script><b>x</b>');document.body.innerHTML='';//@x.test"}};
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    for (const auto& c : cases) {
        app->tabBarController()->dismiss(false);
        harness.settle();
        net::HTTPCookieStorage::sharedHTTPCookieStorage().removeAllCookies();
        service->clearRequests();
        auto account = std::make_shared<HX_Account>();
        account->setUsername(c.name);
        app->setAccount(account);
        app->setCookieJar(std::make_shared<CustomCookieJar>(
            std::vector<net::Cookie>{net::Cookie{.name = "SID", .value = "old", .domain = "127.0.0.1"}}));
        app->displayLogin();
        ASSERT_TRUE(waitForPage()) << c.name;
        EXPECT_EQ(requestsTo("/signin/identify").at(0).header("Cookie").value_or(""), "SID=old") << c.name;
        // Filled once, with the name exactly as it is.
        auto* email = panel()->webView()->document()->getElementById("Email");
        ASSERT_NE(email, nullptr);
        EXPECT_EQ(email->value(), c.name);
        EXPECT_NE(panel()->webView()->document()->body()->children().size(), 0u) << c.name;
        EXPECT_FALSE(VC_LoginPanel::reSignInPending());
        ASSERT_NE(field("Email"), nullptr);
        EXPECT_EQ(field("Email")->text(), c.name);
    }
    // The pre-filled page submits as it stands and completes the sign-in of the first name.
    app->tabBarController()->dismiss(false);
    harness.settle();
    auto account = std::make_shared<HX_Account>();
    account->setUsername(user());
    app->setAccount(account);
    app->displayLogin();
    ASSERT_TRUE(waitForPage());
    ASSERT_TRUE(harness.tap(*harness.find("Next")));
    ASSERT_TRUE(harness.clock().runUntil([&] { return app->account()->authV2() && !panel(); }, 30)) << trace();
    EXPECT_EQ(app->account()->username(), user());
}

TEST_F(SignIn, TheAccountNameComesFromEmailThenIdentifierAndWithoutOneTheServicePageIsOnlyRefused) {
    const std::string w = service->origin() + "/voice/";
    struct Case {
        std::string action;
        std::string form;
        std::string expectUser;  // "" when the sign-in must not complete
    } cases[] = {
        {"/signin/challenge", "<input name='Email' id='f'><input name='identifier' value='second@x.test'>",
         "user@example.test"},
        {"/signin/challenge", "<input name='identifier' id='f'>", "user@example.test"},
        // A form that goes straight to the service page without an account name.
        {w + "b/0", "<input name='other' id='f'>", ""},
    };
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    for (const auto& c : cases) {
        app->tabBarController()->dismiss(false);
        harness.settle();
        app->setAccount(std::make_shared<HX_Account>());
        service->clearRequests();
        service->script("/signin/identify", {.body = "<html><body><form method='post' action='" + c.action + "'>" +
                                                     c.form + "<input type='hidden' name='continue' value='" + w +
                                                     "'><input type='submit' value='Next'></form></body></html>"});
        app->displayLogin();
        ASSERT_TRUE(waitForPage()) << c.form;
        typeAndSubmit("f", user());
        if (c.expectUser.empty()) {
            harness.clock().runUntilIdle();
            EXPECT_FALSE(harness.clock().runUntil([&] { return !requestsTo("/voice/").empty(); }, 0.2));
            // Refused, and nothing else: the panel stays and no ClientAuth goes out.
            EXPECT_NE(panel(), nullptr) << c.form;
            EXPECT_EQ(panel()->_username(), "");
            EXPECT_TRUE(requestsTo("/voice/").empty()) << c.form;
            EXPECT_EQ(app->account()->username(), "");
            continue;
        }
        ASSERT_TRUE(harness.clock().runUntil([&] { return !requestsTo("/voice/").empty(); }, 10)) << c.form;
        EXPECT_EQ(app->account()->username(), c.expectUser) << c.form;
        harness.clock().runUntil([&] { return !panel(); }, 10);
    }
}

}  // namespace

namespace {

TEST(HeadlessRun, SignsInThroughThePanelWithTheDemoAccountBeforeVisitingTheViews) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    emulator::GeneratorOptions seeded;
    emulator::Emulator service(emulator::generateAccount(seeded));
    ASSERT_TRUE(service.start().ok());
    emulator::IngestionService ingestion;
    hxtest::TempDir home, out;
    std::string printed;
    const int rc = hxtest::runHeadless(
        home.path(), "--service " + service.origin() + " --ingestion " + ingestion.baseURL(), out.path(), &printed);
    ASSERT_EQ(rc, 0) << printed;
    // The account name went into the page's form, the service page was fetched by ClientAuth
    // only, and the settings were asked for with a token.
    std::vector<std::string> seen;
    for (const auto& r : service.requests()) {
        if (r.path == "/signin/challenge") {
            EXPECT_NE(r.body.find("Email=user%40example.test"), std::string::npos) << r.body;
            seen.push_back("challenge");
        }
        if (r.path == "/voice/") seen.push_back("page");
        if (r.path == "/voice/v1/voiceclient/account/get") {
            EXPECT_TRUE(r.header("Authorization").value_or("").starts_with("Bearer ")) << r.target;
            seen.push_back("settings");
        }
    }
    // (The settings view asks for them again when it is visited.)
    ASSERT_GE(seen.size(), 3u) << printed;
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 3),
              (std::vector<std::string>{"challenge", "page", "settings"}))
        << printed;
    // The session token was kept for the next launch, and every view was written.
    security::Keychain keychain(home / "Library/Keychains/keychain.json");
    auto query = security::KeychainQuery::item("HXC_AuthV2", "user@example.test");
    query.returnData = true;
    security::KeychainMatch match;
    ASSERT_EQ(keychain.copyMatching(query, &match), 0) << printed;
    ASSERT_TRUE(match.data);
    EXPECT_EQ(std::string(match.data->begin(), match.data->end()), "AuthV2-" + service.sessionValue());
    for (const char* name : {"0-call", "1-sms", "2-voicemail", "3-history", "4-settings"}) {
        EXPECT_TRUE(std::filesystem::exists(out / (std::string(name) + ".png"))) << name;
        EXPECT_TRUE(std::filesystem::exists(out / (std::string(name) + ".txt"))) << name;
    }
}

TEST(HeadlessRun, ASecondRunWithTheSameHomeKeepsTheAccountAndSignsInOnlyWhereTheServiceForgotIt) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    hxtest::TempDir home;
    // The first run signs in; a second against the same service keeps its session and shows no
    // panel; a third against a new service (as the run command starts one each time), which does
    // not know that session, signs in again through the panel and ends as the others do.
    struct Run {
        bool newService;
        size_t challenges;
    } runs[] = {{true, 1}, {false, 0}, {true, 1}};
    std::unique_ptr<emulator::Emulator> service;
    emulator::IngestionService ingestion;
    for (size_t run = 0; run < std::size(runs); ++run) {
        if (runs[run].newService) {
            emulator::GeneratorOptions seeded;
            if (service) service->stop();
            service = std::make_unique<emulator::Emulator>(emulator::generateAccount(seeded));
            ASSERT_TRUE(service->start().ok());
        }
        service->clearRequests();
        hxtest::TempDir out;
        std::string printed;
        const int rc =
            hxtest::runHeadless(home.path(), "--service " + service->origin() + " --ingestion " + ingestion.baseURL(),
                                out.path(), &printed);
        ASSERT_EQ(rc, 0) << "run " << run << ": " << printed;
        size_t challenges = 0, lists = 0;
        for (const auto& r : service->requests()) {
            challenges += r.path == "/signin/challenge";
            lists += r.path == "/voice/v1/voiceclient/api2thread/list" &&
                     service->isValidAccessToken(r.header("Authorization").value_or("").substr(7));
        }
        EXPECT_EQ(challenges, runs[run].challenges) << "run " << run << ": " << printed;
        // Every run's lists came from the service with a token it knows.
        EXPECT_GT(lists, 0u) << "run " << run << ": " << printed;
        EXPECT_TRUE(std::filesystem::exists(out / "4-settings.png")) << "run " << run;
        // The app's preferences (the telemetry SDK keeps a file of its own beside them).
        foundation::Dictionary kept;
        for (const auto& e : std::filesystem::directory_iterator(home / "Library" / "Preferences"))
            if (auto stored = foundation::readPropertyListFile(e.path());
                stored.ok() && stored->isDictionary() && stored->asDictionary().contains("accountInfo"))
                kept = stored->asDictionary();
        EXPECT_EQ(kept.get("username").stringValue(), "user@example.test") << "run " << run;
        EXPECT_TRUE(kept.get("accountInfo").asDictionary().contains("user@example.test")) << "run " << run;
    }
}

// The program's own failures end the run with a status that is not 0 and a message naming what
// failed: an origin given empty, and a kept account whose service never answers (it would otherwise
// show its stored rows and succeed).
TEST(HeadlessRun, AnEmptyOriginOrAServiceThatNeverAnswersEndsTheRunNamingTheStep) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    hxtest::TempDir home;
    auto service = std::make_unique<emulator::Emulator>(emulator::generateAccount({}));
    ASSERT_TRUE(service->start().ok());
    const std::string origin = service->origin();
    struct Run {
        std::string arguments;
        bool serviceUp;
        int status;
        std::string says;
    } runs[] = {
        {"--service ''", true, 2, "hx_connect: --service needs an origin"},
        {"--service " + origin + " --ingestion ''", true, 2, "hx_connect: --ingestion needs an origin"},
        // Signs in and keeps the account in the home.
        {"--service " + origin, true, 0, ""},
        // The same home against the same port with nothing listening there any more.
        {"--service " + origin, false, 1,
         "hx_connect: loading the account's data: the service at " + origin + " never answered"},
    };
    for (const auto& run : runs) {
        if (!run.serviceUp) service.reset();
        hxtest::TempDir out;
        std::string printed;
        const int rc = hxtest::runHeadless(home.path(), run.arguments, out.path(), &printed);
        EXPECT_EQ(rc, run.status) << run.arguments << ": " << printed;
        if (!run.says.empty()) {
            EXPECT_NE(printed.find(run.says), std::string::npos) << run.arguments << ": " << printed;
        }
        EXPECT_EQ(std::filesystem::exists(out / "4-settings.png"), run.status == 0) << run.arguments;
    }
}

// A service started on the state the former one kept in the home (as each `./hx run` starts a new
// one) still knows the session: the second run sends no sign-in and shows no sign-in page.
TEST(HeadlessRun, AServiceRestartedOnItsKeptStateNeedsNoSecondSignIn) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    hxtest::TempDir home;
    const auto state = home / "emulator-state.json";
    for (size_t challengesExpected : {1u, 0u}) {
        emulator::Emulator service(emulator::generateAccount({}));
        ASSERT_TRUE(service.keepStateIn(state).ok());
        ASSERT_TRUE(service.start().ok());
        hxtest::TempDir out;
        std::string printed;
        const int rc = hxtest::runHeadless(home.path(), "--service " + service.origin(), out.path(), &printed);
        ASSERT_EQ(rc, 0) << printed;
        size_t challenges = 0, pages = 0, lists = 0;
        for (const auto& r : service.requests()) {
            challenges += r.path == "/signin/challenge";
            pages += r.path == "/signin/identify" || r.path == "/accounts/AccountLogin" || r.path == "/ServiceLogin";
            lists += r.path == "/voice/v1/voiceclient/api2thread/list" &&
                     service.isValidAccessToken(r.header("Authorization").value_or("").substr(7));
        }
        EXPECT_EQ(challenges, challengesExpected) << printed;
        if (challengesExpected == 0) {
            EXPECT_EQ(pages, 0u) << printed;
        }
        EXPECT_GT(lists, 0u) << printed;
        service.stop();
    }
}

}  // namespace

namespace {

// An entry that cannot be read at all (here a directory) in place of the keychain or of either
// preferences file used to stop every launch with an uncaught exception. It goes aside with a log
// line and the run ends as any other: where the session token went with the keychain, the kept
// account signs in again through the panel with its name filled in and its lists load.
TEST(HeadlessRun, AnUnreadableEntryInPlaceOfTheKeychainOrThePreferencesIsSetAside) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    hxtest::TempDir home;
    emulator::GeneratorOptions seeded;
    emulator::Emulator service(emulator::generateAccount(seeded));
    ASSERT_TRUE(service.start().ok());
    auto run = [&](std::string* printed) {
        hxtest::TempDir out;
        return hxtest::runHeadless(home.path(), "--service " + service.origin(), out.path(), printed);
    };
    std::string printed;
    ASSERT_EQ(run(&printed), 0) << printed;
    const auto preferences = home / "Library" / "Preferences";
    struct Case {
        std::filesystem::path entry;
        size_t signIns;  // through the panel, with the kept name
    } cases[] = {{home / "Library" / "Keychains" / "keychain.json", 1},
                 {preferences / "hx_connect.plist", 1},
                 {preferences / "hx_connect.RurIdurev.plist", 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(std::filesystem::exists(c.entry)) << c.entry;
        std::filesystem::remove(c.entry);
        std::filesystem::create_directories(c.entry / "inside");
        service.clearRequests();
        const int rc = run(&printed);
        EXPECT_EQ(rc, 0) << c.entry << "\n" << printed;
        EXPECT_NE(printed.find("could not be read"), std::string::npos) << printed;
        EXPECT_TRUE(std::filesystem::is_directory(c.entry.string() + ".unreadable/inside")) << c.entry;
        size_t challenges = 0, lists = 0;
        for (const auto& r : service.requests()) {
            if (r.path == "/signin/challenge") {
                ++challenges;
                EXPECT_NE(r.body.find("Email=user%40example.test"), std::string::npos) << r.body;
            }
            lists += r.path == "/voice/v1/voiceclient/api2thread/list" &&
                     service.isValidAccessToken(r.header("Authorization").value_or("").substr(7));
        }
        EXPECT_EQ(challenges, c.signIns) << c.entry << "\n" << printed;
        EXPECT_GT(lists, 0u) << c.entry << "\n" << printed;
        EXPECT_TRUE(std::filesystem::is_regular_file(c.entry)) << c.entry;
    }
}

}  // namespace

namespace {

using ClosePanel = hxtest::SignInFixture;

// Closing the panel takes it down from the tab bar; the overlay then covers the settings view
// while its settings load, and nothing when another view is shown or the app is in the background.
TEST_F(ClosePanel, DismissesThePanelAndCoversOnlyTheSettingsViewInTheForeground) {
    struct Case {
        int view;
        bool background;
        bool overlay;
    } cases[] = {{4, false, true}, {1, false, false}, {4, true, false}, {0, false, false}};
    ASSERT_TRUE(launch());
    ASSERT_TRUE(waitForPage());
    for (const auto& c : cases) {
        if (!panel()) app->displayLogin();
        harness.settle();
        ASSERT_NE(panel(), nullptr) << c.view;
        app->selectViewForIndex(c.view);
        app->setIsInBackground(c.background);
        app->shell().clear();
        app->closeLoginPanel();
        harness.settle();
        EXPECT_EQ(panel(), nullptr) << c.view;
        EXPECT_EQ(app->shell().count("removeLoadingOverlay"), 1u) << c.view;
        EXPECT_EQ(app->shell().count("showLoadingOverlay Loading settings\u2026"), c.overlay ? 1u : 0u)
            << c.view << " " << c.background;
    }
    app->setIsInBackground(false);
}

}  // namespace
