// The passcode pads on screen: the lock's unlock pad as the launch puts it up over the app, its
// layout on each screen size against frames worked out by hand, typing on it, the setup pad, and
// the pictures of the themed pad in light and dark.
#include <gtest/gtest.h>

#include <cmath>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_keychain.h"
#include "app/hxc_passcode_lock.h"
#include "model/keychain_utils.h"
#include "platform/services/local_authentication.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/screen_fixture.h"
#include "ui/passcode/hxc_pad_lock_screen_setup_view_controller.h"
#include "ui/passcode/hxc_pad_lock_screen_view_controller.h"
#include "ui/shell/ui_screens.h"

namespace {

using toolkit::Rect;

// The pad the app shows over itself, through the screen library.
template <class App>
struct LockedApp : hxtest::ScreenFixture<App> {
    explicit LockedApp(hxtest::DeviceForm form)
        : hxtest::ScreenFixture<App>({.form = form, .screens = std::make_shared<HXUIScreens>(), .fonts = true}) {}

    // Stores an account and a passcode, then launches: the lock is up at once.
    void launchLocked(const std::string& pin = "1234") {
        this->storeAccount(hxtest::kSignedInUser, hxtest::kSignedInNumber);
        HXCPasscodeLock::sharedLock().setPasscodeRequired(true);
        HXCPasscodeLock::sharedLock().setPasscode(pin);
        ASSERT_TRUE(this->app->applicationDidFinishLaunchingWithOptions());
        this->harness.settle();
    }
    HXCPadLockScreenViewController* pad() {
        auto* root = this->harness.window().rootViewController().get();
        return root ? dynamic_cast<HXCPadLockScreenViewController*>(root->presentedViewController()) : nullptr;
    }
    HXCPadLockScreenView& padView() { return *pad()->lockScreenView(); }
    void typePin(const std::string& pin) {
        for (char c : pin) ASSERT_TRUE(this->harness.tap(*padView().buttonArray()[c - '0'])) << c;
        this->harness.settle();
    }
    // A frame in the pad's content view.
    static Rect frameOf(const toolkit::View& view) { return view.frame(); }
};

struct PhonePad : LockedApp<HX_ConnectAppDelegate_iPhone> {
    PhonePad() : LockedApp(hxtest::DeviceForm::phone) {}
};

void expectFrame(const toolkit::View& view, Rect expected, const std::string& what) {
    const Rect f = view.frame();
    EXPECT_DOUBLE_EQ(f.origin.x, expected.origin.x) << what;
    EXPECT_DOUBLE_EQ(f.origin.y, expected.origin.y) << what;
    EXPECT_DOUBLE_EQ(f.size.width, expected.size.width) << what;
    EXPECT_DOUBLE_EQ(f.size.height, expected.size.height) << what;
}

// Worked out by hand from the layout rules for each screen: the title's top, the first key row,
// the left column, the Cancel row, and where the content area sits on the pad.
struct PadGeometry {
    hxtest::DeviceForm form;
    const char* golden;
    double titleTop, firstRow, leftColumn, cancelRow;
};

template <class App>
void checkGeometry(LockedApp<App>& t, const PadGeometry& g) {
    t.launchLocked();
    ASSERT_TRUE(t.pad());
    auto& pad = t.padView();
    const bool tablet = g.form == hxtest::DeviceForm::tablet;
    const auto bounds = pad.bounds();
    // The tablet's area is centred in the form sheet; a phone's content is the whole pad.
    const Rect content = tablet ? Rect{(bounds.size.width - 320) / 2, (bounds.size.height - 568) / 2, 320, 568}
                                : Rect{0, 0, bounds.size.width, bounds.size.height};
    expectFrame(*pad.contentView(), content, "content");
    const double w = pad.correctWidth();
    expectFrame(*pad.enterPasscodeLabel(), {w / 2 - 150, g.titleTop, 300, 23}, "title");
    const double pinRow = g.titleTop + 40.5;
    for (int i = 0; i < 4; ++i)
        expectFrame(*pad.digitsArray()[i], {w / 2 - 57.5 + 35 * i, pinRow, 15, 15}, "dot " + std::to_string(i));
    expectFrame(*pad.detailLabel(), {w / 2 - 150, pinRow + 30, 300, 23}, "detail");
    for (int digit = 1; digit <= 9; ++digit)
        expectFrame(*pad.buttonArray()[digit],
                    {g.leftColumn + 95 * ((digit - 1) % 3), g.firstRow + 85 * ((digit - 1) / 3), 75, 75},
                    "key " + std::to_string(digit));
    expectFrame(*pad.buttonArray()[0], {g.leftColumn + 95, g.firstRow + 255, 75, 75}, "key 0");
    expectFrame(*pad.cancelButton(), {g.leftColumn + 190, g.cancelRow, 105, 40}, "cancel");
    expectFrame(*pad.deleteButton(), {g.leftColumn + 190, g.cancelRow, 105, 40}, "delete");
    EXPECT_DOUBLE_EQ(pad.buttonArray()[5]->layer().cornerRadius, 37.5);
    EXPECT_DOUBLE_EQ(pad.digitsArray()[0]->layer().cornerRadius, 7.5);
    EXPECT_FALSE(pad.biometricIDButton()) << "no biometric unlock in use";
    EXPECT_TRUE(pad.digitsTextField() == nullptr);
    // The app's pad is blurred behind, has no Cancel title, and its keys wear the theme.
    EXPECT_EQ(pad.cancelButton()->titleForState(toolkit::kStateNormal), std::nullopt);
    EXPECT_EQ(*pad.backgroundColor(), toolkit::Color::systemBlue());
    EXPECT_EQ(pad.buttonArray()[1]->hightlightedTextColor(), toolkit::Color::systemBlue());
    EXPECT_EQ(pad.buttonArray()[1]->letterLabelFont(), toolkit::Font::system(10, toolkit::FontWeight::ultraLight));
    t.expectOutline(g.golden);
}

struct SmallPhonePad : LockedApp<HX_ConnectAppDelegate_iPhone> {
    SmallPhonePad() : LockedApp(hxtest::DeviceForm::phone4) {}
};
struct SEPhonePad : LockedApp<HX_ConnectAppDelegate_iPhone> {
    SEPhonePad() : LockedApp(hxtest::DeviceForm::phoneSE) {}
};
struct XPhonePad : LockedApp<HX_ConnectAppDelegate_iPhone> {
    XPhonePad() : LockedApp(hxtest::DeviceForm::phoneX) {}
};
struct TabletPad : LockedApp<HX_ConnectAppDelegate_iPad> {
    TabletPad() : LockedApp(hxtest::DeviceForm::tablet) {}
};

}  // namespace

// 480 high: title at ceil(21) = 21, first row 21 + 40.5 + 30 + 23 + 10, Cancel 45 below the
// last row; the left column is 160 - 132.5 + 0.5.
TEST_F(SmallPhonePad, LaysOutByTheSmallScreensRules) {
    checkGeometry(*this, {hxtest::DeviceForm::phone4, "pad_320x480", 21, 124.5, 28, 124.5 + 255 + 45});
}

// 568 high: title at 65, rows 15 below the detail line, Cancel 60 above the bottom.
TEST_F(SEPhonePad, LaysOutWithCancelAboveTheBottom) {
    checkGeometry(*this, {hxtest::DeviceForm::phoneSE, "pad_320x568", 65, 173.5, 28, 508});
}

// 812 high: title at 187, left column 187.5 - 132.5 + 0.5.
TEST_F(XPhonePad, LaysOutOnTheTallPhone) {
    checkGeometry(*this, {hxtest::DeviceForm::phoneX, "pad_375x812", 187, 295.5, 55.5, 752});
}

// The tablet keeps a 320 x 568 area at title 80, centred in the form sheet, Cancel 17.5 below the
// last row's top.
TEST_F(TabletPad, KeepsThePhoneLayoutCentred) {
    checkGeometry(*this, {hxtest::DeviceForm::tablet, "pad_tablet", 80, 188.5, 28, 188.5 + 255 + 17.5});
    EXPECT_EQ(pad()->modalPresentationStyle, toolkit::ModalPresentationStyle::FormSheet);
}

TEST_F(PhonePad, TypingTheRightPinUnlocksAndAWrongOneShakesWithoutLimit) {
    launchLocked();
    ASSERT_TRUE(pad());
    EXPECT_TRUE(app->lockShown);
    EXPECT_TRUE(app->tabBarController()->view()->viewWithTag(997)) << "the app is blurred behind the pad";
    auto& view = padView();
    // Two digits: two dots filled, Delete in Cancel's place; a delete takes one back.
    typePin("12");
    EXPECT_TRUE(view.digitsArray()[1]->isSelected());
    EXPECT_EQ(view.deleteButton()->alpha(), 1);
    EXPECT_EQ(view.cancelButton()->alpha(), 0);
    harness.tap(*view.deleteButton());
    harness.tap(*view.deleteButton());
    harness.settle();
    EXPECT_EQ(pad()->currentPin(), "");
    EXPECT_EQ(view.cancelButton()->alpha(), 1);
    // Wrong PINs, many times: a shake, a vibration, no attempts text, still locked.
    toolkit::SystemSounds::shared().reset();
    for (int attempt = 1; attempt <= 6; ++attempt) {
        toolkit::Animations::clearLog();
        typePin("9999");
        EXPECT_EQ(pad()->totalAttempts(), attempt);
        EXPECT_EQ(view.detailLabel()->text(), "");
        EXPECT_FALSE(view.digitsArray()[3]->isSelected());
    }
    EXPECT_EQ(toolkit::SystemSounds::shared().plays().size(), 6u);
    harness.advance(1);
    for (auto& dot : view.digitsArray()) EXPECT_TRUE(dot->transform().isIdentity()) << "the shake ends in place";
    EXPECT_TRUE(app->lockShown);
    // The hardware keyboard types too; the fourth digit unlocks at once.
    ASSERT_TRUE(pad()->becomeFirstResponder());
    for (const char* key : {"1", "2", "3"}) ASSERT_TRUE(harness.pressKey(key));
    typePin("4");
    harness.advance(1);
    EXPECT_FALSE(app->lockShown);
    EXPECT_FALSE(pad());
    EXPECT_FALSE(app->tabBarController()->view()->viewWithTag(997)) << "the blur is gone";
}

TEST_F(PhonePad, SetupAsksTwiceAndAMismatchStartsOver) {
    ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
    struct Delegate : HXCPadLockScreenSetupViewControllerDelegate {
        std::vector<std::string> pins;
        int cancels = 0;
        void pinSet(const std::string& pin, HXCPinSetup&) override { pins.push_back(pin); }
        void unlockWasCancelled(HXCPinEntry&) override { ++cancels; }
    };
    auto delegate = std::make_shared<Delegate>();
    auto setup = std::make_shared<HXCPadLockScreenSetupViewController>(delegate, false, "Choose one");
    harness.window().rootViewController()->present(setup, false);
    harness.settle();
    auto& view = *setup->lockScreenView();
    EXPECT_EQ(view.detailLabel()->text(), "Choose one");
    auto type = [&](const std::string& pin) {
        for (char c : pin) harness.tap(*view.buttonArray()[c - '0']);
        harness.settle();
    };
    type("1234");  // the fourth digit ends the first entry at once
    EXPECT_EQ(setup->enteredPin(), std::optional<std::string>("1234"));
    EXPECT_EQ(view.detailLabel()->text(), "Re-enter your new pincode");
    type("4321");
    EXPECT_EQ(view.detailLabel()->text(), "Pincodes did not match.");
    EXPECT_EQ(setup->enteredPin(), std::nullopt);
    type("2468");
    type("2468");
    EXPECT_EQ(delegate->pins, std::vector<std::string>{"2468"});
    // Return does nothing on a simple pad; Escape cancels.
    ASSERT_TRUE(setup->becomeFirstResponder());
    EXPECT_FALSE(setup->pinEntry().handleKey("\r"));
    EXPECT_TRUE(harness.pressKey(toolkit::kInputEscape));
    EXPECT_EQ(delegate->cancels, 1);
}

TEST_F(PhonePad, LooksThemedInLightAndDark) {
    launchLocked();
    ASSERT_TRUE(pad());
    typePin("12");
    harness.settle();
    expectSnapshot("pad", {.lightAndDark = true});
}
