// An account switch and a search hit against the loopback service: the search hit switches to its
// account (the current one too), loads the account's data and opens the conversation, which asks
// the service for its newest page; once every reply is in, no request is left in flight and the
// app is idle again.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/conversation.h"
#include "platform/foundation/url.h"
#include "platform/services/device.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/shell/ui_screens.h"

namespace {

const std::string kThread = "t.+15550133";
constexpr const char* kGet = "/voice/v1/voiceclient/api2thread/get";

struct AccountSwitch : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    AccountSwitch() : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true}) {}
    bool runUntil(const std::function<bool()>& done, double seconds = 20) {
        return harness.clock().runUntil(done, seconds);
    }
    // The newest-page requests the service got for a conversation.
    size_t newestPagesAskedFor(const std::string& id) {
        size_t n = 0;
        for (const auto& r : service->requests())
            if (r.path == kGet && r.body.find("\"" + id + "\"") != std::string::npos &&
                r.body.find(",null,") != std::string::npos)
                ++n;
        return n;
    }
    std::string tableHolds() {
        std::string out;
        for (const auto& tag : HXWebClientOf(*app).requests.tags()) out += " " + tag;
        return out;
    }
};

TEST_F(AccountSwitch, ASearchHitSwitchesOpensItsConversationAsksForItsNewestPageAndLeavesTheAppIdle) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2() && app->retrieveOAuth(); }));
    ASSERT_TRUE(runUntil([&] { return app->getConversationWithID(kThread) != nullptr; }));
    ASSERT_TRUE(settleRequests()) << "in flight after the launch:" << tableHolds();
    const size_t before = newestPagesAskedFor(kThread);

    // The hit's identifier: the conversation, the message's number and the account.
    const std::string identifier = kThread + ".0." + foundation::queryItemEncoded(serviceUser());
    EXPECT_TRUE(app->continueUserActivity(services::kSearchableItemActionType,
                                          {{services::kSearchableItemActivityIdentifier, identifier}}));
    EXPECT_EQ(app->account()->username(), serviceUser());
    EXPECT_TRUE(runUntil([&] { return newestPagesAskedFor(kThread) > before; }))
        << "the conversation opened from the hit was not refreshed";
    // The account's data loads again after the switch (its lists a second after), then all ends:
    // the app is settled again (as the run waits for it), with no further network report.
    harness.advance(1.5);
    EXPECT_TRUE(settleRequests()) << "in flight after every reply came:" << tableHolds();
    EXPECT_TRUE(app->isIdle());
    EXPECT_TRUE(HXWebClientOf(*app).firstReachabilityHandled) << "waits for a network change to count as settled";
    // A URL after the switch lands at once instead of waiting for a network change.
    EXPECT_TRUE(app->applicationOpenURL("hxconnect://settings"));
    EXPECT_EQ(app->currentViewIndex(), 4);
    EXPECT_FALSE(app->pendingURL().has_value());
}

// A search hit names its message by its number, the time it was sent: the conversation opens
// scrolled to that message among many (not to the section of that number, none of a conversation
// of forty), and keeps it in view when the newest page the opening asks for brings older messages
// above it.
TEST_F(AccountSwitch, ASearchHitShowsItsMessageAmongManyAndKeepsItWhenTheNewestPageLands) {
    // Forty texts: the list brings the newest fifteen, the conversation's newest page the rest.
    service->withAccount([](emulator::Account& a) {
        auto& items = a.thread(kThread)->items;
        for (int i = 0; i < 38; ++i)
            items.insert(items.end() - 2, emulator::Message{"old" + std::to_string(i), 1'690'000'000'000 + i * 60'000,
                                                            "Older text " + std::to_string(i), "+15550133", "smsIn"});
        return 0;
    });
    ASSERT_TRUE(launch());
    ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2() && app->retrieveOAuth(); }));
    ASSERT_TRUE(runUntil([&] { return app->getConversationWithID(kThread) != nullptr; }));
    ASSERT_TRUE(settleRequests());
    // The found message: the fourth newest of those stored, a dozen below the oldest, which the
    // screen shows first.
    auto numbers = [&] {
        std::vector<int64_t> out;
        for (const auto& m : HX_Conversation(app->getConversationWithID(kThread)).messages())
            out.push_back(m.object()->value("number").int64Value());
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto stored = numbers();
    ASSERT_GE(stored.size(), 14u);
    ASSERT_LT(stored.size(), 40u) << "the conversation's older messages come with its newest page";
    const int64_t found = stored[stored.size() - 4], oldest = stored.front();

    // The newest page is held until the screen has scrolled, then let through.
    service->script(kGet, {.hold = true, .passThrough = true});
    const std::string identifier =
        kThread + "." + std::to_string(found) + "." + foundation::queryItemEncoded(serviceUser());
    ASSERT_TRUE(app->continueUserActivity(services::kSearchableItemActionType,
                                          {{services::kSearchableItemActivityIdentifier, identifier}}));
    harness.advance(1);
    harness.settle();
    // The messages on the screen, by number.
    auto shown = [&] {
        std::set<int64_t> out;
        auto* nav = app->viewControllerForIndex(1)->navigationController();
        auto* screen = nav ? dynamic_cast<VC_Conversation*>(nav->topViewController()) : nullptr;
        if (!screen) return out;
        for (const auto& p : screen->tableView().indexPathsForVisibleRows())
            if (auto message = screen->messageAt(p.section))
                out.insert(message->object()->value("number").int64Value());
        return out;
    };
    EXPECT_TRUE(shown().count(found)) << "the hit's message is on the screen";
    EXPECT_FALSE(shown().count(oldest)) << "the conversation was left where it opens";
    service->clearScripts();
    service->releaseHeld();
    ASSERT_TRUE(settleRequests());
    ASSERT_EQ(numbers().size(), 40u) << "the newest page brought the older messages";
    harness.advance(1);
    harness.settle();
    EXPECT_TRUE(shown().count(found)) << "the hit's message is still on the screen once the page is in";
    EXPECT_FALSE(shown().count(oldest));
}

}  // namespace
