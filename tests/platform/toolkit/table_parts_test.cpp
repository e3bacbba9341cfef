// Table parts the screens lean on: headers and footers from the delegate with their heights, the
// table's own header and footer views, accessory buttons, highlight refusals, display callbacks,
// a data source that gives no cell, and the inset adjustment of scroll views under bars.
#include <gtest/gtest.h>

#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

class Parts : public TableViewController {
public:
    Parts() : TableViewController(TableViewStyle::Grouped) {}
    Log log;
    int displayed = 0, ended = 0;
    bool nullCells = false;
    bool refuseHighlight = false;
    long numberOfSections(TableView&) override { return 2; }
    long numberOfRows(TableView&, long s) override { return s == 0 ? 3 : 20; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        if (nullCells && ip.row == 1) return nullptr;
        auto cell = t.dequeueReusableCell("plain");
        if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Value1, "plain");
        cell->textLabel().setText(describe(ip));
        cell->detailTextLabel()->setText("detail");
        cell->setAccessoryType(ip.row == 0 ? CellAccessoryType::DetailButton : CellAccessoryType::None);
        return cell;
    }
    std::optional<double> heightForHeader(TableView&, long s) override {
        if (s == 0) return 220.0;
        return std::nullopt;
    }
    std::shared_ptr<View> viewForHeader(TableView&, long s) override {
        if (s != 0) return nullptr;
        auto v = std::make_shared<Label>();
        v->setText("Map");
        return v;
    }
    std::optional<double> heightForRow(TableView&, IndexPath ip) override {
        if (ip.section == 0 && ip.row == 2) return 88.0;
        return std::nullopt;
    }
    std::optional<std::string> titleForFooter(TableView&, long s) override {
        if (s == 0) return "Calls ring this phone";
        return std::nullopt;
    }
    void accessoryButtonTapped(TableView&, IndexPath ip) override { log.push_back("accessory " + describe(ip)); }
    bool shouldHighlightRow(TableView&, IndexPath) override { return !refuseHighlight; }
    void didSelectRow(TableView&, IndexPath ip) override { log.push_back("select " + describe(ip)); }
    void willDisplayCell(TableView&, TableViewCell&, IndexPath) override { ++displayed; }
    void didEndDisplayingCell(TableView&, TableViewCell&, IndexPath) override { ++ended; }
};

}  // namespace

TEST(ToolkitTableParts, HeadersFootersAndRowHeightsFromTheDelegate) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto parts = std::make_shared<Parts>();
    h.setRoot(parts);
    TableView& t = *parts->tableView();
    auto banner = std::make_shared<View>(Rect(0, 0, 10, 50));
    t.setTableHeaderView(banner);
    h.settle();
    // The table's header first, then section 0: a 220-point header, rows of 44, 44 and 88.
    EXPECT_EQ(banner->frame(), Rect(0, 0, 375, 50));
    EXPECT_EQ(t.rectForHeader(0), Rect(0, 50, 375, 220));
    EXPECT_EQ(t.rectForRow({0, 0}), Rect(0, 270, 375, 44));
    EXPECT_EQ(t.rectForRow({0, 2}), Rect(0, 358, 375, 88));
    EXPECT_EQ(t.rectForFooter(0), Rect(0, 446, 375, 38)) << "a titled footer in a grouped table";
    EXPECT_EQ(t.rectForHeader(1), Rect(0, 484, 375, 18));
    EXPECT_EQ(t.rectForSection(0), Rect(0, 50, 375, 434));
    EXPECT_EQ(t.contentSize().height, 484 + 18 + 20 * 44 + 18);
    ASSERT_NE(t.headerView(0), nullptr);
    EXPECT_EQ(t.headerView(0)->outlineText(), "Map");
    EXPECT_EQ(t.headerView(0)->frame(), t.rectForHeader(0));
    ASSERT_NE(t.footerView(0), nullptr);
    EXPECT_EQ(t.footerView(0)->outlineText(), "Calls ring this phone");
    EXPECT_EQ(t.headerView(1), nullptr) << "no title, no view: the space stays empty";
    // Scrolled far down, the first section's views leave with its rows.
    t.setContentOffset({0, 1000});
    h.settle();
    EXPECT_EQ(t.headerView(0), nullptr);
    EXPECT_EQ(t.cellForRow({0, 0}), nullptr);
    EXPECT_EQ(parts->displayed - parts->ended, static_cast<int>(t.visibleCells().size()));
    // A new table footer lands after the last section.
    auto footer = std::make_shared<View>(Rect(0, 0, 10, 30));
    t.setTableFooterView(footer);
    h.settle();
    EXPECT_EQ(footer->frame(), Rect(0, 484 + 18 + 880 + 18, 375, 30));
    EXPECT_EQ(t.contentSize().height, 484 + 18 + 880 + 18 + 30);
}

TEST(ToolkitTableParts, AccessoryButtonsHighlightRefusalsAndMissingCells) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto parts = std::make_shared<Parts>();
    parts->nullCells = true;
    h.setRoot(parts);
    TableView& t = *parts->tableView();
    t.scrollToRow({0, 0}, ScrollPosition::Top, false);
    h.settle();
    // Row 1 had no cell from the data source: an empty row stands in, without crashing.
    auto stand = t.cellForRow({0, 1});
    ASSERT_NE(stand, nullptr);
    EXPECT_EQ(stand->reuseIdentifier(), "");
    EXPECT_EQ(stand->frame(), t.rectForRow({0, 1}));
    // The detail button reports the row; the row itself stays unselected.
    auto cell = t.cellForRow({0, 0});
    ASSERT_NE(cell, nullptr);
    View* info = nullptr;
    for (auto& v : cell->subviews())
        if (v->accessibilityLabel() == "More Info" && !v->isHidden()) info = v.get();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(h.tap(*info));
    EXPECT_EQ(parts->log, (Log{"accessory s0r0"}));
    EXPECT_FALSE(t.indexPathForSelectedRow());
    EXPECT_LT(cell->contentView().frame().maxX(), info->convertRectTo(info->bounds(), cell.get()).minX() + 1);
    // A refused highlight does not stop the selection.
    parts->refuseHighlight = true;
    EXPECT_TRUE(h.selectRow(t, {0, 2}));
    EXPECT_EQ(parts->log.back(), "select s0r2");
    // Value1 cells put the detail on the right, the title on the left.
    Rect text = cell->textLabel().frame(), detail = cell->detailTextLabel()->frame();
    EXPECT_LT(text.maxX(), detail.minX());
    EXPECT_EQ(detail.maxX(), cell->contentView().bounds().width());
}

TEST(ToolkitTableParts, ScrollInsetsFollowTheBarsUnlessTurnedOff) {
    struct Case {
        ContentInsetAdjustment behaviour;
        bool inNavigation;
        double topInset;
    };
    Case cases[] = {
        {ContentInsetAdjustment::Automatic, true, 64},
        {ContentInsetAdjustment::Automatic, false, 20},
        {ContentInsetAdjustment::Never, true, 0},
        {ContentInsetAdjustment::Always, true, 64},
    };
    for (auto& c : cases) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto parts = std::make_shared<Parts>();
        parts->tableView()->contentInsetAdjustmentBehavior = c.behaviour;
        if (c.inNavigation)
            h.setRoot(std::make_shared<NavigationController>(parts));
        else
            h.setRoot(parts);
        TableView& t = *parts->tableView();
        SCOPED_TRACE(static_cast<int>(c.behaviour));
        EXPECT_EQ(t.adjustedContentInset().top, c.topInset);
        EXPECT_EQ(t.contentOffset().y, -c.topInset) << "the content starts below the bars";
        EXPECT_EQ(t.minimumContentOffset().y, -c.topInset);
        // A larger inset keeps content that rests at the top resting there.
        t.setContentInset({10, 0, 0, 0});
        h.settle();
        EXPECT_EQ(t.contentOffset().y, -c.topInset - 10);
        // Content scrolled away stays put.
        t.setContentOffset({0, 300});
        t.setContentInset({0, 0, 0, 0});
        h.settle();
        EXPECT_EQ(t.contentOffset().y, 300);
    }
}

namespace {

class Footers : public TableViewController {
public:
    explicit Footers(TableViewStyle style) : TableViewController(style) {}
    std::string footer;
    long numberOfSections(TableView&) override { return 2; }
    long numberOfRows(TableView&, long) override { return 1; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath) override {
        auto cell = t.dequeueReusableCell("plain");
        return cell ? cell : std::make_shared<TableViewCell>(TableViewCellStyle::Default, "plain");
    }
    std::optional<std::string> titleForFooter(TableView&, long s) override {
        return s == 0 ? std::optional(footer) : std::nullopt;
    }
};

std::string words(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += (i ? " w" : "w") + std::to_string(i % 10) + "xy";
    return text;
}

}  // namespace

// A footer's title wraps onto the lines it needs (lines of 16 points in the fixed metrics, 52
// characters across a 375-point phone): its space grows by each added line, the last line keeps
// its place, nothing is cut, and the next section moves down.
TEST(ToolkitTableParts, FooterTitlesWrapAndTheirSpaceGrows) {
    struct Case {
        TableViewStyle style;
        std::string text;
        double height;
        size_t lines;
    };
    const Case cases[] = {
        {TableViewStyle::Grouped, "Short", 38, 1},
        {TableViewStyle::Grouped, "One\nTwo", 54, 2},
        // Ten words of four characters a line.
        {TableViewStyle::Grouped, words(30), 70, 3},
        {TableViewStyle::InsetGrouped, words(30), 70, 3},
        {TableViewStyle::Plain, "Short", 28, 1},
        {TableViewStyle::Plain, words(12), 44, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Harness h(ScreenProfile::iPhone8(), 15);
        auto table = std::make_shared<Footers>(c.style);
        table->footer = c.text;
        h.setRoot(table);
        TableView& t = *table->tableView();
        h.settle();
        const Rect footer = t.rectForFooter(0);
        EXPECT_EQ(footer.height(), c.height);
        EXPECT_EQ(t.rectForHeader(1).minY(), footer.maxY()) << "the next section follows the whole footer";
        auto* view = dynamic_cast<TableViewHeaderFooterView*>(t.footerView(0).get());
        ASSERT_NE(view, nullptr);
        Label& label = view->textLabel();
        const auto box = label.textBox(label.bounds().width());
        ASSERT_EQ(box.lines.size(), c.lines);
        EXPECT_EQ(label.frame().height(), 16.0 * static_cast<double>(c.lines)) << "every line inside the label";
        EXPECT_EQ(label.frame().maxY(), c.height - 6) << "the last line above the footer's bottom";
        EXPECT_FALSE(box.truncated) << "nothing cut";
    }
}

TEST(ToolkitTableParts, AFootersLinesFollowTheTablesWidth) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto table = std::make_shared<Footers>(TableViewStyle::Grouped);
    table->footer = words(30);
    h.setRoot(table);
    TableView& t = *table->tableView();
    h.settle();
    ASSERT_EQ(t.rectForFooter(0).height(), 70);
    // Landscape: 635 points of text, fifteen words a line.
    h.rotate(Orientation::LandscapeLeft);
    h.settle();
    EXPECT_EQ(t.rectForFooter(0).height(), 54);
    EXPECT_EQ(t.footerView(0)->frame(), t.rectForFooter(0));
    h.rotate(Orientation::Portrait);
    h.settle();
    EXPECT_EQ(t.rectForFooter(0).height(), 70);
}
