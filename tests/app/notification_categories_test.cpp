// The notification categories as the app registers them, their texts from the app's strings like
// every other text, and the centre's delegate: a response the system hands the centre reaches
// the application object.
#include <gtest/gtest.h>

#include <fstream>

#include "app/connect_app_delegate_iphone.h"
#include "platform/foundation/bundle.h"
#include "platform/services/device.h"
#include "platform/services/user_notifications.h"
#include "service/conversation_operations.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/test_support.h"

namespace {

struct NotificationCategories : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {};

TEST_F(NotificationCategories, TextsComeFromTheStringsAndTheAppAnswersTheCentre) {
    HX_REQUIRE_FRESH_PROCESS();  // the bundle reads its tables once
    hxtest::TempDir resources;
    std::filesystem::create_directories(resources / "en.lproj");
    std::ofstream(resources / "en.lproj/Localizable.strings")
        << "\"Reply\" = \"Answer\";\n\"Send\" = \"Go\";\n"
           "\"Text Message\" = \"Your text\";\n\"HIDDEN_BODY_SUMMARY\" = \"A message\";\n"
           "\"NOTIFICATION_SUMMARY\" = \"%u more\";\n";
    foundation::Bundle::main().setResourcesDirectory(resources.path());
    app->registerForUserNotifications();
    foundation::Bundle::main().setResourcesDirectory({});

    const auto categories = services::NotificationSettings::shared().notificationCategories();
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].identifier, "com.hxconnect.markRead");
    ASSERT_EQ(categories[1].actions.size(), 2u);
    const auto& reply = categories[1].actions[0];
    EXPECT_EQ(reply.title, "Answer");
    EXPECT_EQ(reply.textInputButtonTitle, "Go");
    EXPECT_EQ(reply.textInputPlaceholder, "Your text");
    // The mark-read action is titled as the conversation action it does.
    EXPECT_EQ(categories[1].actions[1].title, *HXConversationOperations::of(app)->titleForConversationAction(5));
    EXPECT_EQ(categories[0].actions.at(0).title, categories[1].actions[1].title);
    for (const auto& c : categories) {
        EXPECT_EQ(c.hiddenPreviewsBodyPlaceholder, "A message");
        EXPECT_EQ(c.categorySummaryFormat, "%u more");
    }

    // The app is the centre's delegate: a tapped location-switch announcement opens the settings.
    auto center = services::UserNotificationCenter::currentNotificationCenter();
    ASSERT_TRUE(launch());
    harness.settle();
    app->selectViewForIndex(1);
    harness.settle();
    ASSERT_EQ(app->currentViewIndex(), 1);
    int completions = 0;
    ASSERT_TRUE(center->respond(
        {services::kNotificationDefaultActionIdentifier, foundation::Dictionary{{"quicksetting", int64_t{1}}}, {}},
        [&] { ++completions; }));
    harness.settle();
    EXPECT_EQ(app->currentViewIndex(), 4);
    EXPECT_EQ(completions, 1);
}

}  // namespace
