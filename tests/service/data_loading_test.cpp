// The data loads of the web client and where their replies go, against the emulated service.
#include <gtest/gtest.h>

#include "app/hxc_passcode_lock.h"

#include <algorithm>
#include <set>

#include "platform/foundation/notification_center.h"
#include "tests/service/web_client_fixture.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/voice_paths.h"

namespace {

using foundation::Dictionary;

using hxtest::kApi;

struct DataLoading : WebClientFixture {
    std::shared_ptr<HXMessageListStandIn> history = std::make_shared<HXMessageListStandIn>();
    std::shared_ptr<HXMessageListStandIn> sms = std::make_shared<HXMessageListStandIn>();
    std::map<std::string, int> posted;

    void SetUp() override {
        WebClientFixture::SetUp();
        app->setAccount(
            hxtest::signedInAccount("user@example.test", hxtest::bearerToken("T", clock->wallNow() + 3600, "h")));
        app->shell().changeScript([this](HXShellRecorder::Script& s) {
            s.currentViewIndex = 1;
            s.messageLists = {{1, sms}, {3, history}};
        });
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "", [this](const foundation::Notification& n) { ++posted[n.name]; });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        WebClientFixture::TearDown();
    }
    std::shared_ptr<const foundation::Data> data(const std::string& s) {
        return std::make_shared<const foundation::Data>(s.begin(), s.end());
    }
    std::string unread(int64_t newestMs, bool read = false) {
        return R"({"thread":[{"read":)" + std::string(read ? "true" : "false") + R"(,"item":[{"startTime":")" +
               std::to_string(newestMs) + R"("},{"startTime":"1000"}]},
                   {"read":true,"item":[{"startTime":"99999999999999"}]}]})";
    }
};

TEST_F(DataLoading, ListLoadsNeedAConnectionASessionAndNoRequestInFlight) {
    service.script("/voice/v1/voiceclient/api2thread/list", {.hold = true}, 1);
    app->loadSpam();
    app->loadSpam();  // in flight: not again
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 1; }));
    EXPECT_EQ(service.requests()[0].body, "[5,20,15,null,null,[null,true,true]]");
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    app->setConnectionAvailable(false);
    app->loadArchive();
    app->setConnectionAvailable(true);
    app->account()->setAuthV2(std::nullopt);
    app->loadArchive();
    clock->runUntilIdle();
    EXPECT_EQ(service.requestCount(), 1u);
    // Without a token the lists stop their refresh; the unread load waits for the token.
    app->account()->setAuthV2(std::string("AUTH"));
    app->account()->setOAuthDict(Dictionary{{"login_hint", "h"}});
    service.script("/o/oauth2/tokenrpc", {.hold = true});
    app->loadArchive();
    EXPECT_EQ(posted["kCookiesExpiredNotification"], 1);
    EXPECT_FALSE(app->unreadLoadPending());
    app->loadUnreadMessages();
    EXPECT_EQ(posted["kCookiesExpiredNotification"], 2);
    EXPECT_TRUE(app->unreadLoadPending());
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 2; }));  // the one token request
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
}

// An unread load under way is waited for: asking again sends nothing until it has ended.
TEST_F(DataLoading, AnUnreadLoadUnderWayIsWaitedFor) {
    service.script("/voice/v1/voiceclient/api2thread/list", {.hold = true}, 1);
    app->loadUnreadMessages();
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 2; }));  // the list and the counts
    app->loadUnreadMessages();
    clock->runUntilIdle();
    EXPECT_EQ(service.requestCount(), 2u);
    service.releaseHeld();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    app->loadUnreadMessages();
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 4; }));
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
}

TEST_F(DataLoading, ConversationPagesAreTaggedByTheirTokenAndAnsweredToWhoAsked) {
    service.script("/voice/v1/voiceclient/api2thread/get", {.body = "{\"thread\":{}}"}, 3);
    std::vector<std::string> heard;
    auto asker = [&](const std::string& name) -> HXReplyAnswer {
        return [&heard, name](std::shared_ptr<foundation::Data> data) {
            heard.push_back(name + " " + (data ? std::string(data->begin(), data->end()) : "(failed)"));
        };
    };
    app->loadConversationWithID(std::string("t\"1"), std::nullopt, asker("latest"));
    app->loadConversationWithID(std::string("t2"), std::string("PAGE\\2"), asker("older"));
    app->loadConversationWithID(std::nullopt, std::nullopt, asker("none"));  // no id: nothing
    ASSERT_TRUE(runUntil([&] { return heard.size() == 2 && inFlight() == 0; }));
    std::vector<std::string> bodies;
    for (const auto& r : service.requests()) bodies.push_back(r.body);
    std::sort(bodies.begin(), bodies.end());
    // Ids and tokens are JSON strings, escaped.
    EXPECT_EQ(bodies, (std::vector<std::string>{R"(["t2",100,"PAGE\\2",[null,true,true]])",
                                                R"(["t\"1",100,null,[null,true,true]])"}));
    std::sort(heard.begin(), heard.end());
    EXPECT_EQ(heard, (std::vector<std::string>{"latest {\"thread\":{}}", "older {\"thread\":{}}"}));
    // Only the one who asked hears of a page: neither the shown list nor the history list parses it,
    // whichever view is current, and a page nobody asked for is parsed by no list.
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.currentViewIndex = 4; });
    app->loadConversationWithID(std::string("t3"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 3 && inFlight() == 0; }));
    clock->runUntilIdle();
    EXPECT_TRUE(sms->calls().empty());
    EXPECT_TRUE(history->calls().empty());
    // Without a session nothing is asked.
    app->account()->setAuthV2(std::nullopt);
    app->loadConversationWithID(std::string("t4"), std::nullopt, asker("signed out"));
    clock->runUntilIdle();
    EXPECT_EQ(service.requestCount(), 3u);
    EXPECT_EQ(heard.size(), 2u);
}

TEST_F(DataLoading, SpamArchiveAndCountsGoToTheHistoryListAndTheBadges) {
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.currentViewIndex = 2; });
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = "SPAM"});
    app->loadSpam();
    ASSERT_TRUE(runUntil([&] { return history->count("parseMessagesFromData") == 1; }));
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = "ARCHIVE"});
    app->loadArchive();
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 2; }));
    EXPECT_EQ(history->calls(),
              (std::vector<std::string>{"parseMessagesFromData flags 1", "parseMessagesFromData flags 2"}));
    EXPECT_EQ(history->parsedData(), (std::vector<std::string>{"SPAM", "ARCHIVE"}));
    // An empty list reply is not parsed.
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = ""});
    app->loadSpam();
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    clock->runUntilIdle();
    EXPECT_EQ(history->calls().size(), 2u);
    // The unread load sends the list and the counts; the counts become the badges of views 1, 2.
    service.script("/voice/v1/voiceclient/threadinginfo/get",
                   {.body = R"({"info":{"viewInfo":[{"view":"voicemailAndRecordingThreads","unreadThreadCount":"3"},
                               {"view":"textThreads","unreadThreadCount":5},{"view":"other","unreadThreadCount":9}]}})"});
    service.script("/voice/v1/voiceclient/api2thread/list", {.body = ""});
    app->loadUnreadMessages();
    ASSERT_TRUE(runUntil([&] { return app->shell().count("setUnreadCount") == 2 && inFlight() == 0; }));
    EXPECT_EQ(app->shell().count("setUnreadCount 5 1"), 1u);
    EXPECT_EQ(app->shell().count("setUnreadCount 3 2"), 1u);
    auto requests = service.requests();
    ASSERT_GE(requests.size(), 2u);
    std::set<std::string> lastTwo{requests[requests.size() - 2].body, requests.back().body};
    EXPECT_EQ(lastTwo, (std::set<std::string>{"[1,20,15,null,null,[null,true,true]]", "[]"}));
    // An empty unread reply only schedules the next refresh.
    EXPECT_EQ(app->shell().count("queueRefresh"), 1u);
    EXPECT_EQ(posted["kUnreadItemsProcessedNotification"], 1);
}

TEST_F(DataLoading, NewUnreadItemsAreParsedAndAnnouncedOlderOnesOnlyParsed) {
    app->setLastNotification(2000);
    // Newest unread item at 2500.9 s: parsed by the history list, alert for its time.
    app->getUnreadMessagesFromData(data(unread(2500900)));
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 1 && app->shell().count("queueRefresh") == 1; }));
    EXPECT_EQ(history->calls()[0], "parseMessagesFromData");
    EXPECT_EQ(app->shell().count("playNewMessageAlertForMessageWithDate 2500"), 1u);
    EXPECT_EQ(posted["kUnreadItemsProcessedNotification"], 1);
    // Read threads do not count, however new; older unread ones are parsed without an alert.
    app->getUnreadMessagesFromData(data(unread(1500000)));
    app->getUnreadMessagesFromData(data(unread(9000000, true)));
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 3; }));
    EXPECT_EQ(app->shell().count("playNewMessageAlertForMessageWithDate"), 1u);
    // In the background the time is recorded instead, and no refresh is queued.
    app->setIsInBackground(true);
    app->getUnreadMessagesFromData(data(unread(2600000)));
    ASSERT_TRUE(runUntil([&] { return app->lastNotification() > 2000; }));
    EXPECT_EQ(app->lastNotification(), clock->wallNow());
    EXPECT_EQ(app->shell().count("queueRefresh"), 3u);
}

// A thread without "read" is unread for the unread load as it is for the list's parse (which
// stores it unread): its new item is announced.
TEST_F(DataLoading, AThreadWithoutAReadMemberIsUnreadHereAsInTheList) {
    app->setLastNotification(2000);
    app->getUnreadMessagesFromData(data(R"({"thread":[{"item":[{"startTime":"3000000"}]}]})"));
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 1 && app->shell().count("queueRefresh") == 1; }));
    EXPECT_EQ(app->shell().count("playNewMessageAlertForMessageWithDate 3000"), 1u);
    // A null one is read the same way; one read as true is not announced.
    app->setLastNotification(2000);
    app->getUnreadMessagesFromData(data(R"({"thread":[{"read":null,"item":[{"startTime":"4000000"}]}]})"));
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 2; }));
    app->setLastNotification(2000);
    app->getUnreadMessagesFromData(data(R"({"thread":[{"read":1,"item":[{"startTime":"5000000"}]}]})"));
    ASSERT_TRUE(runUntil([&] { return history->calls().size() == 3; }));
    EXPECT_EQ(app->shell().count("playNewMessageAlertForMessageWithDate 4000"), 1u);
    EXPECT_EQ(app->shell().count("playNewMessageAlertForMessageWithDate 5000"), 0u);
}

TEST_F(DataLoading, ABackgroundFetchIsAnsweredOnceOrNotAtAllOnA401) {
    app->setIsInBackground(true);
    app->setLastNotification(5000);
    std::vector<int> answers;
    // Nothing new: the passcode lock covers the app and the fetch hears "no data".
    HXCPasscodeLock::sharedLock().setPasscodeRequired(true);
    app->getUnreadMessagesFromData(data(unread(1000000)), [&](int r) { answers.push_back(r); });
    ASSERT_TRUE(runUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0], HXApplicationModel::BackgroundFetchNoData);
    EXPECT_TRUE(app->lockShown);
    app->lockShown = false;
    HXCPasscodeLock::sharedLock().setPasscodeRequired(false);
    EXPECT_TRUE(history->calls().empty());
    // Something new: the history list's parse answers it.
    history->fetchResult = HXApplicationModel::BackgroundFetchNewData;
    app->getUnreadMessagesFromData(data(unread(6000000)), [&](int r) { answers.push_back(r); });
    ASSERT_TRUE(runUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[1], HXApplicationModel::BackgroundFetchNewData);
    EXPECT_EQ(history->calls(), std::vector<std::string>{"parseMessagesFromData completion"});
    // A 401 shows the sign-in panel and answers nothing.
    app->getUnreadMessagesFromData(data(R"({"error":{"code":401}})"), [&](int r) { answers.push_back(r); });
    ASSERT_TRUE(runUntil([&] { return app->shell().count("displayLogin") == 1; }));
    clock->runUntilIdle();
    EXPECT_EQ(answers.size(), 2u);
    // Without a history list the fetch is answered as failed rather than left waiting.
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageLists.clear(); });
    app->setLastNotification(5000);
    app->getUnreadMessagesFromData(data(unread(7000000)), [&](int r) { answers.push_back(r); });
    ASSERT_TRUE(runUntil([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers[2], HXApplicationModel::BackgroundFetchFailed);
}

}  // namespace
