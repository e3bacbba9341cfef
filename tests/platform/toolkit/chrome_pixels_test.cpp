// What the toolkit's own chrome shows, read from its pixels in light and dark: the navigation
// bar's material hides text passing below it, every key of the keyboard carries a readable label,
// and a pull shows the refresh control's spinner and title instead of an empty gap.
#include <gtest/gtest.h>

#include "platform/graphics/text_layout.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "tests/platform/toolkit/snapshot_support.h"
#include "tests/support/pixels.h"

using namespace toolkit;
using toolkit::testing::Harness;
using toolkit_snapshots::UsingFonts;

namespace {

constexpr double kScale = 2;
const InterfaceStyle kStyles[] = {InterfaceStyle::light, InterfaceStyle::dark};
const char* name(InterfaceStyle s) { return s == InterfaceStyle::dark ? "dark" : "light"; }

std::shared_ptr<graphics::Bitmap> pixels(Harness& h) {
    h.settle();
    return snapshot(h.window(), kScale);
}

// A plain screen in the system background, in the appearance given.
std::shared_ptr<ViewController> plainScreen(Harness& h, InterfaceStyle style) {
    h.setInterfaceStyle(style);
    auto root = std::make_shared<ViewController>();
    root->view()->setBackgroundColor(Color::systemBackground());
    return root;
}

}  // namespace

TEST(ChromePixels, TextBelowTheNavigationBarDoesNotShowThroughIt) {
    UsingFonts fonts;
    for (InterfaceStyle style : kStyles) {
        Harness h;
        auto root = plainScreen(h, style);
        auto nav = std::make_shared<NavigationController>(root);
        h.setRoot(nav);
        h.settle();
        ASSERT_TRUE(nav->navigationBar().isTranslucent());
        const Rect bar = nav->navigationBar().frame();
        // A search bar's placeholder scrolled up under the bar, as a list keeps it.
        auto hidden = std::make_shared<Label>(Rect(10, bar.minY() + 4, 300, bar.height() - 8));
        hidden->setText("Search SMS/Voicemail/History");
        hidden->setFont(Font::boldSystem(24));
        hidden->setTextColor(Color::label());
        root->view()->addSubview(hidden);
        auto p = pixels(h);
        // The bar's own colour at a point the text does not reach.
        const auto chrome = hxtest::pixelAt(*p, {2, bar.maxY() - 3}, kScale);
        const auto ink = hxtest::inkIn(*p, Rect(0, bar.minY() + 1, bar.width(), bar.height() - 2), kScale, chrome, 0);
        EXPECT_LE(ink.farthest, 5) << name(style) << ": the text below shows through the bar";
        // Below the bar the same text is plain to see.
        hidden->setFrame(Rect(10, bar.maxY() + 10, 300, bar.height() - 8));
        p = pixels(h);
        const auto page = hxtest::pixelAt(*p, {2, bar.maxY() + 12}, kScale);
        EXPECT_GT(hxtest::inkIn(*p, hidden->frame(), kScale, page).contrast, 10) << name(style);
    }
}

TEST(ChromePixels, EveryKeyOfTheKeyboardShowsItsLabel) {
    UsingFonts fonts;
    for (InterfaceStyle style : kStyles) {
        Harness h;
        auto root = plainScreen(h, style);
        auto field = std::make_shared<TextField>(Rect(20, 100, 280, 30));
        root->view()->addSubview(field);
        h.setRoot(root);
        ASSERT_TRUE(field->becomeFirstResponder());
        auto keyboard = Keyboard::shared().view();
        ASSERT_TRUE(keyboard);
        auto p = pixels(h);
        const auto caps = keyboard->keyCaps();
        ASSERT_EQ(caps.size(), 31u) << "26 letters, shift, delete, numbers, space and return";
        std::string labels;
        for (const auto& cap : caps) labels += cap.label;
        EXPECT_EQ(labels, std::string("qwertyuiopasdfghjkl") + KeyboardView::kShiftLabel + KeyboardView::kDeleteLabel +
                              "zxcvbnm" + KeyboardView::kNumbersLabel + KeyboardView::kSpaceLabel +
                              KeyboardView::kReturnLabel);
        EXPECT_EQ(graphics::missingGlyphCount(graphics::AttributedString(labels, {})), 0)
            << "every label has a glyph in the bundled faces";
        for (const auto& cap : caps) {
            const Rect key = keyboard->convertRectTo(cap.frame, &h.window());
            // The key's own colour beside its label.
            const auto face = hxtest::pixelAt(*p, {key.minX() + 2, key.midY()}, kScale);
            const auto ink = hxtest::inkIn(*p, key.insetBy(3, 3), kScale, face);
            EXPECT_GE(ink.count, 20) << name(style) << ": key \"" << cap.label << "\" is blank";
            EXPECT_GE(ink.contrast, 4.5) << name(style) << ": key \"" << cap.label << "\" is hard to read";
        }
        field->resignFirstResponder();
        h.settle();
    }
}

TEST(ChromePixels, APullShowsTheRefreshControlsSpinnerAndTitle) {
    UsingFonts fonts;
    struct Case {
        const char* title;
        double pull;  // how far the content is held below its resting place; 0: refreshing
        bool spinner;
    };
    const Case cases[] = {
        {"Pull down to Refresh…", 70, true},
        {"Last Updated: Nov 14, 2023, 10:13 PM", 22, false},  // a short pull shows the title first
        {"Refreshing data…", 0, true},
    };
    for (InterfaceStyle style : kStyles) {
        for (const auto& c : cases) {
            Harness h;
            auto root = plainScreen(h, style);
            auto scroll = std::make_shared<ScrollView>(Rect(0, 100, 320, 300));
            scroll->setContentSize({320, 1000});
            scroll->setClipsToBounds(true);
            root->view()->addSubview(scroll);
            auto refresh = std::make_shared<RefreshControl>();
            refresh->attributedTitle = c.title;
            scroll->setRefreshControl(refresh);
            h.setRoot(root);
            h.settle();
            if (c.pull > 0) {
                scroll->setContentOffset({0, scroll->minimumContentOffset().y - c.pull});
            } else {
                refresh->beginRefreshing();
                scroll->setContentOffset(scroll->minimumContentOffset());
            }
            auto p = pixels(h);
            const double shown = c.pull > 0 ? std::min(c.pull, RefreshControl::kHeight) : RefreshControl::kHeight;
            const Rect strip(0, 100, 320, shown);
            const auto background = hxtest::pixelAt(*p, {2, strip.maxY() - 2}, kScale);
            const std::string what = std::string(name(style)) + ", " + c.title;
            // The title right above the content, the spinner over it about the middle.
            const auto title = hxtest::inkIn(*p, Rect(16, strip.maxY() - 22, 288, 22), kScale, background);
            EXPECT_GE(title.count, 100) << what << ": no title";
            EXPECT_GE(title.contrast, 4.5) << what;
            if (c.spinner) {
                const auto spinner = hxtest::inkIn(*p, Rect(148, strip.minY(), 24, shown - 22), kScale, background);
                EXPECT_GE(spinner.count, 60) << what << ": no spinner";
            }
        }
    }
    // At rest and idle the control stays out of sight.
    Harness h;
    auto root = std::make_shared<ViewController>();
    root->view()->setBackgroundColor(Color::systemBackground());
    auto scroll = std::make_shared<ScrollView>(Rect(0, 100, 320, 300));
    scroll->setContentSize({320, 1000});
    scroll->setClipsToBounds(false);
    root->view()->addSubview(scroll);
    auto refresh = std::make_shared<RefreshControl>();
    refresh->attributedTitle = "Pull down to Refresh…";
    scroll->setRefreshControl(refresh);
    h.setRoot(root);
    auto p = pixels(h);
    const auto background = hxtest::pixelAt(*p, {2, 50}, kScale);
    EXPECT_EQ(hxtest::inkIn(*p, Rect(0, 40, 320, 60), kScale, background, 8).count, 0)
        << "an idle control above content at rest is not drawn";
}

// A dark popover whose own background is as dark as the screen around it (the dial pad's) still
// shows its edge and its arrow.
TEST(ChromePixels, ADarkPopoverShowsItsEdgeAndArrowOnADarkScreen) {
    Harness h(ScreenProfile::iPad(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    h.setInterfaceStyle(InterfaceStyle::dark);
    root->view()->setBackgroundColor(Color::black());
    auto content = std::make_shared<ViewController>();
    content->view()->setBackgroundColor(std::nullopt);
    content->setPreferredContentSize({320, 300});
    content->modalPresentationStyle = ModalPresentationStyle::Popover;
    auto* popover = content->popoverPresentationController();
    popover->backgroundColor = Color::groupTableViewBackground().withAlphaComponent(0.6);
    popover->sourceView = root->view();
    popover->sourceRect = Rect(300, 100, 40, 40);
    popover->permittedArrowDirections = kArrowUp;
    root->present(content, false);
    auto p = pixels(h);
    const Rect f = content->view()->frame();
    const auto screen = hxtest::pixelAt(*p, {f.minX() - 40, f.midY()}, kScale);
    // Just outside each side of the body, and on the arrow's slope above its top edge.
    for (const Rect edge : {Rect(f.minX() - 1.5, f.midY() - 20, 2, 40), Rect(f.maxX() - 0.5, f.midY() - 20, 2, 40),
                            Rect(f.midX() - 20, f.maxY() - 0.5, 40, 2), Rect(f.minX() + 40, f.minY() - 1.5, 40, 2),
                            Rect(popover->anchorInWindow().midX() - 9, f.minY() - 8, 4, 4)}) {
        const auto ink = hxtest::inkIn(*p, edge, kScale, screen, 30);
        EXPECT_GT(ink.count, 0) << "no edge at " << edge.minX() << "," << edge.minY();
    }
}

// A form sheet on a wide screen dims what is behind it, casts a shadow and has round corners; a
// card on a phone rounds its top corners and pushes what presented it back on black.
TEST(ChromePixels, SheetsDimWhatIsBehindCastAShadowAndHaveRoundCorners) {
    for (InterfaceStyle style : kStyles) {
        for (bool tablet : {true, false}) {
            Harness h(tablet ? ScreenProfile::iPad() : ScreenProfile::iPhone8(), 15);
            h.setInterfaceStyle(style);
            auto root = std::make_shared<ViewController>();
            h.setRoot(root);
            root->view()->setBackgroundColor(Color::whiteColor());
            auto sheet = std::make_shared<ViewController>();
            sheet->view()->setBackgroundColor(Color::rgb(0, 0.5, 0));
            sheet->modalPresentationStyle = ModalPresentationStyle::FormSheet;
            root->present(sheet, false);
            auto p = pixels(h);
            const Rect f = sheet->view()->frame();
            const std::string what = std::string(name(style)) + (tablet ? ", tablet" : ", phone");
            // The sheet's green at its middle; its top corners are cut away.
            EXPECT_GT(hxtest::pixelAt(*p, {f.midX(), f.midY()}, kScale)[1], 100) << what;
            for (const Point corner : {Point{f.minX() + 0.5, f.minY() + 0.5}, Point{f.maxX() - 1, f.minY() + 0.5}})
                EXPECT_LT(hxtest::pixelAt(*p, corner, kScale)[1] - hxtest::pixelAt(*p, corner, kScale)[0], 40)
                    << what << ": a square corner";
            if (!tablet) {
                // Above the card the white screen is pushed back: black beside its narrowed, dimmed
                // strip and behind the status bar, whose ink is then light.
                const double statusBar = h.window().profile().statusBarHeight;
                const double strip = (statusBar + f.minY()) / 2;
                for (const Point black : {Point{2, strip}, Point{f.maxX() - 3, strip}, Point{f.midX(), 1}})
                    EXPECT_LT(hxtest::pixelAt(*p, black, kScale)[0], 30) << what << ": no black at " << black.x;
                const auto presenter = hxtest::pixelAt(*p, {f.midX(), strip}, kScale)[0];
                EXPECT_GT(presenter, 100) << what << ": the pushed-back presenter";
                EXPECT_LT(presenter, 200) << what << ": the presenter is dimmed";
                int light = 0;
                for (double x = 0; x < f.width(); x += 0.5)
                    for (double y = 0; y < statusBar; y += 0.5) light += hxtest::pixelAt(*p, {x, y}, kScale)[0] > 200;
                EXPECT_GT(light, 50) << what << ": the status bar's ink";
                continue;
            }
            // Far from the sheet the white screen is dimmed; close to it the shadow darkens it more.
            const auto far = hxtest::pixelAt(*p, {20, f.midY()}, kScale);
            const auto near = hxtest::pixelAt(*p, {f.minX() - 3, f.midY()}, kScale);
            EXPECT_LT(far[0], 200) << what << ": the screen behind is not dimmed";
            EXPECT_LT(near[0] + 5, far[0]) << what << ": no shadow beside the sheet";
        }
    }
}
