// The run's service and device worked through its window (SDL's offscreen driver) with the keys a
// user presses, the hooks wired as the program wires them (app/main.cpp, app/run_device.h): F10 has
// a text arrive from a new number, the app in the background finds it and its banner's Reply
// answers it; F11 takes the network away, a request fails as not connected with the alert, and
// the network comes back.
#include <gtest/gtest.h>

#include "app/run_device.h"
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
