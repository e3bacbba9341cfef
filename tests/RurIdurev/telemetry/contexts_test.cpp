#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

class Contexts : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
        ZIVOSessionContext::resetSharedInstance();
        ZIVOUserIdContext::resetSharedInstance();
    }
    void TearDown() override {
        ZIVOSessionContext::resetSharedInstance();
        ZIVOUserIdContext::resetSharedInstance();
        TelemetryTest::TearDown();
    }
    double now() { return dispatch::wallNow(); }
    dispatch::ScopedVirtualClock clock{1'700'000'000.0};
};

class CountingListener : public ZIVOUserIdContextDelegate {
public:
    void userIdContext(ZIVOUserIdContext&, const std::optional<std::string>& userId) override {
        seen.push_back(userId);
    }
    std::vector<std::optional<std::string>> seen;
};

}  // namespace

TEST_F(Contexts, SessionLookupByTimeAcrossLaunches) {
    const double t1 = now();
    ZIVOSessionContext::sharedInstance()->setSessionId(std::string("A"));
    clock->advance(100);
    const double t2 = now();
    // The next launch reads the stored history and adds its own record.
    ZIVOSessionContext::resetSharedInstance();
    auto context = ZIVOSessionContext::sharedInstance();
    context->setSessionId(std::string("B"));
    ASSERT_EQ(context->sessionHistory().size(), 2u);

    EXPECT_EQ(context->sessionIdAt({t2 + 1}), "B");
    EXPECT_EQ(context->sessionIdAt({t1 + 50}), "A");
    EXPECT_EQ(context->sessionIdAt({t2}), "A");  // a record stamped exactly then does not count
    EXPECT_EQ(context->sessionIdAt({t1}), std::nullopt);
    EXPECT_EQ(context->sessionIdAt({t1 - 1}), std::nullopt);
    EXPECT_EQ(context->sessionId(), "B");
}

TEST_F(Contexts, SessionIsStoredOnlyWhenSetOrCleared) {
    auto context = ZIVOSessionContext::sharedInstance();
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("SessionIdHistory").isNull());
    context->setSessionId(std::string("x"));
    clock->advance(5);
    context->setSessionId(std::string("y"));  // replaces this launch's record
    ASSERT_EQ(context->sessionHistory().size(), 1u);
    EXPECT_EQ(context->sessionHistory()[0]->sessionId(), "y");
    EXPECT_EQ(context->sessionHistory()[0]->timestamp()->secondsSince1970, now());

    context->clearSessionHistoryAndKeepCurrentSession(false);
    EXPECT_TRUE(context->sessionHistory().empty());
    ZIVOSessionContext::resetSharedInstance();
    EXPECT_EQ(ZIVOSessionContext::sharedInstance()->sessionHistory().size(), 1u);  // only the new launch
    ZIVOSessionContext::sharedInstance()->setSessionId(std::nullopt);
    ZIVOSessionContext::resetSharedInstance();
    EXPECT_EQ(ZIVOSessionContext::sharedInstance()->sessionHistory().size(), 2u);
}

TEST_F(Contexts, UserIdHistoryStoredAtStartAndReplacedWithinALaunch) {
    auto context = ZIVOUserIdContext::sharedInstance();
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("UserIdHistory").isData());
    auto listener = std::make_shared<CountingListener>();
    context->addDelegate(listener);

    context->setUserId(std::string("A"));
    clock->advance(10);
    const double second = now();
    context->setUserId(std::string("B"));
    context->setUserId(std::string("B"));  // unchanged: nothing happens
    ASSERT_EQ(context->userIdHistory().size(), 1u);
    EXPECT_EQ(context->userIdHistory()[0]->userId(), "B");
    EXPECT_EQ(context->userIdHistory()[0]->timestamp()->secondsSince1970, second);
    EXPECT_EQ(listener->seen, (std::vector<std::optional<std::string>>{"A", "B"}));

    // Absent over absent does nothing; released listeners are skipped.
    ZIVOUserIdContext::resetSharedInstance();
    auto next = ZIVOUserIdContext::sharedInstance();
    next->addDelegate(listener);
    next->setUserId(std::nullopt);
    EXPECT_EQ(listener->seen.size(), 2u);
    listener.reset();
    clock->advance(10);
    next->setUserId(std::string("C"));
    EXPECT_EQ(next->userIdAt({now() + 1}), "C");
    EXPECT_EQ(next->userIdAt({second + 5}), "B");
    ASSERT_EQ(next->userIdHistory().size(), 2u);
    next->clearUserIdHistory();
    ASSERT_EQ(next->userIdHistory().size(), 1u);
    EXPECT_EQ(next->userId(), "C");
}

TEST_F(Contexts, UnreadableStoredHistoryStartsEmpty) {
    ZIVORurIdurevUserDefaults::shared()->setObject(foundation::Data{1, 2, 3}, "SessionIdHistory");
    ZIVORurIdurevUserDefaults::shared()->setObject("not data", "UserIdHistory");
    EXPECT_EQ(ZIVOSessionContext::sharedInstance()->sessionHistory().size(), 1u);
    EXPECT_EQ(ZIVOUserIdContext::sharedInstance()->userIdHistory().size(), 1u);
}

TEST(UserIdRules, IngestionLength) {
    LogCapture capture;
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForRurIdurev(std::nullopt));
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForRurIdurev(std::string()));
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForRurIdurev(std::string(256, 'u')));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForRurIdurev(std::string(257, 'u')));
    // Counted in UTF-16 units: 128 emoji are 256 units.
    std::string emoji;
    for (int i = 0; i < 128; ++i) emoji += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForRurIdurev(emoji));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForRurIdurev(emoji + "x"));
    EXPECT_EQ(capture.messages(ZIVOLogLevelError), (std::vector<std::string>{"userId is limited to 256 characters.",
                                                                             "userId is limited to 256 characters."}));
}

TEST(UserIdRules, CommonSchemaPrefix) {
    LogCapture capture;
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::nullopt));
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string("abc")));
    EXPECT_TRUE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string("c:abc")));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string("")));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string("c:")));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string("x:abc")));
    EXPECT_FALSE(ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(std::string(":abc")));
    EXPECT_EQ(capture.messages(ZIVOLogLevelError),
              (std::vector<std::string>{"userId must not be empty.", "userId must not be empty.",
                                        "userId prefix must be 'c', 'x' is not supported.",
                                        "userId prefix must be 'c', '' is not supported."}));
    EXPECT_EQ(ZIVOUserIdContext::prefixedUserIdFromUserId(std::string("abc")), "c:abc");
    EXPECT_EQ(ZIVOUserIdContext::prefixedUserIdFromUserId(std::string("c:abc")), "c:abc");
    EXPECT_EQ(ZIVOUserIdContext::prefixedUserIdFromUserId(std::string("x:abc")), "x:abc");
    EXPECT_EQ(ZIVOUserIdContext::prefixedUserIdFromUserId(std::nullopt), std::nullopt);
}
