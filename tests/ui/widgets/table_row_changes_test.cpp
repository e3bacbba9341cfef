// A table following row changes: where an old row lands, and rows arriving above the ones in view
// (a conversation's older page) or at the end leaving the rows in view where they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/widgets/table_row_changes.h"

namespace {

using toolkit::IndexPath;

TEST(TableRowChanges, AnOldRowLandsAfterTheRemovalsAndInsertionsBeforeIt) {
    const struct {
        store::RowChanges changes;
        long oldRow;
        std::optional<long> newRow;
    } cases[] = {
        {{}, 3, 3},
        {{.removed = {3}}, 3, std::nullopt},
        {{.removed = {0, 1}}, 3, 1},
        {{.inserted = {0, 1, 2}}, 0, 3},
        {{.inserted = {5}}, 4, 4},
        {{.inserted = {4}}, 4, 5},
        {{.removed = {0}, .inserted = {0}}, 2, 2},  // the first row replaced
        {{.removed = {4}, .inserted = {0}}, 2, 3},  // a row moved to the top from below
        {{.removed = {1}, .inserted = {3}}, 2, 1},  // a row moved down past this one
        {{}, -1, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(hxRowAfterChanges(c.oldRow, c.changes), c.newRow) << c.oldRow;
}

class Messages : public toolkit::TableViewController {
public:
    std::vector<std::string> rows;
    long numberOfRows(toolkit::TableView&, long) override { return static_cast<long>(rows.size()); }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, IndexPath indexPath) override {
        auto cell = table.dequeueReusableCell("Row");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "Row");
        cell->textLabel().setText(rows[static_cast<size_t>(indexPath.row)]);
        return cell;
    }
};

std::vector<std::string> named(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i < to; ++i) out.push_back("m" + std::to_string(i));
    return out;
}

// The text of the first row in view and how far below the top of the view it starts.
std::pair<std::string, double> topRow(toolkit::TableView& table) {
    for (const auto& cell : table.visibleCells())
        if (auto ip = table.indexPathForCell(*cell); ip && table.rectForRow(*ip).maxY() > table.contentOffset().y)
            return {cell->textLabel().text(), table.rectForRow(*ip).minY() - table.contentOffset().y};
    return {};
}

TEST(TableRowChanges, OlderRowsArriveAboveTheRowsInViewWithoutMovingThem) {
    toolkit::testing::Harness harness;
    auto list = std::make_shared<Messages>();
    list->rows = named(20, 60);
    harness.setRoot(list);
    harness.settle();
    auto table = list->tableView();
    table->setContentOffset({0, 400});
    harness.settle();
    const auto before = topRow(*table);
    ASSERT_FALSE(before.first.empty());
    table->selectRow(IndexPath{0, 12}, false);

    // An older page at the top: the row in view stays put, the selection follows its row.
    const auto olderRows = named(0, 20);
    list->rows.insert(list->rows.begin(), olderRows.begin(), olderRows.end());
    store::RowChanges older;
    for (size_t i = 0; i < 20; ++i) older.inserted.push_back(i);
    ASSERT_TRUE(hxShowRowChanges(*table, 0, older, true).ok());
    harness.settle();
    EXPECT_EQ(topRow(*table), before);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 32}));
    EXPECT_EQ(table->numberOfRows(0), 60);

    // A newer message at the end changes nothing in view.
    const double offset = table->contentOffset().y;
    list->rows.push_back("m60");
    ASSERT_TRUE(hxShowRowChanges(*table, 0, {.inserted = {60}}, true).ok());
    harness.settle();
    EXPECT_EQ(table->contentOffset().y, offset);
    EXPECT_EQ(topRow(*table), before);

    // Without keeping the position the offset stays, and the rows in view move down.
    list->rows.insert(list->rows.begin(), "new");
    ASSERT_TRUE(hxShowRowChanges(*table, 0, {.inserted = {0}}, false).ok());
    harness.settle();
    EXPECT_EQ(table->contentOffset().y, offset);
    EXPECT_NE(topRow(*table), before);

    // A changed row asks for its one cell; a batch the counts disagree with reads everything.
    const size_t shown = table->cellsShown(0);
    const auto visible = table->indexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    list->rows[static_cast<size_t>(visible[0].row)] = "changed";
    ASSERT_TRUE(hxShowRowChanges(*table, 0, {.updated = {static_cast<size_t>(visible[0].row)}}, false).ok());
    harness.settle();
    EXPECT_EQ(table->cellsShown(0), shown + 1);
    EXPECT_EQ(table->cellForRow(visible[0])->textLabel().text(), "changed");
    list->rows.pop_back();
    EXPECT_FALSE(hxShowRowChanges(*table, 0, {.inserted = {0}}, false).ok());
    harness.settle();
    EXPECT_EQ(table->numberOfRows(0), static_cast<long>(list->rows.size()));
}

}  // namespace
