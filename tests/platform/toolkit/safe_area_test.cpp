// Safe areas of nested views, with and without a transform on the way to the window, and of a
// pushed screen that hides the tab bar.
#include <gtest/gtest.h>

#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;

// Safe areas are worked out in one walk down from the window when no view on the way carries a
// transform, and through the transforms otherwise; both must agree with the hand-worked insets.
TEST(ToolkitSafeArea, NestedViewsInheritTheWindowsAndTheirAncestorsInsets) {
    // 375 x 812 with 44 above and 34 below. A at (0, 20, 375, 400) with 10 extra on top holds B
    // at (10, 0, 100, 50); C sits at the bottom.
    struct Case {
        const char* name;
        bool shiftA;  // A carries a 10-point downward translation
        EdgeInsets a, b, c;
    };
    const std::vector<Case> cases = {
        {"plain", false, {24, 0, 0, 0}, {34, 0, 0, 0}, {0, 0, 34, 0}},
        // A now covers 30-430: 14 under the top area; B at 30-80 sees A's safe top 54.
        {"translated", true, {14, 0, 0, 0}, {24, 0, 0, 0}, {0, 0, 34, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(ScreenProfile::iPhoneX(), 15);
        auto root = std::make_shared<ViewController>();
        h.setRoot(root);
        auto a = std::make_shared<View>(Rect(0, 20, 375, 400));
        auto b = std::make_shared<View>(Rect(10, 0, 100, 50));
        auto below = std::make_shared<View>(Rect(0, 700, 375, 112));
        a->setAdditionalSafeAreaInsets({10, 0, 0, 0});
        if (c.shiftA) a->setTransform(AffineTransform::translation(0, 10));
        a->addSubview(b);
        root->view()->addSubview(a);
        root->view()->addSubview(below);
        h.settle();
        EXPECT_EQ(a->safeAreaInsets(), (EdgeInsets{c.a.top + 10, 0, 0, 0})) << "its own extra 10 included";
        EXPECT_EQ(b->safeAreaInsets(), c.b);
        EXPECT_EQ(below->safeAreaInsets(), c.c);
        // Outside every safe area: none at all.
        b->setFrame(Rect(10, -100, 100, 50));
        EXPECT_EQ(b->safeAreaInsets(), EdgeInsets{});
    }
}

// A screen pushed with hidesBottomBarWhenPushed has the tab bar go while it is on the stack: its
// view reaches the bottom edge and its safe area keeps only the home indicator's inset. The bar
// comes back when it is popped, for screens that do not ask, for another tab, and a root screen
// that sets the flag keeps it (it was never pushed).
TEST(ToolkitSafeArea, APushedScreenThatHidesTheBottomBarTakesItsRoom) {
    Harness h(ScreenProfile::iPhoneX(), 15);
    auto root = std::make_shared<ViewController>();
    root->hidesBottomBarWhenPushed = true;
    auto nav = std::make_shared<NavigationController>(root);
    auto other = std::make_shared<ViewController>();
    auto tabs = std::make_shared<TabBarController>();
    tabs->setViewControllers({nav, other});
    h.setRoot(tabs);
    h.settle();
    const double home = 34, bar = TabBar::kHeight;
    auto barShown = [&] { return !tabs->tabBar().isHidden(); };
    EXPECT_TRUE(barShown()) << "a root that sets the flag was not pushed";
    EXPECT_EQ(root->view()->safeAreaInsets().bottom, bar + home);

    auto plain = std::make_shared<ViewController>();
    nav->pushViewController(plain, true);
    h.settle();
    EXPECT_TRUE(barShown());
    EXPECT_EQ(plain->view()->safeAreaInsets().bottom, bar + home);

    double bottomWhenAppearing = -1;
    struct Hiding : ViewController {
        double* seen = nullptr;
        void viewWillAppear(bool) override { *seen = view()->safeAreaInsets().bottom; }
    };
    auto hiding = std::make_shared<Hiding>();
    hiding->seen = &bottomWhenAppearing;
    hiding->hidesBottomBarWhenPushed = true;
    nav->pushViewController(hiding, true);
    h.settle();
    EXPECT_FALSE(barShown());
    EXPECT_EQ(hiding->view()->safeAreaInsets().bottom, home);
    EXPECT_EQ(hiding->view()->convertRectTo(hiding->view()->bounds(), nullptr).maxY(), 812);
    EXPECT_EQ(bottomWhenAppearing, home) << "the screen appears in the room it will have";
    // A screen pushed above it keeps the bar away: the one that asked is still on the stack.
    auto above = std::make_shared<ViewController>();
    nav->pushViewController(above, false);
    h.settle();
    EXPECT_FALSE(barShown());
    EXPECT_EQ(above->view()->safeAreaInsets().bottom, home);
    nav->popViewController(false);
    h.settle();

    tabs->setSelectedIndex(1);
    h.settle();
    EXPECT_TRUE(barShown()) << "the other tab's stack hides nothing";
    EXPECT_EQ(other->view()->safeAreaInsets().bottom, bar + home);
    tabs->setSelectedIndex(0);
    h.settle();
    EXPECT_FALSE(barShown());

    nav->popViewController(true);
    h.settle();
    EXPECT_TRUE(barShown());
    EXPECT_EQ(plain->view()->safeAreaInsets().bottom, bar + home);
}
