// What reaches the app from outside, delivered through its window on SDL's offscreen driver as
// the system delivers it: background fetches while the app is in the background, the banners of
// the notifications they announce (tapped, replied to, marked read), an address typed into the
// system's prompt, and a search of the on-device index kept across a restart.
#include <gtest/gtest.h>

#include <chrono>

#include "model/conversation.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/request_machinery.h"
#include "tests/support/service_threads.h"
#include "tests/support/window_fixture.h"

namespace {

// The new texts the service has for the account while the app is away: three threads, unread.
const std::vector<std::pair<std::string, std::string>> kNewTexts = {
    {"t.+15550171", "Are you coming tonight?"},
    {"t.+15550172", "The parcel is at the door"},
    {"t.+15550173", "Call me when you can"},
};

struct EntryWindow : hxtest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        services::SearchableIndex::defaultSearchableIndex()->deleteAllSearchableItems();
    }
    // The conversation screen on top of the shown view.
    std::string shownConversationID() {
        auto root = app->viewControllerForIndex(app->currentViewIndex());
        auto* nav = root ? root->navigationController() : nullptr;
        auto* top = nav ? dynamic_cast<HXConversationScreen*>(nav->topViewController()) : nullptr;
        return top ? top->setup().conversationID : std::string();
    }
    std::string bannerConversation() {
        const auto& shown = frontEnd->banners().shown();
        return shown ? shown->request.content.userInfo.get("id").stringValue() : std::string();
    }
    bool serviceThreadRead(const std::string& id) {
        return service->withAccount([&](emulator::Account& a) { return a.thread(id) && a.thread(id)->read; });
    }
};

TEST_F(EntryWindow, AFetchInTheBackgroundShowsBannersThatOpenReplyAndMarkRead) {
    foundation::UserDefaults::standardUserDefaults()->setInteger(7, "notificationTypes");
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    services::BackgroundFetch::shared().setSystemMinimumInterval(5);

    // F5: the app goes to the background; nothing is fetched before the interval has passed.
    play("press-key F5");
    ASSERT_TRUE(foundation::Application::shared().isInBackground());
    ASSERT_NE(services::BackgroundFetch::shared().minimumBackgroundFetchInterval(),
              services::kBackgroundFetchIntervalNever);
    frames(4);
    EXPECT_EQ(services::BackgroundFetch::shared().fetchesBegun(), 0);
    // Meanwhile the service has new texts for the account.
    service->withAccount([](emulator::Account& a) {
        int64_t at = 1'900'000'000'000;
        for (const auto& [id, text] : kNewTexts) {
            a.threads.push_back(hxtest::textThread(id.substr(2), id + ".m1", at += 60'000, text));
            a.threads.back().read = false;
        }
        return 0;
    });
    frames(1.5);
    ASSERT_EQ(services::BackgroundFetch::shared().fetchesBegun(), 1);
    // The fetch runs on a session of its own, over real sockets.
    (void)untilReal([&] { return !fetchResults.empty(); });
    ASSERT_EQ(fetchResults, std::vector<int>{HXApplicationModel::BackgroundFetchNewData});
    for (const auto& [id, text] : kNewTexts) EXPECT_TRUE(app->getConversationWithID(id)) << "stored: " << id;

    // The announcements are delivered a second later, one banner at a time, newest last.
    frames(1.5);
    ASSERT_NE(frontEnd->banners().banner(), nullptr)
        << "a banner shows; pending "
        << services::UserNotificationCenter::currentNotificationCenter()->pendingNotificationRequests().size()
        << ", delivered "
        << services::UserNotificationCenter::currentNotificationCenter()->deliveredNotifications().size();
    EXPECT_EQ(frontEnd->banners().waiting(), kNewTexts.size() - 1);
    EXPECT_EQ(bannerConversation(), kNewTexts[0].first);
    play("press-key F5");
    ASSERT_FALSE(foundation::Application::shared().isInBackground());
    ASSERT_TRUE(settleRequests());

    // Tapped, the first opens its conversation.
    ASSERT_TRUE(frontEnd->banners().banner());
    click(*frontEnd->banners().banner()->subviews().front());
    harness.advance(0.5);
    EXPECT_EQ(shownConversationID(), kNewTexts[0].first) << harness.outline();

    // The second: "Reply", a text typed, "Send": the text goes to its number and it is read.
    frames(0.5);
    ASSERT_EQ(bannerConversation(), kNewTexts[1].first);
    ASSERT_NE(bannerButton("Reply"), nullptr) << harness.outline();
    ASSERT_NE(bannerButton("Mark as read"), nullptr);
    click(*bannerButton("Reply"));
    ASSERT_NE(bannerButton("Send"), nullptr) << "the field asks for the text";
    play("type On my way\n");
    click(*bannerButton("Send"));
    ASSERT_TRUE(settleRequests());
    EXPECT_TRUE(service->withAccount([](emulator::Account& a) {
        return std::any_of(a.sent.begin(), a.sent.end(), [](const auto& m) { return m.text == "On my way"; });
    })) << "the reply was sent";
    EXPECT_TRUE(serviceThreadRead(kNewTexts[1].first));

    // The third: "Mark as read" marks it read at the service and in the store, opening nothing.
    frames(0.5);
    ASSERT_EQ(bannerConversation(), kNewTexts[2].first);
    EXPECT_FALSE(serviceThreadRead(kNewTexts[2].first));
    click(*bannerButton("Mark as read"));
    ASSERT_TRUE(settleRequests());
    EXPECT_TRUE(serviceThreadRead(kNewTexts[2].first));
    EXPECT_TRUE(app->getConversationWithID(kNewTexts[2].first)->value("isRead").boolValue());
    EXPECT_EQ(shownConversationID(), kNewTexts[0].first);
    EXPECT_EQ(frontEnd->banners().banner(), nullptr);
}

TEST_F(EntryWindow, F7OpensATypedAddressAndF8SearchesTheIndexAndOpensTheHit) {
    ASSERT_TRUE(launchAndLoad());
    openWindow();
    // The service's conversations are indexed as the SMS list stores them.
    app->selectViewForIndex(1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (services::SearchableIndex::defaultSearchableIndex()->items().empty() &&
           std::chrono::steady_clock::now() < until) {
        harness.advance(0.25);
        ASSERT_TRUE(settleRequests());
    }
    std::string id, words;
    for (const auto& item : services::SearchableIndex::defaultSearchableIndex()->items())
        if (!item.attributeSet.contentDescription.empty()) {
            id = item.uniqueIdentifier.substr(0, item.uniqueIdentifier.find('.', 2));
            words = item.attributeSet.contentDescription;
            break;
        }
    ASSERT_FALSE(id.empty()) << "a message is indexed";

    play("press-key F7");
    ASSERT_NE(frontEnd->prompt(), nullptr);
    play("type hxconnect://settings\npress-key Return");
    EXPECT_EQ(frontEnd->prompt(), nullptr) << "Return hands the address on and closes the prompt";
    EXPECT_EQ(app->currentViewIndex(), 4);

    // Escape closes a prompt without opening anything.
    play("press-key F7\ntype hxconnect://vm\npress-key Escape");
    EXPECT_EQ(frontEnd->prompt(), nullptr);
    EXPECT_EQ(app->currentViewIndex(), 4);

    play("press-key F8");
    ASSERT_NE(frontEnd->prompt(), nullptr);
    play("type no such words anywhere\npress-key Return");
    ASSERT_NE(frontEnd->prompt(), nullptr);
    EXPECT_TRUE(frontEnd->prompt()->hits().empty());
    play("press-key Escape\npress-key F8\ntype " + words + "\npress-key Return");
    ASSERT_NE(frontEnd->prompt(), nullptr);
    ASSERT_FALSE(frontEnd->prompt()->hits().empty()) << words;
    toolkit::View* hit = nullptr;
    for (const auto& view : frontEnd->prompt()->field().superview()->subviews())
        if (auto* b = dynamic_cast<toolkit::Button*>(view.get());
            b && b->currentTitle() && b->currentTitle()->find(words) != std::string::npos)
            hit = b;
    ASSERT_NE(hit, nullptr);
    click(*hit);
    ASSERT_TRUE(settleRequests());
    harness.advance(0.6);
    EXPECT_EQ(frontEnd->prompt(), nullptr);
    EXPECT_EQ(shownConversationID(), id) << harness.outline();
}

}  // namespace
