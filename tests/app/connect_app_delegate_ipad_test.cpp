// The tablet form without the screen library: the launch, the split view's set-up, routing to the
// detail column, the badges and the collapse at compact width. The master list itself is tested
// with the screens in tests/ui/shell.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/hxc_passcode_lock.h"
#include "emulator/emulator.h"
#include "emulator/ingestion_service.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/security/keychain.h"
#include "platform/services/device.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/headless_run.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Dictionary;

struct Tablet : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
    Tablet() : ScreenFixture({.form = hxtest::DeviceForm::tablet}) {}
    std::shared_ptr<foundation::UserDefaults> prefs() { return foundation::UserDefaults::standardUserDefaults(); }
    void launch() {
        ASSERT_TRUE(app->applicationDidFinishLaunchingWithOptions());
        harness.settle();
    }
    toolkit::ViewController* detail() { return app->splitViewController()->viewControllers().back().get(); }
};

TEST_F(Tablet, LaunchBuildsTheSplitViewInTheSameSteps) {
    // The tablet runs the phone's launch sequence (whose order its own tests hold to); only the
    // interface it builds differs.
    std::vector<std::string> phoneSteps;
    {
        toolkit::Window phoneWindow(toolkit::ScreenProfile::iPhone8());
        auto phone = std::make_shared<HX_ConnectAppDelegate_iPhone>();
        phone->setWindow(&phoneWindow);
        ASSERT_TRUE(phone->applicationDidFinishLaunchingWithOptions());
        harness.clock().runUntilIdle();
        phoneSteps = phone->launchSteps();
        EXPECT_FALSE(phone->iPad());
        EXPECT_FALSE(graphics::HXCFont::iPad());
        // Its requests are never answered here: end them so that their connections go with it.
        phone->cancelRequests([](const std::string&) { return true; });
    }
    foundation::UserDefaults::resetStandardUserDefaults();
    services::resetDeviceServices();
    launch();
    EXPECT_EQ(app->launchSteps(), phoneSteps);
    EXPECT_EQ(app->launchSteps().size(), 24u);
    // The message fonts follow the form: 15 % larger on the tablet.
    EXPECT_TRUE(graphics::HXCFont::iPad());
    EXPECT_TRUE(app->iPad());

    auto split = app->splitViewController();
    EXPECT_EQ(harness.window().rootViewController(), split);
    EXPECT_EQ(split->preferredDisplayMode, toolkit::SplitDisplayMode::AllVisible);
    EXPECT_FALSE(split->presentsWithGesture);
    EXPECT_DOUBLE_EQ(split->primaryColumnWidth(), 258.0);
    // The master column is exactly 258 points wide; the detail fills the rest.
    auto& master = *split->viewControllers().front();
    EXPECT_DOUBLE_EQ(master.view()->frame().width(), 258.0);
    EXPECT_DOUBLE_EQ(detail()->view()->frame().minX(), 258.0);
    EXPECT_DOUBLE_EQ(detail()->view()->frame().width(), 768.0 - 258.0);
    auto* masterNav = dynamic_cast<toolkit::NavigationController*>(&master);
    ASSERT_TRUE(masterNav);
    EXPECT_EQ(masterNav->viewControllers().front()->className(), "VC_SplitView_Master");
    EXPECT_FALSE(app->masterList()) << "no screen library: a placeholder";

    // One navigation controller per view, made once, around the view's root screen.
    const char* screens[] = {"VC_Call", "VC_SMS", "VC_VM", "VC_History", "VC_Settings"};
    const char* titles[] = {"Call", "SMS", "Voicemail", "History", "Settings"};
    for (int type = 0; type < 5; ++type) {
        auto nav = app->viewControllerForViewType(type);
        ASSERT_TRUE(nav) << type;
        EXPECT_EQ(app->viewControllerForViewType(type), nav) << "kept, not made again";
        EXPECT_EQ(nav->viewControllers().front(), app->viewControllerForIndex(type));
        EXPECT_EQ(app->viewControllerForIndex(type)->className(), screens[type]);
        EXPECT_EQ(app->viewControllerForIndex(type)->title(), titles[type]);
    }
    EXPECT_EQ(app->viewControllerForViewType(0)->preferredContentSize(), (toolkit::Size{320, 411}));
    for (int type : {-1, 5}) {
        EXPECT_FALSE(app->viewControllerForViewType(type));
        EXPECT_FALSE(app->viewControllerForIndex(type));
    }

    // A fresh installation shows settings, without the passcode.
    EXPECT_EQ(app->currentViewIndex(), 4);
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get());
    EXPECT_FALSE(HXCPasscodeLock::sharedLock().passcodeRequired());
}

TEST_F(Tablet, AStoredDialPadIsReplacedBySettingsAtLaunch) {
    storeAccount("ann@example.test");
    prefs()->setInteger(0, "tabBarIndex");
    launch();
    EXPECT_EQ(prefs()->integerForKey("tabBarIndex"), 4);
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get());
}

TEST_F(Tablet, AStoredListIsShownAtLaunch) {
    storeAccount("ann@example.test");
    prefs()->setInteger(3, "tabBarIndex");
    launch();
    EXPECT_EQ(app->currentViewIndex(), 3);
    EXPECT_EQ(detail(), app->viewControllerForViewType(3).get());
}

TEST_F(Tablet, CurrentViewIsTheStoredOneOnlyForTheFourRows) {
    const std::pair<int64_t, int> cases[] = {{0, 4}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 4}, {-1, 4}, {99, 4}};
    for (auto [stored, current] : cases) {
        prefs()->setInteger(stored, "tabBarIndex");
        EXPECT_EQ(app->currentViewIndex(), current) << stored;
    }
}

TEST_F(Tablet, RoutingShowsEachDetailOnceAndIgnoresIndexesWithoutARow) {
    launch();
    app->selectViewForIndex(2);
    EXPECT_EQ(detail(), app->viewControllerForViewType(2).get());
    EXPECT_TRUE(app->isDetailShown(2));
    EXPECT_FALSE(app->isDetailShown(4));
    // The view chosen in code is the current one, as a tapped one is.
    EXPECT_EQ(prefs()->integerForKey("tabBarIndex"), 2);
    EXPECT_EQ(app->currentViewIndex(), 2);

    // The dial pad has no row, and other indexes have no view: nothing changes.
    for (int index : {0, -1, 5, 1000}) {
        app->selectViewForIndex(index);
        EXPECT_EQ(detail(), app->viewControllerForViewType(2).get()) << index;
        EXPECT_EQ(prefs()->integerForKey("tabBarIndex"), 2) << index;
    }
    app->selectViewForIndex(1);
    EXPECT_EQ(detail(), app->viewControllerForViewType(1).get());
    EXPECT_EQ(app->splitViewController()->viewControllers().size(), 2u);
}

TEST_F(Tablet, BadgesOnlyForTextsAndVoicemail) {
    launch();
    struct Case {
        int64_t badgeType;
        long expected;
    } cases[] = {{0, 5}, {1, 2}, {2, 7}, {3, 0}, {-1, 0}};
    for (const auto& c : cases) {
        prefs()->setInteger(c.badgeType, "badgeType");
        app->setUnreadCount(5, 1);
        app->setUnreadCount(2, 2);
        harness.settle();
        EXPECT_EQ(services::AppBadge::shared().badgeNumber(), c.expected) << c.badgeType;
    }
    EXPECT_EQ(app->unreadSMSCount(), 5);
    EXPECT_EQ(app->unreadVMCount(), 2);

    // Other views have no badge: nothing changes, not even the icon.
    prefs()->setInteger(2, "badgeType");
    app->setUnreadCount(5, 1);
    harness.settle();
    const int updates = services::AppBadge::shared().updates();
    for (int index : {0, 3, 4, -1}) {
        app->setUnreadCount(9, index);
        harness.settle();
    }
    EXPECT_EQ(services::AppBadge::shared().updates(), updates);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 7);

    // A count from another thread lands on the main thread; a negative count reads as none.
    std::thread([this] { app->setUnreadCount(-3, 2); }).join();
    harness.settle();
    EXPECT_EQ(app->unreadVMCount(), 0);
    EXPECT_EQ(services::AppBadge::shared().badgeNumber(), 5);
}

TEST_F(Tablet, CollapsesAtCompactWidthAndExpandsAgain) {
    storeAccount("ann@example.test");
    prefs()->setInteger(1, "tabBarIndex");
    launch();
    EXPECT_FALSE(app->isSplitViewCollapsed());
    auto sms = app->viewControllerForViewType(1);

    harness.window().setProfile(toolkit::ScreenProfile::iPhone8());
    harness.settle();
    EXPECT_TRUE(app->isSplitViewCollapsed());
    // Collapsed, the master column's navigation shows the detail on top of the list.
    auto* masterNav =
        dynamic_cast<toolkit::NavigationController*>(app->splitViewController()->viewControllers().front().get());
    ASSERT_TRUE(masterNav);
    EXPECT_EQ(masterNav->viewControllers().back(), sms);

    harness.window().setProfile(toolkit::ScreenProfile::iPadLandscape());
    harness.settle();
    EXPECT_FALSE(app->isSplitViewCollapsed());
    EXPECT_EQ(detail(), sms.get());
    EXPECT_DOUBLE_EQ(sms->view()->frame().minX(), 258.0);
    EXPECT_DOUBLE_EQ(sms->view()->frame().width(), 1024.0 - 258.0);
}

TEST_F(Tablet, WithoutScreensThePopoversAndTheSignInPanelAreRecorded) {
    launch();
    // The dial pad of an entry point closes what the master list presents, then opens as its
    // popover (recorded without the list).
    auto shown = std::make_shared<toolkit::ViewController>();
    app->presentMailController(shown);
    harness.settle();
    app->showDialPad();
    harness.settle();
    EXPECT_FALSE(app->splitViewController()->presentedViewController());
    EXPECT_EQ(app->shell().count("showCallPopup"), 1u);
    EXPECT_EQ(detail(), app->viewControllerForViewType(4).get()) << "the detail stays";

    // The sign-in panel is asked for once while it would be up (the launch without an account
    // asked already), and again after it closed.
    EXPECT_EQ(app->shell().count("displayLogin"), 1u);
    app->displayLogin();
    EXPECT_EQ(app->shell().count("displayLogin"), 1u);
    app->closeLoginPanel();
    app->shell().clear();
    app->displayLogin();
    app->displayLogin();
    EXPECT_EQ(app->shell().count("displayLogin"), 1u);
    app->closeLoginPanel();
    app->displayLogin();
    EXPECT_EQ(app->shell().count("displayLogin"), 2u);
}

TEST_F(Tablet, MailComposerIsAFormSheetAndAMemoryWarningDropsThePopoverCache) {
    launch();
    auto composer = std::make_shared<toolkit::ViewController>();
    app->presentMailController(composer);
    harness.settle();
    EXPECT_EQ(app->splitViewController()->presentedViewController(), composer.get());
    EXPECT_EQ(composer->presentationStyleInUse(), toolkit::ModalPresentationStyle::FormSheet);
    app->dismissPopoverAnimated(false);
    EXPECT_FALSE(app->splitViewController()->presentedViewController());

    Dictionary note;
    note.set("text", foundation::Value("unsaved"));
    app->noteDraft.setPopoverCache(note);
    app->applicationDidReceiveMemoryWarning();
    EXPECT_FALSE(app->noteDraft.popoverCache());
}

TEST(AppProgram, TabletRunShowsTheSplitViewAndTheDialPadPopover) {
    if (!std::filesystem::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    std::string printed;
    EXPECT_EQ(
        hxtest::runCommand("'" + hxtest::connectProgram().string() + "' --headless --device watch 2>&1", &printed), 2);
    EXPECT_NE(printed.find("--device phone|phone-x|tablet"), std::string::npos) << printed;

    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    emulator::IngestionService ingestion;
    hxtest::TempDir home, out;
    // (The program carries its own leak suppressions for the font libraries' process-wide caches.)
    printed.clear();
    const int rc = hxtest::runHeadless(
        home.path(), "--device tablet --service " + service.origin() + " --ingestion " + ingestion.baseURL(),
        out.path(), &printed);
    ASSERT_EQ(rc, 0) << printed;
    // The program complains on its error stream when a step does not come about in time: the
    // sign-in through the panel (which must close when it is done) and the first data included.
    EXPECT_EQ(printed.find("hx_connect:"), std::string::npos) << printed;
    auto read = [&](const std::string& name) {
        std::ifstream file(out / name);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    // The dial pad is a popover over the split view; the lists are its detail column.
    const auto call = read("0-call.txt");
    EXPECT_NE(call.find("<VC_SplitView_Master>"), std::string::npos) << call;
    EXPECT_NE(call.find("<VC_Call \"Call\" presented>"), std::string::npos) << call;
    const char* names[] = {"1-sms", "2-voicemail", "3-history", "4-settings"};
    const char* screens[] = {"<VC_SMS", "<VC_VM", "<VC_History", "<VC_Settings"};
    for (int i = 0; i < 4; ++i) {
        const auto text = read(std::string(names[i]) + ".txt");
        EXPECT_NE(text.find(screens[i]), std::string::npos) << names[i] << "\n" << text;
        EXPECT_EQ(text.find("presented>"), std::string::npos) << names[i] << ": the popover was closed";
    }
    if (!hxtest::haveProgram("/usr/bin/python3")) return;
    // An independent reader opens the picture at the tablet's pixel size.
    std::string size;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                 "print(*Image.open(sys.argv[1]).size)\" '" +
                                     (out / "2-voicemail.png").string() + "'",
                                 &size),
              0);
    EXPECT_EQ(size, "1536 2048\n");
}

}  // namespace
