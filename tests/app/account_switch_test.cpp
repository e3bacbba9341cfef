// An account switch and a search hit against the loopback service: the search hit switches to its
// account (the current one too), loads the account's data and opens the conversation, which asks
// the service for its newest page; once every reply is in, no request is left in flight and the
// app is idle again.
#include <gtest/gtest.h>

#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "platform/foundation/url.h"
#include "platform/services/device.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
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

}  // namespace
