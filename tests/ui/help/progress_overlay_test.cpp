// The loading overlay as the shell shows it: made by the screen library, put over the top of the
// window's presentations, replaced by a second request and taken away again.
#include <gtest/gtest.h>

#include <thread>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"
#include "ui/help/vc_progress.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/default_contact_image.h"

namespace {

class ProgressOverlay : public hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>> {
protected:
    ProgressOverlay() : ScreenFixture({.fonts = true}) {}
    void SetUp() override {
        ScreenFixture::SetUp();
        app->setupInterface();
        harness.settle();
    }
    std::vector<toolkit::View*> overlayViews() {
        std::vector<toolkit::View*> found;
        for (auto* label : harness.findAll("ActivityIndicatorView")) found.push_back(label);
        return found;
    }
};

TEST_F(ProgressOverlay, TheShellShowsTheScreenLibrarysOverlayOverTheWindowAndRemovesIt) {
    app->setScreens(std::make_shared<HXUIScreens>());
    app->showLoadingOverlay("Loading settings\u2026");
    harness.settle();
    EXPECT_EQ(app->shell().count("showLoadingOverlay Loading settings\u2026"), 1u);
    EXPECT_TRUE(app->loadingOverlayShown());
    auto overlay = std::dynamic_pointer_cast<VC_Progress>(app->loadingController());
    ASSERT_NE(overlay, nullptr);
    auto root = harness.window().rootViewController()->view();
    EXPECT_EQ(overlay->view()->superview(), root.get());
    EXPECT_EQ(overlay->view()->frame(), root->bounds());
    EXPECT_EQ(overlay->statusText()->text(), "Loading settings\u2026");
    EXPECT_TRUE(overlay->activityView()->isAnimating());
    // It covers the tabs: a tap on the tab bar reaches the overlay, not the bar.
    auto* bar = harness.findAll("TabBar").at(0);
    const toolkit::Rect inWindow = bar->convertRectTo(bar->bounds(), nullptr);
    EXPECT_EQ(harness.window().hitTest({inWindow.midX(), inWindow.midY()}, nullptr), overlay->view().get());

    expectOutline("progress_overlay");
    expectSnapshot("progress_overlay", {.scale = 1});

    // A second request replaces the overlay rather than stacking a second one.
    app->showLoadingOverlay("Authenticating\u2026");
    harness.settle();
    EXPECT_EQ(overlayViews().size(), 1u);
    EXPECT_NE(harness.find("Authenticating\u2026"), nullptr);
    EXPECT_EQ(harness.find("Loading settings\u2026"), nullptr);

    app->removeLoadingOverlay();
    harness.settle();
    EXPECT_EQ(app->shell().count("removeLoadingOverlay"), 1u);
    EXPECT_FALSE(app->loadingOverlayShown());
    EXPECT_EQ(app->loadingController(), nullptr);
    EXPECT_TRUE(overlayViews().empty());
}

TEST_F(ProgressOverlay, APresentedScreenIsCoveredAndWithoutAMakerOnlyTheRequestIsNoted) {
    app->setScreens(std::make_shared<HXUIScreens>());
    auto panel = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
    harness.window().rootViewController()->present(panel, false);
    harness.settle();
    app->showLoadingOverlay("Loading settings\u2026");
    harness.settle();
    ASSERT_NE(app->loadingController(), nullptr);
    EXPECT_EQ(app->loadingController()->view()->superview(), panel->view().get());

    // A memory warning while it is up does not orphan it: removal still takes it away. The
    // shared default contact picture is let go, and made anew when next asked for.
    const auto picture = defaultContactImage();
    ASSERT_TRUE(picture);
    app->applicationDidReceiveMemoryWarning();
    EXPECT_NE(app->loadingController(), nullptr);
    const auto again = defaultContactImage();
    ASSERT_TRUE(again);
    EXPECT_NE(again, picture);
    app->removeLoadingOverlay();
    harness.settle();
    EXPECT_TRUE(overlayViews().empty());

    // The shell's own tests run without the screen library: the request is recorded, nothing shown.
    app->setScreens(nullptr);
    app->showLoadingOverlay("Loading settings\u2026");
    harness.settle();
    EXPECT_EQ(app->loadingController(), nullptr);
    EXPECT_TRUE(app->loadingOverlayShown());
    EXPECT_TRUE(overlayViews().empty());
    EXPECT_EQ(app->shell().count("showLoadingOverlay"), 2u);
}

TEST_F(ProgressOverlay, RequestsFromAReplyQueueAreCarriedOutOnTheMainThreadInTheOrderTheyMatter) {
    app->setScreens(std::make_shared<HXUIScreens>());
    // Asked from another thread, the overlay appears once the main loop runs.
    std::thread([&] { app->showLoadingOverlay("Authenticating\u2026"); }).join();
    EXPECT_EQ(app->loadingController(), nullptr);
    harness.settle();
    ASSERT_NE(app->loadingController(), nullptr);
    EXPECT_NE(harness.find("Authenticating\u2026"), nullptr);

    // A removal from the reply queue, overtaken by a new overlay on the main thread, leaves
    // the new one up.
    std::thread([&] { app->removeLoadingOverlay(); }).join();
    app->showLoadingOverlay("Loading settings\u2026");
    harness.settle();
    EXPECT_NE(harness.find("Loading settings\u2026"), nullptr);
    EXPECT_EQ(overlayViews().size(), 1u);

    // And a showing on its way when the main thread removes the overlay stays away.
    std::thread([&] { app->showLoadingOverlay("Authenticating\u2026"); }).join();
    app->removeLoadingOverlay();
    harness.settle();
    EXPECT_TRUE(overlayViews().empty());
    EXPECT_EQ(app->loadingController(), nullptr);
}

// "Loading settings…" after a sign-in covers the settings screen, not the tabs below it.
TEST_F(ProgressOverlay, LoadingSettingsLeavesTheTabsFree) {
    app->setScreens(std::make_shared<HXUIScreens>());
    app->selectViewForIndex(4);
    harness.settle();
    app->closeLoginPanel();
    harness.settle();
    ASSERT_NE(harness.find("Loading settings\u2026"), nullptr);
    auto settings = app->tabBarController()->viewControllers().at(4)->view();
    EXPECT_EQ(app->loadingController()->view()->superview(), settings.get());
    auto* bar = harness.findAll("TabBar").at(0);
    const toolkit::Rect inWindow = bar->convertRectTo(bar->bounds(), nullptr);
    auto* hit = harness.window().hitTest({inWindow.midX(), inWindow.midY()}, nullptr);
    EXPECT_TRUE(hit && hit->isDescendantOf(bar)) << "a tap on the tabs reaches them";
}

struct TabletOverlay : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
    TabletOverlay()
        : ScreenFixture(
              {.form = hxtest::DeviceForm::tablet, .screens = std::make_shared<HXUIScreens>(), .signedIn = true}) {}
};

// A sign-in on the tablet shows "Authenticating…" only over what the master list presents: with
// nothing presented (the split view collapsed or not) the app stays free, and closing the panel
// leaves nothing behind.
TEST_F(TabletOverlay, AuthenticatingNeverStaysOverTheAppAfterThePanel) {
    ASSERT_TRUE(launch());
    harness.settle();
    for (const bool collapsed : {true, false}) {
        SCOPED_TRACE(collapsed ? "collapsed" : "both columns");
        harness.window().setProfile(collapsed ? toolkit::ScreenProfile::iPhone8()
                                              : toolkit::ScreenProfile::iPadLandscape());
        harness.settle();
        ASSERT_EQ(app->isSplitViewCollapsed(), collapsed);
        app->account()->setAuthV2("session");
        app->login();
        harness.settle();
        auto* panel = app->splitViewController()->presentedViewController();
        ASSERT_NE(panel, nullptr) << "the sign-in panel";
        EXPECT_EQ(harness.find("Authenticating\u2026"), nullptr);
        // Cancelled: the panel goes, and nothing covers the app.
        app->splitViewController()->dismiss(false);
        harness.settle();
        EXPECT_EQ(harness.find("Authenticating\u2026"), nullptr);
        EXPECT_EQ(app->loadingController(), nullptr);
    }
}

}  // namespace
