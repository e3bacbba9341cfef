// The passcode lock in the running app, against the loopback service: nothing is asked of the
// service before the PIN, the initial load once after it; the background blurs; a resignation
// locks after 30 s but never for the dialer; a URL opened while locked runs 0.85 s after the
// unlock; each answer of the biometric prompt; and the "Passcode Lock" screen turning the passcode
// on and off through the settings view's pads.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_keychain.h"
#include "app/hxc_passcode_lock.h"
#include "model/keychain_utils.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/local_authentication.h"
#include "platform/services/search_index.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/passcode/hxc_pad_lock_screen_setup_view_controller.h"
#include "ui/passcode/hxc_pad_lock_screen_view_controller.h"
#include "ui/passcode/hxc_passcode_settings_view_controller.h"
#include "ui/shell/ui_screens.h"

namespace {

using Answer = services::Biometrics::Answer;

struct Lock : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
    explicit Lock(bool emulator = false)
        : ScreenFixture(
              {.screens = std::make_shared<HXUIScreens>(), .emulator = emulator, .signedIn = true, .fonts = true}) {}
    HXCPasscodeLock& lock = HXCPasscodeLock::sharedLock();
    std::vector<std::string> posted;

    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        ScreenFixture::TearDown();
    }
    void listen(const std::string& name) {
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, name, [this, name](const foundation::Notification&) { posted.push_back(name); });
    }
    // The launch as the platform runs it: with a passcode the host's reachability is not watched
    // until the unlock.
    void launchWithPasscode(const std::string& pin = "1234") {
        // The lists were shown last.
        foundation::UserDefaults::standardUserDefaults()->setInteger(1, "tabBarIndex");
        lock.setPasscodeRequired(true);
        lock.setPasscode(pin);
        ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
        harness.settle();
    }
    toolkit::ViewController& root() { return *harness.window().rootViewController(); }
    HXCPadLockScreenAbstractViewController* pad() {
        return dynamic_cast<HXCPadLockScreenAbstractViewController*>(root().presentedViewController());
    }
    void typePin(const std::string& pin) {
        ASSERT_TRUE(pad());
        auto view = pad()->lockScreenView();
        for (char c : pin) ASSERT_TRUE(harness.tap(*view->buttonArray()[c - '0'])) << c;
        harness.settle();
    }
    // New-message screens presented so far.
    size_t newMessages() {
        auto* top = harness.topPresented();
        while (top && top->presentedViewController()) top = top->presentedViewController();
        if (auto* nav = dynamic_cast<toolkit::NavigationController*>(top); nav && !nav->viewControllers().empty())
            return nav->viewControllers().front()->className() == "VC_NewMessage" ? 1 : 0;
        return top && top->className() == "VC_NewMessage" ? 1 : 0;
    }
    bool blurred() { return root().view()->viewWithTag(997) != nullptr; }
    void resign() {
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Inactive);
        foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationWillResignActiveNotification);
    }
    void enterBackground() {
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
        app->applicationDidEnterBackground();
        harness.settle();
    }
    void becomeActive() {
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationDidBecomeActiveNotification);
        harness.settle();
    }
};

struct LockWithService : Lock {
    LockWithService() : Lock(true) {}
    size_t listRequests(const std::string& bodyPrefix) {
        const auto all = service->requests();
        return std::count_if(all.begin(), all.end(), [&](const emulator::RecordedRequest& r) {
            return r.path.ends_with("api2thread/list") && r.body.starts_with(bodyPrefix);
        });
    }
    bool initialLoadArrived() {
        const auto all = service->requests();
        const bool settings = std::any_of(
            all.begin(), all.end(), [](const emulator::RecordedRequest& r) { return r.path.ends_with("account/get"); });
        return settings && listRequests("[1,") > 0 && listRequests("[5,") > 0 && listRequests("[6,") > 0;
    }
};

}  // namespace

TEST_F(LockWithService, NothingReachesTheServiceBeforeThePinThenTheInitialLoadOnce) {
    launchWithPasscode();
    ASSERT_TRUE(pad());
    EXPECT_TRUE(blurred());
    // The network comes and goes while the pad is up: the app does not hear of it, and nothing
    // of the account goes out, not even the renewal of its token.
    reachability->setFlags(0);
    reachability->setFlags(net::kReachabilityReachable);
    harness.advance(5);
    typePin("9999");
    harness.advance(5);
    for (const auto& r : service->requests()) ADD_FAILURE() << "before the PIN: " << r.target;

    typePin("1234");
    EXPECT_FALSE(pad());
    EXPECT_FALSE(app->lockShown);
    // The three lists go on connections of their own, so they reach the service in any order:
    // wait for each before counting.
    ASSERT_TRUE(harness.clock().runUntil([&] { return initialLoadArrived(); }, 10));
    harness.advance(5);
    // The token is asked for once, first.
    const auto all = service->requests();
    ASSERT_FALSE(all.empty());
    EXPECT_TRUE(all.front().path.starts_with("/o/oauth2/")) << all.front().target;
    EXPECT_EQ(std::count_if(
                  all.begin(), all.end(),
                  [](const emulator::RecordedRequest& r) { return r.target.find("issueToken") != std::string::npos; }),
              1);
    // The initial load's lists went once each: unread, spam and archive.
    EXPECT_EQ(listRequests("[1,"), 1u);
    EXPECT_EQ(listRequests("[5,"), 1u);
    EXPECT_EQ(listRequests("[6,"), 1u);
    // And the account's settings once.
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const emulator::RecordedRequest& r) { return r.path.ends_with("account/get"); }),
              1);
}

// With a token still valid nothing waits for one: the account's settings and lists would go out
// at once. Behind the lock none of it does, however long the pad stays up; after the PIN the
// initial load runs once, with the kept token.
TEST_F(LockWithService, AValidTokenSendsNothingBeforeThePinEither) {
    const std::string user = serviceUser();
    const std::string token = service->issueAccessToken();
    const auto expiry = static_cast<int64_t>(dispatch::wallNow()) + 3600;
    ASSERT_TRUE(HXCKeychainUtils::storeUsername(
        user,
        "{\"access_token\":\"" + token + "\",\"token_type\":\"Bearer\",\"expirationDate\":" + std::to_string(expiry) +
            "}",
        std::string("HXC_OAuthDict"), true, nullptr));
    launchWithPasscode();
    ASSERT_TRUE(pad());
    harness.advance(5);
    reachability->setFlags(0);
    reachability->setFlags(net::kReachabilityReachable);
    harness.advance(65);
    for (const auto& r : service->requests()) ADD_FAILURE() << "before the PIN: " << r.target;

    typePin("1234");
    ASSERT_TRUE(harness.clock().runUntil([&] { return initialLoadArrived(); }, 10));
    harness.advance(5);
    const auto all = service->requests();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const emulator::RecordedRequest& r) { return r.path.starts_with("/o/oauth2/"); }),
              0);
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const emulator::RecordedRequest& r) { return r.path.ends_with("account/get"); }),
              1);
    for (const auto& r : all) {
        if (r.path.starts_with("/voice/v1/")) {
            EXPECT_EQ(r.header("Authorization"), "Bearer " + token) << r.target;
        }
    }
}

// Back from the background with the pad up (the account's keychain items read again), the list
// on screen waits for the PIN: its reload goes once the pad is dismissed, not while it is up.
TEST_F(LockWithService, BackFromTheBackgroundTheShownListReloadsOnlyAfterThePin) {
    launchWithPasscode();
    typePin("1234");
    ASSERT_TRUE(harness.clock().runUntil([&] { return listRequests("[2,") > 0; }, 10));
    harness.advance(10);
    const size_t loaded = listRequests("[2,");

    enterBackground();
    app->applicationWillEnterForeground();
    becomeActive();
    ASSERT_TRUE(pad());
    harness.advance(10);
    EXPECT_EQ(listRequests("[2,"), loaded) << "nothing while the pad is up";

    typePin("1234");
    EXPECT_TRUE(harness.clock().runUntil([&] { return listRequests("[2,") > loaded; }, 10)) << "the reload";
    // Whatever wakes the list on the way back (the pad's dismissal, the account read again, the
    // screen showing again, the unread items), it asks for its first page once.
    harness.advance(10);
    EXPECT_EQ(listRequests("[2,"), loaded + 1) << "one reload";
}

TEST_F(Lock, TheBackgroundBlursAndThePadComesBackWithTheApp) {
    launchWithPasscode();
    typePin("1234");
    ASSERT_FALSE(app->lockShown);
    enterBackground();
    EXPECT_TRUE(app->lockShown);
    EXPECT_TRUE(blurred());
    EXPECT_FALSE(pad()) << "only the blur while in the background";
    app->applicationWillEnterForeground();
    becomeActive();
    ASSERT_TRUE(pad());
    EXPECT_FALSE(root().presentedViewController()->presentedViewController()) << "one pad";
    becomeActive();
    EXPECT_FALSE(root().presentedViewController()->presentedViewController()) << "still one pad";
    typePin("1234");
    EXPECT_FALSE(blurred());
}

// What the system's app switcher keeps of the app in the background is a picture of its screen:
// the cover over the message list hides every row, in light and dark, where a clear cover
// showed the whole list.
TEST_F(Lock, InTheBackgroundAPictureOfTheScreenShowsNothingOfTheMessages) {
    launchWithPasscode();
    typePin("1234");
    ASSERT_FALSE(app->lockShown);
    enterBackground();
    ASSERT_TRUE(blurred());
    for (auto style : {toolkit::InterfaceStyle::light, toolkit::InterfaceStyle::dark}) {
        harness.setInterfaceStyle(style);
        harness.settle();
        auto picture = toolkit::snapshot(*root().view());
        ASSERT_TRUE(picture);
        // One colour, opaque, from corner to corner: nothing of the list shows through.
        const uint32_t first = picture->row(0)[0];
        size_t other = 0;
        for (int y = 0; y < picture->height(); ++y)
            for (int x = 0; x < picture->width(); ++x) other += picture->row(y)[x] != first;
        EXPECT_EQ(other, 0u) << static_cast<int>(style);
        EXPECT_EQ(picture->rgbaAt(0, 0)[3], 255) << static_cast<int>(style);
    }
    harness.setInterfaceStyle(toolkit::InterfaceStyle::light);
    app->applicationWillEnterForeground();
    becomeActive();
    typePin("1234");
    EXPECT_FALSE(blurred());
}

TEST_F(Lock, ResigningLocksAfterThirtySecondsButNeverForTheDialer) {
    launchWithPasscode();
    typePin("1234");
    listen("kClearDialpadNumberNotification");
    resign();
    harness.advance(29);
    becomeActive();
    harness.advance(5);
    EXPECT_FALSE(app->lockShown) << "back within 30 s";
    resign();
    harness.advance(31);
    EXPECT_TRUE(app->lockShown);
    becomeActive();
    ASSERT_TRUE(pad());
    typePin("1234");
    // A call handed to the dialer: the dial pad is cleared and no lock follows.
    app->setCallHandOver(true);
    resign();
    harness.advance(60);
    EXPECT_FALSE(app->lockShown);
    EXPECT_EQ(posted, std::vector<std::string>{"kClearDialpadNumberNotification"});
    EXPECT_FALSE(app->callHandOver());
    becomeActive();
}

TEST_F(Lock, AURLOpenedWhileLockedRunsJustAfterTheUnlock) {
    launchWithPasscode();
    ASSERT_TRUE(app->lockShown);
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://sms?number=5550100&message=hi"));
    EXPECT_TRUE(app->pendingURL());
    harness.advance(5);
    EXPECT_EQ(newMessages(), 0u) << "held while locked";
    std::optional<double> unlockedAt;
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kPasscodeLockDismissedNotification,
        [&unlockedAt](const foundation::Notification&) { unlockedAt = dispatch::wallNow(); });
    typePin("1234");
    ASSERT_TRUE(unlockedAt);
    ASSERT_TRUE(harness.clock().runUntil([&] { return newMessages() > 0; }, 5));
    EXPECT_NEAR(dispatch::wallNow() - *unlockedAt, 0.85, 1e-6);
    EXPECT_FALSE(app->pendingURL());
    harness.advance(5);
    EXPECT_EQ(newMessages(), 1u) << "replayed once";
}

// Each answer of the prompt the lock puts up instead of the pad when biometric unlock is on.
TEST_F(Lock, EachBiometricAnswerActsAsItShould) {
    auto& device = services::Biometrics::shared();
    device.setCanEvaluate({1, 4});
    device.setBiometryType(services::BiometryType::FaceID);
    lock.setUseBiometricID(true);
    launchWithPasscode();
    ASSERT_TRUE(harness.clock().runUntil([&] { return device.heldCount() == 1; }, 5));
    EXPECT_FALSE(pad()) << "the prompt comes first";
    EXPECT_TRUE(blurred());
    ASSERT_TRUE(device.answerHeld(Answer::succeed()));
    ASSERT_TRUE(harness.clock().runUntil([&] { return !app->lockShown; }, 5));
    EXPECT_FALSE(blurred());
    EXPECT_EQ(device.evaluations().back().reason, "Authenticate to unlock");
    EXPECT_EQ(device.evaluations().back().reuseDuration, 30.0);

    struct Case {
        const char* name;
        Answer answer;
        bool locked, padShown;
    } cases[] = {
        {"success", Answer::succeed(), false, false},
        {"cancelled by the system", Answer::fail(services::kLAErrorSystemCancel), true, false},
        {"-1000", Answer::fail(-1000), true, false},
        {"cancelled by the user", Answer::fail(services::kLAErrorUserCancel), true, true},
        {"failed", Answer::fail(services::kLAErrorAuthenticationFailed), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device.queueAnswer(c.answer);
        app->showPasscodeLockIfNeededForStartup(true);
        harness.advance(1);
        EXPECT_EQ(app->lockShown, c.locked);
        EXPECT_EQ(blurred(), c.locked);
        EXPECT_EQ(pad() != nullptr, c.padShown);
        if (c.padShown) {
            // The pad offers the prompt again through its button.
            auto button = pad()->lockScreenView()->biometricIDButton();
            ASSERT_TRUE(button);
            EXPECT_EQ(button->alpha(), 1);
            device.queueAnswer(Answer::succeed());
            ASSERT_TRUE(harness.tap(*button));
            harness.advance(1);
            EXPECT_FALSE(app->lockShown);
            EXPECT_FALSE(pad());
        } else if (c.locked) {
            // Left blurred until the app is active again; then the prompt repeats.
            device.queueAnswer(Answer::succeed());
            resign();
            becomeActive();
            harness.advance(1);
            EXPECT_FALSE(app->lockShown);
        }
        EXPECT_FALSE(blurred());
    }
}

// The biometric section's footer names the device's kind of biometrics and, where the device
// keeps an unlock for a while, says the app then opens unlocked.
TEST_F(Lock, TheBiometricFooterNamesTheDevicesBiometricsAndItsReuse) {
    auto& device = services::Biometrics::shared();
    lock.setPasscodeRequired(true);
    lock.setPasscode("1234");
    struct Case {
        services::BiometryType type;
        bool reuse;
        std::string footer;
    };
    const Case cases[] = {
        {services::BiometryType::TouchID, false,
         "Your Passcode will be required if your fingerprint is not recognized."},
        {services::BiometryType::FaceID, false, "Your Passcode will be required if your face is not recognized."},
        {services::BiometryType::TouchID, true,
         "Your Passcode will be required if your fingerprint is not recognized.\n\nWhen using TouchID, HX Connect "
         "will be unlocked automatically if your phone has been unlocked using TouchID in the last 30s before "
         "opening the application."},
        {services::BiometryType::FaceID, true,
         "Your Passcode will be required if your face is not recognized.\n\nWhen using Face ID, HX Connect will be "
         "unlocked automatically if your phone has been unlocked using Face ID in the last 30s before opening the "
         "application."},
    };
    for (const Case& c : cases) {
        device.setCanEvaluate({1, 4});
        device.setBiometryType(c.type);
        device.setSupportsReuseDuration(c.reuse);
        auto screen = std::dynamic_pointer_cast<HXCPasscodeSettingsViewController>(
            app->screens().makePasscodeSettingsScreen(app->screenRoles()));
        ASSERT_TRUE(screen);
        harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
        harness.settle();
        ASSERT_GE(screen->tableView()->numberOfSections(), 2);
        EXPECT_EQ(screen->titleForFooter(*screen->tableView(), 1), c.footer) << c.reuse;
    }
    device.setSupportsReuseDuration(false);
}

TEST_F(Lock, ThePasscodeScreenTurnsThePasscodeOnAndOff) {
    ASSERT_TRUE(launch());
    listen(kPasscodeSettingDidChangeNotification);
    listen(kHXCPasscodeLockSpotlightPrefeChangedNotification);
    app->selectViewForIndex(4);
    auto& settingsNav = dynamic_cast<toolkit::NavigationController&>(*app->tabBarController()->viewControllers()[4]);
    auto screen = std::dynamic_pointer_cast<HXCPasscodeSettingsViewController>(
        app->screens().makePasscodeSettingsScreen(app->screenRoles()));
    ASSERT_TRUE(screen);
    settingsNav.pushViewController(screen, false);
    harness.settle();
    auto table = screen->tableView();
    EXPECT_EQ(table->numberOfSections(), 1);
    ASSERT_TRUE(harness.find("Turn Passcode On"));

    // On: the new PIN twice on the setup pad.
    ASSERT_TRUE(harness.selectRow(*table, {0, 0}));
    ASSERT_TRUE(dynamic_cast<HXCPadLockScreenSetupViewController*>(harness.topPresented()));
    auto type = [&](const std::string& pin) {
        auto* p = dynamic_cast<HXCPadLockScreenAbstractViewController*>(harness.topPresented());
        ASSERT_TRUE(p);
        for (char c : pin) harness.tap(*p->lockScreenView()->buttonArray()[c - '0']);
        harness.settle();
    };
    type("2580");
    type("2580");
    harness.advance(1);
    EXPECT_FALSE(dynamic_cast<HXCPadLockScreenAbstractViewController*>(harness.topPresented()));
    EXPECT_TRUE(lock.passcodeRequired());
    EXPECT_EQ(lock.passcode(), std::optional<std::string>("2580"));
    EXPECT_EQ(posted, std::vector<std::string>{kPasscodeSettingDidChangeNotification});
    ASSERT_TRUE(harness.find("Turn Passcode Off"));
    // Spotlight's switch shows with the passcode on (no biometrics on this device).
    EXPECT_EQ(table->numberOfSections(), services::SearchableIndex::isIndexingAvailable() ? 2 : 1);
    if (table->numberOfSections() == 2) {
        ASSERT_TRUE(harness.tap(*screen->spotlightSwitch()));
        EXPECT_FALSE(lock.useSpotlight());
        EXPECT_EQ(posted.back(), kHXCPasscodeLockSpotlightPrefeChangedNotification);
    }
    expectOutline("passcode_screen_on");
    expectSnapshot("passcode_screen", {.lightAndDark = true});

    // Off: the current PIN on an unlock pad; a wrong one changes nothing.
    posted.clear();
    ASSERT_TRUE(harness.selectRow(*table, {0, 0}));
    ASSERT_TRUE(dynamic_cast<HXCPadLockScreenViewController*>(harness.topPresented()));
    type("1111");
    EXPECT_TRUE(lock.passcodeRequired());
    type("2580");
    harness.advance(1);
    EXPECT_FALSE(lock.passcodeRequired());
    EXPECT_EQ(posted, std::vector<std::string>{kPasscodeSettingDidChangeNotification});
    ASSERT_TRUE(harness.find("Turn Passcode On"));
    EXPECT_EQ(table->numberOfSections(), 1);
    // Turning it off leaves no PIN behind, not even in the keychain.
    lock.forgetKeptValues();
    EXPECT_EQ(lock.passcode(), std::nullopt);
    EXPECT_EQ(HXCPasscodeKeychain::getStringForKey("passcode"), std::nullopt);
}
