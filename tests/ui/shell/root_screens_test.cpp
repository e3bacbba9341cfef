// The list views' roots come from the screen library: the lists' common screen stands at views 1
// to 3 of the phone, made by its maker with the lists' role, and the shell reaches each view's
// list through it.
#include <gtest/gtest.h>

#include "app/connect_app_delegate_iphone.h"
#include "app/views.h"
#include "service/message_list_model.h"
#include "tests/support/screen_fixture.h"
#include "ui/messages/vc_messages.h"
#include "ui/shell/ui_screens.h"

namespace {

struct RootScreens : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    RootScreens() : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .signedIn = true, .fonts = true}) {}
};

TEST_F(RootScreens, TheListViewsShowTheListsScreenAndTheShellReachesTheirModels) {
    ASSERT_TRUE(launch());
    harness.settle();
    for (int view : {1, 2, 3}) {
        auto screen = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(view));
        ASSERT_TRUE(screen) << view;
        EXPECT_EQ(screen->title(), kHXViews[view].title);
        // The lists' role makes the model on its first use, of the view's type; list replies go
        // to it from then on.
        EXPECT_FALSE(screen->model()) << view;
        auto list = app->messageListForViewIndex(view);
        ASSERT_TRUE(screen->model()) << view;
        EXPECT_EQ(list, screen->model());
        EXPECT_EQ(screen->model()->viewType(), view);
        EXPECT_EQ(app->messageListForViewIndex(view), list);
    }
    // The other views keep their placeholders, which hold no list.
    for (int view : {0, 4}) {
        EXPECT_EQ(app->viewControllerForIndex(view)->className(), kHXViews[view].screen);
        EXPECT_FALSE(app->messageListForViewIndex(view));
    }
    app->selectViewForIndex(2);
    harness.settle();
    EXPECT_TRUE(app->messageListIsShowing());
    expectOutline("voicemail_list_root");
    expectSnapshot("voicemail_list_root", {.scale = 1});
}

}  // namespace
