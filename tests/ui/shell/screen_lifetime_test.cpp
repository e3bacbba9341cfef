// Screens keep the application object's roles weakly: a screen the window keeps after the
// application object has gone finds nothing to call and does nothing, whatever its user does.
#include <gtest/gtest.h>

#include "app/connect_app_delegate_ipad.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/test_support.h"
#include "ui/help/vc_help.h"
#include "ui/shell/split_view_master.h"
#include "ui/shell/ui_screens.h"

namespace {

TEST(ScreenLifetime, TheMasterListAndItsHelpOutliveTheApplicationObjectWithoutReachingIt) {
    hxtest::TempDir home;
    hxtest::useAppHome(home.path());
    toolkit::testing::Harness harness(hxtest::profileOf(hxtest::DeviceForm::tablet));
    auto app = std::make_shared<HX_ConnectAppDelegate_iPad>();
    app->setScreens(std::make_shared<HXUIScreens>());
    app->setWindow(&harness.window());
    app->setupInterface();
    harness.settle();
    auto master = std::dynamic_pointer_cast<VC_SplitView_Master>(app->masterList());
    ASSERT_TRUE(master);
    const auto roles = app->screenRoles();
    auto help = std::dynamic_pointer_cast<VC_Help>(HXUIScreens().makeHelp(roles));
    ASSERT_TRUE(help);
    (void)help->view();
    const auto split = app->splitViewController();
    const auto detail = split->viewControllers().back();

    std::weak_ptr<HX_ConnectAppDelegate> gone = app;
    app.reset();
    ASSERT_TRUE(gone.expired());
    // Every action of the list, by key command, bar button or row, finds no role to call.
    for (int view = 1; view <= 4; ++view) master->selectRow(view);
    master->refreshTable();
    master->showCallPopup();
    master->showSMSPopup();
    master->enterSearch();
    master->refreshMessages();
    EXPECT_EQ(master->keyCommands().size(), 7u) << "the digits, call, new message and accounts; no list";
    harness.settle();
    EXPECT_EQ(split->viewControllers().back(), detail) << "no detail was shown";
    EXPECT_EQ(master->presentedViewController(), nullptr) << "no dial pad without the split view";
    // The help page places no call and tells no form.
    help->viewWillTransitionToSize({1024, 768}, nullptr);
    harness.settle();
}

}  // namespace
