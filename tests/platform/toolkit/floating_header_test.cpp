// Section headers of plain tables float: pinned below the top inset while their section scrolls
// under them, pushed up by the end of their section, above the rows and taking the touches
// there. Grouped tables scroll theirs with the content.
#include <gtest/gtest.h>

#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;

namespace {

// Three sections of ten 44-point rows under titled headers (28 points in plain style, 38 in
// grouped, with 18-point footers): in plain style section 0 spans 0-468, section 1 468-936,
// section 2 936-1404; grouped, each spans 496.
class Sections : public TableViewController {
public:
    using TableViewController::TableViewController;
    std::vector<IndexPath> selected;
    long numberOfSections(TableView&) override { return 3; }
    long numberOfRows(TableView&, long) override { return 10; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = t.dequeueReusableCell("row");
        if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
        cell->textLabel().setText("Row " + std::to_string(ip.section) + "." + std::to_string(ip.row));
        return cell;
    }
    std::optional<std::string> titleForHeader(TableView&, long s) override { return "Section " + std::to_string(s); }
    void didSelectRow(TableView&, IndexPath ip) override { selected.push_back(ip); }
};

// The y of each section's shown header in content coordinates; -1 where none is shown.
std::vector<double> headerYs(TableView& t) {
    std::vector<double> out;
    for (long s = 0; s < 3; ++s) out.push_back(t.headerView(s) ? t.headerView(s)->frame().minY() : -1);
    return out;
}

}  // namespace

TEST(ToolkitFloatingHeader, PlainHeadersPinAndArePushedAway) {
    // iPhone 8 without bars: the top inset is the 20-point status bar, so the content's top in
    // view is offset + 20.
    struct Case {
        TableViewStyle style;
        double offset;
        std::vector<double> ys;
    };
    const std::vector<Case> cases = {
        {TableViewStyle::Plain, -20, {0, 468, -1}},
        {TableViewStyle::Plain, 100, {120, 468, -1}},
        {TableViewStyle::Plain, 420, {440, 468, 936}},  // exactly where the end of section 0 meets it
        {TableViewStyle::Plain, 430, {440, 468, 936}},  // pushed up: it ends where the section ends
        {TableViewStyle::Plain, 500, {-1, 520, 936}},
        {TableViewStyle::Plain, 1000, {-1, -1, 1020}},
        {TableViewStyle::Plain, 1384, {-1, -1, 1376}},  // the last section's end holds it too
        // Grouped: 38-point headers, 18-point footers, all at their place in the content.
        {TableViewStyle::Grouped, 100, {-1, 496, -1}},
        {TableViewStyle::Grouped, 500, {-1, 496, 992}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.style == TableViewStyle::Plain ? "plain " : "grouped ") + std::to_string(c.offset));
        Harness h(ScreenProfile::iPhone8(), 15);
        auto list = std::make_shared<Sections>(c.style);
        h.setRoot(list);
        TableView& t = *list->tableView();
        t.setContentOffset({0, c.offset});
        h.settle();
        EXPECT_EQ(headerYs(t), c.ys);
        for (long s = 0; s < 3; ++s)
            EXPECT_EQ(t.rectForHeader(s).minY(), (c.style == TableViewStyle::Plain ? 468.0 : 496.0) * s)
                << "the header's place in the content does not move";
    }
}

TEST(ToolkitFloatingHeader, APinnedHeaderCoversTheRowsUnderIt) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto list = std::make_shared<Sections>(TableViewStyle::Plain);
    h.setRoot(list);
    TableView& t = *list->tableView();
    h.scroll(t, {0, 200});
    std::shared_ptr<View> header = t.headerView(0);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->convertRectTo(header->bounds(), nullptr), Rect(0, 20, 375, 28)) << "just below the status bar";
    // Drawn above the rows: later among the table's subviews than any cell.
    const auto& subs = t.subviews();
    auto at = [&](const View* v) {
        return std::find_if(subs.begin(), subs.end(), [&](auto& s) { return s.get() == v; }) - subs.begin();
    };
    for (auto& cell : t.visibleCells()) EXPECT_LT(at(cell.get()), at(header.get()));
    // A tap on it reaches the header, not the row scrolled beneath it.
    EXPECT_TRUE(h.tap(*header));
    EXPECT_TRUE(list->selected.empty());
    // Just below it, the row takes the tap.
    h.tap(Point{100, 20 + 28 + 10});
    ASSERT_EQ(list->selected.size(), 1u);
    EXPECT_EQ(list->selected[0], *t.indexPathForRowAtPoint({100, t.contentOffset().y + 20 + 28 + 10}));
}
