// The list screens' common controller as the view of its list model: it attaches once its view
// has loaded, is the shown list while on screen, shows the conversations a parse stored, ends its
// refresh with the date of the load and, before a load of its own, shows the date its account kept.
#include <gtest/gtest.h>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/scroll_view.h"
#include "service/message_list_model.h"
#include "tests/support/screen_fixture.h"
#include "tests/ui/messages/stored_threads.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/messages/vc_messages.h"

namespace {
struct MessageListScreen : hxtest::ScreenFixture<HX_ConnectAppDelegate> {};
}  // namespace

TEST_F(MessageListScreen, ShowsTheConversationsItsModelStoredAndEndsItsRefresh) {
    ASSERT_TRUE(hxtest::signInWithEmptyStore(*app, "screen@example.test"));

    auto screen = std::make_shared<VC_Messages>(
        std::make_shared<HXMessageListModel>(app, HXMessageListModel::smsViewSettings("https://voice.test/voice/")));
    auto model = screen->model();
    EXPECT_FALSE(model->view()) << "no view before the screen's has loaded";
    EXPECT_FALSE(model->isShownScreen());
    harness.setRoot(screen);
    harness.settle();
    EXPECT_EQ(model->view().get(), static_cast<HXMessageListView*>(screen.get()));
    EXPECT_TRUE(model->isShownScreen());
    EXPECT_EQ(screen->tableView()->numberOfRows(0), 0);

    screen->beginRefreshing("Refreshing data…");
    EXPECT_TRUE(screen->refreshControl()->isRefreshing());
    ASSERT_TRUE(hxtest::storeTwoThreads(*model, harness, [&] { return !screen->refreshControl()->isRefreshing(); }));
    ASSERT_EQ(screen->tableView()->numberOfRows(0), 2);
    auto name = [&](long row) {
        auto cell = std::dynamic_pointer_cast<MessageListTableViewCell>(
            screen->cellForRow(*screen->tableView(), toolkit::IndexPath{0, row}));
        if (!cell) return std::string();
        cell->setFrame(toolkit::Rect(0, 0, 320, 57));
        cell->layoutIfNeeded();
        // The name, without the count the row may add.
        const std::string title = cell->titleLabel().text();
        return title.substr(0, title.find(' '));
    };
    EXPECT_EQ(name(0), "Ben") << "newest first";
    EXPECT_EQ(name(1), "Ann");
    EXPECT_EQ(screen->refreshControl()->attributedTitle.rfind("Last Updated: ", 0), 0u)
        << screen->refreshControl()->attributedTitle;
}

// After a relaunch a list has no date of its own: coming on screen it shows the one its account
// kept under the list's tag; a list that loaded since keeps its own.
TEST_F(MessageListScreen, AListShowsTheLastUpdateItsAccountKeptUntilItLoadsItself) {
    ASSERT_TRUE(hxtest::signInWithEmptyStore(*app, "screen@example.test"));
    const foundation::Date smsDate{1600000000}, vmDate{1650000000};
    app->account()->refreshDates().set("SMS", smsDate);
    app->account()->refreshDates().set("VM", vmDate);
    app->account()->refreshDates().set("History", foundation::Value("not a date"));
    auto lastUpdated = [](foundation::Date date) {
        foundation::DateFormatter formatter;
        formatter.setDateStyle(foundation::DateFormatter::Style::Short);
        formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
        return "Last Updated: " + formatter.string(date);
    };
    const std::string base = "https://voice.test/voice/";
    struct Case {
        foundation::Dictionary settings;
        std::string title;
    };
    const Case cases[] = {
        {HXMessageListModel::smsViewSettings(base), lastUpdated(smsDate)},
        {HXMessageListModel::voicemailViewSettings(base), lastUpdated(vmDate)},
        {HXMessageListModel::historyViewSettings(base), "Pull down to Refresh…"},
    };
    std::shared_ptr<VC_Messages> sms;
    for (const Case& c : cases) {
        auto screen = std::make_shared<VC_Messages>(std::make_shared<HXMessageListModel>(app, c.settings));
        harness.setRoot(screen);
        harness.settle();
        EXPECT_EQ(screen->refreshControl()->attributedTitle, c.title) << c.settings.get("viewTag").asString();
        if (!sms) sms = screen;
    }

    // The SMS list loads: its own date from then on, which its account keeps, so the list shows it
    // again when it comes back (off screen it forgets its own).
    harness.setRoot(sms);
    harness.settle();
    ASSERT_TRUE(hxtest::storeTwoThreads(*sms->model(), harness));
    ASSERT_TRUE(sms->model()->lastUpdate());
    const std::string own = lastUpdated(foundation::Date{*sms->model()->lastUpdate()});
    ASSERT_NE(own, lastUpdated(smsDate));
    harness.setRoot(std::make_shared<toolkit::ViewController>());
    harness.settle();
    EXPECT_FALSE(sms->model()->lastUpdate());
    harness.setRoot(sms);
    harness.settle();
    EXPECT_EQ(sms->refreshControl()->attributedTitle, own);
}
