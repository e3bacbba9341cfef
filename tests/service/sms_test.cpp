// Text messages against the emulator: the request bytes (decoded by protoc), the queue of unsent
// messages in the preferences, its drain, and the replies: sent, refused (also by an error
// status), kept queued when the service cannot take it now, and arriving after a sign-out.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "platform/foundation/application.h"
#include "platform/foundation/user_defaults.h"
#include "platform/toolkit/feedback.h"
#include "service/proto/hxcpb.h"
#include "service/sms_sending.h"
#include "tests/service/web_fixture.h"
#include "tests/support/full_disk.h"
#include "tests/support/voice_paths.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

struct SMS : hxtest::WebFixture {
    std::shared_ptr<HXMessageSender> sender;
    size_t tasksBefore = 0;
    std::vector<std::shared_ptr<void>> sentObjects;
    void SetUp() override {
        startService();
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsQueue");
        sender = HXMessageSender::of(app);
        tasksBefore = foundation::Application::shared().activeBackgroundTaskCount();
        foundation::NotificationCenter::defaultCenter().addObserver(
            &sentObjects, "kSMSReplySentNotification",
            [this](const foundation::Notification& n) { sentObjects.push_back(n.object); });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(&sentObjects);
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsQueue");
        hxtest::WebFixture::TearDown();
    }
    std::vector<emulator::SentMessage> received() {
        return service->withAccount([](emulator::Account& a) { return a.sent; });
    }
    std::optional<Dictionary> storedQueue() {
        return foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("smsQueue");
    }
    bool idle() { return inFlight() == 0; }
};

using hxtest::kSend;

// What the user is told of a message the service could not take now.
constexpr const char* kKeptMessage =
    "It will be sent automatically the next time data access is available while the HX Connect is running.";

}  // namespace

TEST(SMSQueueKeys, NextKeyIsOneMoreThanTheLargestNumber) {
    auto queue = [](std::vector<std::string> keys) {
        Dictionary d;
        for (auto& k : keys) d.set(k, Dictionary{});
        return d;
    };
    EXPECT_EQ(HXMessageSender::nextKey(queue({})), "1");
    EXPECT_EQ(HXMessageSender::nextKey(queue({"1", "2", "9"})), "10");
    EXPECT_EQ(HXMessageSender::nextKey(queue({"10", "9", "1"})), "11");
    EXPECT_EQ(HXMessageSender::nextKey(queue({"x", "3"})), "4");
}

TEST_F(SMS, ANewMessageIsQueuedSentToEveryRecipientAndTakenOffTheQueue) {
    sender->sendSMS("On my way \"now\"", std::string("(555) 010-3000|+1 555 010 4000"), std::nullopt);
    // Queued under "1" before the request goes out, with the task that covers it.
    auto queue = sender->accountQueue();
    ASSERT_TRUE(queue.contains("1"));
    EXPECT_EQ(queue.get("1")["message"], Value("On my way \"now\""));
    EXPECT_EQ(queue.get("1")["number"], Value("(555) 010-3000|+1 555 010 4000"));
    EXPECT_TRUE(queue.get("1")["backgroundTaskID"].isInt());
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskNames().back(), "SMS 1");
    ASSERT_TRUE(runUntil([&] { return idle() && !sentObjects.empty(); }));
    EXPECT_FALSE(storedQueue().has_value());  // the last entry of the last account takes the key along
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), tasksBefore);
    auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(*std::static_pointer_cast<std::string>(sentObjects[0]), "t.5550103000,+15550104000");
    auto requests = requestsTo(kSend);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-protobuf");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer " + token);
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP() << "no protoc";
    EXPECT_EQ(hxtest::protocDecode("SendSMSRequest", requests[0].body),
              "messageText: \"On my way \\\"now\\\"\"\ntargetNumber: \"5550103000\"\ntargetNumber: \"+15550104000\"\n"
              "randomID: " +
                  std::to_string(got[0].randomId) + "\n");
}

TEST_F(SMS, AReplyInAConversationCarriesItsIdAndNoRecipients) {
    app->setNewMessageAlert(true);
    toolkit::SystemSounds::shared().reset();
    sender->sendSMS("Hi!", std::nullopt, std::string("t.+15550133"));
    ASSERT_TRUE(runUntil([&] { return idle() && !sentObjects.empty(); }));
    EXPECT_EQ(*std::static_pointer_cast<std::string>(sentObjects[0]), "t.+15550133");
    // The bundle's sound, played once as an interface sound.
    std::vector<std::string> played;
    for (const auto& p : toolkit::SystemSounds::shared().plays()) played.push_back(p.file);
    EXPECT_EQ(played, std::vector<std::string>{"Message Sent.caf"});
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP() << "no protoc";
    EXPECT_EQ(hxtest::protocDecode("SendSMSRequest", requestsTo(kSend).at(0).body),
              "messageText: \"Hi!\"\nconversationID: \"t.+15550133\"\nrandomID: " +
                  std::to_string(received().at(0).randomId) + "\n");
}

// A refusal (400 and the other 4xx but 401, 408 and 429) is told and the message dropped.
TEST_F(SMS, RefusalsAreToldAboutAndNeverTakenForASend) {
    for (const int status : {400, 403, 404, 413}) {
        SCOPED_TRACE(status);
        alertMark = alerts().size();
        sentObjects.clear();
        const int failures = posted["kSMSSendingFailureNotification"];
        if (status == 400)
            service->inject(emulator::Fault::InvalidArgument, kSend);
        else
            service->script(kSend, {.status = status, .body = "refused"});
        sender->sendSMS("x", std::string("+15550103000"), std::nullopt);
        ASSERT_TRUE(runUntil([&] { return idle() && posted["kSMSSendingFailureNotification"] > failures; }));
        ASSERT_EQ((alerts().size() - alertMark), 1u);
        EXPECT_EQ(alerts()[alertMark].title, "Sending Message Failed");
        EXPECT_TRUE(sentObjects.empty());
        EXPECT_TRUE(sender->accountQueue().empty());
    }
    // A refusal with the service's error code names it.
    alertMark = alerts().size();
    sender->sendSMS("x", std::string("12"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && alerts().size() > alertMark; }));
    EXPECT_EQ(alerts()[alertMark].message,
              "Failed to send the message - please verify the target number.\n\nHX Voice returned an "
              "error:\nINVALID_NUMBER");
    EXPECT_TRUE(received().empty());
}

// A service that cannot take the message now (it failed, timed out, was asked too often, or
// refused a token that has not run out here) does not lose it: the message stays queued as after
// "Send Later" (deferred, no longer under way, not refused) and goes with the same id at the next
// drain, which after a refused token first asks for a new one. The user hears once that it goes
// later by itself.
TEST_F(SMS, AMessageTheServiceCannotTakeNowIsKeptAndGoesAtTheNextDrain) {
    using Kind = HXSendAnswer::Kind;
    struct Case {
        const char* what;
        std::function<void(emulator::Emulator&)> before;
        bool renewsToken;
    } cases[] = {
        {"500", [](emulator::Emulator& e) { e.inject(emulator::Fault::ServerErrorEmpty, kSend); }, false},
        {"408", [](emulator::Emulator& e) { e.script(kSend, {.status = 408}); }, false},
        {"429", [](emulator::Emulator& e) { e.script(kSend, {.status = 429, .body = "slow down"}); }, false},
        {"401, the token refused", [](emulator::Emulator& e) { e.expireTokens(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsQueue");
        service->withAccount([](emulator::Account& a) { a.sent.clear(); });
        service->clearRequests();
        alertMark = alerts().size();
        sentObjects.clear();
        const int failures = posted["kSMSSendingFailureNotification"];
        c.before(*service);
        auto heard = std::make_shared<std::vector<Kind>>();
        sender->sendSMS("keep me", std::string("+15550103000"), std::nullopt,
                        [heard](const HXSendAnswer& a) { heard->push_back(a.kind); });
        const int64_t id = sender->accountQueue().get("1")["randomID"].int64Value();
        ASSERT_TRUE(runUntil([&] { return idle() && !heard->empty(); }));
        clock->runUntilIdle();
        EXPECT_EQ(*heard, std::vector<Kind>{Kind::Kept});
        ASSERT_EQ(alerts().size(), alertMark + 1);
        EXPECT_EQ(alerts().back().title, "Sending Message Failed");
        EXPECT_EQ(alerts().back().message, kKeptMessage);
        EXPECT_EQ(posted["kSMSSendingFailureNotification"], failures);
        ASSERT_EQ(sentObjects.size(), 1u);
        EXPECT_EQ(sentObjects[0], nullptr);  // as after "Send Later": no conversation named
        auto queue = sender->accountQueue();
        ASSERT_EQ(queue.keys(), std::vector<foundation::Key>{"1"});
        EXPECT_EQ(queue.get("1")["message"], Value("keep me"));
        EXPECT_EQ(queue.get("1")["queued"], Value(true));
        EXPECT_FALSE(queue.get("1").asDictionary().contains("backgroundTaskID"));
        EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), tasksBefore);
        EXPECT_EQ(requestsTo(kSend).size(), 1u);
        EXPECT_EQ(tokenRequests(), 0u);

        sender->sendQueuedSMS();
        ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 1; }));
        EXPECT_EQ(received()[0].text, "keep me");
        EXPECT_EQ(static_cast<int64_t>(received()[0].randomId), id);
        EXPECT_TRUE(sender->accountQueue().empty());
        auto sends = requestsTo(kSend);
        ASSERT_EQ(sends.size(), 2u);
        if (c.renewsToken) {
            // A new token was asked for before the send, and the send carries it.
            EXPECT_GE(tokenRequests(), 1u);
            EXPECT_NE(sends[1].header("Authorization"), sends[0].header("Authorization"));
            EXPECT_TRUE(service->isValidAccessToken(sends[1].header("Authorization").value_or("").substr(7)));
        } else {
            EXPECT_EQ(tokenRequests(), 0u);
        }
    }
}

// Sending again what the queue keeps after a failure follows the kept copy and drains the queue:
// the message arrives once, and the second sender hears how it went. Another text, or the same
// text to another conversation, is a message of its own.
TEST_F(SMS, SendingAgainWhatTheQueueKeepsFollowsTheKeptCopy) {
    // The service failing keeps the message for a later drain.
    auto kept = std::make_shared<int>(0);
    auto countKept = [kept](const HXSendAnswer& a) {
        if (a.kind == HXSendAnswer::Kind::Kept) ++*kept;
    };
    service->inject(emulator::Fault::ServerErrorEmpty, kSend);
    sender->sendSMS("keep me", std::string("+15550103000"), std::nullopt, countKept);
    ASSERT_TRUE(runUntil([&] { return idle() && *kept == 1; }));
    ASSERT_EQ(sender->accountQueue().keys(), std::vector<foundation::Key>{"1"});
    std::vector<HXSendAnswer::Kind> heard;
    sender->sendSMS("keep me", std::string("+15550103000"), std::nullopt,
                    [&heard](const HXSendAnswer& a) { heard.push_back(a.kind); });
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 1 && sender->accountQueue().empty(); }));
    clock->advance(5);
    ASSERT_TRUE(runUntil([&] { return idle(); }));
    EXPECT_EQ(received().size(), 1u) << "the kept copy and a new one would both arrive";
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), HXSendAnswer::Kind::Sent);

    // Kept again (the service failing on): other messages are kept beside it, each once.
    service->inject(emulator::Fault::ServerErrorEmpty, kSend, 3);
    sender->sendSMS("keep me", std::string("+15550103000"), std::nullopt, countKept);
    ASSERT_TRUE(runUntil([&] { return idle() && *kept == 2; }));
    sender->sendSMS("another", std::string("+15550103000"), std::nullopt);
    sender->sendSMS("keep me", std::nullopt, std::string("t.+15550103000"));
    ASSERT_TRUE(runUntil([&] { return idle(); }));
    EXPECT_EQ(sender->accountQueue().keys().size(), 3u);
}

TEST_F(SMS, AReplyAfterASignOutEndsTheSendWithoutTouchingTheQueue) {
    auto& application = foundation::Application::shared();
    const auto shown = application.networkActivityIndicatorShowCount();
    service->inject(emulator::Fault::Slow, kSend);
    sender->sendSMS("late", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return service->requestCount() == 1; }));
    app->account()->setAuthV2(std::nullopt);
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return idle(); }));
    EXPECT_EQ(foundation::Application::shared().activeBackgroundTaskCount(), tasksBefore);
    // The status bar showed the indicator for the send and hid it at its end.
    EXPECT_EQ(application.networkActivityIndicatorShowCount() - shown, 1u);
    EXPECT_FALSE(application.isNetworkActivityIndicatorVisible());
    EXPECT_TRUE(sentObjects.empty());
    // The queue drains again: no tag of a finished send blocks it.
    app->account()->setAuthV2(std::string("AuthV2"));
    sender->removeSMSfromQueue("1");
    sender->sendSMS("next", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && !sentObjects.empty(); }));
}

// A send under way when the app last ran may or may not have reached the service: it goes again
// with its kept id like the others, and one the service had already taken ("two") arrives once.
TEST_F(SMS, TheQueueDrainsInKeyOrderKeepingIdsAndResendingSendsThatWereUnderWay) {
    // The service took "two" before the earlier run was stopped.
    sender->sendSMS("two", std::string("+15550102"), std::nullopt);
    const int64_t twoId = sender->accountQueue().get("1")["randomID"].int64Value();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 1; }));
    // Left by an earlier run: "2" was under way, "9" was deferred by the user, "10" predates ids.
    Dictionary queue;
    queue.set("9", Dictionary{{"message", Value("nine")},
                              {"number", Value("+15550109")},
                              {"queued", Value(true)},
                              {"randomID", Value(int64_t{909})}});
    queue.set("1",
              Dictionary{{"message", Value("one")}, {"number", Value("+15550101")}, {"randomID", Value(int64_t{101})}});
    queue.set("2", Dictionary{{"message", Value("two")},
                              {"number", Value("+15550102")},
                              {"backgroundTaskID", Value(int64_t{7})},
                              {"randomID", Value(twoId)}});
    queue.set("3", Dictionary{{"message", Value("three")},
                              {"number", Value("+15550103")},
                              {"backgroundTaskID", Value(int64_t{8})},
                              {"randomID", Value(int64_t{303})}});
    queue.set("10", Dictionary{{"message", Value("ten")}, {"conversation", Value("t.+15550133")}});
    (void)foundation::UserDefaults::standardUserDefaults()->setObject(
        Dictionary{{app->account()->username(), queue}, {"someone@else.test", Dictionary{{"1", Dictionary{}}}}},
        "smsQueue");
    sentObjects.clear();
    sender->sendQueuedSMS();
    // One write moved them: the old keys are gone, the new ones follow the largest.
    auto moved = sender->accountQueue();
    EXPECT_EQ(moved.keys(), (std::vector<foundation::Key>{"11", "12", "13", "14", "15"}));
    EXPECT_EQ(moved.get("14")["randomID"], Value(int64_t{909}));
    EXPECT_FALSE(moved.get("14").asDictionary().contains("queued"));
    EXPECT_EQ(moved.get("12")["randomID"], Value(twoId));
    ASSERT_TRUE(runUntil([&] { return idle() && sender->accountQueue().empty(); }));
    // Every message is answered as sent; the service holds each once.
    EXPECT_EQ(sentObjects.size(), 5u);
    std::map<std::string, std::vector<uint64_t>> ids;
    for (const auto& m : received()) ids[m.text].push_back(m.randomId);
    ASSERT_EQ(ids["ten"].size(), 1u);  // given an id at the drain
    ids.erase("ten");
    EXPECT_EQ(ids, (std::map<std::string, std::vector<uint64_t>>{
                       {"one", {101}}, {"two", {static_cast<uint64_t>(twoId)}}, {"three", {303}}, {"nine", {909}}}));
    EXPECT_EQ(service->withAccount([](emulator::Account& a) { return a.thread("t.+15550102")->items.size(); }), 1u);
    EXPECT_EQ(requestsTo(kSend).size(), 6u);
    // Another account's queue waits for that account.
    ASSERT_TRUE(storedQueue().has_value());
    EXPECT_TRUE(storedQueue()->contains("someone@else.test"));
}

// The service took the message and then failed: the kept id makes the next drain's send arrive as
// the first, not a second copy.
TEST_F(SMS, AMessageTheServiceTookBeforeFailingArrivesOnce) {
    service->inject(emulator::Fault::ServerErrorAfterWork, kSend);
    sender->sendSMS("only once", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(
        runUntil([&] { return idle() && sender->queueState("1") == HXApplicationWebClient::QueueState::Queued; }));
    ASSERT_EQ(received().size(), 1u);
    sender->sendQueuedSMS();
    ASSERT_TRUE(runUntil([&] { return idle() && sender->accountQueue().empty(); }));
    EXPECT_EQ(requestsTo(kSend).size(), 2u);
    // Kept (no conversation named), then sent.
    ASSERT_EQ(sentObjects.size(), 2u);
    EXPECT_EQ(sentObjects[0], nullptr);
    EXPECT_EQ(*std::static_pointer_cast<std::string>(sentObjects[1]), "t.+15550103000");
    EXPECT_EQ(received().size(), 1u);
    EXPECT_EQ(service->withAccount([](emulator::Account& a) { return a.thread("t.+15550103000")->items.size(); }), 1u);
}

TEST_F(SMS, WithoutATokenTheMessageWaitsInTheQueue) {
    setTokenAvailable(false);
    sender->sendSMS("later", std::string("+15550103000"), std::nullopt);
    EXPECT_FALSE(inTable(service->origin() + "/voice/sms/send/1"));
    EXPECT_EQ(sender->accountQueue().keys(), std::vector<foundation::Key>{"1"});
    setTokenAvailable(true);
    sender->sendQueuedSMS();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 1; }));
    EXPECT_TRUE(sender->accountQueue().empty());
    // A drain while a send is in flight does nothing; the send's success drains the rest.
    setTokenAvailable(false);
    sender->sendSMS("b", std::string("+15550103000"), std::nullopt);
    setTokenAvailable(true);
    service->inject(emulator::Fault::Slow, kSend);
    // "a" goes behind "b", which waited for a token: the drain it starts sends both.
    sender->sendSMS("a", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return requestsTo(kSend).size() == 3; }));
    const auto before = sender->accountQueue().keys();
    sender->sendQueuedSMS();
    EXPECT_EQ(sender->accountQueue().keys(), before);
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 3; }));
    EXPECT_TRUE(sender->accountQueue().empty());
}

TEST_F(SMS, AMessageTheDiskHasNoRoomToQueueIsSentAndTheUserToldOnce) {
    auto storageAlerts = [&] {
        size_t n = 0;
        for (const auto& alert : alerts()) n += alert.title == "Storage Full";
        return n;
    };
    {
        hxtest::FullDisk full;
        sender->sendSMS("one", std::string("+15550103000"), std::nullopt);
        sender->sendSMS("two", std::string("+15550103000"), std::nullopt);
        clock->runUntilIdle();
    }
    // Sending goes on as before; the user hears once that the queue could not be kept.
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 2; }));
    EXPECT_EQ(storageAlerts(), 1u);
}

// The one who sends hears how its own send went: the queue carries its completion through a
// drain, and every end is told once, after any progress.
TEST_F(SMS, TheSenderHearsHowItsOwnSendEnded) {
    using Kind = HXSendAnswer::Kind;
    struct Heard {
        std::vector<Kind> kinds;
        std::string conversation;
    };
    auto listen = [](const std::shared_ptr<Heard>& heard) {
        return [heard](const HXSendAnswer& a) {
            heard->kinds.push_back(a.kind);
            if (a.kind == Kind::Sent) heard->conversation = a.conversationID;
        };
    };
    struct Case {
        const char* what;
        std::function<void(emulator::Emulator&)> before;
        std::optional<std::string> conversation;
        std::vector<Kind> heard;
    };
    const Case cases[] = {
        {"sent to a number", {}, std::nullopt, {Kind::Progress, Kind::Sent}},
        {"sent into a conversation", {}, std::string("t.+15550133"), {Kind::Progress, Kind::Sent}},
        {"refused",
         [](emulator::Emulator& e) { e.inject(emulator::Fault::InvalidArgument, kSend); },
         std::nullopt,
         {Kind::Progress, Kind::Failed}},
        {"the service failed",
         [](emulator::Emulator& e) { e.inject(emulator::Fault::ServerErrorEmpty, kSend); },
         std::nullopt,
         {Kind::Kept}},
        {"the connection dropped",
         [](emulator::Emulator& e) { e.inject(emulator::Fault::Drop, kSend); },
         std::nullopt,
         {Kind::Failed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsQueue");
        if (c.before) c.before(*service);
        auto heard = std::make_shared<Heard>();
        sender->sendSMS("x", c.conversation ? std::nullopt : std::optional<std::string>("+15550103000"), c.conversation,
                        listen(heard));
        ASSERT_TRUE(runUntil([&] { return idle() && !heard->kinds.empty() && heard->kinds.back() != Kind::Progress; }));
        clock->runUntilIdle();
        EXPECT_EQ(heard->kinds, c.heard);
        if (c.heard.back() == Kind::Sent) {
            // Into the conversation asked for, or the one the service made for the number.
            EXPECT_EQ(heard->conversation, c.conversation.value_or(heard->conversation));
            EXPECT_FALSE(heard->conversation.empty());
        }
        if (alerts().size() > alertMark) alertMark = alerts().size();
    }

    // Signed out, nothing is sent and the sender hears so at once.
    foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsQueue");
    app->account()->setAuthV2(std::nullopt);
    auto refused = std::make_shared<Heard>();
    sender->sendSMS("x", std::string("+15550103000"), std::nullopt, listen(refused));
    EXPECT_EQ(refused->kinds, std::vector<Kind>{Kind::Failed});
    app->account()->setAuthV2(std::string("AuthV2"));

    // Without a token the message waits in the queue, and the sender waits with it: the drain
    // that sends it under a new key answers.
    setTokenAvailable(false);
    auto waiting = std::make_shared<Heard>();
    sender->sendSMS("later", std::string("+15550103000"), std::nullopt, listen(waiting));
    clock->runUntilIdle();
    EXPECT_TRUE(waiting->kinds.empty());
    setTokenAvailable(true);
    sender->sendQueuedSMS();
    ASSERT_TRUE(runUntil([&] { return idle() && !waiting->kinds.empty() && waiting->kinds.back() == Kind::Sent; }));
    EXPECT_EQ(waiting->kinds, (std::vector<Kind>{Kind::Progress, Kind::Sent}));
}

// A message the service could not take now goes again by itself after 30 s, then after a delay
// that doubles each time (at most 10 minutes), only while the app is in the foreground; the user
// hears once, with one "Dismiss", that it goes later. A service that takes a message again starts
// the delay over. A refusal (400) stays final, with its own alert.
TEST_F(SMS, AKeptMessageGoesAgainAfterTheRetryDelayAndTheUserIsToldOnce) {
    service->script(kSend, {.status = 503, .body = "busy"}, 3);
    alertMark = alerts().size();
    sender->sendSMS("later", std::string("+15550103000"), std::nullopt);
    const int64_t id = sender->accountQueue().get("1")["randomID"].int64Value();
    ASSERT_TRUE(runUntil([&] { return idle() && sender->accountQueue().get("1")["queued"].boolValue(); }));
    clock->runUntilIdle();
    ASSERT_EQ(alerts().size(), alertMark + 1);
    const HXAlert told = alerts().back();
    EXPECT_EQ(told.title, "Sending Message Failed");
    EXPECT_EQ(told.message, kKeptMessage);
    ASSERT_EQ(told.actions.size(), 1u);
    EXPECT_EQ(told.actions[0].title, "Dismiss");

    // The virtual times of the sends the service got while time passed, a second at a time (each
    // reply in before the next second).
    std::vector<double> sentAt;
    size_t seen = requestsTo(kSend).size();
    auto letPass = [&](double seconds) {
        for (int i = 0; i < seconds; ++i) {
            clock->advance(1);
            EXPECT_TRUE(runUntil([&] { return idle(); }, 10));
            for (const size_t n = requestsTo(kSend).size(); seen < n; ++seen) sentAt.push_back(clock->now());
        }
    };
    const double keptAt = clock->now();
    letPass(100);
    // 30 s after the first, then 60 s after the second.
    ASSERT_EQ(sentAt.size(), 2u);
    EXPECT_NEAR(sentAt[0] - keptAt, 30, 1.01);
    EXPECT_NEAR(sentAt[1] - sentAt[0], 60, 1.01);
    // In the background nothing goes (the return to the foreground drains the queue).
    app->setIsInBackground(true);
    letPass(600);
    EXPECT_EQ(sentAt.size(), 2u);
    app->setIsInBackground(false);
    EXPECT_EQ(alerts().size(), alertMark + 1) << "told once for the message, however often it is kept";
    sender->sendQueuedSMS();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 1; }));
    EXPECT_EQ(static_cast<int64_t>(received()[0].randomId), id);
    EXPECT_TRUE(sender->accountQueue().empty());

    // The delay starts over after a send the service took, doubles up to ten minutes and stays
    // there.
    service->script(kSend, {.status = 500}, 12);
    sender->sendSMS("much later", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && !sender->accountQueue().empty(); }));
    seen = requestsTo(kSend).size();
    sentAt = {clock->now()};
    letPass(30 + 60 + 120 + 240 + 480 + 600 + 600 + 10);
    std::vector<double> gaps;
    for (size_t i = 1; i < sentAt.size(); ++i) gaps.push_back(std::round(sentAt[i] - sentAt[i - 1]));
    ASSERT_EQ(gaps.size(), 7u);
    const double want[] = {30, 60, 120, 240, 480, 600, 600};
    for (size_t i = 0; i < gaps.size(); ++i) EXPECT_NEAR(gaps[i], want[i], 1.01) << i;
    EXPECT_EQ(alerts().size(), alertMark + 2);
    service->clearScripts();

    // A refusal is final: the message is dropped with the refusal's own alert, and never retried.
    sender->removeSMSfromQueue(sender->accountQueue().keys().at(0).string());
    service->inject(emulator::Fault::InvalidArgument, kSend);
    sender->sendSMS("x", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && alerts().size() == alertMark + 3; }));
    EXPECT_EQ(alerts().back().message.rfind("Failed to send the message", 0), 0u) << alerts().back().message;
    EXPECT_TRUE(sender->accountQueue().empty());
    seen = requestsTo(kSend).size();
    const size_t refused = sentAt.size();
    letPass(700);
    EXPECT_EQ(sentAt.size(), refused);
}

// While the queue keeps a message the service could not take, a new text goes behind it: after a
// refused token, the token is dropped before anything goes, a new one is asked for, and both go
// with it, started in the order they were written.
TEST_F(SMS, ANewTextGoesBehindAKeptOneAndTheRefusedTokenIsRenewedFirst) {
    service->expireTokens();
    const std::string refusedToken = token;
    // The token request is held, so the test can look at what the drain did before it answers.
    service->inject(emulator::Fault::Slow, "/o/oauth2/tokenrpc");
    sender->sendSMS("first", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && sender->accountQueue().get("1")["queued"].boolValue(); }));
    sender->sendSMS("second", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return tokenRequests() == 1; }));
    clock->runUntilIdle();
    // Dropped before the drain: nothing went with it, and the account holds it no more.
    EXPECT_EQ(requestsTo(kSend).size(), 1u);
    auto dict = app->account()->oAuthDict();
    EXPECT_FALSE(dict && dict->contains("access_token") && dict->get("access_token").stringValue() == refusedToken);
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 2; }));
    std::multiset<std::string> texts;
    for (const auto& m : received()) texts.insert(m.text);
    EXPECT_EQ(texts, (std::multiset<std::string>{"first", "second"}));
    auto sends = requestsTo(kSend);
    ASSERT_EQ(sends.size(), 3u);
    for (size_t i = 1; i < sends.size(); ++i) {
        const std::string authorization = sends[i].header("Authorization").value_or("");
        EXPECT_NE(authorization, "Bearer " + refusedToken);
        EXPECT_TRUE(service->isValidAccessToken(authorization.substr(7)));
    }
    EXPECT_TRUE(sender->accountQueue().empty());
}

// Two texts with a refused token between them arrive in the order written, however the service
// answers the first again: while the first is out (held at the service) the second waits behind
// it; when the first is kept once more (503), the second still waits; the next drain sends them
// one after the other. A text written while they wait joins the end.
TEST_F(SMS, TwoTextsWithA401BetweenThemArriveInOrder) {
    service->expireTokens();
    sender->sendSMS("first", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return idle() && sender->accountQueue().get("1")["queued"].boolValue(); }));
    // The next send to reach the service waits there until released, then is kept again (503).
    service->script(kSend, {.status = 503, .body = "busy", .hold = true});
    sender->sendSMS("second", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return requestsTo(kSend).size() >= 2; }));
    // Nothing else goes while the first is out (a real second, then the virtual one).
    EXPECT_FALSE(runUntil([&] { return requestsTo(kSend).size() > 2; }, 1));
    sender->sendSMS("third", std::string("+15550103000"), std::nullopt);
    EXPECT_FALSE(runUntil([&] { return requestsTo(kSend).size() > 2; }, 1));
    ASSERT_EQ(requestsTo(kSend).size(), 2u);
    auto out = hxcpb::parse<HXCPB_SendSMSRequest>(requestsTo(kSend)[1].body);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->messagetext(), "first");
    // The first is kept again: the others stay behind it until the retry.
    service->releaseHeld();
    auto firstKept = [&] {
        for (const auto& [key, entry] : sender->accountQueue())
            if (entry["message"].stringValue() == "first") return entry["queued"].boolValue();
        return false;
    };
    ASSERT_TRUE(runUntil([&] { return idle() && firstKept(); }, 10));
    EXPECT_EQ(requestsTo(kSend).size(), 2u) << "nothing went behind the first";
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(sender->accountQueue().size(), 3u);
    clock->advance(HXMessageSender::kFirstRetryDelay);
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 3; }));
    std::vector<std::string> texts;
    for (const auto& m : received()) texts.push_back(m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(sender->accountQueue().empty());
}

// A second Send of the same text while the first is still out is a message of its own: both go.
// An empty text (a reply from a notification banner with nothing typed) sends nothing.
TEST_F(SMS, TheSameTextSentTwiceWhileTheFirstIsOutGoesTwiceAndAnEmptyOneNotAtAll) {
    service->inject(emulator::Fault::Slow, kSend);
    sender->sendSMS("again", std::string("+15550103000"), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return service->requestCount() >= 1 && !idle(); }));
    sender->sendSMS("again", std::string("+15550103000"), std::nullopt);
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return idle() && received().size() == 2; }));
    EXPECT_EQ(received()[0].text, "again");
    EXPECT_EQ(received()[1].text, "again");
    EXPECT_NE(received()[0].randomId, received()[1].randomId);

    std::vector<HXSendAnswer::Kind> heard;
    sender->sendSMS("", std::string("+15550103000"), std::nullopt,
                    [&heard](const HXSendAnswer& a) { heard.push_back(a.kind); });
    app->sendSMS("", std::nullopt, std::string("t.+15550103000"));
    clock->runUntilIdle();
    EXPECT_EQ(heard, std::vector<HXSendAnswer::Kind>{HXSendAnswer::Kind::Failed});
    EXPECT_TRUE(sender->accountQueue().empty());
    EXPECT_EQ(requestsTo(kSend).size(), 2u);
}
