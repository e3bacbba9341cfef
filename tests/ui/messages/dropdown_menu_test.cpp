// The dropdown menu and its list: button widths, opening and closing as delegate sequences on the
// virtual clock, the list's height in whole rows, the presenting scroll view's inset, the shadow
// and mask, and the open menu as the outline shows it.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/goldens.h"
#include "ui/messages/hxc_dropdown_menu.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

struct Source : HXCDropdownMenuDataSource {
    std::vector<long> rows;
    explicit Source(std::vector<long> r) : rows(std::move(r)) {}
    long numberOfComponentsInDropdownMenu(HXCDropdownMenu&) override { return static_cast<long>(rows.size()); }
    long numberOfRowsInComponent(HXCDropdownMenu&, long c) override { return rows[static_cast<size_t>(c)]; }
};

struct Delegate : HXCDropdownMenuDelegate {
    Log log;
    std::optional<std::vector<double>> widths;
    std::optional<double> rowHeight;
    std::optional<long> maxRows;
    std::optional<bool> fullRowWidth;
    std::vector<std::string> titles{"Inbox", "Filter", "Sort"};
    bool customRows = false;
    int customViewsMade = 0;
    std::optional<toolkit::Color> rowBackground;
    std::optional<toolkit::Color> backgroundColorForRow(HXCDropdownMenu&, long, long) override { return rowBackground; }
    std::optional<double> widthForComponent(HXCDropdownMenu&, long c) override {
        if (!widths) return std::nullopt;
        return (*widths)[static_cast<size_t>(c)];
    }
    std::optional<double> rowHeightForComponent(HXCDropdownMenu&, long) override { return rowHeight; }
    std::optional<long> maximumNumberOfRowsInComponent(HXCDropdownMenu&, long) override { return maxRows; }
    std::optional<bool> shouldUseFullRowWidthForComponent(HXCDropdownMenu&, long) override { return fullRowWidth; }
    std::optional<std::string> titleForComponent(HXCDropdownMenu&, long c) override {
        return titles[static_cast<size_t>(c)];
    }
    std::optional<std::string> titleForSelectedComponent(HXCDropdownMenu&, long c) override {
        return titles[static_cast<size_t>(c)] + " ▴";
    }
    std::set<long> rowsAsked;
    std::optional<std::string> titleForRow(HXCDropdownMenu&, long row, long component) override {
        rowsAsked.insert(row);
        return "Row " + std::to_string(row) + " of " + std::to_string(component);
    }
    std::shared_ptr<View> viewForRow(HXCDropdownMenu&, long row, long, std::shared_ptr<View> reusing) override {
        rowsAsked.insert(row);
        if (!customRows) return nullptr;
        auto label = std::dynamic_pointer_cast<Label>(reusing);
        if (!label) {
            ++customViewsMade;
            label = std::make_shared<Label>();
        }
        label->setText("Custom " + std::to_string(row));
        return label;
    }
    void didSelectRow(HXCDropdownMenu&, long row, long c) override {
        log.push_back("select " + std::to_string(row) + " in " + std::to_string(c));
    }
    void didOpenComponent(HXCDropdownMenu&, long c) override { log.push_back("open " + std::to_string(c)); }
    void didCloseComponent(HXCDropdownMenu&, long c) override { log.push_back("close " + std::to_string(c)); }
    Log take() {
        Log out = log;
        log.clear();
        return out;
    }
};

// A screen with a presenting view (by default plain, 644 points high) holding a menu at its top.
// The menu stands at the window's top here, where a screen's bar would be: no status bar over it.
struct BarlessRoot : ViewController {
    bool prefersStatusBarHidden() const override { return true; }
};

struct Screen {
    Harness h{ScreenProfile::iPhone8(), 15};
    std::shared_ptr<ViewController> root = std::make_shared<BarlessRoot>();
    std::shared_ptr<View> presenting;
    std::shared_ptr<HXCDropdownMenu> menu;
    std::shared_ptr<Source> source;
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();

    explicit Screen(std::vector<long> rows, std::shared_ptr<View> presentingView = nullptr, double menuWidth = 375) {
        h.setRoot(root);
        presenting = presentingView ? presentingView : std::make_shared<View>(Rect(0, 0, 375, 644));
        root->view()->addSubview(presenting);
        menu = HXCDropdownMenu::make(Rect(0, 0, menuWidth, 44));
        menu->delegate = delegate;
        menu->presentingView = presenting;
        source = std::make_shared<Source>(std::move(rows));
        menu->setDataSource(source);
        presenting->addSubview(menu);
        h.settle();
    }
    HXCDropdownMenuContentViewController& content() { return *menu->contentViewController(); }
    bool tapComponent(long c) { return h.tap(*menu->buttons()[static_cast<size_t>(c)]); }
};

}  // namespace

TEST(DropdownMenu, ButtonWidthsShareWhatTheDelegateLeavesOpen) {
    struct Case {
        double menuWidth;
        std::optional<std::vector<double>> asked;
        std::vector<double> widths;
    };
    Case cases[] = {
        {300, std::vector<double>{100, 0, 0}, {100, 100, 100}}, {300, std::nullopt, {100, 100, 100}},
        {300, std::vector<double>{50, -1, 200}, {50, 50, 200}}, {300, std::vector<double>{0, 0, 0}, {100, 100, 100}},
        {300, std::vector<double>{60, 60, 60}, {60, 60, 180}},  {320, std::vector<double>{0, 200, 0}, {60, 200, 60}},
    };
    for (auto& c : cases) {
        Screen s({3, 3, 3}, nullptr, c.menuWidth);
        s.delegate->widths = c.asked;
        s.menu->setNeedsLayout();
        s.h.settle();
        std::vector<double> widths;
        double x = 0;
        for (auto& b : s.menu->buttons()) {
            EXPECT_EQ(b->frame().minX(), x);
            EXPECT_EQ(b->frame().height(), 44);
            widths.push_back(b->frame().width());
            x += b->frame().width();
        }
        EXPECT_EQ(widths, c.widths);
        // One separator fewer than buttons, half a point wide across each boundary.
        ASSERT_EQ(s.menu->separators().size(), 2u);
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(s.menu->separators()[i]->frame(), Rect(s.menu->buttons()[i]->frame().maxX() - 0.25, 0, 0.5, 44));
        EXPECT_EQ(s.menu->separators()[0]->backgroundColor(), hxc_defaultSeparatorColor());
    }
}

TEST(DropdownMenu, ComponentsFollowTheDataSource) {
    Screen s({4, 2});
    EXPECT_EQ(s.menu->numberOfComponents(), 2);
    EXPECT_EQ(s.menu->numberOfRowsInComponent(1), 2);
    EXPECT_EQ(s.menu->numberOfRowsInComponent(7), 0);
    EXPECT_EQ(s.menu->buttons()[0]->currentTitle(), "Inbox");
    // Reloads reuse buttons by index and drop the extra ones.
    auto first = s.menu->buttons()[0];
    s.source->rows = {5};
    s.menu->reloadAllComponents();
    EXPECT_EQ(s.menu->buttons().size(), 1u);
    EXPECT_EQ(s.menu->buttons()[0], first);
    EXPECT_TRUE(s.menu->separators().empty());
    s.source->rows = {5, 1, 1};
    s.menu->reloadAllComponents();
    EXPECT_EQ(s.menu->separators().size(), 2u);
    s.source->rows[2] = 9;
    s.menu->reloadComponent(2);
    EXPECT_EQ(s.menu->numberOfRowsInComponent(2), 9);

    // Without a data source nothing is built.
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto bare = HXCDropdownMenu::make(Rect(0, 0, 200, 44));
    root->view()->addSubview(bare);
    h.settle();
    EXPECT_EQ(bare->numberOfComponents(), 0);
    EXPECT_TRUE(bare->subviews().empty());
    EXPECT_EQ(bare->intrinsicContentSize(), Size(200, 44));
}

TEST(DropdownMenu, OpeningAndClosingReportInOrderAndIgnoreTapsWhileAnimating) {
    Screen s({3, 4});
    Animations::setTimed(true);
    EXPECT_TRUE(s.tapComponent(0));
    EXPECT_EQ(s.delegate->take(), (Log{"open 0"}));
    EXPECT_EQ(s.menu->selectedComponent(), 0);
    EXPECT_TRUE(s.menu->transition()->isAnimating());
    // A spring of 0.25 s, damping 1, no initial velocity.
    ASSERT_FALSE(Animations::log().empty());
    const AnimationRecord& spring =
        Animations::log().back().spring ? Animations::log().back() : Animations::log()[Animations::log().size() - 2];
    EXPECT_TRUE(spring.spring);
    EXPECT_EQ(spring.duration, 0.25);
    EXPECT_EQ(spring.damping, 1.0);
    EXPECT_EQ(spring.velocity, 0);
    s.tapComponent(1);
    EXPECT_EQ(s.delegate->take(), Log{}) << "taps wait for the animation";
    EXPECT_EQ(s.menu->selectedComponent(), 0);
    s.h.advance(0.05);  // 0.2 s since the first tap's release
    EXPECT_TRUE(s.menu->transition()->isAnimating());
    s.h.advance(0.06);
    EXPECT_FALSE(s.menu->transition()->isAnimating());
    EXPECT_TRUE(s.menu->buttons()[0]->isSelected());
    EXPECT_EQ(s.menu->buttons()[0]->currentTitle(), "Inbox ▴");
    EXPECT_FALSE(s.menu->buttons()[1]->isSelected());

    // Another component: the first closes, and opens the second once dismissed.
    s.tapComponent(1);
    EXPECT_EQ(s.delegate->take(), (Log{"close 0"}));
    EXPECT_EQ(s.menu->selectedComponent(), kNotFoundIndex);
    s.h.advance(0.3);
    EXPECT_EQ(s.delegate->take(), (Log{"open 1"}));
    s.h.advance(0.3);
    EXPECT_EQ(s.menu->selectedComponent(), 1);
    EXPECT_TRUE(s.menu->buttons()[1]->isSelected());
    EXPECT_FALSE(s.menu->buttons()[0]->isSelected());
    EXPECT_EQ(s.content().rowsCount(), 4);

    // The open component's button again closes, reported once.
    s.tapComponent(1);
    s.h.advance(0.3);
    EXPECT_EQ(s.delegate->take(), (Log{"close 1"}));
    EXPECT_EQ(s.content().viewIfLoaded()->superview(), nullptr);
    EXPECT_FALSE(s.menu->buttons()[1]->isSelected());
    Animations::setTimed(false);

    // Without animation, switching reports close then open at once.
    s.menu->openComponent(0, false);
    s.menu->openComponent(1, false);
    s.menu->closeAllComponentsAnimated(false);
    s.menu->closeAllComponentsAnimated(false);
    EXPECT_EQ(s.delegate->take(), (Log{"open 0", "close 0", "open 1", "close 1"}));
}

TEST(DropdownMenu, RowsAreReportedAndTapsOutsideClose) {
    Screen s({3});
    s.tapComponent(0);
    s.h.settle();
    s.delegate->take();
    auto table = s.content().tableView();
    ASSERT_NE(table->cellForRow({0, 1}), nullptr);
    EXPECT_EQ(table->cellForRow({0, 1})->textLabel().text(), "Row 1 of 0");
    EXPECT_TRUE(s.h.selectRow(*table, {0, 1}));
    EXPECT_EQ(s.delegate->take(), (Log{"select 1 in 0"}));
    EXPECT_EQ(s.menu->selectedComponent(), 0) << "choosing a row does not close";
    EXPECT_FALSE(table->indexPathForSelectedRow()) << "nor does it stay selected";
    hxtest::expectOutline(s.h, "dropdown_open");
    // The dimmed area below the list closes everything.
    s.h.tap(Point{200, 500});
    EXPECT_EQ(s.delegate->take(), (Log{"close 0"}));
    EXPECT_EQ(s.content().viewIfLoaded()->window(), nullptr);
}

TEST(DropdownMenu, TheOpenMenuLooksAsItsGoldenInLightAndDark) {
    hxtest::UsingFonts fonts;
    std::unique_ptr<Screen> s;
    hxtest::expectSnapshotInLightAndDark(
        "dropdown_open",
        [&](InterfaceStyle style) -> toolkit::View* {
            s.reset();
            s = std::make_unique<Screen>(std::vector<long>{4, 2});
            // Coloured as the message lists colour theirs, so that both appearances are readable.
            s->presenting->setBackgroundColor(toolkit::Color::systemBackground());
            s->delegate->rowBackground = toolkit::Color::secondarySystemBackground();
            s->h.window().setInterfaceStyle(style);
            s->tapComponent(0);
            s->h.settle();
            EXPECT_EQ(s->menu->selectedComponent(), 0);
            return &s->h.window();
        },
        2);
}

TEST(DropdownMenu, RowSelectionIsRecordedAndReloadsOnlyAffectedRows) {
    Screen s({6, 2});
    s.menu->selectRow(2, 0);
    s.menu->selectRow(3, 0);
    EXPECT_EQ(s.menu->selectedRowsInComponent(0), (std::set<long>{3})) << "one row without multiple selection";
    EXPECT_EQ(s.delegate->take(), Log{}) << "selecting reports nothing and opens nothing";
    EXPECT_EQ(s.menu->selectedComponent(), kNotFoundIndex);
    s.menu->allowsMultipleRowsSelection = true;
    s.menu->selectRow(5, 0);
    EXPECT_EQ(s.menu->selectedRowsInComponent(0), (std::set<long>{3, 5}));
    s.menu->deselectRow(3, 0);
    EXPECT_EQ(s.menu->selectedRowsInComponent(0), (std::set<long>{5}));
    EXPECT_TRUE(s.menu->selectedRowsInComponent(1).empty());

    s.delegate->customRows = true;
    s.menu->openComponent(0, false);
    s.h.settle();
    auto table = s.content().tableView();
    auto row1 = table->cellForRow({0, 1});
    s.menu->allowsMultipleRowsSelection = false;
    s.delegate->rowsAsked.clear();
    s.menu->selectRow(2, 0);  // clears 5, adds 2: those two rows are read again
    s.h.settle();
    EXPECT_EQ(s.delegate->rowsAsked, (std::set<long>{2, 5}));
    EXPECT_EQ(table->cellForRow({0, 1}), row1);
    s.delegate->rowsAsked.clear();
    s.menu->deselectRow(2, 0);
    s.h.settle();
    EXPECT_EQ(s.delegate->rowsAsked, (std::set<long>{2}));
    EXPECT_EQ(s.menu->viewForRow(2, 0)->outlineText(), "Custom 2");
    EXPECT_EQ(s.menu->viewForRow(2, 1), nullptr) << "only the open component has row views";
}

TEST(DropdownMenu, CustomRowViewsShowAgainInReusedCells) {
    Screen s({30});
    s.delegate->customRows = true;
    s.delegate->maxRows = 4;
    s.menu->openComponent(0, false);
    s.h.settle();
    auto table = s.content().tableView();
    EXPECT_EQ(table->indexPathsForVisibleRows().size(), 4u);
    table->setContentOffset({0, 44 * 10});
    s.h.settle();
    auto cell = std::dynamic_pointer_cast<HXCDropdownMenuTableViewCell>(table->cellForRow({0, 11}));
    ASSERT_NE(cell, nullptr);
    EXPECT_FALSE(cell->containerView()->isHidden());
    EXPECT_EQ(cell->currentCustomView()->outlineText(), "Custom 11");
    EXPECT_EQ(cell->textLabel().text(), "") << "a custom view clears the title";
    EXPECT_EQ(s.delegate->customViewsMade, 4 + 5)
        << "a queued cell gives up its view: new ones for the five rows shown";
}

TEST(DropdownMenu, ListHeightIsWholeRowsPlusSeparatorLines) {
    struct Case {
        long rows;
        std::optional<long> maxRows;
        double viewHeight;
        std::optional<double> rowHeight;
        double maxHeight;
        double listHeight;
    };
    Case cases[] = {
        {12, 5, 600, std::nullopt, 220, 220.5},           // five rows fit the maximum
        {12, std::nullopt, 100, std::nullopt, 88, 88.5},  // two whole rows fit the view
        {0, std::nullopt, 600, std::nullopt, 572, 0.5},   // no rows: the top line only
        {3, -2, 600, 0.0, 572, 132.5},                    // a negative maximum and a zero height count as none
        {3, 0, 600, 30.0, 600, 90.5},
    };
    for (auto& c : cases) {
        Screen s({c.rows}, std::make_shared<View>(Rect(0, 0, 375, 44 + c.viewHeight)));
        s.delegate->maxRows = c.maxRows;
        s.delegate->rowHeight = c.rowHeight;
        s.menu->openComponent(0, false);
        s.h.settle();
        SCOPED_TRACE(std::to_string(c.rows) + " rows in " + std::to_string(c.viewHeight));
        EXPECT_EQ(s.content().view()->frame(), Rect(0, 44, 375, c.viewHeight)) << "from the menu's bottom down";
        EXPECT_EQ(s.content().maxHeight(), c.maxHeight);
        EXPECT_EQ(s.content().contentHeight(), c.listHeight);
        EXPECT_EQ(s.content().tableContainerView()->frame().height(), c.listHeight);
        EXPECT_EQ(s.content().containerView()->frame().height(), c.listHeight);
        EXPECT_EQ(s.content().shadowView()->frame(), s.content().tableContainerView()->frame());
        EXPECT_EQ(s.content().tableView()->rowHeight(), c.rowHeight.value_or(44) > 0 ? c.rowHeight.value_or(44) : 44);
    }
    // Hiding the top line and the bottom line change the list by half a point each way.
    Screen s({3});
    s.menu->setDropdownShowsTopRowSeparator(false);
    s.menu->setDropdownShowsBottomRowSeparator(false);
    EXPECT_FALSE(s.menu->dropdownShowsTopRowSeparator());
    EXPECT_FALSE(s.menu->dropdownShowsBottomRowSeparator());
    s.menu->openComponent(0, false);
    s.h.settle();
    EXPECT_EQ(s.content().contentHeight(), 132.5) << "no top line, a blank bottom line";
}

TEST(DropdownMenu, ScrollViewsMakeRoomWhileTheListIsOpen) {
    struct Case {
        double boundsHeight;
        bool adjustsOffset;
        double bottomWhileOpen;
        double offsetWhileOpen;
        double dropdownHeight;
    };
    // Content 100 high, menu 44 high, three rows: the list needs R = 44 + 132.5 + 5 = 181.5.
    Case cases[] = {
        {400, false, 81.5, 0, 400 - 44},
        {150, false, 81.5, 0, 181.5 - 44},
        {150, true, 81.5, 31.5, 181.5 - 44},
    };
    for (auto& c : cases) {
        auto scroller = std::make_shared<ScrollView>(Rect(0, 0, 375, c.boundsHeight));
        scroller->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
        scroller->setContentSize({375, 100});
        Screen s({3}, scroller);
        s.menu->adjustsContentOffset = c.adjustsOffset;
        s.menu->openComponent(0, false);
        s.h.settle();
        SCOPED_TRACE(c.boundsHeight);
        EXPECT_EQ(scroller->contentInset().bottom, c.bottomWhileOpen);
        EXPECT_EQ(s.menu->transition()->savedBottomInset(), 0.0);
        EXPECT_EQ(scroller->contentOffset().y, c.offsetWhileOpen);
        EXPECT_EQ(s.content().view()->frame(), Rect(0, 44, 375, c.dropdownHeight));
        s.menu->closeAllComponentsAnimated(true);
        s.h.settle();
        EXPECT_EQ(scroller->contentInset().bottom, 0) << "the old inset comes back";
        EXPECT_FALSE(s.menu->transition()->savedBottomInset());
    }
    // Without inset adjustment nothing changes.
    auto scroller = std::make_shared<ScrollView>(Rect(0, 0, 375, 150));
    scroller->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
    scroller->setContentSize({375, 100});
    Screen s({3}, scroller);
    s.menu->adjustsContentInset = false;
    s.menu->openComponent(0, false);
    EXPECT_EQ(scroller->contentInset().bottom, 0);
    EXPECT_EQ(s.content().view()->frame().height(), 150 - 44) << "the height stays the view's";
}

TEST(DropdownMenu, HorizontalExtentFollowsWidthModes) {
    struct Case {
        std::optional<bool> fullRowWidth;
        bool fullScreen;
        EdgeInsets expected;
    };
    // Menu at x 20, 300 wide, two components of 150, in a 375-point presenting view.
    Case cases[] = {
        {std::nullopt, false, {0, 20, 0, 375 - 320 + 0.5}},
        {false, false, {0, 170, 0, 375 - 320 + 0.5}},
        {true, true, {0, 10, 0, 20.5}},
        {std::nullopt, true, {0, 10, 0, 20.5}},
    };
    for (auto& c : cases) {
        Screen s({2, 2}, nullptr, 300);
        s.menu->setFrame(Rect(20, 0, 300, 44));
        s.delegate->fullRowWidth = c.fullRowWidth;
        s.menu->useFullScreenWidth = c.fullScreen;
        s.menu->fullScreenInsetLeft = 10;
        s.menu->fullScreenInsetRight = 20;
        s.h.settle();
        s.menu->openComponent(1, false);
        s.h.settle();
        EXPECT_EQ(s.menu->contentInsetForSelectedComponent(), c.expected);
        EdgeInsets applied = s.content().contentInset();
        EXPECT_EQ(applied.left, c.expected.left);
        EXPECT_EQ(applied.right, c.expected.right);
        EXPECT_EQ(s.content().containerView()->frame().minX(), c.expected.left);
        EXPECT_EQ(s.content().containerView()->frame().maxX(), 375 - c.expected.right);
    }
    Screen closed({2});
    EXPECT_EQ(closed.menu->contentInsetForSelectedComponent(), EdgeInsets{});
}

TEST(DropdownMenu, ShadowMaskDimmingAndSpacer) {
    Screen s({3});
    EXPECT_EQ(s.menu->backgroundDimmingOpacity(), 0.2);
    s.menu->setBackgroundDimmingOpacity(-0.3);
    EXPECT_EQ(*s.content().view()->backgroundColor(), Color::white(1, 0.3));
    EXPECT_EQ(s.menu->backgroundDimmingOpacity(), -0.3);
    s.menu->setBackgroundDimmingOpacity(0.5);
    EXPECT_EQ(s.menu->backgroundDimmingOpacity(), 0.5);

    s.menu->openComponent(0, false);
    s.h.settle();
    Rect b = s.content().shadowView()->bounds();
    ASSERT_TRUE(s.content().shadowView()->layer().shadowPath);
    const auto& path = *s.content().shadowView()->layer().shadowPath;
    std::vector<Point> corners;
    for (auto& e : path.elements())
        if (e.kind != Path::Kind::close) corners.push_back(e.points[0]);
    EXPECT_EQ(corners,
              (std::vector<Point>{{0, 0}, {0, b.maxY()}, {b.maxX(), b.maxY()}, {b.maxX(), 0}, {b.midX(), b.midY()}}));
    EXPECT_EQ(s.content().shadowView()->layer().shadowOpacity, 0.2);
    EXPECT_EQ(s.content().shadowView()->layer().shadowOffset, Size(0, 1));

    // The mask rounds the bottom corners only; the shadow's radius is at least 2.
    for (double radius : {1.0, 6.0}) {
        s.menu->setDropdownCornerRadius(radius);
        EXPECT_EQ(s.content().shadowView()->layer().shadowRadius, std::max(radius, 2.0));
    }
    const Path& mask = s.content().tableContainerView()->layer().mask->path;
    Rect tb = s.content().tableContainerView()->bounds();
    EXPECT_TRUE(mask.contains({0.3, 0.3})) << "square top-left";
    EXPECT_FALSE(mask.contains({0.3, tb.maxY() - 0.3})) << "rounded bottom-left";
    EXPECT_FALSE(mask.contains({tb.maxX() - 0.3, tb.maxY() - 0.3})) << "rounded bottom-right";
    EXPECT_EQ(s.content().borderLayer()->path.boundingBox(), mask.boundingBox());
    s.menu->setDropdownRoundedCorners(kAllCorners);
    EXPECT_FALSE(s.content().tableContainerView()->layer().mask->path.contains({0.3, 0.3}));

    s.menu->setDropdownDropsShadow(false);
    EXPECT_TRUE(s.content().shadowView()->isHidden());
    EXPECT_EQ(s.content().tableContainerView()->backgroundColor(), Color::clear());
    s.menu->setRowSeparatorColor(Color::red());
    EXPECT_EQ(s.content().borderLayer()->strokeColor, Color::red());
    EXPECT_EQ(s.content().tableView()->tableHeaderView()->backgroundColor(), Color::red());
    EXPECT_FALSE(s.menu->dropdownShowsBorder());
    s.menu->setDropdownShowsBorder(true);
    EXPECT_FALSE(s.content().borderView()->isHidden());

    // A spacer above the rows adds its height to the list and moves by its offset.
    auto spacer = std::make_shared<View>(Rect(0, 0, 10, 12));
    s.menu->setSpacerViewOffset({3, -2});
    s.menu->setSpacerView(spacer);
    s.h.settle();
    EXPECT_EQ(s.content().contentInset().top, 12);
    EXPECT_EQ(s.content().containerView()->frame().height(), 12 + 132.5);
    EXPECT_EQ(s.content().tableContainerView()->frame().minY(), 12);
    EXPECT_EQ(spacer->frame().origin, Point(3, -2));
    s.menu->setSpacerView(nullptr);
    s.h.settle();
    EXPECT_EQ(s.content().containerView()->frame().height(), 132.5);
}

TEST(DropdownMenu, ComponentButtonsShowTitlesViewsAndTheirIndicator) {
    HXCDropdownMenuComponentButton b;
    b.setFrame(Rect(0, 0, 120, 44));
    // The built-in triangle: 8 points, template, with its room in the right inset.
    auto triangle = HXCDropdownMenuComponentButton::defaultDisclosureIndicatorImage();
    EXPECT_EQ(triangle->size(), Size(8, 8));
    EXPECT_EQ(triangle->renderingMode(), RenderingMode::alwaysTemplate);
    EXPECT_EQ(b.disclosureIndicatorView()->image(), triangle);
    EXPECT_EQ(b.contentEdgeInsets(), (EdgeInsets{0, 8, 0, 20}));
    b.layoutIfNeeded();
    EXPECT_EQ(b.disclosureIndicatorView()->frame(), Rect(104, 18, 8, 8)) << "8 points in from the right, centred";
    auto pixels = triangle->bitmap();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->width(), 16) << "drawn at the screen's scale";
    EXPECT_EQ(pixels->rgbaAt(8, 12)[3], 255) << "inside the triangle";
    EXPECT_EQ(pixels->rgbaAt(1, 14)[3], 0) << "beside its point";
    b.setDisclosureIndicatorImage(makeImage("wide", {12, 6}));
    EXPECT_EQ(b.contentEdgeInsets().right, 24);

    b.disclosureIndicatorAngle = std::numbers::pi;
    b.selectedBackgroundColor = Color::systemGray5();
    b.setSelected(true);
    EXPECT_NEAR(b.disclosureIndicatorView()->transform().a, -1, 1e-12);
    EXPECT_EQ(b.backgroundColor(), Color::systemGray5());
    b.setSelected(false);
    EXPECT_TRUE(b.disclosureIndicatorView()->transform().isIdentity());
    EXPECT_FALSE(b.backgroundColor());
    b.setEnabled(false);
    EXPECT_TRUE(b.disclosureIndicatorView()->isHidden());
    b.setEnabled(true);
    EXPECT_FALSE(b.disclosureIndicatorView()->isHidden());

    // A custom view replaces the titles and lends its label; a title takes its place again.
    b.setAttributedTitle(AttributedString("All", {}), AttributedString("All ▴", {}));
    EXPECT_EQ(b.currentTitle(), "All");
    auto custom = std::make_shared<Label>();
    custom->setText("Starred");
    b.setCustomView(custom);
    EXPECT_EQ(b.currentCustomView(), custom);
    EXPECT_FALSE(b.containerView()->isHidden());
    EXPECT_EQ(b.accessibility().label, "Starred");
    EXPECT_EQ(b.currentTitle(), std::nullopt);
    EXPECT_EQ(custom->frame(), b.containerView()->bounds());
    EXPECT_EQ(b.hitTest({60, 22}, nullptr), &b) << "taps on the custom view act on the button";
    auto inner = std::make_shared<Button>();
    inner->setFrame(Rect(0, 0, 20, 20));
    custom->setUserInteractionEnabled(true);
    custom->addSubview(inner);
    EXPECT_EQ(b.hitTest({5, 5}, nullptr), inner.get()) << "but a control of its own keeps its taps";
    b.setAttributedTitle(AttributedString("Spam", {}), std::nullopt);
    EXPECT_EQ(b.currentCustomView(), nullptr);
    EXPECT_TRUE(b.containerView()->isHidden());
    b.setSelected(true);
    EXPECT_EQ(b.currentTitle(), "Spam") << "no selected title: the normal one shows";
}
