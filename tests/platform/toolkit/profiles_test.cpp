// Screen profiles and what follows from them (bounds, safe areas, size classes, keyboard frames
// in the notifications, rotation), the rectangle strings those notifications carry, popover
// placement, text sizes under fixed metrics, animation timing and the navigation bar's back
// button, each as a table of cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/notification_center.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

TEST(ToolkitProfiles, BoundsSafeAreasSizeClassesAndKeyboardFrames) {
    struct Case {
        ScreenProfile profile;
        Orientation orientation;
        Rect bounds;
        EdgeInsets safe;
        SizeClass horizontal, vertical;
        Rect keyboard;
    };
    const auto rot = [](ScreenProfile p, Orientation o) { return p.rotatedTo(o); };
    Case cases[] = {
        {ScreenProfile::iPhone4(),
         Orientation::Portrait,
         Rect(0, 0, 320, 480),
         {20, 0, 0, 0},
         SizeClass::Compact,
         SizeClass::Regular,
         Rect(0, 264, 320, 216)},
        {ScreenProfile::iPhoneSE(),
         Orientation::Portrait,
         Rect(0, 0, 320, 568),
         {20, 0, 0, 0},
         SizeClass::Compact,
         SizeClass::Regular,
         Rect(0, 352, 320, 216)},
        {ScreenProfile::iPhone8(),
         Orientation::LandscapeLeft,
         Rect(0, 0, 667, 375),
         {0, 0, 0, 0},
         SizeClass::Compact,
         SizeClass::Compact,
         Rect(0, 213, 667, 162)},
        {ScreenProfile::iPhoneX(),
         Orientation::Portrait,
         Rect(0, 0, 375, 812),
         {44, 0, 34, 0},
         SizeClass::Compact,
         SizeClass::Regular,
         Rect(0, 521, 375, 291)},
        {ScreenProfile::iPhoneX(),
         Orientation::LandscapeRight,
         Rect(0, 0, 812, 375),
         {0, 44, 21, 44},
         SizeClass::Compact,
         SizeClass::Compact,
         Rect(0, 204, 812, 171)},
        {ScreenProfile::iPad(),
         Orientation::Portrait,
         Rect(0, 0, 768, 1024),
         {20, 0, 0, 0},
         SizeClass::Regular,
         SizeClass::Regular,
         Rect(0, 760, 768, 264)},
        {ScreenProfile::iPad(),
         Orientation::LandscapeLeft,
         Rect(0, 0, 1024, 768),
         {20, 0, 0, 0},
         SizeClass::Regular,
         SizeClass::Regular,
         Rect(0, 416, 1024, 352)},
    };
    for (auto& c : cases) {
        ScreenProfile p = rot(c.profile, c.orientation);
        SCOPED_TRACE(p.name + " " + std::to_string(static_cast<int>(c.orientation)));
        EXPECT_EQ(p.bounds(), c.bounds);
        EXPECT_EQ(p.currentSafeArea(), c.safe);
        EXPECT_EQ(p.traits().horizontal, c.horizontal);
        EXPECT_EQ(p.traits().vertical, c.vertical);

        Harness h(p, 15);
        auto root = std::make_shared<ViewController>();
        h.setRoot(root);
        EXPECT_EQ(h.window().bounds(), c.bounds);
        EXPECT_EQ(root->view()->safeAreaInsets(), c.safe);
        auto field = std::make_shared<TextField>(Rect(10, 100, 200, 30));
        root->view()->addSubview(field);
        Log names;
        std::vector<std::optional<Rect>> ends;
        auto& nc = foundation::NotificationCenter::defaultCenter();
        int owner = 0;
        nc.addObserver(&owner, "", [&](const foundation::Notification& n) {
            if (n.name.rfind("UIKeyboard", 0) != 0) return;
            names.push_back(n.name);
            const foundation::Value* end = n.userInfo.find(kKeyboardFrameEndUserInfoKey);
            ends.push_back(end && end->isString() ? rectFromString(end->asString()) : std::nullopt);
        });
        ASSERT_TRUE(h.tap(*field));
        EXPECT_EQ(names, (Log{kKeyboardWillChangeFrameNotification, kKeyboardWillShowNotification,
                              kKeyboardDidChangeFrameNotification, kKeyboardDidShowNotification}));
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.front(), c.keyboard);
        EXPECT_EQ(Keyboard::shared().frame(), c.keyboard);
        names.clear();
        field->resignFirstResponder();
        EXPECT_EQ(names, (Log{kKeyboardWillChangeFrameNotification, kKeyboardWillHideNotification,
                              kKeyboardDidChangeFrameNotification, kKeyboardDidHideNotification}));
        EXPECT_FALSE(Keyboard::shared().isVisible());
        nc.removeObserver(&owner);
    }
}

TEST(ToolkitProfiles, RectangleStringsRoundTripAndRefuseWhatIsNotOne) {
    for (Rect r : {Rect(0, 0, 375, 216), Rect(-1.5, 2.25, 0, 1e6), Rect(0, 451, 375, 216)}) {
        EXPECT_EQ(rectFromString(rectToString(r)), r) << rectToString(r);
    }
    EXPECT_EQ(rectToString(Rect(0, 451, 375, 216)), "{{0, 451}, {375, 216}}");
    for (const char* bad : {"", "{{0, 0}, {1, 1}", "{{0, 0}, {1, 1}}x", "{{nan, 0}, {1, 1}}", "{{0, 0}, {inf, 1}}",
                            "{0, 0, 1, 1}", "{{a, 0}, {1, 1}}", "{{1e999, 0}, {1, 1}}"})
        EXPECT_FALSE(rectFromString(bad)) << bad;
}

TEST(ToolkitPopover, PlacementPrefersBelowThenAboveThenTheSides) {
    struct Case {
        Rect anchor;
        unsigned permitted;
        Size content;
        unsigned arrow;
        Rect frame;
    };
    // A 768 x 1024 window with a 20-point status bar; the popover keeps 10 points clear.
    Case cases[] = {
        {Rect(100, 100, 40, 40), kArrowAny, {320, 480}, kArrowUp, Rect(10, 153, 320, 480)},
        {Rect(600, 900, 40, 40), kArrowAny, {320, 480}, kArrowDown, Rect(438, 407, 320, 480)},
        {Rect(100, 500, 40, 40), kArrowLeft | kArrowRight, {300, 200}, kArrowLeft, Rect(153, 420, 300, 200)},
        {Rect(700, 500, 40, 40), kArrowLeft | kArrowRight, {300, 200}, kArrowRight, Rect(387, 420, 300, 200)},
        {Rect(300, 600, 40, 40), kArrowUp, {320, 480}, kArrowUp, Rect(160, 653, 320, 361)},  // shrunk to fit below
        // No room above: the popover shrinks to nothing right over its arrow.
        {Rect(374, 40, 20, 20), kArrowDown, {200, 100}, kArrowDown, Rect(284, 27, 200, 0)},
    };
    for (auto& c : cases) {
        Harness h(ScreenProfile::iPad(), 15);
        auto root = std::make_shared<ViewController>();
        h.setRoot(root);
        PopoverPresentationController pop;
        pop.sourceView = root->view();
        pop.sourceRect = c.anchor;
        pop.permittedArrowDirections = c.permitted;
        Rect f = pop.layout(c.content, h.window().bounds(), h.window().profile().currentSafeArea());
        SCOPED_TRACE(describe(c.anchor));
        EXPECT_EQ(pop.arrowDirection(), c.arrow);
        EXPECT_EQ(f, c.frame);
    }
}

TEST(ToolkitText, LabelSizesUnderFixedMetrics) {
    struct Case {
        std::string text;
        double fontSize;
        double width;
        int lines;
        LineBreakMode mode;
        Size size;
    };
    // 0.5 em a UTF-16 unit, lines 1.2 em high, rounded up.
    Case cases[] = {
        {"Inbox", 17, 0, 1, LineBreakMode::truncateTail, {43, 21}},
        {"Voicemail from Ann", 10, 0, 1, LineBreakMode::truncateTail, {90, 12}},
        {"one two three four", 10, 50, 0, LineBreakMode::wordWrap, {50, 24}},  // "one two" / "three four"
        {"one two three four", 10, 40, 2, LineBreakMode::wordWrap, {35, 24}},  // "four" is cut
        {"abcdefghij", 10, 20, 0, LineBreakMode::charWrap, {20, 36}},
        {"😀😀", 10, 0, 1, LineBreakMode::truncateTail, {20, 12}},
        {"", 17, 0, 1, LineBreakMode::truncateTail, {0, 0}},
    };
    for (auto& c : cases) {
        Label l;
        l.setFont(Font::system(c.fontSize));
        l.setNumberOfLines(c.lines);
        l.setLineBreakMode(c.mode);
        l.setText(c.text);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(l.sizeThatFits({c.width, 0}), c.size);
    }
    Label attributed;
    attributed.setAttributedText(AttributedString("Starred", TextAttributes{}));
    EXPECT_EQ(attributed.text(), "Starred");
    attributed.setText("Plain");
    EXPECT_FALSE(attributed.attributedText()) << "plain text drops the attributed form";
}

TEST(ToolkitAnimation, CompletionsWaitForTheirTimeOnlyWhenTimed) {
    Harness h(ScreenProfile::iPhone8(), 15);
    Log log;
    auto view = std::make_shared<View>(Rect(0, 0, 10, 10));
    animate(
        0.3, [&] { view->setAlpha(0.5); }, [&](bool finished) { log.push_back(finished ? "a done" : "a cut"); });
    EXPECT_EQ(view->alpha(), 0.5) << "blocks run at once";
    EXPECT_TRUE(log.empty()) << "completions wait for the next turn";
    EXPECT_EQ(Animations::running(), 1);
    h.settle();
    EXPECT_EQ(log, (Log{"a done"}));

    Animations::setTimed(true);
    animate(
        0.3, 0.2, kAnimationCurveEaseIn, [] {}, [&](bool) { log.push_back("b"); });
    animateSpring(
        0.25, 0, 0.8, 0, kAnimationNone, [] {}, [&](bool) { log.push_back("spring"); });
    h.advance(0.26);
    EXPECT_EQ(log.back(), "spring");
    h.advance(0.2);
    EXPECT_EQ(log.back(), "spring") << "0.2 delay + 0.3 not yet over";
    h.advance(0.05);
    EXPECT_EQ(log.back(), "b");
    const auto& records = Animations::log();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 2].delay, 0.2);
    EXPECT_EQ(records[records.size() - 2].options, static_cast<unsigned>(kAnimationCurveEaseIn));
    EXPECT_EQ(records.back().damping, 0.8);
    // Without animation completions run inside the call.
    performWithoutAnimation([&] {
        animate(
            1, [] {}, [&](bool) { log.push_back("now"); });
    });
    EXPECT_EQ(log.back(), "now");
    Animations::setTimed(false);
    EXPECT_EQ(Animations::running(), 0);
}

TEST(ToolkitNavigation, BackButtonTitlesAndBarItems) {
    struct Case {
        std::string previousTitle;
        std::optional<std::string> backTitle;
        BackButtonDisplayMode mode;
        bool hides;
        std::optional<std::string> shown;
    };
    Case cases[] = {
        {"Messages", std::nullopt, BackButtonDisplayMode::Default, false, "Messages"},
        {"", std::nullopt, BackButtonDisplayMode::Default, false, "Back"},
        {"Messages", "3", BackButtonDisplayMode::Default, false, "3"},
        {"Messages", std::nullopt, BackButtonDisplayMode::Generic, false, "Back"},
        {"Messages", "3", BackButtonDisplayMode::Minimal, false, ""},
        {"Messages", std::nullopt, BackButtonDisplayMode::Default, true, std::nullopt},
    };
    for (auto& c : cases) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto first = std::make_shared<ViewController>();
        first->setTitle(c.previousTitle);
        first->navigationItem().backButtonTitle = c.backTitle;
        first->navigationItem().backButtonDisplayMode = c.mode;
        auto nav = std::make_shared<NavigationController>(first);
        h.setRoot(nav);
        auto second = std::make_shared<ViewController>();
        second->setTitle("Ann");
        second->navigationItem().hidesBackButton = c.hides;
        nav->pushViewController(second, false);
        h.settle();
        EXPECT_EQ(nav->navigationBar().backButtonTitle(), c.shown) << c.previousTitle;
        EXPECT_EQ(h.tapBack(), c.shown.has_value());
        EXPECT_EQ(nav->viewControllers().size(), c.shown ? 1u : 2u);
    }
    // Bar items tap through the bar; a disabled one does not.
    Harness h(ScreenProfile::iPhone8(), 15);
    auto top = std::make_shared<ViewController>();
    auto nav = std::make_shared<NavigationController>(top);
    h.setRoot(nav);
    int composed = 0, edits = 0;
    auto compose = BarButtonItem::withSystemItem(SystemItem::Compose, [&](BarButtonItem&) { ++composed; });
    compose->accessibilityLabel = "New message";
    auto edit = BarButtonItem::withSystemItem(SystemItem::Edit, [&](BarButtonItem&) { ++edits; });
    top->navigationItem().setRightBarButtonItem(compose);
    top->navigationItem().setLeftBarButtonItem(edit);
    h.settle();
    EXPECT_TRUE(h.tapBarButton("New message"));
    EXPECT_TRUE(h.tapBarButton("Edit"));
    edit->enabled = false;
    top->navigationItem().setLeftBarButtonItem(edit);
    h.settle();
    EXPECT_FALSE(h.tapBarButton("Edit"));
    EXPECT_EQ(composed, 1);
    EXPECT_EQ(edits, 1);
    Rect f = compose->view()->convertRectTo(compose->view()->bounds(), nullptr);
    EXPECT_EQ(f.maxY(), 64) << "right items sit in the bar below the status bar";
    EXPECT_GT(f.minX(), 375 / 2);
}
