#include "platform/services/user_activity.h"

#include <gtest/gtest.h>

using services::UserActivity;

namespace {

struct Filler : services::UserActivityDelegate {
    int saves = 0, continued = 0;
    void userActivityWillSave(UserActivity& a) override {
        ++saves;
        a.userInfo.set("messageText", foundation::Value("typed " + std::to_string(saves)));
    }
    void userActivityWasContinued(UserActivity&) override { ++continued; }
};

struct UserActivities : ::testing::Test {
    void SetUp() override { UserActivity::reset(); }
    void TearDown() override { UserActivity::reset(); }
};

}  // namespace

TEST_F(UserActivities, TheCurrentOneIsReplacedAndAnInvalidatedOneNeverReturns) {
    auto call = std::make_shared<UserActivity>("com.example.call");
    auto sms = std::make_shared<UserActivity>("com.example.sms");
    call->becomeCurrent();
    EXPECT_EQ(UserActivity::current(), call);
    sms->becomeCurrent();
    EXPECT_EQ(UserActivity::current(), sms);
    EXPECT_FALSE(call->isCurrent());
    sms->invalidate();
    EXPECT_EQ(UserActivity::current(), nullptr);
    sms->becomeCurrent();
    EXPECT_EQ(UserActivity::current(), nullptr) << "an invalidated activity stays invalid";
    call->becomeCurrent();
    call.reset();
    EXPECT_EQ(UserActivity::current(), nullptr) << "the system does not keep a released activity";
}

TEST_F(UserActivities, ASaveAsksTheDelegateOnlyWhenNeededAndNeedsTheRequiredKeys) {
    auto filler = std::make_shared<Filler>();
    auto a = std::make_shared<UserActivity>("com.example.sms");
    a->title = "Send";
    a->keywords = {"SMS"};
    a->eligibleForSearch = true;
    a->delegate = filler;
    a->requiredUserInfoKeys = {"messageText"};
    a->becomeCurrent();
    EXPECT_FALSE(UserActivity::saveCurrent()) << "the required key is missing and nobody was asked";
    EXPECT_EQ(filler->saves, 0);
    a->setNeedsSave(true);
    auto saved = UserActivity::saveCurrent();
    ASSERT_TRUE(saved);
    EXPECT_EQ(filler->saves, 1);
    EXPECT_EQ(saved->userInfo.get("messageText").stringValue(), "typed 1");
    EXPECT_FALSE(a->needsSave());
    ASSERT_TRUE(UserActivity::saveCurrent());
    EXPECT_EQ(filler->saves, 1) << "no second will-save without a new need";
    a->addUserInfoEntries(foundation::Dictionary{});
    EXPECT_TRUE(a->needsSave());
    EXPECT_EQ(UserActivity::savedActivities().size(), 2u);
    EXPECT_EQ(UserActivity::savedActivities()[0].title, "Send");
    a->continued();
    EXPECT_EQ(filler->continued, 1);
}
