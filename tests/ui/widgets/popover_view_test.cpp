// The popover: where its body and arrow go (a table worked out by hand from the placement rules),
// its string lists at both sides of the semantic-colour branch, touches through the harness on
// the virtual clock (items, between items, outside, long presses, a rotation), the indicator and
// error states, the lists it refuses or completes, and its pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"
#include "ui/widgets/hxc_popover_view.h"

using toolkit::Color;
using toolkit::Point;
using toolkit::Rect;
using toolkit::Size;

namespace {

struct Placed {
    const char* what;
    Point point;
    Rect safe;
    Size content;
    Rect box;
    Point arrow;
    int direction;
};

struct Recorder : HXCPopoverViewDelegate {
    bool holds = true;
    std::vector<std::string> events;
    void popoverViewDidSelectItemAtIndex(HXCPopoverView&, long index) override {
        events.push_back("select " + std::to_string(index));
    }
    bool respondsToLongPress() const override { return holds; }
    void popoverViewLongPressForItemAtIndex(HXCPopoverView&, long index) override {
        events.push_back("hold " + std::to_string(index));
    }
    void popoverViewDidDismiss(HXCPopoverView&) override { events.push_back("dismissed"); }
};

class Screen : public toolkit::ViewController {
public:
    void viewDidLoad() override { view()->setBackgroundColor(Color::systemBackground()); }
};

const std::vector<std::string> kTitles = {"Call", "Archive", "Mark as read", "Delete"};

struct Popovers : ::testing::Test {
    std::unique_ptr<toolkit::testing::Harness> harness;
    std::shared_ptr<Screen> screen = std::make_shared<Screen>();
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<HXCPopoverView> popover;

    void start(int systemVersion = 15, toolkit::ScreenProfile profile = toolkit::ScreenProfile::iPhone8()) {
        harness.reset();
        harness = std::make_unique<toolkit::testing::Harness>(profile, systemVersion);
        toolkit::Animations::setTimed(true);
        harness->setRoot(screen);
        harness->settle();
    }
    void show(const std::vector<std::string>& titles = kTitles, Point at = {120, 150}) {
        popover = HXCPopoverView::showPopoverWithStrings(at, *screen->view(), titles, recorder);
        ASSERT_TRUE(popover);
        harness->advance(0.5);
        ASSERT_TRUE(popover->isShown());
    }
    // Timed animations: the popover's appearing, closing and pictures take their time on the clock.
    void SetUp() override { toolkit::Animations::setTimed(true); }
    void TearDown() override {
        if (popover) popover->dismiss(false);
        toolkit::Animations::setTimed(false);
    }
    toolkit::Button& item(size_t i) { return dynamic_cast<toolkit::Button&>(*popover->subviewsArray().at(i)); }
    Point centreOf(toolkit::View& v) { return v.convertPointTo({v.bounds().midX(), v.bounds().midY()}, nullptr); }
    toolkit::View* top() { return screen->view().get(); }
};

}  // namespace

TEST(PopoverPlacement, BodyAndArrowForEachDirectionTheClampsAndTheFallback) {
    const Rect phone(0, 0, 375, 667), short_(0, 0, 375, 500), small(0, 0, 320, 460);
    const Placed cases[] = {
        {"room below", {200, 100}, phone, {100, 80}, {140, 112, 120, 100}, {200, 100}, 0},
        {"near the bottom: above", {200, 600}, phone, {100, 80}, {140, 488, 120, 100}, {200, 600}, 1},
        {"no room above or below, room right", {50, 250}, short_, {100, 300}, {62, 90, 120, 320}, {50, 250}, 2},
        {"the body clamped to the right edge, room left",
         {330, 250},
         short_,
         {100, 300},
         {198, 90, 120, 320},
         {330, 250},
         3},
        {"no room anywhere: against the right edge", {187, 250}, short_, {300, 300}, {55, 90, 320, 320}, {43, 250}, 2},
        {"beside, the body moved up to the clamped arrow",
         {50, 20},
         short_,
         {100, 480},
         {62, 15, 120, 500},
         {50, 31},
         2},
        {"clamped from the top left corner", {5, 5}, small, {40, 20}, {10, 43, 60, 40}, {31, 31}, 0},
        {"clamped from the bottom right corner", {320, 460}, small, {40, 20}, {250, 377, 60, 40}, {289, 429}, 1},
        // A safe area that starts right of the screen's edge: the right clamp counts from its
        // width, not its right edge.
        {"a left inset", {750, 100}, Rect(44, 0, 724, 354), {40, 20}, {663, 112, 60, 40}, {693, 100}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto placed = hxcPopoverPlacement(c.point, c.safe, c.content);
        EXPECT_EQ(placed.box, c.box) << toolkit::describe(placed.box);
        EXPECT_EQ(placed.arrow, c.arrow) << toolkit::describe(placed.arrow);
        EXPECT_EQ(placed.direction, c.direction);
    }
}

TEST_F(Popovers, AStringListIsOneColumnOfEqualButtonsWithDeleteInRed) {
    for (int version : {15, 12}) {
        SCOPED_TRACE(version);
        start(version);
        show();
        ASSERT_EQ(popover->subviewsArray().size(), 4u);
        const double widest = item(2).frame().width();  // "Mark as read"
        double y = 0;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(item(i).frame().width(), widest) << i;
            EXPECT_EQ(item(i).frame().minY(), y) << i;
            y += item(i).frame().height() + HXCPopoverView::kSpacing;
        }
        const bool modern = version >= 13;
        EXPECT_EQ(item(3).titleColorForState(toolkit::kStateNormal), modern ? Color::systemRed() : Color::red());
        EXPECT_EQ(item(0).titleColorForState(toolkit::kStateNormal),
                  modern ? Color::systemBlue() : HXCPopoverView::itemColor());
        EXPECT_EQ(item(0).titleColorForState(toolkit::kStateHighlighted), modern ? Color::label() : Color::black());
        // A divider under every item but the last, halfway into the spacing.
        ASSERT_EQ(popover->dividerRects().size(), 3u);
        EXPECT_EQ(popover->dividerRects()[0], Rect(0, std::floor(item(0).frame().height() + 5), widest, 0.5));
        // Below the point, the content inside the body's margin, the screen's tint dimmed.
        EXPECT_EQ(popover->arrowDirection(), 0);
        EXPECT_EQ(popover->contentView()->frame().origin,
                  (Point{popover->boxFrame().minX() + 10, popover->boxFrame().minY() + 10}));
        EXPECT_EQ(popover->boxFrame().minY(), 150 + HXCPopoverView::kArrow);
        EXPECT_EQ(top()->tintAdjustmentMode(), toolkit::TintAdjustmentMode::Dimmed);
        popover->dismiss(false);
        screen = std::make_shared<Screen>();
    }
}

TEST_F(Popovers, OnScreenTheBodyGoesWhereThePlacementSaysForEachPoint) {
    start(15, toolkit::ScreenProfile::iPhoneX());
    const Rect safe = [&] {
        Rect s = top()->safeAreaLayoutFrame();
        s.origin.y = 0;
        return s;
    }();
    struct Case {
        Point point;
        int direction;
    };
    // Near the top, near the bottom, and with a long list that fits neither above nor below a
    // point in the middle: beside it, on the side with room.
    for (const Case& c : {Case{{120, 150}, 0}, Case{{200, 740}, 1}, Case{{3, 3}, 0}}) {
        SCOPED_TRACE(toolkit::describe(c.point));
        show(kTitles, c.point);
        const auto expected = hxcPopoverPlacement(c.point, safe, popover->contentView()->frame().size);
        EXPECT_EQ(popover->arrowDirection(), c.direction);
        EXPECT_EQ(popover->boxFrame(), expected.box);
        EXPECT_EQ(popover->arrowPoint(), expected.arrow);
        popover->dismiss(false);
    }
    std::vector<std::string> many(16, "Item");
    for (const Case& c : {Case{{60, 400}, 2}, Case{{320, 400}, 3}}) {
        SCOPED_TRACE(toolkit::describe(c.point));
        show(many, c.point);
        EXPECT_EQ(popover->arrowDirection(), c.direction);
        const Rect box = popover->boxFrame();
        EXPECT_EQ(c.direction == 2 ? box.minX() : box.maxX(), c.point.x + (c.direction == 2 ? 12 : -12));
        popover->dismiss(false);
    }
}

TEST_F(Popovers, TouchesChooseItemsAndOutsideDismisses) {
    start();
    show();
    harness->tap(centreOf(item(1)));
    harness->advance(0.5);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"select 1"}));
    EXPECT_TRUE(popover->superview()) << "a choice leaves the popover up for its delegate";
    // Between two items: inside the content, on no item.
    const Point between = popover->contentView()->convertPointTo(
        {item(0).frame().midX(), item(0).frame().maxY() + HXCPopoverView::kSpacing / 2}, nullptr);
    harness->tap(between);
    harness->advance(0.5);
    EXPECT_EQ(recorder->events.size(), 1u);
    EXPECT_TRUE(popover->superview());
    // Outside: closes with its animation, then tells the delegate.
    harness->tap({10, 600});
    harness->advance(0.2);
    EXPECT_TRUE(popover->superview()) << "still closing";
    harness->advance(0.2);
    EXPECT_FALSE(popover->superview());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"select 1", "dismissed"}));
    EXPECT_EQ(top()->tintAdjustmentMode(), toolkit::TintAdjustmentMode::Automatic);
}

TEST_F(Popovers, AHeldItemReportsTheLongPressAloneAndOnlyToADelegateThatTakesIt) {
    start();
    show();
    harness->longPress(centreOf(item(0)), 0.8);
    harness->advance(0.5);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"hold 0"})) << "lifting the finger chose nothing";
    popover->dismiss(false);

    recorder->events.clear();
    recorder->holds = false;
    show();
    harness->longPress(centreOf(item(2)), 0.8);
    harness->advance(0.5);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"select 2"}));
    for (const auto& r : popover->gestureRecognizers())
        EXPECT_FALSE(dynamic_cast<toolkit::LongPressGestureRecognizer*>(r.get()));
}

TEST_F(Popovers, ARotationCloses) {
    start();
    show();
    harness->rotate(toolkit::Orientation::LandscapeLeft);
    harness->advance(0.5);
    EXPECT_FALSE(popover->superview());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"dismissed"}));
}

TEST_F(Popovers, IndicatorAndErrorReplaceTheItems) {
    start();
    show();
    popover->showActivityIndicatorWithMessage("Working");
    harness->advance(0.3);
    ASSERT_TRUE(popover->activityIndicator());
    EXPECT_TRUE(popover->activityIndicator()->isAnimating());
    EXPECT_FALSE(popover->showDividerRects());
    for (const auto& v : popover->subviewsArray()) EXPECT_EQ(v->alpha(), 0);
    auto indicator = popover->activityIndicator();
    popover->hideActivityIndicatorWithMessage("Done");
    harness->advance(0.3);
    EXPECT_FALSE(indicator->superview());
    EXPECT_FALSE(popover->activityIndicator());
    for (const auto& v : popover->subviewsArray()) EXPECT_EQ(v->alpha(), 0) << "the items stay hidden";

    popover->dismiss(false);
    show();
    popover->showError();
    const Rect content = popover->contentView()->bounds();
    toolkit::ImageView* picture = nullptr;
    for (const auto& v : popover->contentView()->subviews())
        if (auto* image = dynamic_cast<toolkit::ImageView*>(v.get())) picture = image;
    ASSERT_TRUE(picture);
    // It shows only after 0.1 s, growing in over another 0.1 s.
    harness->advance(0.05);
    EXPECT_EQ(toolkit::presentedAlpha(*picture), 0);
    harness->advance(0.3);
    EXPECT_EQ(toolkit::presentedAlpha(*picture), 1);
    EXPECT_EQ(picture->frame(), Rect(content.midX() - 20, content.midY() - 20, 40, 40));
    EXPECT_FALSE(popover->showDividerRects());
}

TEST_F(Popovers, EmptyListsShowNothingAndMissingImagesLeaveTheirTextAlone) {
    start();
    const size_t before = top()->subviews().size();
    EXPECT_FALSE(HXCPopoverView::showPopoverWithStrings({50, 50}, *screen->view(), {}, recorder));
    EXPECT_FALSE(HXCPopoverView::showPopoverWithViews({50, 50}, *screen->view(), {}, recorder));
    EXPECT_FALSE(
        HXCPopoverView::showPopoverWithTitleStringsImages({50, 50}, *screen->view(), "Title", {}, {}, recorder));
    EXPECT_EQ(top()->subviews().size(), before);

    auto image = graphics::imageNamed("success");
    ASSERT_TRUE(image);
    popover = HXCPopoverView::showPopoverWithStringsImages({100, 100}, *screen->view(), {"One", "Two", "Three"},
                                                           {image}, recorder);
    ASSERT_TRUE(popover);
    ASSERT_EQ(popover->subviewsArray().size(), 3u);
    const double label = popover->subviewsArray()[1]->frame().height() - 6;
    EXPECT_GT(label, 0);
    EXPECT_EQ(popover->subviewsArray()[0]->frame().height(), image->size().height + label + 6);
    EXPECT_EQ(popover->subviewsArray()[2]->frame().height(), label + 6);
    EXPECT_EQ(popover->subviewsArray()[0]->subviews().size(), 2u);
    EXPECT_EQ(popover->subviewsArray()[2]->subviews().size(), 1u);
}

TEST_F(Popovers, ATitleSitsAboveTheItemsAndTextWrapsToTheScreen) {
    start();
    popover = HXCPopoverView::showPopoverWithTitleStrings({100, 100}, *screen->view(), "Options", {"A", "B"}, recorder);
    ASSERT_TRUE(popover && popover->titleView());
    const double titleHeight = popover->titleView()->frame().height();
    EXPECT_EQ(popover->subviewsArray()[0]->frame().minY(), titleHeight + 20);
    EXPECT_EQ(popover->titleView()->frame().minY(), 0);
    // Under a title the buttons keep their own sizes, centred, in the item colour.
    auto& a = dynamic_cast<toolkit::Button&>(*popover->subviewsArray()[0]);
    EXPECT_EQ(a.frame().size,
              toolkit::textMeasurer().measure("A", HXCPopoverView::itemFont(), 0, 1, toolkit::LineBreakMode::clip));
    EXPECT_EQ(a.titleColorForState(toolkit::kStateNormal), HXCPopoverView::itemColor());
    popover->dismiss(false);

    const std::string text(400, 'x');
    popover = HXCPopoverView::showPopoverWithText({100, 100}, *screen->view(), text, recorder);
    ASSERT_TRUE(popover);
    const auto& label = *popover->subviewsArray().at(0);
    EXPECT_LE(label.frame().width(), HXCPopoverView::screenSize().width - 40);
    EXPECT_GT(label.frame().height(), 2 * toolkit::textMeasurer().lineHeight(HXCPopoverView::itemFont()));
}

TEST_F(Popovers, TheTabletsItemsAreLarger) {
    start(15, toolkit::ScreenProfile::iPad());
    EXPECT_EQ(HXCPopoverView::itemFont().pointSize(), 18);
    show();
    EXPECT_EQ(item(0).titleLabel()->font().pointSize(), 18);
    popover->dismiss(false);
    start(15, toolkit::ScreenProfile::iPhone8());
    EXPECT_EQ(HXCPopoverView::itemFont().pointSize(), 16);
}

TEST_F(Popovers, PictureOfTheOptionsInLightAndDark) {
    hxtest::UsingFonts fonts;
    start();
    show({"Call", "Archive", "Mark as read", "Forward as Email", "Block Contact", "Mark as Spam", "Delete"},
         {180, 140});
    hxtest::expectOutline(*harness, "popover");
    hxtest::expectSnapshotInLightAndDark(
        "popover",
        [&](toolkit::InterfaceStyle style) {
            harness->setInterfaceStyle(style);
            return &harness->window();
        },
        2);
}

// The body's edge shows against the shadow around it, on screens dark (black) and grey (the
// grouped rows' colour) alike, in both appearances: a shadow as light as the body would leave a
// blur with no edge.
TEST_F(Popovers, TheBodysEdgeStandsOutFromItsShadowInLightAndDark) {
    struct Case {
        toolkit::ScreenProfile profile;
        Color behind;
    } cases[] = {{toolkit::ScreenProfile::iPad(), Color::systemBackground()},
                 {toolkit::ScreenProfile::iPad(), Color::tertiarySystemGroupedBackground()},
                 {toolkit::ScreenProfile::iPhone8(), Color::systemBackground()}};
    for (const auto& c : cases) {
        start(15, c.profile);
        screen->view()->setBackgroundColor(c.behind);
        show(kTitles, {200, 150});
        const toolkit::Rect body = popover->boxFrame();
        for (auto style : {toolkit::InterfaceStyle::light, toolkit::InterfaceStyle::dark}) {
            harness->setInterfaceStyle(style);
            harness->settle();
            auto pixels = toolkit::snapshot(harness->window(), 1);
            ASSERT_TRUE(pixels);
            auto grey = [&](double x, double y) {
                const auto p = graphics::Bitmap::unpremultiplied(pixels->row(static_cast<int>(y))[static_cast<int>(x)]);
                return (p[0] + p[1] + p[2]) / 3.0;
            };
            // Across the left edge and the bottom edge, two points inside and two outside.
            const double left = std::abs(grey(body.minX() + 2, body.midY()) - grey(body.minX() - 2, body.midY()));
            const double bottom = std::abs(grey(body.midX(), body.maxY() - 2) - grey(body.midX(), body.maxY() + 2));
            const char* name = style == toolkit::InterfaceStyle::dark ? "dark" : "light";
            EXPECT_GE(left, 8) << name << " " << c.profile.name;
            EXPECT_GE(bottom, 8) << name << " " << c.profile.name;
        }
        popover->dismiss(false);
        popover.reset();
    }
}

TEST_F(Popovers, PictureBeforeSemanticColours) {
    hxtest::UsingFonts fonts;
    start(12);
    show({"Call", "Archive", "Delete"}, {300, 560});  // near the bottom: the body above the point
    EXPECT_EQ(popover->arrowDirection(), 1);
    hxtest::expectSnapshot(*top(), "popover_12", 2);
}
