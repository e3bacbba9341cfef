// The bars as drawn: golden pictures of a navigation bar and a tab bar in light and dark, and
// checks that every item is drawn inside the frame that takes its touches.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "platform/graphics/bitmap_compare.h"
#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/renderer_bars.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using toolkit::testing::Harness;

namespace {

using toolkit_snapshots::UsingFonts;

// A short phone, so that the pictures hold little besides the two bars.
ScreenProfile shortPhone() {
    ScreenProfile p = ScreenProfile::iPhoneSE();
    p.name = "iPhone 320x260";
    p.size = {320, 260};
    return p;
}

// Template icons drawn here, so the pictures depend on nothing but the renderer.
ImagePtr icon(int shape) {
    auto b = graphics::Bitmap::make(50, 50).value();
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            const double dx = x - 24.5, dy = y - 24.5;
            const bool in = shape == 0   ? dx * dx + dy * dy < 22 * 22
                            : shape == 1 ? std::abs(dx) < 20 && std::abs(dy) < 16
                                         : std::abs(dx) < (dy + 22) / 2 && dy < 20;
            if (in) b->setRGBA(x, y, 0, 0, 0, 255);
        }
    }
    return Image::fromBitmap(b, 2)->withRenderingMode(RenderingMode::alwaysTemplate);
}

// Tabs of navigation controllers; the second tab shows a conversation pushed over its list, with
// a back button, a title and two items on the right (a system glyph and a text).
struct Scene {
    explicit Scene(const ScreenProfile& profile = shortPhone()) : h(profile) {
        tabs = std::make_shared<TabBarController>();
        std::vector<ViewControllerPtr> children;
        const char* titles[] = {"Calls", "Messages", "Voicemail"};
        for (int i = 0; i < 3; ++i) {
            auto root = std::make_shared<ViewController>();
            root->setTitle(titles[i]);
            root->view()->setBackgroundColor(Color::systemBackground());
            auto nav = std::make_shared<NavigationController>(root);
            nav->tabBarItem().title = titles[i];
            nav->tabBarItem().image = icon(i);
            navs.push_back(nav);
            children.push_back(nav);
        }
        navs[1]->tabBarItem().badgeValue = "3";
        tabs->setViewControllers(children);
        tabs->setSelectedIndex(1);
        h.setRoot(tabs);
        detail = std::make_shared<ViewController>();
        detail->setTitle("Anna");
        detail->view()->setBackgroundColor(Color::systemBackground());
        compose = BarButtonItem::withSystemItem(SystemItem::Compose, [this](BarButtonItem&) { ++composed; });
        edit = BarButtonItem::withTitle("Edit", BarButtonStyle::Plain, [this](BarButtonItem&) { ++edited; });
        detail->navigationItem().setRightBarButtonItems({compose, edit});
        navs[1]->pushViewController(detail, false);
        h.settle();
    }
    NavigationBar& bar() { return navs[1]->navigationBar(); }
    std::shared_ptr<graphics::Bitmap> pixels() {
        h.settle();
        return snapshot(h.window(), 2);
    }

    UsingFonts fonts;
    Harness h;
    std::shared_ptr<TabBarController> tabs;
    std::vector<std::shared_ptr<NavigationController>> navs;
    std::shared_ptr<ViewController> detail;
    BarButtonItemPtr compose, edit;
    int composed = 0, edited = 0;
};

// Where two pictures differ, in window points (pixel centres at scale 2).
struct Ink {
    std::vector<Point> points;
    double amount = 0;  // summed channel differences
    Point centre() const {
        Point c;
        for (const Point& p : points) c = {c.x + p.x, c.y + p.y};
        const double n = static_cast<double>(points.size());
        return {c.x / n, c.y / n};
    }
};

Ink difference(const graphics::Bitmap& a, const graphics::Bitmap& b) {
    Ink ink;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const auto p = a.rgbaAt(x, y), q = b.rgbaAt(x, y);
            double d = 0;
            for (int k = 0; k < 4; ++k) d += std::abs(int(p[k]) - int(q[k]));
            if (d <= 8) continue;
            ink.points.push_back({(x + 0.5) / 2, (y + 0.5) / 2});
            ink.amount += d;
        }
    }
    return ink;
}

// What an item adds to the picture: the window drawn with it and without it.
Ink inkOf(Scene& s, View& item) {
    auto with = s.pixels();
    item.setHidden(true);
    auto without = s.pixels();
    item.setHidden(false);
    return difference(*with, *without);
}

std::string describePoint(Point p) { return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")"; }

}  // namespace

TEST(BarsRender, NavigationBarWithBackTitleAndItemsAndTabBarWithBadgeInLightAndDark) {
    for (InterfaceStyle style : {InterfaceStyle::light, InterfaceStyle::dark}) {
        Scene s;
        s.h.setInterfaceStyle(style);
        auto pixels = s.pixels();
        ASSERT_TRUE(pixels);
        EXPECT_EQ(pixels->width(), 640);
        hxtest::expectSnapshot(*pixels, std::string("bars_2x_") + (style == InterfaceStyle::dark ? "dark" : "light"));
        // The bar's chrome follows the appearance, and reaches up behind the status bar.
        const auto chrome = pixels->rgbaAt(4, 2 * 42);
        const auto statusArea = pixels->rgbaAt(4, 2 * 10);
        EXPECT_EQ(chrome, statusArea);
        if (style == InterfaceStyle::dark)
            EXPECT_LT(chrome[0], 60);
        else
            EXPECT_GT(chrome[0], 230);
    }
}

TEST(BarsRender, EveryItemIsDrawnInsideTheFrameThatTakesItsTouches) {
    // Portrait under a status bar, a compact landscape bar, and the notched phone in landscape
    // with its safe area at both sides.
    struct Case {
        const char* name;
        ScreenProfile profile;
        std::optional<Orientation> turn;
    };
    const Case cases[] = {{"portrait", shortPhone(), std::nullopt},
                          {"compact landscape", ScreenProfile::iPhone8(), Orientation::LandscapeLeft},
                          {"notched landscape", ScreenProfile::iPhoneX(), Orientation::LandscapeRight}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Scene s(k.profile);
        if (k.turn) s.h.rotate(*k.turn);
        s.h.settle();
        const EdgeInsets safe = s.h.window().profile().currentSafeArea();
        const double width = s.h.window().bounds().width();
        std::vector<View*> items;
        for (const ViewPtr& v : s.bar().itemViews()) items.push_back(v.get());
        for (const ViewPtr& v : s.tabs->tabBar().buttons()) items.push_back(v.get());
        ASSERT_EQ(items.size(), 6u) << "back, compose, edit and three tabs";
        for (View* item : items) {
            SCOPED_TRACE(item->className() + " " + item->outlineText());
            const Rect frame = item->convertRectTo(item->bounds(), nullptr);
            EXPECT_GE(frame.minX(), safe.left - 1e-9);
            EXPECT_LE(frame.maxX(), width - safe.right + 1e-9);
            const Ink ink = inkOf(s, *item);
            ASSERT_GT(ink.points.size(), 20u) << "the item draws something";
            for (const Point& p : ink.points) {
                ASSERT_TRUE(frame.contains(p)) << describePoint(p) << " drawn outside the item's frame";
            }
            // The drawing's centre takes touches for this very item.
            EXPECT_EQ(s.h.window().hitTest(ink.centre(), nullptr), item);
        }
    }
    Scene s;
    NavigationBar& bar = s.bar();
    // And taps there run the items.
    s.h.tap(inkOf(s, *bar.itemViews()[1]).centre());
    s.h.tap(inkOf(s, *bar.itemViews()[2]).centre());
    EXPECT_EQ(s.composed, 1);
    EXPECT_EQ(s.edited, 1);
    s.h.tap(inkOf(s, *s.tabs->tabBar().buttons()[2]).centre());
    EXPECT_EQ(s.tabs->selectedIndex(), 2u);
    s.tabs->setSelectedIndex(1);
    s.h.settle();
    s.h.tap(inkOf(s, *bar.itemViews()[0]).centre());
    s.h.advance(1);
    EXPECT_EQ(s.navs[1]->viewControllers().size(), 1u) << "the back button pops";
}

TEST(BarsRender, TheTitleKeepsClearOfTheItemsAndLongTitlesAreCut) {
    Scene s;
    auto inkOfTitle = [&] {
        auto with = s.pixels();
        const std::string title = s.detail->navigationItem().title;
        s.detail->navigationItem().title.clear();
        auto without = s.pixels();
        s.detail->navigationItem().title = title;
        return difference(*with, *without);
    };
    const Ink shortTitle = inkOfTitle();
    ASSERT_FALSE(shortTitle.points.empty());
    EXPECT_NEAR(shortTitle.centre().x, 160, 6) << "a short title sits in the middle of the bar";
    s.detail->navigationItem().title = "Anna Maria Katharina von Hohenstein-Lichtenberg";
    const Ink longTitle = inkOfTitle();
    ASSERT_FALSE(longTitle.points.empty());
    NavigationBar& bar = s.bar();
    const double left = bar.itemViews()[0]->convertRectTo(bar.itemViews()[0]->bounds(), nullptr).maxX();
    double right = 320;
    for (size_t i = 1; i < bar.itemViews().size(); ++i)
        right = std::min(right, bar.itemViews()[i]->convertRectTo(bar.itemViews()[i]->bounds(), nullptr).minX());
    for (const Point& p : longTitle.points) {
        ASSERT_GT(p.x, left) << describePoint(p);
        ASSERT_LT(p.x, right) << describePoint(p);
    }
}

TEST(BarsRender, AnItemChangedAfterTheBarPlacedItShowsAndActsAsItNowIs) {
    Scene s;
    View& edit = *s.bar().itemViews()[2];
    const Ink enabled = inkOf(s, edit);
    // Disabled in place, with no update of the bar: faded, outlined and untouchable at once.
    s.edit->enabled = false;
    const Ink disabled = inkOf(s, edit);
    ASSERT_FALSE(disabled.points.empty()) << "still drawn";
    EXPECT_LT(disabled.amount, enabled.amount * 0.6);
    EXPECT_NE(s.h.outline().find("\"Edit\" [disabled]"), std::string::npos) << s.h.outline();
    s.h.tap(disabled.centre());
    EXPECT_EQ(s.edited, 0);
    s.edit->enabled = true;
    s.h.tap(disabled.centre());
    EXPECT_EQ(s.edited, 1);
    // A new title is drawn in the item's place, cut to it.
    s.edit->title = "Select";
    const Ink renamed = inkOf(s, edit);
    const Rect frame = edit.convertRectTo(edit.bounds(), nullptr);
    ASSERT_FALSE(renamed.points.empty());
    for (const Point& p : renamed.points) ASSERT_TRUE(frame.contains(p)) << describePoint(p);
    EXPECT_NE(renamed.amount, enabled.amount);
}

TEST(BarsRender, TheBackButtonShowsThePreviousItemAsItNowIs) {
    Scene s;
    // No title, which would move as the button's width changes.
    s.detail->navigationItem().title.clear();
    ViewController& list = *s.navs[1]->viewControllers().front();
    const Ink titled = inkOf(s, *s.bar().itemViews()[0]);
    // A count in place of the title, as an image back item: the chevron and the image, in the
    // frame the bar gives the button at once.
    list.navigationItem().setBackBarButtonItem(BarButtonItem::withImage(icon(0)));
    View& back = *s.bar().itemViews()[0];
    const Ink counted = inkOf(s, back);
    const Rect frame = back.convertRectTo(back.bounds(), nullptr);
    EXPECT_LT(frame.width(), 60) << "narrower than \"Messages\"";
    ASSERT_GT(counted.points.size(), 20u);
    for (const Point& p : counted.points) ASSERT_TRUE(frame.contains(p)) << describePoint(p);
    EXPECT_NE(counted.amount, titled.amount);
    // Back to a longer title: the button grows to hold it, and still pops.
    list.navigationItem().setBackBarButtonItem(nullptr);
    list.navigationItem().setBackButtonTitle("All conversations");
    View& renamed = *s.bar().itemViews()[0];
    const Ink longer = inkOf(s, renamed);
    const Rect grown = renamed.convertRectTo(renamed.bounds(), nullptr);
    EXPECT_GT(grown.width(), frame.width() + 60);
    for (const Point& p : longer.points) ASSERT_TRUE(grown.contains(p)) << describePoint(p);
    EXPECT_NE(s.h.outline().find("BackButton (8, 20, "), std::string::npos) << s.h.outline();
    EXPECT_NE(s.h.outline().find("\"All conversations\""), std::string::npos) << s.h.outline();
    s.h.tap(longer.centre());
    s.h.advance(1);
    EXPECT_EQ(s.navs[1]->viewControllers().size(), 1u);
}

// A back item's own text attributes and title adjustments (as a list's unread badge sets them):
// the title's ink grows with its font, goes down by a negative baseline offset and moves by the
// adjustment of the bar's height, the compact one in a landscape phone's bar.
TEST(BarsRender, ABackItemsTitleTakesItsFontBaselineAndTheAdjustmentOfTheBarsHeight) {
    Scene s(ScreenProfile::iPhone8());
    s.detail->navigationItem().title.clear();
    NavigationItem& list = s.navs[1]->viewControllers().front()->navigationItem();
    struct Box {
        double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    };
    // The title's ink alone: the bar with the titled item against the bar with an untitled one.
    auto titleBox = [&](const std::function<void(BarButtonItem&)>& style) {
        auto untitled = BarButtonItem::withTitle("");
        style(*untitled);
        list.setBackBarButtonItem(untitled);
        auto without = s.pixels();
        auto titled = BarButtonItem::withTitle("8");
        style(*titled);
        list.setBackBarButtonItem(titled);
        const Ink ink = difference(*s.pixels(), *without);
        Box b;
        for (const Point& p : ink.points)
            b = {std::min(b.minX, p.x), std::min(b.minY, p.y), std::max(b.maxX, p.x), std::max(b.maxY, p.y)};
        EXPECT_GT(ink.points.size(), 10u);
        return b;
    };
    auto big = [](BarButtonItem& i) { i.titleFont = graphics::Font::system(25); };
    auto moved = [&](double baseline, Point adjustment, Point compact) {
        return [=](BarButtonItem& i) {
            big(i);
            i.titleBaselineOffset = baseline;
            i.backButtonTitleAdjustment = adjustment;
            i.compactBackButtonTitleAdjustment = compact;
        };
    };
    const Box plain = titleBox([](BarButtonItem&) {});
    const Box large = titleBox(big);
    EXPECT_GT(large.maxY - large.minY, (plain.maxY - plain.minY) * 1.3) << "the 25-pt font";
    struct Case {
        const char* what;
        bool compactBar;
        double baseline;
        Point adjustment, compact;
        Point expected;  // how far the title's ink moves from the large title's
    };
    const Case cases[] = {
        {"baseline", false, -1.5, {}, {}, {0, 1.5}},
        {"adjustment", false, 0, {-4, 3}, {-3, 2}, {-4, 3}},
        {"both", false, -1.5, {-4, 3}, {-3, 2}, {-4, 4.5}},
        {"compact adjustment", true, 0, {-4, 3}, {-3, 2}, {-3, 2}},
    };
    for (const Case& c : cases) {
        s.h.rotate(c.compactBar ? Orientation::LandscapeLeft : Orientation::Portrait);
        const Box reference = titleBox(big);
        const Box shifted = titleBox(moved(c.baseline, c.adjustment, c.compact));
        EXPECT_NEAR(shifted.minX - reference.minX, c.expected.x, 0.51) << c.what;
        EXPECT_NEAR(shifted.minY - reference.minY, c.expected.y, 0.51) << c.what;
        EXPECT_NEAR(shifted.maxY - reference.maxY, c.expected.y, 0.51) << c.what;
    }
}

TEST(BarsRender, CompactBarsShowTheItemsCompactImage) {
    Scene s(ScreenProfile::iPhone8());
    auto wide = BarButtonItem::withImage(icon(1));
    wide->landscapeImage = icon(0);
    s.detail->navigationItem().setRightBarButtonItems({wide});
    s.h.settle();
    View& item = *s.bar().itemViews()[1];
    // The portrait image is a box, the compact one a disc: only the box inks the corners of what
    // it covers.
    auto inksCorner = [](const Ink& ink) {
        double left = 1e9, top = 1e9;
        for (const Point& p : ink.points) left = std::min(left, p.x), top = std::min(top, p.y);
        for (const Point& p : ink.points) {
            if (p.x - left < 1 && p.y - top < 1) return true;
        }
        return false;
    };
    const Ink portrait = inkOf(s, item);
    ASSERT_FALSE(portrait.points.empty());
    EXPECT_TRUE(inksCorner(portrait));
    s.h.rotate(Orientation::LandscapeLeft);
    const Ink landscape = inkOf(s, item);
    ASSERT_FALSE(landscape.points.empty());
    EXPECT_FALSE(inksCorner(landscape));
    const Rect frame = item.convertRectTo(item.bounds(), nullptr);
    EXPECT_EQ(frame.height(), NavigationBar::kCompactHeight);
    for (const Point& p : landscape.points) ASSERT_TRUE(frame.contains(p)) << describePoint(p);
}

TEST(BarsRender, AWideTitleViewStaysBetweenTheItems) {
    Scene s;
    auto wide = View::make(Rect(0, 0, 400, 30));
    wide->setBackgroundColor(Color::systemOrange());
    s.detail->navigationItem().titleView = wide;
    s.bar().update();
    s.h.settle();
    const Rect area = s.bar().titleArea();
    EXPECT_EQ(wide->frame(), Rect(area.minX(), 7, area.width(), 30));
    for (const ViewPtr& item : s.bar().itemViews()) {
        const Rect f = item->convertRectTo(item->bounds(), nullptr);
        EXPECT_EQ(s.h.window().hitTest({f.midX(), f.midY()}, nullptr), item.get()) << item->outlineText();
    }
    // A narrow one sits in the middle of the bar where the items leave room for that.
    s.detail->navigationItem().hidesBackButton = true;
    s.bar().update();
    wide->setFrame(Rect(0, 0, 60, 30));
    s.bar().setNeedsLayout();
    s.h.settle();
    EXPECT_EQ(wide->frame(), Rect(130, 7, 60, 30));
}

TEST(BarsRender, TabsTintTheSelectedItemAndTheBadgeIsRed) {
    Scene s;
    const auto pixels = s.pixels();
    // The most saturated pixel of each tab's drawing: blue for the selected tab, grey otherwise.
    auto strongest = [&](int tab) {
        std::array<uint8_t, 4> best{};
        int bestSpread = -1;
        for (const Point& p : inkOf(s, *s.tabs->tabBar().buttons()[tab]).points) {
            const auto c = pixels->rgbaAt(int(p.x * 2), int(p.y * 2));
            const int spread = std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
            if (spread > bestSpread) bestSpread = spread, best = c;
        }
        return best;
    };
    const auto calls = strongest(0);
    EXPECT_LT(std::max({calls[0], calls[1], calls[2]}) - std::min({calls[0], calls[1], calls[2]}), 12) << "grey";
    // The selected tab carries the badge too: its reddest and its bluest pixels.
    bool blue = false, red = false;
    for (const Point& p : inkOf(s, *s.tabs->tabBar().buttons()[1]).points) {
        const auto c = pixels->rgbaAt(int(p.x * 2), int(p.y * 2));
        blue = blue || (c[2] > 200 && c[0] < 60);
        red = red || (c[0] > 200 && c[1] < 80 && c[2] < 80);
    }
    EXPECT_TRUE(blue) << "the selected tab is tinted";
    EXPECT_TRUE(red) << "the badge";
    // Without the badge the tab draws no red.
    s.navs[1]->tabBarItem().badgeValue.reset();
    s.tabs->tabBar().update();
    const auto plain = s.pixels();
    for (const Point& p : inkOf(s, *s.tabs->tabBar().buttons()[1]).points) {
        const auto c = plain->rgbaAt(int(p.x * 2), int(p.y * 2));
        ASSERT_FALSE(c[0] > 200 && c[1] < 80 && c[2] < 80) << describePoint(p);
    }
}

TEST(BarsRender, ClippingTheTabBarHidesItsHairline) {
    Scene s;
    const Rect bar = s.tabs->tabBar().frame();
    const int row = static_cast<int>(bar.minY() * 2) - 1;
    auto pixels = s.pixels();
    const auto line = pixels->rgbaAt(100, row), content = pixels->rgbaAt(100, row - 4);
    EXPECT_NE(line, content) << "a hairline over the content";
    s.tabs->tabBar().setClipsToBounds(true);
    pixels = s.pixels();
    EXPECT_EQ(pixels->rgbaAt(100, row), pixels->rgbaAt(100, row - 4));
}

namespace {

class StampedToolbar : public Toolbar {
public:
    void draw(graphics::GraphicsContext& c, const Rect& rect) override {
        c.setFillColor(Color::green());
        c.fillRect(rect);
    }
};

}  // namespace

TEST(BarsRender, ToolbarsDrawTheirChromeUnlessASubclassDrawsForItself) {
    UsingFonts fonts;
    for (bool stamped : {false, true}) {
        SCOPED_TRACE(stamped ? "own drawing" : "chrome");
        Harness h(shortPhone());
        auto screen = std::make_shared<ViewController>();
        screen->view()->setBackgroundColor(Color::red());
        std::shared_ptr<Toolbar> toolbar =
            stamped ? std::make_shared<StampedToolbar>() : std::make_shared<Toolbar>(Rect(0, 0, 320, 44));
        toolbar->setFrame(Rect(0, 200, 320, Toolbar::kHeight));
        int sent = 0;
        toolbar->setItems({BarButtonItem::withSystemItem(SystemItem::Action),
                           BarButtonItem::withSystemItem(SystemItem::FlexibleSpace),
                           BarButtonItem::withTitle("Send", BarButtonStyle::Done, [&](BarButtonItem&) { ++sent; })});
        screen->view()->addSubview(toolbar);
        h.setRoot(screen);
        h.settle();
        auto pixels = snapshot(h.window(), 2);
        const auto inside = pixels->rgbaAt(2 * 160, 2 * 222), above = pixels->rgbaAt(2 * 160, 2 * 200 - 1);
        const std::array<uint8_t, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255};
        if (stamped) {
            EXPECT_EQ(inside, green);
            EXPECT_EQ(above, red) << "no hairline over a bar that draws for itself";
        } else {
            EXPECT_GT(inside[1], 230) << "the light chrome";
            EXPECT_NE(above, red) << "the hairline";
        }
        for (const ViewPtr& item : toolbar->itemViews()) {
            SCOPED_TRACE(item->outlineText());
            item->setHidden(true);
            const Ink ink = difference(*pixels, *snapshot(h.window(), 2));
            item->setHidden(false);
            ASSERT_GT(ink.points.size(), 20u);
            const Rect frame = item->convertRectTo(item->bounds(), nullptr);
            for (const Point& p : ink.points) ASSERT_TRUE(frame.contains(p)) << describePoint(p);
            if (item->outlineText() == "Send") h.tap(ink.centre());
        }
        EXPECT_EQ(sent, 1);
    }
}

TEST(BarsRender, ToolbarItemsKeepInsideTheSafeAreaInLandscape) {
    UsingFonts fonts;
    Harness h(ScreenProfile::iPhoneX());
    auto screen = std::make_shared<ViewController>();
    auto toolbar = std::make_shared<Toolbar>();
    toolbar->setAutoresizingMask(kFlexibleWidth);
    toolbar->setFrame(Rect(0, 300, 375, Toolbar::kHeight));
    toolbar->setItems({BarButtonItem::withTitle("Archive"), BarButtonItem::withSystemItem(SystemItem::FlexibleSpace),
                       BarButtonItem::withSystemItem(SystemItem::Compose)});
    screen->view()->addSubview(toolbar);
    h.setRoot(screen);
    h.rotate(Orientation::LandscapeLeft);
    h.settle();
    const EdgeInsets safe = h.window().profile().currentSafeArea();
    ASSERT_GT(safe.left, 0);
    const auto items = toolbar->itemViews();
    ASSERT_EQ(items.size(), 2u);
    const Rect first = items[0]->convertRectTo(items[0]->bounds(), nullptr);
    const Rect last = items[1]->convertRectTo(items[1]->bounds(), nullptr);
    EXPECT_EQ(first.minX(), safe.left + Toolbar::kEdgeMargin);
    EXPECT_EQ(last.maxX(), h.window().bounds().width() - safe.right - Toolbar::kEdgeMargin);
}

// The bar keeps its title's layout between frames: after each change the title shows as it does
// when the bar lays it out anew, and the change shows.
TEST(BarsRender, ATitleKeptBetweenFramesShowsEachChangeAsLayingItOutAnewShowsIt) {
    Scene s;
    struct Case {
        const char* what;
        std::function<void(Scene&)> change;
    };
    const std::vector<Case> cases{
        {"another title", [](Scene& sc) { sc.detail->navigationItem().title = "Bea"; }},
        {"a title longer than its room",
         [](Scene& sc) { sc.detail->navigationItem().title = "Anna Maria Katharina von Hohenstein-Lichtenberg"; }},
        {"more room (an item taken away)", [](Scene& sc) { sc.detail->navigationItem().setRightBarButtonItems({}); }},
        {"less room (items back)",
         [](Scene& sc) {
             sc.detail->navigationItem().setRightBarButtonItems({sc.compose, sc.edit});
         }},
        {"dark appearance", [](Scene& sc) { sc.h.setInterfaceStyle(InterfaceStyle::dark); }},
        {"light appearance", [](Scene& sc) { sc.h.setInterfaceStyle(InterfaceStyle::light); }},
        {"a black bar", [](Scene& sc) { sc.bar().setBarStyle(BarStyle::Black); }},
        {"the default bar", [](Scene& sc) { sc.bar().setBarStyle(BarStyle::Default); }},
        {"the first title again", [](Scene& sc) { sc.detail->navigationItem().title = "Anna"; }},
    };
    auto before = s.pixels();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        k.change(s);
        s.h.settle();
        auto kept = s.pixels();
        forgetNavigationBarTitles();
        auto anew = s.pixels();
        EXPECT_TRUE(difference(*kept, *anew).points.empty()) << "as laid out anew";
        EXPECT_EQ(graphics::compareBitmaps(*kept, *anew, 0).differingPixels, 0u);
        EXPECT_FALSE(difference(*kept, *before).points.empty()) << "the change shows";
        before = kept;
    }
}
