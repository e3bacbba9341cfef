#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/pasteboard.h"
#include "service/request_machinery.h"
#include "tests/support/role_spies.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/dialer/vc_call.h"
#include "ui/dialer/vc_favorites.h"
#include "ui/shell/ui_screens.h"

namespace {

using foundation::UserDefaults;

// The phone form with the calls it is asked to place and, when a test sets one, its own contact
// lookup.
struct PhoneApp : hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone> {
    hxtest::CallsSpy calls;
    hxtest::DialPadSpy dialPad;
    std::vector<std::string>& placed = calls.placed;
    std::function<std::string(const std::string&)>& lookup = dialPad.lookup;
    HXScreenRoles screenRoles() override {
        auto roles = RecordedApp::screenRoles();
        roles.conversations = hxtest::spyOn(roles.conversations, calls);
        roles.dialPad = hxtest::spyOn(roles.dialPad, dialPad);
        return roles;
    }
};

class DialPad : public hxtest::ScreenFixture<PhoneApp> {
protected:
    DialPad()
        : ScreenFixture(
              {.screens = std::make_shared<HXUIScreens>(), .signedIn = true, .fonts = true, .sharedDelegate = true}) {}
    void SetUp() override {
        ScreenFixture::SetUp();
        ASSERT_TRUE(launch());
        app->selectViewForIndex(0);
        harness.settle();
        // The pad's own story: a call it asks for is recorded, not placed (without a session
        // token the call operation sends nothing and asks nothing of the account's phones).
        app->account()->setAuthV2(std::nullopt);
        pad = std::dynamic_pointer_cast<VC_Call>(app->viewControllerForIndex(0));
        ASSERT_TRUE(pad);
        toolkit::SystemSounds::shared().reset();
    }
    void type(const std::string& keys) {
        for (char c : keys) {
            const long tag = c == '*'   ? VC_Call::kTagStar
                             : c == '#' ? VC_Call::kTagHash
                             : c == '0' ? VC_Call::kTagZero
                                        : c - '0';
            ASSERT_TRUE(harness.tap(*pad->key(tag))) << c;
        }
        harness.settle();
    }
    std::string shown() const { return pad->phoneNumber->text(); }
    void addPhone(int64_t id, const std::string& name) {
        auto phone = std::make_shared<HX_Phone>();
        phone->setPhoneId(id);
        phone->setName(name);
        phone->setNumber("+1555000" + std::to_string(1000 + id));
        phone->setVerified(true);
        app->account()->phones()[id] = phone;
    }

    std::shared_ptr<VC_Call> pad;
};

}  // namespace

TEST_F(DialPad, TypedKeysShowTheFormattedNumberWithTheirTonesAndTaps) {
    type("2025550123");
    EXPECT_EQ(shown(), "(202) 555-0123");
    std::vector<std::string> files;
    for (const auto& p : toolkit::SystemSounds::shared().plays()) files.push_back(p.file);
    EXPECT_EQ(files, (std::vector<std::string>{"dtmf-2.caf", "dtmf-0.caf", "dtmf-2.caf", "dtmf-5.caf", "dtmf-5.caf",
                                               "dtmf-5.caf", "dtmf-0.caf", "dtmf-1.caf", "dtmf-2.caf", "dtmf-3.caf"}));
    EXPECT_EQ(toolkit::SystemSounds::shared().impacts().size(), 10u);
    EXPECT_NE(VC_Call::keyTones()[2], 0u);
    EXPECT_EQ(VC_Call::keyTones()[4], 0u) << "made on the first press only";
    pad->clearNumber();
    type("*#");
    EXPECT_EQ(pad->dialedNumber().filtered(), "*#");
}

// In the window a digit typed on the keyboard reaches the pad in its tab as a tap on its key does.
TEST_F(DialPad, DigitsTypedOnAKeyboardPressTheirKeys) {
    for (char c : std::string("2025550123")) EXPECT_TRUE(harness.pressKey(std::string(1, c))) << c;
    EXPECT_EQ(shown(), "(202) 555-0123");
    EXPECT_EQ(toolkit::SystemSounds::shared().plays().size(), 10u);
    EXPECT_EQ(toolkit::SystemSounds::shared().plays().back().file, "dtmf-3.caf");
    EXPECT_FALSE(harness.pressKey("a")) << "only digits are keys";
    EXPECT_EQ(pad->dialedNumber().filtered(), "2025550123");
}

TEST_F(DialPad, AMissingToneIsLookedUpAgainOnTheNextPress) {
    const auto resources = foundation::Bundle::main().resourcesDirectory();
    hxtest::TempDir empty;
    foundation::Bundle::main().setResourcesDirectory(empty.path());
    type("7");
    EXPECT_EQ(VC_Call::keyTones()[7], 0u);
    EXPECT_TRUE(toolkit::SystemSounds::shared().plays().empty());
    std::filesystem::copy_file(resources / "dtmf-7.caf", empty.path() / "dtmf-7.caf");
    type("7");
    foundation::Bundle::main().setResourcesDirectory(resources);
    EXPECT_NE(VC_Call::keyTones()[7], 0u);
    ASSERT_EQ(toolkit::SystemSounds::shared().plays().size(), 1u);
    EXPECT_EQ(shown().size(), 2u) << "the keys work without their tones";
}

TEST_F(DialPad, TheCallKeyComesBackWhenNoCallRequestStarted) {
    app->setConnectionAvailable(true);
    type("2025550123");
    ASSERT_TRUE(harness.tap(*pad->key(VC_Call::kTagCall)));
    harness.settle();
    EXPECT_EQ(app->placed, std::vector<std::string>{"(202) 555-0123"});
    // No request was filed (the scripted transport answers nothing and the account holds no
    // token), so the key is back.
    EXPECT_FALSE(app->screenRoles().callChoice.lock()->callRequestInFlight());
    EXPECT_FALSE(pad->key(VC_Call::kTagCall)->isHidden());
    EXPECT_FALSE(pad->callStarted->isAnimating());
    EXPECT_FALSE(pad->forwardingLabel->isHidden());
}

TEST_F(DialPad, AnEmptyPadRecallsTheLastNumberOrOpensTheChooser) {
    auto defaults = UserDefaults::standardUserDefaults();
    (void)defaults->setObject(foundation::Value("+12025550199"), "lastDialedNumber");
    ASSERT_TRUE(harness.tap(*pad->key(VC_Call::kTagCall)));
    harness.settle();
    EXPECT_EQ(shown(), "+1 (202) 555-0199");
    EXPECT_TRUE(defaults->objectForKey("lastDialedNumber").isNull());
    EXPECT_TRUE(app->placed.empty()) << "the first press only fills the pad";
    ASSERT_TRUE(harness.tap(*pad->key(VC_Call::kTagCall)));
    harness.settle();
    EXPECT_EQ(app->placed.size(), 1u);

    // Empty again: with one linked phone nothing happens; with two the chooser opens.
    pad->clearNumber();
    app->account()->phones().clear();
    addPhone(1, "Home");
    ASSERT_TRUE(harness.tap(*pad->key(VC_Call::kTagCall)));
    EXPECT_EQ(harness.visibleAlert(), nullptr);
    addPhone(2, "Work");
    app->account()->setForwardingPhoneID(2);
    ASSERT_TRUE(harness.tap(*pad->key(VC_Call::kTagCall)));
    auto* sheet = harness.visibleAlert();
    ASSERT_NE(sheet, nullptr);
    std::vector<std::pair<std::string, toolkit::AlertActionStyle>> actions;
    for (const auto& a : sheet->actions()) actions.emplace_back(a->title(), a->style());
    ASSERT_GE(actions.size(), 2u);
    EXPECT_EQ(actions[0], std::make_pair(std::string("Home"), toolkit::AlertActionStyle::Default));
    EXPECT_EQ(actions[1], std::make_pair(std::string("Work"), toolkit::AlertActionStyle::Destructive));
    // Choosing with no number shown changes the method and calls nobody.
    int changed = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kChangedCallbackNumberNotification",
                                                                [&](const foundation::Notification&) { ++changed; });
    ASSERT_TRUE(harness.tapAlertAction("Home"));
    harness.settle();
    EXPECT_EQ(app->account()->forwardingPhoneID(), 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(pad->forwardingLabel->text(), "Home");
    EXPECT_EQ(app->placed.size(), 1u);
    // With a number shown, even the current method places the call.
    type("5550123");
    pad->changeForwardingNumber(nullptr);
    ASSERT_TRUE(harness.tapAlertAction("Home"));
    harness.settle();
    EXPECT_EQ(changed, 1) << "the same method is no change";
    EXPECT_EQ(app->placed.size(), 2u);
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(DialPad, HeldDeleteRemovesOneAtHalfASecondThenOneEveryTenthAndOneOnRelease) {
    type("2025550123");
    auto* del = pad->key(VC_Call::kTagDelete);
    pad->keyPressed(del);
    auto digits = [&] { return pad->dialedNumber().filtered().size(); };
    harness.advance(0.49);
    EXPECT_EQ(digits(), 10u);
    harness.advance(0.02);
    EXPECT_EQ(digits(), 9u);
    harness.advance(0.1);
    EXPECT_EQ(digits(), 8u);
    harness.advance(0.3);
    EXPECT_EQ(digits(), 5u);
    pad->deleteKeyUp(del);  // released
    EXPECT_EQ(digits(), 4u);
    harness.advance(1.0);
    EXPECT_EQ(digits(), 4u) << "the release stops the repeat";
    // Held long enough, the repeat stops by itself at the empty number.
    pad->keyPressed(del);
    harness.advance(2.0);
    EXPECT_EQ(shown(), "");
    pad->deleteKeyUp(del);
    EXPECT_EQ(shown(), "");
    // Held 2.0 s over twenty digits: one at 0.5 s, fifteen more by 2.0 s, one on release.
    type("12345678901234567890");
    pad->keyPressed(del);
    harness.advance(2.0);
    EXPECT_EQ(digits(), 4u);
    pad->deleteKeyUp(del);
    EXPECT_EQ(pad->dialedNumber().filtered(), "123");
    pad->clearNumber();
    // A tap deletes one on release; through the device's touch path too.
    type("12");
    ASSERT_TRUE(harness.tap(*del));
    harness.advance(1.0);
    EXPECT_EQ(pad->dialedNumber().filtered(), "1");
}

TEST_F(DialPad, LongPressesAddPlusAndPauses) {
    type("1");
    pad->insertPause(nullptr);
    pad->insertPause(nullptr);
    EXPECT_EQ(pad->dialedNumber().filtered(), "1,,");
    pad->clearNumber();
    pad->insertPlus(nullptr);
    type("44");
    EXPECT_EQ(pad->dialedNumber().filtered(), "+44");
    EXPECT_EQ(toolkit::SystemSounds::shared().plays().size(), 3u) << "no tone for the long presses";
}

TEST_F(DialPad, TheContactsKeyHelpIsShownOnceAndNeverWithFavorites) {
    auto defaults = UserDefaults::standardUserDefaults();
    foundation::Dictionary favorites;
    favorites.set(app->account()->username(), foundation::Value(foundation::Array{foundation::Value("a,b,C,1,0")}));
    (void)defaults->setObject(foundation::Value(favorites), "favorites");
    EXPECT_FALSE(pad->showFavoritesButtonHelp());
    defaults->removeObjectForKey("favorites");
    EXPECT_TRUE(pad->showFavoritesButtonHelp());
    auto* help = harness.visibleAlert();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->title(), "Contacts & Favorites");
    ASSERT_TRUE(harness.tapAlertAction("Favorites"));
    harness.advance(0.5);
    EXPECT_TRUE(defaults->boolForKey("OpenToFavorites"));
    EXPECT_NE(dynamic_cast<toolkit::NavigationController*>(harness.topPresented()), nullptr);
    EXPECT_TRUE(defaults->dictionaryForKey("displayedWarnings")->get("FavoritesHelp").boolValue());
    EXPECT_FALSE(pad->showFavoritesButtonHelp()) << "once only";
}

TEST_F(DialPad, PastingAVanityNumberShowsItsDigitsAndCopyAndClearWork) {
    toolkit::Pasteboard::general().setString("1-800-FLOWERS");
    EXPECT_TRUE(pad->canPerformAction("paste:", nullptr));
    EXPECT_FALSE(pad->canPerformAction("copy:", nullptr));
    pad->pasteNumber();
    EXPECT_EQ(pad->dialedNumber().filtered(), "18003569377");
    EXPECT_TRUE(pad->canPerformAction("copy:", nullptr));
    EXPECT_TRUE(pad->canPerformAction("clear:", nullptr));
    toolkit::Pasteboard::general().setStrings({});
    pad->copyNumber();
    EXPECT_EQ(toolkit::Pasteboard::general().string(), shown());
    foundation::NotificationCenter::defaultCenter().post("kClearDialpadNumberNotification");
    harness.settle();
    EXPECT_EQ(shown(), "");
}

TEST_F(DialPad, OnlyTheNewestLookupNamesTheNumber) {
    // The lookup for the first number ends only after the lookup for the second has written its
    // name: the older answer must not overwrite it.
    std::mutex m;
    std::condition_variable cv;
    bool secondDone = false, secondApplied = false;
    std::weak_ptr<VC_Call> weak = pad;
    app->lookup = [&, weak](const std::string& n) -> std::string {
        if (n.find("0100") != std::string::npos) {
            dispatch::Queue::main()->async([weak] {
                if (auto p = weak.lock()) p->updateContactLabelForNumber("(202) 555-0199");
            });
            std::unique_lock lock(m);
            cv.wait_for(lock, std::chrono::seconds(5), [&] { return secondDone; });
            lock.unlock();
            // Wait until the main queue has taken the second answer.
            dispatch::Queue::main()->async([&] {
                std::lock_guard l(m);
                secondApplied = true;
                cv.notify_all();
            });
            lock.lock();
            cv.wait_for(lock, std::chrono::seconds(5), [&] { return secondApplied; });
            return "Old Number";
        }
        std::lock_guard lock(m);
        secondDone = true;
        cv.notify_all();
        return "New Number";
    };
    pad->updateContactLabelForNumber("(202) 555-0100");
    harness.settle();
    EXPECT_EQ(pad->contactLabel->text(), "New Number");
    app->lookup = nullptr;
}

TEST_F(DialPad, TheLocalTimeTurnsWithinASecondOfEachMinuteAndFollowsClockJumps) {
    pad->insertPlus(nullptr);
    type("442079460000");
    std::string label = pad->localtimeLabel->text();
    ASSERT_NE(label.find("United Kingdom - "), std::string::npos) << label;
    // Three minutes and a bit in tenths of a second: every change comes in the first second of a
    // minute, and every minute that turns brings one.
    const double start = dispatch::wallNow();
    std::vector<double> changes;
    for (int step = 0; step < 1900; ++step) {
        harness.advance(0.1);
        const std::string now = pad->localtimeLabel->text();
        if (now == label) continue;
        changes.push_back(dispatch::wallNow());
        label = now;
    }
    const double end = dispatch::wallNow();
    const int turns = static_cast<int>(std::floor(end / 60) - std::floor(start / 60));
    ASSERT_GE(turns, 3);
    ASSERT_EQ(static_cast<int>(changes.size()), turns) << label;
    for (double at : changes) {
        const double intoMinute = std::fmod(at, 60);
        EXPECT_GT(intoMinute, 0.0);
        EXPECT_LE(intoMinute, 1.0);
    }
    // Minutes later the pad still hears that a call request started.
    HXWebClientOf(*app).requests.put(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson",
                                     HXRequestEntry{std::make_shared<foundation::Data>(), nullptr});
    foundation::NotificationCenter::defaultCenter().post("kCallButtonUpdateNotification");
    harness.settle();
    EXPECT_TRUE(pad->key(VC_Call::kTagCall)->isHidden());
    EXPECT_TRUE(pad->callStarted->isAnimating());
    HXWebClientOf(*app).requests.erase(std::string(kHXApiPath) + "communication/startclicktocall?alt=protojson");
    foundation::NotificationCenter::defaultCenter().post("kCallButtonUpdateNotification");
    harness.settle();
    EXPECT_FALSE(pad->key(VC_Call::kTagCall)->isHidden());
    // The device's clock set an hour ahead: the label follows at once, and the minute timer
    // keeps to the new minutes.
    const std::string before = pad->localtimeLabel->text();
    harness.changeSystemTime(3600 + 17);
    harness.settle();
    EXPECT_NE(pad->localtimeLabel->text(), before);
    const std::string jumped = pad->localtimeLabel->text();
    const double untilTurn = 60 - std::fmod(dispatch::wallNow(), 60);
    harness.advance(untilTurn - 0.05);
    EXPECT_EQ(pad->localtimeLabel->text(), jumped);
    harness.advance(1.0);
    EXPECT_NE(pad->localtimeLabel->text(), jumped);
}

TEST_F(DialPad, AMissingOrCorruptTimeZoneDatabaseLeavesTheLabelEmptyAndThePadWorking) {
    const auto tz = foundation::Bundle::main().pathForResource("tz");
    ASSERT_TRUE(tz);
    hxtest::TempDir dir;
    std::ofstream(dir.path() / "corrupt") << "SQLite format 3\0 and nothing a database holds";
    // (Keys pressed directly: after a minute the launch's unanswered requests have timed out and
    // their alert covers the pad.)
    auto press = [&](const std::string& keys) {
        for (char c : keys) pad->keyPressed(pad->key(c == '0' ? VC_Call::kTagZero : c - '0'));
    };
    for (const auto& broken : {dir.path() / "missing", dir.path() / "corrupt"}) {
        SCOPED_TRACE(broken.filename().string());
        pad->clearNumber();
        EXPECT_FALSE(VC_Call::localTime().open(broken));
        pad->insertPlus(nullptr);
        press("442079460000");
        EXPECT_EQ(shown(), "+44 20 7946 0000");
        EXPECT_EQ(pad->localtimeLabel->text(), "");
        harness.advance(61);
        EXPECT_EQ(pad->localtimeLabel->text(), "");
        press("1");
        EXPECT_EQ(pad->dialedNumber().filtered(), "+4420794600001");
        pad->deleteKeyUp(pad->key(VC_Call::kTagDelete));
        EXPECT_EQ(pad->dialedNumber().filtered(), "+442079460000");
    }
    pad->keyPressed(pad->key(VC_Call::kTagCall));
    harness.settle();
    EXPECT_EQ(app->placed, std::vector<std::string>{"+44 20 7946 0000"});
    ASSERT_TRUE(VC_Call::localTime().open(*tz));
    pad->clearNumber();
    pad->insertPlus(nullptr);
    press("442079460000");
    EXPECT_NE(pad->localtimeLabel->text(), "");
}
