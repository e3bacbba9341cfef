// The run's service and device worked through its window (SDL's offscreen driver) with the keys a
// user presses, the hooks wired as the program wires them (app/main.cpp, app/run_device.h): F10 has
// a text arrive from a new number, the app in the background finds it and its banner's Reply
// answers it; F11 takes the network away, a request fails as not connected with the alert, and
// the network comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "emulator/emulator.h"
#include "platform/foundation/application.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/url_error.h"
#include "platform/services/device.h"
#include "service/request_machinery.h"
#include "tests/support/window_fixture.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/messages/vc_messages.h"
#include "ui/widgets/hxc_input_toolbar.h"

namespace {

struct RunWindow : hxtest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        // The device's network, as the program has it before the launch.
        hxrun::installConnection();
    }
};

// The service host's monitor reports once as it starts: the launch loads its data once, and
// after a trip to the background (F5 twice) the monitor, started again, reports again, so an
// address typed then (F7) opens and the run goes idle.
TEST_F(RunWindow, TheLaunchLoadsOnceAndAfterF5TwiceAnAddressOpensHistoryAndTheRunGoesIdle) {
    ASSERT_TRUE(launchAndLoad());
    ASSERT_EQ(runScript("wait-frames 120\nwait-idle\n"), "");
    std::map<std::string, int> loads;
    for (const auto& request : service->requests())
        if (request.path.ends_with("/account/get") || request.path.ends_with("/api2thread/list") ||
            request.path.ends_with("/threadinginfo/get"))
            ++loads[request.path.substr(request.path.rfind('/', request.path.rfind('/') - 1)) + " " + request.body];
    const std::map<std::string, int> once = {
        {"/account/get [null,1]", 1},
        {"/api2thread/list [1,20,15,null,null,[null,true,true]]", 1},
        {"/api2thread/list [5,20,15,null,null,[null,true,true]]", 1},
        {"/api2thread/list [6,20,15,null,null,[null,true,true]]", 1},
        {"/threadinginfo/get []", 1},
    };
    EXPECT_EQ(loads, once) << "the settings, the unread, spam and archive lists and the counts, once each";

    const std::string played =
        runScript("press-key F5\npress-key F5\npress-key F7\ntype hxconnect://history\npress-key Return\nwait-idle\n");
    EXPECT_EQ(played, "");
    EXPECT_FALSE(app->pendingURL()) << "the address was not held";
    EXPECT_EQ(app->currentViewIndex(), 3) << harness.outline();
    auto history = app->viewControllerForIndex(3);
    ASSERT_TRUE(history);
    EXPECT_TRUE(history->isViewLoaded() && history->view()->window()) << harness.outline();
}

TEST_F(RunWindow, F10HasATextArriveFromANewNumberWhoseBannerReplySends) {
    foundation::UserDefaults::standardUserDefaults()->setInteger(7, "notificationTypes");
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    // The launch's own loads (the unread ones a second after the first) are done.
    frames(2);
    ASSERT_TRUE(settleRequests());
    services::BackgroundFetch::shared().setSystemMinimumInterval(5);
    play("press-key F5");
    ASSERT_TRUE(foundation::Application::shared().isInBackground());
    // The key asks the service; the text lands in a thread of its own.
    play("press-key F10");
    ASSERT_TRUE(untilReal([&] { return !arrivals.empty(); })) << "the route answered";
    EXPECT_EQ(arrivals.front().rfind("a text arrived from +15550140000: ", 0), 0u) << arrivals.front();
    const std::string thread = "t.+15550140000";
    ASSERT_TRUE(
        service->withAccount([&](emulator::Account& a) { return a.thread(thread) && !a.thread(thread)->read; }));

    // The system's background fetch finds it and announces it.
    frames(6);
    ASSERT_EQ(services::BackgroundFetch::shared().fetchesBegun(), 1);
    ASSERT_TRUE(untilReal([&] { return !fetchResults.empty(); }));
    EXPECT_EQ(fetchResults, std::vector<int>{HXApplicationModel::BackgroundFetchNewData});
    EXPECT_TRUE(app->getConversationWithID(thread));
    frames(1.5);
    ASSERT_NE(frontEnd->banners().banner(), nullptr) << harness.outline();
    EXPECT_EQ(frontEnd->banners().shown()->request.content.userInfo.get("id").stringValue(), thread);
    play("press-key F5");
    ASSERT_TRUE(settleRequests());

    ASSERT_NE(bannerButton("Reply"), nullptr) << harness.outline();
    click(*bannerButton("Reply"));
    ASSERT_NE(bannerButton("Send"), nullptr);
    play("type Who is this?\n");
    click(*bannerButton("Send"));
    ASSERT_TRUE(settleRequests());
    EXPECT_TRUE(service->withAccount([&](emulator::Account& a) {
        return std::any_of(a.sent.begin(), a.sent.end(),
                           [&](const auto& m) { return m.text == "Who is this?" && m.threadId == thread; });
    })) << "the reply went to the new number's thread";
}

TEST_F(RunWindow, F11TakesTheNetworkAwayAReplyIsKeptToSendLaterAndGoesOutWhenF11BringsItBack) {
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    frames(2);
    ASSERT_TRUE(settleRequests());
    app->selectViewForIndex(1);
    harness.settle();
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list && list->tableView()->numberOfRows(0) > 0) << harness.outline();
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, 0}));
    harness.settle();
    auto* conversation = dynamic_cast<VC_Conversation*>(list->navigationController()->topViewController());
    ASSERT_TRUE(conversation) << harness.outline();
    ASSERT_TRUE(settleRequests());
    frames(1);

    play("press-key F11");
    EXPECT_FALSE(hxrun::connectionOn());
    auto* bar = conversation->inputToolbar();
    ASSERT_TRUE(bar && bar->textView());
    click(*bar->textView());
    play("type See you at eight\n");
    const size_t sentBefore = service->withAccount([](emulator::Account& a) { return a.sent.size(); });
    click(*bar->inputButton());
    ASSERT_TRUE(settleRequests());
    frames(0.5);
    // The send failed as not connected: the app offers to keep it.
    auto* alert = harness.visibleAlert();
    ASSERT_NE(alert, nullptr) << harness.outline();
    EXPECT_EQ(alert->alertTitle().value_or(""), "No Network Connection");
    ASSERT_TRUE(harness.tapAlertAction("Send Later")) << harness.outline();
    harness.settle();
    EXPECT_EQ(service->withAccount([](emulator::Account& a) { return a.sent.size(); }), sentBefore);

    // Back on: the app hears it and sends what it kept.
    play("press-key F11");
    EXPECT_TRUE(hxrun::connectionOn());
    for (int i = 0; i < 40 && service->withAccount([](emulator::Account& a) { return a.sent.size(); }) == sentBefore;
         ++i) {
        frames(0.5);
        ASSERT_TRUE(settleRequests());
    }
    EXPECT_TRUE(service->withAccount([](emulator::Account& a) {
        return !a.sent.empty() && a.sent.back().text == "See you at eight";
    })) << "the kept reply went out";
}

}  // namespace

// A swipe on a row near the bottom of a long thread, through the window as a user makes it, after
// the thread was scrolled and after it was loaded again: the message deleted is the one the finger
// was on when the swipe began (run many times: a swipe once deleted a message some rows above).
TEST_F(RunWindow, ASwipeNearTheBottomOfALongThreadDeletesTheMessageUnderTheFinger) {
    const auto ids = service->withAccount([](emulator::Account& a) {
        emulator::addConversationThreadsOnce(a, 1);
        return emulator::conversationThreadIds(a);
    });
    ASSERT_FALSE(ids.empty());
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    frames(2);
    ASSERT_TRUE(settleRequests());
    app->selectViewForIndex(1);
    frames(1);
    ASSERT_TRUE(settleRequests());
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list);
    auto* nav = list->navigationController();
    auto& rows = *list->tableView();
    VC_Conversation* thread = nullptr;
    for (long row = 0; row < rows.numberOfRows(0) && !thread; ++row) {
        const auto conversation = list->rowAt({0, row});
        if (!conversation || conversation->conversationID() != ids[0]) continue;
        ASSERT_TRUE(harness.selectRow(rows, {0, row}));
        frames(1);
        ASSERT_TRUE(settleRequests());
        thread = dynamic_cast<VC_Conversation*>(nav->topViewController());
    }
    ASSERT_NE(thread, nullptr) << harness.outline();
    auto& table = thread->tableView();
    auto items = [&] {
        return service->withAccount([&](emulator::Account& a) {
            std::vector<std::string> kept;
            if (auto* t = a.thread(ids[0]))
                for (const auto& m : t->items) kept.push_back(m.id);
            return kept;
        });
    };
    // Scrolled up a little with the wheel, then loaded again, as the run's user did.
    const toolkit::Rect shown = table.convertRectTo(table.bounds(), nullptr);
    play("scroll 0 3");
    frames(0.5);
    table.reloadData();
    frames(1);
    ASSERT_TRUE(settleRequests());

    // The lowest row wholly above the reply bar, its message, and a swipe to the left across it.
    const double bottom = thread->inputToolbar()
                              ? thread->inputToolbar()->convertRectTo(thread->inputToolbar()->bounds(), nullptr).minY()
                              : shown.maxY();
    std::optional<toolkit::IndexPath> target;
    toolkit::Rect targetFrame;
    for (const auto& path : table.indexPathsForVisibleRows()) {
        auto cell = table.cellForRow(path);
        if (!cell) continue;
        const toolkit::Rect f = cell->convertRectTo(cell->bounds(), nullptr);
        if (f.maxY() > bottom - 4 || f.height() < 30 || !thread->messageAt(path.section)) continue;
        if (!target || f.minY() > targetFrame.minY()) target = path, targetFrame = f;
    }
    ASSERT_TRUE(target) << harness.outline();
    const std::string underFinger = thread->messageAt(target->section)->messageID();
    const auto before = items();
    const double y = targetFrame.midY();
    play("drag " + std::to_string(shown.maxX() - 20) + " " + std::to_string(y) + " " +
         std::to_string(shown.minX() + 40) + " " + std::to_string(y) + " 8");
    frames(0.5);
    // The action the swipe uncovered (drawn as a picture, its title blank).
    toolkit::View* remove = nullptr;
    for (auto* actions : harness.findAll("SwipeActionsView"))
        if (!actions->subviews().empty()) remove = actions->subviews().front().get();
    ASSERT_NE(remove, nullptr) << harness.outline();
    click(*remove);
    frames(1);
    ASSERT_TRUE(settleRequests());
    const auto after = items();
    std::vector<std::string> gone;
    for (const auto& id : before)
        if (std::find(after.begin(), after.end(), id) == after.end()) gone.push_back(id);
    EXPECT_EQ(gone, std::vector<std::string>{underFinger});
}
