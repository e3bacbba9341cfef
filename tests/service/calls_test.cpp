// Placing calls against the emulator: the number the service is given, the callback request's
// bytes, the direct-call reservation (decoded by protoc) and its replies, the hand-off to the
// dialer, and the choosers asked on the way.
#include <gtest/gtest.h>

#include "app/hxc_passcode_lock.h"
#include "platform/services/url_opener.h"
#include "service/calls.h"
#include "service/proto/hxcpb.h"
#include "tests/service/web_fixture.h"

namespace {

struct Calls : hxtest::WebFixture {
    std::shared_ptr<HXCalls> calls;
    void SetUp() override {
        startService();
        calls = HXCalls::of(app);
        // The emulator's sample account: +15550111 and +15550122 are linked and verified.
        addPhone(1, "+15550111");
        addPhone(2, "+15550122");
        app->account()->setForwardingPhoneID(1);
    }
    std::vector<std::string> dialled() { return services::URLOpener::shared()->dialer()->dialedNumbers(); }
};

const std::string kClickToCall = "/voice/v1/voiceclient/communication/startclicktocall";

}  // namespace

TEST(CallNumbers, AreReducedToInternationalForm) {
    struct Case {
        const char* typed;
        const char* reduced;
    } cases[] = {
        {"(555) 123-4567", "+15551234567"},
        {"555.123.4567", "+15551234567"},
        {"1 (555) 123-4567", "+15551234567"},  // 11 digits with the country code: not "+11..."
        {"+44 20 7946 0958", "+442079460958"},
        {"011 44 20 7946 0958", "+442079460958"},
        {"0114420", "+4420"},
        {"1-800-FLOWERS", "+11800"},
        {"+1 (555) 123-4567", "+15551234567"},
        {"5551234", "+15551234"},
        {"15551234567890", "+115551234567890"},
    };
    for (const auto& c : cases) EXPECT_EQ(HXCalls::reducedNumber(c.typed), c.reduced) << c.typed;
    for (const char* yes : {"+44 20", "011 44 20", "+7"}) EXPECT_TRUE(HXCalls::isInternational(yes)) << yes;
    for (const char* no : {"+15551234567", "011 1 555", "5551234567", ""})
        EXPECT_FALSE(HXCalls::isInternational(no)) << no;
}

TEST_F(Calls, ACallbackAsksTheServiceToRingTheChosenPhone) {
    calls->placeCallTo("(555) 010-2000");
    const std::string tag = "/voice/v1/voiceclient/communication/startclicktocall?alt=protojson";
    EXPECT_TRUE(inTable(tag));
    ASSERT_TRUE(runUntil([&] { return !inTable(tag); }));
    auto sent = requestsTo(kClickToCall);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, R"([["phnnmbr","+15550102000"],["phnnmbr","+15550111"]])");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + token);
    EXPECT_EQ(sent[0].header("Content-Type"), "application/json+protobuf");
    EXPECT_EQ(sent[0].header("Origin"), service->origin());
    EXPECT_NE(sent[0].header("User-Agent").value_or("").find("iPhone OS 8_1_3"), std::string::npos);
    EXPECT_TRUE(calls->callPlaced());
    EXPECT_FALSE(calls->pendingCallNumber());
    EXPECT_TRUE(alerts().size() == alertMark);
    EXPECT_GE(posted["kCallButtonUpdateNotification"], 2);
    auto recorded = service->withAccount([](emulator::Account& a) { return a.callbacks; });
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].callbackNumber, "+15550111");
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->stringForKey("lastDialedNumber"), "+15550102000");
}

TEST_F(Calls, ACallbackWithoutATokenLeavesNoRequestBehind) {
    setTokenAvailable(false);
    calls->placeCallTo("5550102000");
    // Only the request for a token is out; the callback has no entry.
    EXPECT_FALSE(inTable("/voice/v1/voiceclient/communication/startclicktocall?alt=protojson"));
    clock->runUntil([] { return false; }, 1);
    EXPECT_TRUE(requestsTo(kClickToCall).empty());
    EXPECT_FALSE(calls->callPlaced());
}

TEST_F(Calls, ARefusedCallbackShowsTheServicesMessage) {
    addPhone(3, "+15550123");  // linked here, not verified on the service
    app->account()->setForwardingPhoneID(3);
    calls->placeCallTo("5550102000");
    ASSERT_TRUE(runUntil([&] { return alerts().size() > alertMark; }));
    EXPECT_EQ(alerts()[alertMark].title, "Error");
    EXPECT_EQ(alerts()[alertMark].message, "The callback number is not linked & verified.");
    EXPECT_FALSE(calls->callPlaced());
    EXPECT_EQ(inFlight(), 0u);
}

// A callback answered 200 with an empty body placed no call: it is said with the "Error" alert the
// other failed answers show, as a body that is not JSON is (the empty one used to say nothing).
TEST_F(Calls, ACallbackAnsweredWithAnEmptyBodySaysSo) {
    for (const char* body : {"", "not json"}) {
        service->script(kClickToCall, {.status = 200, .body = body});
        const size_t mark = alerts().size();
        calls->placeCallTo("5550102000");
        ASSERT_TRUE(runUntil([&] { return alerts().size() > mark && inFlight() == 0; })) << "'" << body << "'";
        EXPECT_EQ(alerts()[mark].title, "Error");
        EXPECT_EQ(alerts()[mark].message, "An unknown error occurred");
        EXPECT_FALSE(calls->callPlaced());
    }
}

TEST_F(Calls, ADirectCallReservesAnAccessNumberAndDialsIt) {
    app->account()->setForwardingPhoneID(-1);
    app->account()->setThisPhoneID(2);
    calls->placeCallTo("+44 20 7946 0958");
    ASSERT_TRUE(runUntil([&] { return !dialled().empty(); }));
    EXPECT_EQ(dialled(), std::vector<std::string>{"+15550199"});
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"tel:+15550199"});
    EXPECT_TRUE(calls->callPlaced());
    EXPECT_TRUE(calls->callHandOver());
    EXPECT_FALSE(inTable("DIRECT_CALL"));
    auto sent = requestsTo("/voice/v1/proxynumbers/reserve");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-protobuf");
    EXPECT_EQ(sent[0].header("Content-Length"), std::to_string(sent[0].body.size()));
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP() << "no protoc";
    EXPECT_EQ(hxtest::protocDecode("DirectCallRequest", sent[0].body),
              "target {\n  number {\n    numberString: \"+442079460958\"\n  }\n}\nsource {\n  numberString: "
              "\"+15550122\"\n}\n");
}

TEST_F(Calls, DirectCallFailuresFollowTheirReply) {
    app->account()->setForwardingPhoneID(-1);
    app->account()->setThisPhoneID(1);
    // An expired token: no alert, a new token through the sign-in host, and the reservation
    // again once it arrives.
    service->inject(emulator::Fault::InvalidCredentials, "/voice/v1/proxynumbers/reserve");
    const size_t tokens = tokenRequests();
    calls->placeCallTo("5550102000");
    ASSERT_TRUE(runUntil([&] { return !dialled().empty(); }));
    EXPECT_TRUE(alerts().size() == alertMark);
    EXPECT_GT(tokenRequests(), tokens);
    EXPECT_EQ(requestsTo("/voice/v1/proxynumbers/reserve").size(), 2u);
    EXPECT_FALSE(calls->directCallPending());
    runUntil([&] { return inFlight() == 0; });

    struct Case {
        emulator::Fault fault;
        const char* title;
        const char* message;
    } cases[] = {
        {emulator::Fault::InvalidArgument, "Error", "Invalid Number"},
        {emulator::Fault::ServerErrorEmpty, "Direct Call Failed", nullptr},
    };
    for (const auto& c : cases) {
        alertMark = alerts().size();
        app->account()->setThisPhoneID(1);
        service->inject(c.fault, "/voice/v1/proxynumbers/reserve");
        calls->placeCallTo("5550102000");
        ASSERT_TRUE(runUntil([&] { return alerts().size() > alertMark; }));
        EXPECT_EQ(alerts()[alertMark].title, c.title);
        if (c.message) {
            EXPECT_EQ(alerts()[alertMark].message, c.message);
        }
        EXPECT_FALSE(calls->pendingCallNumber());
        EXPECT_FALSE(inTable("DIRECT_CALL"));
    }
    // A device whose number the service does not know gets no access number and must choose again.
    alertMark = alerts().size();
    addPhone(9, "+15550999");
    app->account()->setThisPhoneID(9);
    calls->placeCallTo("5550102000");
    ASSERT_TRUE(runUntil([&] { return alerts().size() > alertMark; }));
    EXPECT_EQ(alerts()[alertMark].title, "Direct Call Failed");
    EXPECT_EQ(app->account()->thisPhoneID(), -1);
    alertMark = alerts().size();
    calls->placeCallTo("5550102000");
    ASSERT_EQ((alerts().size() - alertMark), 1u);
    EXPECT_EQ(alerts()[alertMark].title, "Select Phone Number");
    EXPECT_EQ(alerts()[alertMark].actions.size(), 4u);  // "Cancel" and the three phones
    press("+15550122");
    ASSERT_TRUE(runUntil([&] { return dialled().size() == 2; }));
}

TEST_F(Calls, ThePhonesOwnDialerAndTheChoosersOnTheWay) {
    app->setIsPhone(true);
    app->account()->setForwardingPhoneID(-2);
    calls->placeCallTo("555 123 4567");
    EXPECT_EQ(dialled(), std::vector<std::string>{"+15551234567"});
    EXPECT_TRUE(calls->callHandOver());
    // Abroad, the user is warned first and calls only on "Call".
    calls->placeCallTo("+44 20 7946 0958");
    ASSERT_EQ((alerts().size() - alertMark), 1u);
    EXPECT_EQ(alerts()[alertMark].title, "International Call");
    EXPECT_EQ(dialled().size(), 1u);
    press("Call");
    EXPECT_EQ(dialled().back(), "+442079460958");
    EXPECT_EQ(services::URLOpener::shared()->openedURLs().back(), "tel:+442079460958");

    // Ringing back a VoIP client is not possible: with two real phones the user picks one, and the
    // call goes on without asking again.
    alertMark = alerts().size();
    app->setIsPhone(false);
    addPhone(5, "sip:tablet", true);
    app->account()->setForwardingPhoneID(5);
    calls->placeCallTo("5550102000");
    ASSERT_EQ((alerts().size() - alertMark), 1u);
    EXPECT_EQ(alerts()[alertMark].title, "Select Callback Number");
    press("+15550122");
    ASSERT_TRUE(runUntil([&] { return !requestsTo(kClickToCall).empty(); }));
    EXPECT_EQ(requestsTo(kClickToCall)[0].body, R"([["phnnmbr","+15550102000"],["phnnmbr","+15550122"]])");
    EXPECT_EQ((alerts().size() - alertMark), 1u);
    runUntil([&] { return inFlight() == 0; });

    // Without a verified phone no call is placed.
    alertMark = alerts().size();
    app->account()->phones().clear();
    calls->placeCallTo("5550102000");
    ASSERT_EQ((alerts().size() - alertMark), 1u);
    EXPECT_EQ(alerts()[alertMark].title, "Incomplete Account Setup");
    // The chooser's answer is the choice now: choosing it again changes nothing.
    EXPECT_EQ(app->account()->forwardingPhoneID(), 2);
    EXPECT_FALSE(calls->isNewForwardingPhoneID(2));
    EXPECT_TRUE(calls->isNewForwardingPhoneID(5));
    EXPECT_EQ(foundation::UserDefaults::standardUserDefaults()->integerForKey("forwardingID"), 5);
}

// The call code and the life cycle share one pair of flags: a direct call handed to the dialer
// makes the resign clear the dial pad instead of arming the passcode lock, a placed call clears
// it on entering the background, and the return to the foreground forgets both.
TEST_F(Calls, TheLifeCycleSeesTheCallFlagsTheCallCodeSets) {
    app->account()->setForwardingPhoneID(-1);
    app->account()->setThisPhoneID(2);
    calls->placeCallTo("+44 20 7946 0958");
    ASSERT_TRUE(runUntil([&] { return !dialled().empty() && !inTable("DIRECT_CALL"); }));
    ASSERT_TRUE(app->callHandOver());
    HXCPasscodeLock::sharedLock().setPasscodeRequired(true);
    app->resignActive();
    EXPECT_EQ(posted["kClearDialpadNumberNotification"], 1);
    clock->advance(31);
    EXPECT_FALSE(app->lockShown) << "no lock for the dialer";
    EXPECT_FALSE(calls->callHandOver());
    EXPECT_TRUE(calls->callPlaced());
    // A second resign without a hand-over arms the lock instead.
    app->resignActive();
    clock->advance(31);
    EXPECT_TRUE(app->lockShown);
    EXPECT_EQ(posted["kClearDialpadNumberNotification"], 1);
    app->applicationDidEnterBackground();
    EXPECT_EQ(posted["kClearDialpadNumberNotification"], 2);
    app->applicationWillEnterForeground();
    EXPECT_FALSE(calls->callPlaced());
    EXPECT_FALSE(calls->callHandOver());
    app->applicationDidEnterBackground();
    EXPECT_EQ(posted["kClearDialpadNumberNotification"], 2);
    HXCPasscodeLock::sharedLock().setPasscodeRequired(false);
}
