// The passcode lock without its screens: the settings in the keychain, when the lock comes up and
// goes down on a virtual clock (resigning for 29 s does not lock, 31 s does, a call handed to the
// dialer never), each biometric answer, the replay of a URL held while locked, the PIN pads'
// digits, attempts and setup; and the rating request with the first launch's date kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_keychain.h"
#include "app/hxc_passcode_lock.h"
#include "app/passcode_lock_control.h"
#include "app/passcode_pin_entry.h"
#include "app/review_request.h"
#include "model/keychain_utils.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/local_authentication.h"
#include "platform/services/store_review.h"
#include "platform/toolkit/traits.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/test_support.h"

namespace {

using services::Biometrics;
using Answer = services::Biometrics::Answer;

struct Pad : HXPasscodeUnlockPad {
    int biometricButtonShown = 0;
    void showBiometricIDButton(bool show) override { biometricButtonShown += show; }
};

struct Host : HXPasscodeLockHost {
    std::vector<std::string> log;
    std::shared_ptr<Pad> presented;
    int padsMade = 0;
    bool blurred = false, tablet = false, pendingURL = false;
    std::vector<double> replays;

    void rearmInitialLoad() override { log.push_back("rearm"); }
    std::shared_ptr<HXPasscodeUnlockPad> makeUnlockPad() override {
        ++padsMade;
        return std::make_shared<Pad>();
    }
    void dismissPopover() override {}
    std::shared_ptr<HXPasscodeUnlockPad> presentedUnlockPad() override { return presented; }
    void coverWithBlur() override {
        if (!blurred) log.push_back("blur");
        blurred = true;
    }
    void presentUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) override {
        presented = std::dynamic_pointer_cast<Pad>(pad);
        log.push_back("present");
    }
    void removeBlur() override {
        blurred = false;
        log.push_back("unblur");
    }
    void dismissUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>&) override {
        presented.reset();
        log.push_back("dismiss");
    }
    void loadInitialData() override { log.push_back("loadInitialData"); }
    void resumeAfterUnlock() override { log.push_back("resumeActive"); }
    void selectViewForIndex(int index) override { log.push_back("select " + std::to_string(index)); }
    void refreshMasterList() override { log.push_back("refreshMasterList"); }
    bool iPad() const override { return tablet; }
    bool hasPendingURL() const override { return pendingURL; }
    void reprocessURL() override { replays.push_back(dispatch::wallNow()); }
    bool shown = false, handOver = false, focus = false;
    bool isLockShown() const override { return shown; }
    void setLockShown(bool s) override { shown = s; }
    bool callHandOver() const override { return handOver; }
    void setCallHandOver(bool h) override { handOver = h; }
    bool focusReply() const override { return focus; }
    void setFocusReply(bool f) override { focus = f; }
};

struct PasscodeLock : ::testing::Test {
    hxtest::TempDir home;
    dispatch::ScopedVirtualClock clock{1'760'000'000.0};
    std::shared_ptr<Host> host = std::make_shared<Host>();
    std::shared_ptr<HXPasscodeLockControl> control = std::make_shared<HXPasscodeLockControl>(host);
    HXCPasscodeLock& lock = HXCPasscodeLock::sharedLock();
    Biometrics& device = Biometrics::shared();
    std::vector<std::string> posted;

    void SetUp() override {
        dispatch::RunLoop::main();
        hxtest::useAppHome(home.path());
        lock.forgetKeptValues();
        device.reset();
        toolkit::Device::current().setSystemVersion(15);
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        for (const char* name :
             {kPasscodeLockDismissedNotification, kFocusSMSReplyFieldNotification, kClearDialpadNumberNotification})
            foundation::NotificationCenter::defaultCenter().addObserver(
                this, name, [this, name](const foundation::Notification&) { posted.emplace_back(name); });
    }
    void TearDown() override {
        clock->runUntilIdle();
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        device.reset();
        foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        toolkit::Device::current().setSystemVersion(15);
        lock.forgetKeptValues();
    }
    void requirePasscode(const std::string& pin = "1234") {
        lock.setPasscodeRequired(true);
        lock.setPasscode(pin);
    }
    void useBiometrics(std::set<int> policies = {1, 4}) {
        device.setCanEvaluate(std::move(policies));
        device.setBiometryType(services::BiometryType::TouchID);
        lock.setUseBiometricID(true);
    }
    static std::optional<std::string> stored(const std::string& key) {
        return HXCKeychainUtils::getPasswordForUsername(HXCPasscodeKeychain::appName() + " - " + key,
                                                        std::string("service"), nullptr);
    }
};

}  // namespace

TEST_F(PasscodeLock, SettingsLiveInTheKeychainAndAreKeptAfterTheFirstRead) {
    // First launch: the two switches are written as "NO"; the search switch stays missing (on).
    lock.setDefaultSettings();
    EXPECT_EQ(stored("passcode_on"), std::optional<std::string>("NO"));
    EXPECT_EQ(stored("TouchID_on"), std::optional<std::string>("NO"));
    EXPECT_EQ(stored("Spotlight_on"), std::nullopt);
    EXPECT_FALSE(lock.passcodeRequired());
    EXPECT_TRUE(lock.useSpotlight());
    // A later launch leaves stored values alone.
    ASSERT_TRUE(HXCPasscodeKeychain::setString(std::string("YES"), std::string("passcode_on")));
    lock.setDefaultSettings();
    EXPECT_EQ(stored("passcode_on"), std::optional<std::string>("YES"));
    EXPECT_FALSE(lock.passcodeRequired()) << "kept from the first read";
    lock.forgetKeptValues();
    EXPECT_TRUE(lock.passcodeRequired());
    // Anything but "YES" reads as off.
    for (const char* value : {"yes", "1", "", "YES "}) {
        ASSERT_TRUE(HXCPasscodeKeychain::setString(std::string(value), std::string("passcode_on")));
        lock.forgetKeptValues();
        EXPECT_FALSE(lock.passcodeRequired()) << value;
    }
    // The search switch counts only while a passcode is required.
    lock.setPasscodeRequired(true);
    lock.setUseSpotlight(false);
    EXPECT_EQ(stored("Spotlight_on"), std::optional<std::string>("NO"));
    EXPECT_FALSE(lock.useSpotlight());
    lock.setPasscodeRequired(false);
    EXPECT_TRUE(lock.useSpotlight());
    // The PIN: none deletes the stored item too, so no stale secret stays behind (also for a new
    // process, which reads the keychain again).
    lock.setPasscode(std::string("4321"));
    EXPECT_EQ(stored("passcode"), std::optional<std::string>("4321"));
    lock.setPasscode(std::nullopt);
    EXPECT_EQ(lock.passcode(), std::nullopt);
    EXPECT_EQ(stored("passcode"), std::nullopt);
    lock.forgetKeptValues();
    EXPECT_EQ(lock.passcode(), std::nullopt);
    EXPECT_FALSE(HXCPasscodeKeychain::setString(std::nullopt, std::string("passcode")));
    EXPECT_FALSE(HXCPasscodeKeychain::setString(std::string("x"), std::nullopt));
    EXPECT_EQ(HXCPasscodeKeychain::getStringForKey("nothing"), std::nullopt);
}

TEST_F(PasscodeLock, BiometricsNeedTheSwitchAndThePolicyOfTheSystemVersion) {
    lock.setUseBiometricID(true);
    EXPECT_FALSE(lock.useBiometricID()) << "no biometry";
    device.setCanEvaluate({1});
    device.setBiometryType(services::BiometryType::TouchID);
    EXPECT_TRUE(lock.useBiometricID());
    EXPECT_EQ(lock.biometricIDName(), "TouchID");
    // From 18 on the policy with a companion device is asked.
    toolkit::Device::current().setSystemVersion(18);
    EXPECT_FALSE(lock.canUseBiometricID());
    EXPECT_FALSE(lock.useBiometricID());
    device.setCanEvaluate({4});
    EXPECT_TRUE(lock.useBiometricID());
    // The name is always asked with the biometrics-only policy, whose answer does not matter.
    device.setBiometryType(services::BiometryType::FaceID);
    EXPECT_EQ(lock.biometricIDName(), "Face ID");
    device.setBiometryType(services::BiometryType::None);
    EXPECT_EQ(lock.biometricIDName(), "biometrics");
    lock.setUseBiometricID(false);
    EXPECT_FALSE(lock.useBiometricID());
    EXPECT_EQ(stored("TouchID_on"), std::optional<std::string>("NO"));
}

TEST_F(PasscodeLock, NothingWithoutAPasscodeAndOnePadWithOne) {
    control->showPasscodeLockIfNeededForStartup(true);
    EXPECT_EQ(host->log, std::vector<std::string>{"rearm"});
    EXPECT_FALSE(control->lockShown());
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), 0u);

    requirePasscode();
    control->showPasscodeLockIfNeededForStartup(true);
    EXPECT_TRUE(control->lockShown());
    EXPECT_EQ(host->log, (std::vector<std::string>{"rearm", "rearm", "blur", "present"}));
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), 0u) << "the task ended";
    // A second call does not stack a second pad.
    control->showPasscodeLockIfNeeded();
    EXPECT_EQ(host->log.back(), "rearm");
    EXPECT_TRUE(device.evaluations().empty());

    EXPECT_FALSE(control->validatePin("1235"));
    EXPECT_FALSE(control->validatePin(""));
    EXPECT_TRUE(control->validatePin("1234"));
    control->unlockWasSuccessful(host->presented);
    EXPECT_FALSE(control->lockShown());
    EXPECT_FALSE(host->presented);
    // No account: the settings view is selected.
    EXPECT_EQ(std::vector<std::string>(host->log.end() - 5, host->log.end()),
              (std::vector<std::string>{"unblur", "dismiss", "loadInitialData", "resumeActive", "select 4"}));
    EXPECT_EQ(posted, std::vector<std::string>{kPasscodeLockDismissedNotification});
    // A second unlock of the same lock does nothing.
    const auto before = host->log.size();
    control->unlockWasSuccessful(nullptr);
    EXPECT_EQ(host->log.size(), before);
}

TEST_F(PasscodeLock, WithAnAccountTheTabletRefreshesItsMasterList) {
    requirePasscode();
    ASSERT_TRUE(foundation::UserDefaults::standardUserDefaults()
                    ->setObject(foundation::Dictionary{{"bob", foundation::Value("x")}}, "accountInfo")
                    .ok());
    host->tablet = true;
    control->showPasscodeLockIfNeeded();
    control->unlockWasSuccessful(host->presented);
    EXPECT_EQ(host->log.back(), "refreshMasterList");
}

TEST_F(PasscodeLock, ResigningLocksAfterThirtySecondsUnlessBackSoonerOrHandedToTheDialer) {
    requirePasscode();
    control->resignActive();
    clock->advance(29);
    control->becomeActive();
    clock->advance(60);
    EXPECT_FALSE(control->lockShown()) << "back within 30 s";

    control->resignActive();
    clock->advance(29.9);
    EXPECT_FALSE(control->lockShown());
    clock->advance(1.1);
    EXPECT_TRUE(control->lockShown());
    EXPECT_EQ(host->log.back(), "present");
    control->unlockWasSuccessful(host->presented);

    // Resigning twice keeps one scheduled lock.
    control->resignActive();
    clock->advance(10);
    control->resignActive();
    clock->advance(25);
    EXPECT_FALSE(control->lockShown()) << "the second resignation scheduled anew";
    clock->advance(6);
    EXPECT_TRUE(control->lockShown());
    control->unlockWasSuccessful(host->presented);

    // A call handed to the dialer never locks, and the flag goes with that one resignation.
    host->setCallHandOver(true);
    control->resignActive();
    clock->advance(3600);
    EXPECT_FALSE(control->lockShown());
    EXPECT_FALSE(control->callHandOver());
    EXPECT_EQ(std::count(posted.begin(), posted.end(), kClearDialpadNumberNotification), 1);
    host->setCallHandOver(true);
    control->willEnterForeground();
    EXPECT_FALSE(control->callHandOver());

    // No passcode: resigning schedules nothing.
    lock.setPasscodeRequired(false);
    control->resignActive();
    clock->advance(60);
    EXPECT_FALSE(control->lockShown());
}

TEST_F(PasscodeLock, InTheBackgroundOnlyTheBlurAndThePadWhenActiveAgain) {
    requirePasscode();
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    control->enteredBackground();
    EXPECT_TRUE(control->lockShown());
    EXPECT_TRUE(host->blurred);
    EXPECT_FALSE(host->presented);
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    control->becomeActive();
    EXPECT_TRUE(host->presented);
    EXPECT_EQ(host->log, (std::vector<std::string>{"rearm", "blur", "rearm", "present"}));
}

TEST_F(PasscodeLock, AURLHeldWhileLockedRunsAfterTheUnlockAndTheReplyFieldIsFocused) {
    requirePasscode();
    control->showPasscodeLockIfNeeded();
    host->pendingURL = true;
    host->setFocusReply(true);
    const double unlockedAt = dispatch::wallNow();
    control->unlockWasSuccessful(host->presented);
    clock->advance(0.84);
    EXPECT_TRUE(host->replays.empty());
    EXPECT_EQ(std::count(posted.begin(), posted.end(), kFocusSMSReplyFieldNotification), 0);
    clock->advance(0.02);
    ASSERT_EQ(host->replays.size(), 1u);
    EXPECT_NEAR(host->replays[0] - unlockedAt, 0.85, 1e-6);
    EXPECT_EQ(std::count(posted.begin(), posted.end(), kFocusSMSReplyFieldNotification), 1);
    EXPECT_FALSE(control->focusReply());

    // With the passcode turned off while locked (the last account went), the URL runs at the
    // next turn.
    control->showPasscodeLockIfNeeded();
    ASSERT_TRUE(control->lockShown());
    lock.setPasscodeRequired(false);
    const double again = dispatch::wallNow();
    control->unlockWasSuccessful(host->presented);
    clock->runUntilIdle();
    ASSERT_EQ(host->replays.size(), 2u);
    EXPECT_NEAR(host->replays[1], again, 1e-6);
}

TEST_F(PasscodeLock, EachBiometricAnswerActsAsItShould) {
    requirePasscode();
    useBiometrics();
    struct Case {
        const char* name;
        std::optional<Answer> answer;  // none: held
        bool unlocked, padShown;
    };
    const Case cases[] = {
        {"success", Answer::succeed(), true, false},
        {"system cancel", Answer::fail(services::kLAErrorSystemCancel), false, false},
        {"-1000", Answer::fail(-1000), false, false},
        {"user cancel", Answer::fail(services::kLAErrorUserCancel), false, true},
        {"failed", Answer::fail(services::kLAErrorAuthenticationFailed), false, true},
        {"held", std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device.reset();
        useBiometrics();
        auto h = std::make_shared<Host>();
        auto ctl = std::make_shared<HXPasscodeLockControl>(h);
        if (c.answer) device.queueAnswer(*c.answer);
        ctl->showPasscodeLockIfNeededForStartup(true);
        clock->runUntilIdle();
        EXPECT_EQ(!ctl->lockShown(), c.unlocked);
        EXPECT_EQ(bool(h->presented), c.padShown);
        EXPECT_EQ(h->padsMade, 1);
        EXPECT_EQ(h->presented ? h->presented->biometricButtonShown : 0, c.padShown ? 1 : 0);
        EXPECT_EQ(h->blurred, !c.unlocked);
        ASSERT_EQ(device.evaluations().size(), 1u);
        EXPECT_EQ(device.evaluations()[0].reuseDuration, 30);
        EXPECT_EQ(device.evaluations()[0].reason, "Authenticate to unlock");
        EXPECT_EQ(device.evaluations()[0].policy, 1);
        if (!c.answer) {
            EXPECT_EQ(device.heldCount(), 1u);
            // Answered after the app went to the background: the failure shows nothing.
            foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
            device.answerHeld(Answer::fail(services::kLAErrorUserCancel));
            clock->runUntilIdle();
            EXPECT_FALSE(h->presented);
            foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
        }
    }
}

TEST_F(PasscodeLock, BiometricsWaitWhileInactiveAndRepeatOverAShownPad) {
    requirePasscode();
    useBiometrics();
    toolkit::Device::current().setSystemVersion(18);
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Inactive);
    control->showPasscodeLockIfNeeded();
    clock->runUntilIdle();
    EXPECT_TRUE(device.evaluations().empty()) << "not while inactive";
    EXPECT_TRUE(host->blurred);
    EXPECT_FALSE(host->presented);
    // At start-up it asks at once, with the companion policy on 18.
    control->showPasscodeLockIfNeededForStartup(true);
    clock->runUntilIdle();
    ASSERT_EQ(device.evaluations().size(), 1u);
    EXPECT_EQ(device.evaluations()[0].policy, 4);
    device.answerHeld(Answer::fail(services::kLAErrorUserCancel));
    clock->runUntilIdle();
    ASSERT_TRUE(host->presented);
    auto pad = host->presented;
    EXPECT_EQ(pad->biometricButtonShown, 1);
    // Over the shown pad the prompt repeats; a failure only shows its button again.
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    device.queueAnswer(Answer::fail(services::kLAErrorAuthenticationFailed));
    control->becomeActive();
    clock->runUntilIdle();
    EXPECT_EQ(device.evaluations().size(), 2u);
    EXPECT_EQ(host->presented, pad);
    EXPECT_EQ(pad->biometricButtonShown, 2);
    EXPECT_EQ(std::count(host->log.begin(), host->log.end(), "present"), 1);
    // Success over the shown pad unlocks with it.
    device.queueAnswer(Answer::succeed());
    control->becomeActive();
    clock->runUntilIdle();
    EXPECT_FALSE(control->lockShown());
    EXPECT_FALSE(host->presented);
}

namespace {

struct Display : HXCPinPadDisplay {
    std::vector<std::string> log;
    std::vector<bool> dots = std::vector<bool>(4, false);
    size_t length = 0;
    bool deleteShown = false, okShown = false, locked = false;
    std::string detail;
    int shakes = 0, vibrations = 0;
    void selectDot(size_t index, bool selected) override { dots.at(index) = selected; }
    void showPinLength(size_t n) override { length = n; }
    void showDeleteButton(bool show) override { deleteShown = show; }
    void showOKButton(bool show) override { okShown = show; }
    void reset() override {
        dots.assign(4, false);
        length = 0;
        deleteShown = okShown = false;
    }
    void shake() override { ++shakes; }
    void fadeDetailText(const std::string& text) override { detail = text; }
    void lockPad() override { locked = true; }
    void vibrate() override { ++vibrations; }
};

struct UnlockDelegate : HXCPadLockScreenViewControllerDelegate {
    std::string pin = "2580";
    std::vector<std::string> log;
    bool validatePin(const std::string& p, HXCPinUnlock&) override { return p == pin; }
    void unlockWasSuccessful(HXCPinUnlock&) override { log.push_back("ok"); }
    void unlockWasUnsuccessful(const std::string& p, int64_t n, HXCPinUnlock&) override {
        log.push_back(p + "#" + std::to_string(n));
    }
    void attemptsExpired(HXCPinUnlock&) override { log.push_back("expired"); }
    void unlockWasCancelled(HXCPinEntry&) override { log.push_back("cancel"); }
};

struct SetupDelegate : HXCPadLockScreenSetupViewControllerDelegate {
    std::vector<std::string> pins;
    void pinSet(const std::string& pin, HXCPinSetup&) override { pins.push_back(pin); }
};

void type(HXCPinEntry& e, const std::string& digits) {
    for (char c : digits) e.newPinSelected(c - '0');
}

}  // namespace

TEST(PinPad, DigitsDeletesAndTheFourthDigitChecksAtOnce) {
    auto display = std::make_shared<Display>();
    auto delegate = std::make_shared<UnlockDelegate>();
    HXCPinUnlock pad(display, delegate);
    pad.errorVibrateEnabled = true;
    pad.deleteFromPin();  // nothing to delete
    EXPECT_FALSE(display->deleteShown);
    type(pad, "25");
    EXPECT_EQ(pad.currentPin(), "25");
    EXPECT_EQ(display->dots, (std::vector<bool>{true, true, false, false}));
    EXPECT_TRUE(display->deleteShown);
    EXPECT_FALSE(display->okShown) << "no OK on a simple pad";
    pad.deleteFromPin();
    pad.deleteFromPin();
    EXPECT_FALSE(display->deleteShown) << "Cancel is back";
    EXPECT_EQ(display->dots, (std::vector<bool>(4, false)));
    EXPECT_FALSE(pad.handleKey("\r")) << "Return does nothing on a simple pad";
    EXPECT_FALSE(pad.handleKey("1", true)) << "no modifiers";
    EXPECT_TRUE(pad.handleKey("2"));
    EXPECT_TRUE(pad.handleKey("5"));
    EXPECT_TRUE(pad.handleKey("\b"));
    EXPECT_EQ(pad.currentPin(), "2");
    EXPECT_TRUE(pad.handleKey("\x1b"));
    EXPECT_EQ(delegate->log, std::vector<std::string>{"cancel"});
    // Wrong at the fourth digit: shake, vibrate, no attempts text (unlimited), empty again.
    type(pad, "111");
    EXPECT_EQ(delegate->log.back(), "2111#1");
    EXPECT_EQ(display->shakes, 1);
    EXPECT_EQ(display->vibrations, 1);
    EXPECT_EQ(display->detail, "");
    EXPECT_EQ(pad.currentPin(), "");
    for (int i = 2; i <= 7; ++i) type(pad, "0000");
    EXPECT_EQ(delegate->log.back(), "0000#7");
    EXPECT_EQ(display->detail, "") << "never an attempts text with unlimited attempts";
    EXPECT_FALSE(display->locked);
    // A fifth digit is ignored: the fourth already decided.
    type(pad, "2580");
    EXPECT_EQ(delegate->log.back(), "ok");
    pad.newPinSelected(9);
    EXPECT_EQ(pad.currentPin(), "2580");
    pad.newPinSelected(12);  // not a digit
    EXPECT_EQ(pad.currentPin(), "2580");
}

TEST(PinPad, AllowedAttemptsCountDownToALockOut) {
    auto display = std::make_shared<Display>();
    auto delegate = std::make_shared<UnlockDelegate>();
    HXCPinUnlock pad(display, delegate);
    pad.setAllowedAttempts(3);
    type(pad, "1111");
    EXPECT_EQ(display->detail, "2 attempts left");
    type(pad, "1111");
    EXPECT_EQ(display->detail, "1 attempt left");
    EXPECT_FALSE(display->locked);
    type(pad, "1111");
    EXPECT_EQ(display->detail, "You have been locked out.");
    EXPECT_TRUE(display->locked);
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"1111#1", "1111#2", "expired", "1111#3"}));
    EXPECT_EQ(pad.totalAttempts(), 3);
    EXPECT_EQ(pad.remainingAttempts(), 0);
    EXPECT_EQ(display->vibrations, 0) << "vibration is off by default";
}

TEST(PinPad, AComplexPinWaitsForOKAndADelegateThatDoesNotAnswerRefusesIt) {
    auto display = std::make_shared<Display>();
    auto silent = std::make_shared<HXCPadLockScreenViewControllerDelegate>();
    HXCPinUnlock pad(display, silent, true);
    type(pad, "123456");
    EXPECT_EQ(display->length, 6u);
    EXPECT_TRUE(display->okShown);
    EXPECT_EQ(display->shakes, 0) << "no check before OK";
    EXPECT_TRUE(pad.handleKey("\r"));
    EXPECT_EQ(display->shakes, 1) << "not answered: not valid";
    EXPECT_EQ(pad.currentPin(), "");
}

TEST(PinPad, SetupAsksTwiceAndStartsOverOnAMismatch) {
    auto display = std::make_shared<Display>();
    auto delegate = std::make_shared<SetupDelegate>();
    HXCPinSetup pad(display, delegate);
    pad.errorVibrateEnabled = true;
    type(pad, "1357");
    EXPECT_EQ(pad.enteredPin(), std::optional<std::string>("1357"));
    EXPECT_EQ(display->detail, "Re-enter your new pincode");
    EXPECT_EQ(display->dots, (std::vector<bool>(4, false)));
    type(pad, "1358");
    EXPECT_EQ(display->detail, "Pincodes did not match.");
    EXPECT_EQ(display->shakes, 1);
    EXPECT_EQ(display->vibrations, 1);
    EXPECT_EQ(pad.enteredPin(), std::nullopt) << "back to the first entry";
    EXPECT_TRUE(delegate->pins.empty());
    type(pad, "2468");
    type(pad, "2468");
    EXPECT_EQ(delegate->pins, std::vector<std::string>{"2468"});
}

namespace {

struct Launch : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {};

}  // namespace

TEST_F(Launch, TheFirstLaunchDateIsKeptAndTheReviewIsAskedForOnlyAfterFiveDays) {
    auto prefs = foundation::UserDefaults::standardUserDefaults();
    HXCPasscodeLock::sharedLock().forgetKeptValues();
    ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
    // The lock's switches are written at the first launch.
    EXPECT_EQ(HXCPasscodeKeychain::getStringForKey("passcode_on"), std::optional<std::string>("NO"));
    EXPECT_EQ(HXCPasscodeKeychain::getStringForKey("TouchID_on"), std::optional<std::string>("NO"));
    const double first = prefs->doubleForKey("firstLaunchDate");
    EXPECT_EQ(first, dispatch::wallNow());
    harness.clock().advance(3600);
    auto again = std::make_shared<HX_ConnectAppDelegate_iPhone>();
    ASSERT_TRUE(again->applicationDidFinishLaunchingWithOptions());
    again.reset();
    EXPECT_EQ(prefs->doubleForKey("firstLaunchDate"), first) << "a later launch keeps the first one's date";
    // The preferences file holds it: a new process reads it back.
    ASSERT_TRUE(prefs->synchronize().ok());
    foundation::UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->doubleForKey("firstLaunchDate"), first);
    prefs = foundation::UserDefaults::standardUserDefaults();

    auto recorder = std::make_shared<services::RecordedStoreReviewRequests>();
    services::StoreReviewController::setRequester(recorder);
    struct Case {
        int64_t launches;
        double age;
        bool asked;
    };
    // Whole seconds from here on, so that the ages below are exact.
    harness.clock().advance(std::ceil(dispatch::wallNow()) - dispatch::wallNow() + 1);
    const Case cases[] = {
        {11, 432001, true}, {11, 432000, false}, {10, 900000, false}, {50, 432001, true}, {0, 1e9, false}};
    size_t asked = 0;
    for (const auto& c : cases) {
        prefs->setInteger(c.launches, "launchCount");
        prefs->setDouble(dispatch::wallNow() - c.age, "firstLaunchDate");
        EXPECT_EQ(HXReviewRequest::requestReview(), c.asked) << c.launches << " " << c.age;
        asked += c.asked;
        EXPECT_EQ(recorder->requests().size(), asked);
    }
    // A first launch stored as a date counts the same; none at all asks nothing.
    ASSERT_TRUE(prefs->setObject(foundation::Date{dispatch::wallNow() - 432001}, "firstLaunchDate").ok());
    prefs->setInteger(11, "launchCount");
    EXPECT_TRUE(HXReviewRequest::requestReview());
    prefs->removeObjectForKey("firstLaunchDate");
    EXPECT_FALSE(HXReviewRequest::requestReview()) << "the registered date is the launch's own";
    services::StoreReviewController::setRequester(nullptr);
}

TEST(PasscodeLockStrings, TheLocksOwnBundleFirstThenTheMainBundleWithThatAsDefault) {
    HX_REQUIRE_FRESH_PROCESS();  // the lock's bundle is looked for once per process
    hxtest::TempDir resources;
    auto write = [](const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    };
    write(resources / "HXCPasscodeLock.bundle/en.lproj/Localizable.strings",
          "\"Passcode Lock\" = \"Code Lock\";\n\"Turn Passcode Off\" = \"Lock off\";\n");
    write(resources / "en.lproj/Localizable.strings",
          "\"Turn Passcode Off\" = \"Main off\";\n\"Only main\" = \"Main only\";\n");
    auto& main = foundation::Bundle::main();
    main.setResourcesDirectory(resources.path());
    EXPECT_EQ(HXCPasscodeLock::localizedStringForKey("Passcode Lock", "Passcode Lock"), "Code Lock");
    EXPECT_EQ(HXCPasscodeLock::localizedStringForKey("Turn Passcode Off", "Turn Passcode Off"), "Main off");
    EXPECT_EQ(HXCPasscodeLock::localizedStringForKey("Only main", "Only main"), "Main only");
    EXPECT_EQ(HXCPasscodeLock::localizedStringForKey("Nowhere", "Nowhere at all"), "Nowhere at all");
    main.setResourcesDirectory({});
}
