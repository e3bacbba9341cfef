// Safe areas of nested views, with and without a transform on the way to the window.
#include <gtest/gtest.h>

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
