// The list screen follows its rows: a page of the service that changes three rows in view shows
// those three cells again, not the table; the other rows keep their cells, order and selection.
#include <gtest/gtest.h>

#include <map>

#include "tests/ui/messages/list_fixture.h"

namespace {

using hxtest::DeviceForm;
using toolkit::IndexPath;

struct ListRows : hxtest::ListFixture<HX_ConnectAppDelegate_iPhone> {
    ListRows() : ListFixture(DeviceForm::phone, 15) {}
    void SetUp() override {
        ListFixture::SetUp();
        useAccount({});
    }
};

TEST_F(ListRows, APageThatChangesThreeRowsShowsThreeCellsAgain) {
    auto& l = launchAndShow(1);
    auto table = l.tableView();
    // At the top with the search bar hidden, where a refresh leaves the list.
    table->setContentOffset({0, l.searchBar()->frame().height() - table->adjustedContentInset().top});
    harness.settle();
    const auto ids = rowIDs(l);
    ASSERT_GE(ids.size(), 20u);
    ASSERT_GE(table->indexPathsForVisibleRows().size(), 6u);
    // Three rows in view change their read state on the service; another row is selected.
    std::map<std::string, bool> read;
    service->withAccount([&](emulator::Account& a) {
        for (size_t row : {1, 3, 5}) {
            auto* thread = a.thread(ids[row]);
            thread->read = !thread->read;
            read[ids[row]] = thread->read;
        }
        return 0;
    });
    table->selectRow(IndexPath{0, 4}, false);
    // The refresh spinner's inset moves the rows at the bottom out of view and back while it
    // turns: without it, every cell asked for is a row shown again.
    l.setRefreshControl(nullptr);
    const size_t before = table->cellsShown(0);
    const size_t pages = bodies("api2thread/list").size();

    // A refresh from the first page: the list pages through the service's threads again.
    l.model()->loadMessages(HXMessageListModel::Sender::None);
    ASSERT_TRUE(settleUntil([&] {
        return bodies("api2thread/list").size() > pages && !loading(1) && HXWebClientOf(*app).requests.empty();
    }));

    EXPECT_EQ(table->cellsShown(0) - before, 3u) << "the three changed rows, not the table";
    EXPECT_EQ(rowIDs(l), ids);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 4}));
    for (size_t row : {1, 3, 5}) {
        auto conversation = l.rowAt(IndexPath{0, static_cast<long>(row)});
        ASSERT_TRUE(conversation);
        EXPECT_EQ(conversation->isRead(), read.at(ids[row])) << ids[row];
    }
}

}  // namespace
