// The text controls' look, pinned by goldens in light and dark, plus pixel checks that do not
// depend on a golden: what must show and what must never show.
#include <gtest/gtest.h>

#include "platform/toolkit/bars.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using toolkit_snapshots::UsingFonts;

namespace {

std::shared_ptr<TextField> field(Rect frame, TextBorderStyle style, std::string text, std::string placeholder = {}) {
    auto f = std::make_shared<TextField>(frame);
    f->setBorderStyle(style);
    f->setText(std::move(text));
    f->setPlaceholder(std::move(placeholder));
    f->setTextColor(Color::label());
    return f;
}

std::shared_ptr<View> screen() {
    auto panel = View::make(Rect(0, 0, 240, 300));
    panel->setBackgroundColor(Color::systemBackground());
    panel->addSubview(field(Rect(10, 10, 220, 34), TextBorderStyle::RoundedRect, "", "Phone number"));
    panel->addSubview(field(Rect(10, 52, 220, 34), TextBorderStyle::RoundedRect, "secret", "Password"));
    std::static_pointer_cast<TextField>(panel->subviews().back())->setSecureTextEntry(true);
    auto centred = field(Rect(10, 94, 105, 30), TextBorderStyle::Line, "Centre");
    centred->setTextAlignment(TextAlignment::center);
    panel->addSubview(centred);
    auto right = field(Rect(125, 94, 105, 30), TextBorderStyle::Bezel, "Right");
    right->setTextAlignment(TextAlignment::right);
    panel->addSubview(right);
    auto plain = field(Rect(10, 130, 220, 24), TextBorderStyle::None, "A plain field whose text is too long to fit");
    plain->setFont(Font::system(13));
    panel->addSubview(plain);
    auto search = std::make_shared<SearchBar>();
    search->setFrame(Rect(0, 158, 240, SearchBar::kHeight));
    panel->addSubview(search);
    auto text = std::make_shared<TextView>();
    text->setFrame(Rect(10, 220, 220, 70));
    text->setText("A text view wraps its words inside its insets.\nSecond paragraph.\nThird.\nFourth.");
    text->setTextColor(Color::label());
    text->setFont(Font::system(13));
    text->layer().borderWidth = 1;
    text->layer().borderColor = Color::separator();
    panel->addSubview(text);
    return panel;
}

// A white panel the size of the view, holding it, in the window.
std::shared_ptr<View> onWhiteKeepingFrame(Window& window, const std::shared_ptr<View>& view) {
    auto panel = View::make(Rect(Point{}, view->frame().size));
    panel->setBackgroundColor(Color::whiteColor());
    panel->addSubview(view);
    window.addSubview(panel);
    return panel;
}

bool anyDarkerThan(const graphics::Bitmap& b, int x0, int y0, int x1, int y1, int level) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const auto p = b.rgbaAt(x, y);
            if (p[3] > 0 && p[0] < level && p[1] < level && p[2] < level) return true;
        }
    }
    return false;
}

}  // namespace

TEST(TextControlsRender, GoldensInLightAndDarkAt2x) {
    toolkit_snapshots::expectGoldensInLightAndDarkAt2x(screen, "text_controls");
}

TEST(TextControlsRender, TextShowsAndPlaceholderGivesWayToIt) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    auto f = field(Rect(0, 0, 200, 40), TextBorderStyle::None, "", "Name");
    f->setTextColor(Color::black());
    auto panel = onWhiteKeepingFrame(window, f);
    // The placeholder is drawn grey, never black.
    auto withPlaceholder = snapshot(*panel, 1);
    ASSERT_TRUE(withPlaceholder);
    EXPECT_FALSE(anyDarkerThan(*withPlaceholder, 0, 0, 200, 40, 60));
    EXPECT_TRUE(anyDarkerThan(*withPlaceholder, 0, 0, 60, 40, 230));
    // Typed text is drawn in the text colour, centred down the field, and the placeholder goes.
    f->setText("Ada");
    auto withText = snapshot(*panel, 1);
    ASSERT_TRUE(withText);
    EXPECT_TRUE(anyDarkerThan(*withText, 0, 10, 40, 30, 60));
    EXPECT_FALSE(anyDarkerThan(*withText, 0, 0, 200, 8, 230));
    EXPECT_FALSE(anyDarkerThan(*withText, 0, 32, 200, 40, 230));
    EXPECT_FALSE(anyDarkerThan(*withText, 60, 0, 200, 40, 230));
}

TEST(TextControlsRender, SecureEntryNeverDrawsItsText) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    auto make = [&](bool secure, const std::string& text) {
        auto f = field(Rect(0, 0, 200, 40), TextBorderStyle::None, text);
        f->setTextColor(Color::black());
        f->setSecureTextEntry(secure);
        auto panel = onWhiteKeepingFrame(window, f);
        auto pixels = snapshot(*panel, 1);
        panel->removeFromSuperview();
        return pixels;
    };
    // Two secrets of the same length look the same: only their length shows.
    auto a = make(true, "hunter2"), b = make(true, "WMWMWMW"), shown = make(false, "hunter2");
    ASSERT_TRUE(a && b && shown);
    EXPECT_TRUE(anyDarkerThan(*a, 0, 0, 200, 40, 60));
    int differing = 0, fromShown = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 200; ++x) {
            differing += a->rgbaAt(x, y) != b->rgbaAt(x, y);
            fromShown += a->rgbaAt(x, y) != shown->rgbaAt(x, y);
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(fromShown, 20);
}

TEST(TextControlsRender, TextViewScrollsWithItsBoundsOrigin) {
    UsingFonts fonts;
    Window window(ScreenProfile::iPhone8());
    auto text = std::make_shared<TextView>();
    text->setFrame(Rect(0, 0, 200, 60));
    text->setText("First\nSecond\nThird\nFourth\nFifth\nSixth");
    auto panel = onWhiteKeepingFrame(window, text);
    auto top = snapshot(*panel, 1);
    ASSERT_TRUE(top);
    // The first line starts below the top inset.
    EXPECT_FALSE(anyDarkerThan(*top, 0, 0, 200, 7, 200));
    EXPECT_TRUE(anyDarkerThan(*top, 0, 8, 200, 24, 120));
    // Scrolled past the text, nothing is left to draw.
    text->setBounds(Rect(0, 400, 200, 60));
    auto scrolled = snapshot(*panel, 1);
    ASSERT_TRUE(scrolled);
    EXPECT_FALSE(anyDarkerThan(*scrolled, 0, 0, 200, 60, 200));
}

namespace {

struct PopoverScreen {
    toolkit::testing::Harness harness{ScreenProfile::iPad(), 15};
    std::shared_ptr<ViewController> presenter = std::make_shared<ViewController>();
    std::shared_ptr<ViewController> shown = std::make_shared<ViewController>();

    explicit PopoverScreen(InterfaceStyle style) {
        harness.window().setInterfaceStyle(style);
        harness.setRoot(presenter);
        presenter->view()->setBackgroundColor(Color::systemGray());
        shown->modalPresentationStyle = ModalPresentationStyle::Popover;
        shown->setPreferredContentSize({200, 120});
        shown->popoverPresentationController()->sourceView = presenter->view();
        shown->popoverPresentationController()->sourceRect = Rect(100, 100, 40, 40);
        shown->view()->setBackgroundColor(Color::red());
        presenter->present(shown, false);
        harness.settle();
    }
    Rect frame() const { return shown->view()->frame(); }
};

}  // namespace

TEST(TextControlsRender, PopoverFrameInLightAndDarkAt2x) {
    for (InterfaceStyle style : {InterfaceStyle::light, InterfaceStyle::dark}) {
        PopoverScreen s(style);
        auto pixels = snapshot(s.harness.window(), 2);
        ASSERT_TRUE(pixels);
        hxtest::expectSnapshot(*pixels,
                               std::string("popover_2x_") + (style == InterfaceStyle::dark ? "dark" : "light"));
    }
}

TEST(TextControlsRender, PopoverArrowPointsAtItsAnchorAndItsViewIsRounded) {
    PopoverScreen s(InterfaceStyle::light);
    const Rect f = s.frame();
    ASSERT_EQ(s.shown->popoverPresentationController()->arrowDirection(), kArrowUp);
    auto pixels = snapshot(s.harness.window(), 1);
    ASSERT_TRUE(pixels);
    auto px = [&](double x, double y) { return pixels->rgbaAt(static_cast<int>(x), static_cast<int>(y)); };
    const auto white = std::array<uint8_t, 4>{255, 255, 255, 255};
    const auto red = std::array<uint8_t, 4>{255, 0, 0, 255};
    // The arrow fills the gap under the anchor's middle, white against the grey behind.
    EXPECT_EQ(px(120, f.minY() - 3), white);
    EXPECT_NE(px(f.maxX() - 20, f.minY() - 3), white);
    // The view inside keeps its colour, but not in its rounded-off corners.
    EXPECT_EQ(px(f.midX(), f.midY()), red);
    EXPECT_NE(px(f.minX(), f.minY())[1], 0);
    EXPECT_NE(px(f.maxX() - 1, f.maxY() - 1)[1], 0);
}
