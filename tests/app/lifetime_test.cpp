// The application object lives and dies on the main thread: its last owner may let go of it
// while a list parse, an older page's parse, a search-index pass and a text message are under
// way on other queues, and it still ends on the main thread, once, with nothing left using it.
// Run under ThreadSanitizer as well (./hx build --tsan --target test_app), where a block that
// ended it on a worker shows as a race.
#include <gtest/gtest.h>

#include <atomic>

#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/store/context.h"
#include "service/media_operations.h"
#include "service/request_machinery.h"
#include "service/sms_sending.h"
#include "tests/support/screen_fixture.h"
#include "ui/shell/ui_screens.h"

namespace {

// Counts where the application objects it makes end.
struct Endings {
    std::atomic<int> onMain{0};
    std::atomic<int> elsewhere{0};
};

struct WatchedApp : HX_ConnectAppDelegate_iPhone {
    explicit WatchedApp(Endings& endings) : endings_(endings) {}
    ~WatchedApp() override { (dispatch::isMainThread() ? endings_.onMain : endings_.elsewhere)++; }
    Endings& endings_;
};

// A serial queue that the test holds shut until it opens it: the block that holds it waits on a
// dispatch semaphore, so its worker counts as blocked and the virtual clock goes on meanwhile
// (bounded: it opens itself after a while, so a failing test cannot hang).
struct Gate {
    dispatch::Semaphore open;
    void hold(const dispatch::QueuePtr& queue) {
        queue->async([open = open]() mutable { (void)open.wait(20); });
    }
    void release() { open.signal(); }
};

struct Lifetime : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    Lifetime() : ScreenFixture({.screens = std::make_shared<HXUIScreens>(), .emulator = true, .signedIn = true}) {}
    bool runUntil(const std::function<bool()>& done, double seconds = 10) {
        return harness.clock().runUntil(done, seconds);
    }
    // An application object of the test's own on the fixture's window, launched against the
    // service (nullptr when its launch fails); the test holds its only owner.
    std::shared_ptr<WatchedApp> launchWatched(Endings& endings) {
        auto other = std::make_shared<WatchedApp>(endings);
        HXWebClientOf(*other).endpoints = HXEndpoints::allAt(service->origin());
        other->setWindow(&harness.window());
        if (!other->applicationDidFinishLaunchingWithOptions()) return nullptr;
        harness.settle();
        return other;
    }
    // The last owner lets go, with the object's requests and delayed performs cancelled: it ends.
    ::testing::AssertionResult letGo(std::shared_ptr<WatchedApp>& other) {
        std::weak_ptr<HX_ConnectAppDelegate> watched = other;
        other->cancelRequests([](const std::string&) { return true; });
        dispatch::RunLoop::main().cancelPerforms(static_cast<HXApplicationModel*>(other.get()));
        other.reset();
        if (!runUntil([&] { return watched.expired(); }))
            return ::testing::AssertionFailure() << "nothing keeps the object";
        return ::testing::AssertionSuccess();
    }
    // "Dismiss" tapped on the shown alert: how often the connection's failure was posted.
    int dismissCountingFailures() {
        int failed = 0;
        foundation::NotificationCenter::defaultCenter().addObserver(this, "kNetworkConnectionFailedNotification",
                                                                    [&](const foundation::Notification&) { ++failed; });
        EXPECT_TRUE(harness.tapAlertAction("Dismiss"));
        harness.settle();
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        return failed;
    }
    static size_t conversations(store::Context& context) {
        size_t n = 0;
        context.performAndWait(
            [&] { n = context.count(store::FetchRequest(HXMessageStore::kConversationEntity)).valueOr(0); });
        return n;
    }
};

const std::string kSend = "/voice/v1/voiceclient/api2thread/sendsms";

}  // namespace

TEST_F(Lifetime, TheLastOwnerLetsGoWhileParsesAnIndexPassAndASendAreUnderWay) {
    // The fixture's own application object only provides the window; the one under test is made
    // here so that the test holds its only owner.
    auto firstRoot = harness.window().rootViewController();
    Endings endings;
    Gate gate;
    auto parsing = dispatch::Queue::serial("test.lifetime.parse", dispatch::Queue::global(dispatch::Priority::Utility));
    auto other = std::make_shared<WatchedApp>(endings);
    std::weak_ptr<HX_ConnectAppDelegate> watched = other;
    HXWebClientOf(*other).endpoints = HXEndpoints::allAt(service->origin());
    other->setWindow(&harness.window());
    other->setScreens(std::make_shared<HXUIScreens>());
    ASSERT_TRUE(other->applicationDidFinishLaunchingWithOptions());
    // Once the launch has made its own parsing queue, the first list page's parse will wait at
    // this one, holding what it took.
    ASSERT_TRUE(runUntil([&] { return other->messageParsingQueue() != nullptr; }));
    other->setMessageParsingQueue(parsing);
    gate.hold(parsing);
    other->reachabilityChanged(1);
    ASSERT_TRUE(runUntil([&] { return other->account() && other->account()->authV2(); }));
    harness.settle();
    other->selectViewForIndex(1);
    harness.settle();
    ASSERT_TRUE(runUntil([&] { return other->mocAccessCount() > 0; })) << "a parse has started";

    // A text message whose reply the service holds back.
    service->inject(emulator::Fault::Slow, kSend);
    std::vector<HXSendAnswer::Kind> heard;
    other->sendSMS("still there?", std::string("+15550103000"), std::nullopt,
                   [&heard](const HXSendAnswer& a) { heard.push_back(a.kind); });
    const std::string sendTag = HXWebClientOf(*other).endpoints.servicePageBase() + "sms/send/1";
    ASSERT_TRUE(other->requestInFlight(sendTag));

    // An older page of a conversation (its parse waits at the gate as well, holding what it took)
    // and a pass of the search index, both under way.
    const std::string olderTag = "/voice/v1/voiceclient/api2thread/get?alt=json1759990000000";
    other->screenRoles().pages.lock()->loadOlder("t.+15550133", "1759990000000", {});
    ASSERT_TRUE(other->requestInFlight(olderTag));
    ASSERT_TRUE(runUntil([&] { return !other->requestInFlight(olderTag); })) << "the page is in, its parse waits";
    other->indexMessages();

    // The last owner lets go. The next unread load, a delayed perform, holds its target as the
    // platform's does, so it goes first; what is under way holds nothing.
    other->cancelRequests([](const std::string& tag) { return tag.find("sms/send/") == std::string::npos; });
    dispatch::RunLoop::main().cancelPerforms(static_cast<HXApplicationModel*>(other.get()));
    auto main = other->managedObjectContext();
    const size_t stored = conversations(*main);
    other.reset();
    harness.window().setRootViewController(firstRoot);
    gate.release();
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return watched.expired() && conversations(*main) > stored; }, 20))
        << "the object ends, and the parse it started still lands";
    harness.clock().runUntilIdle();
    EXPECT_EQ(endings.onMain.load(), 1);
    EXPECT_EQ(endings.elsewhere.load(), 0) << "ended on a worker";
    // The send's answer has nobody left to tell the screen anything: it is never heard half-way.
    for (size_t i = 0; i + 1 < heard.size(); ++i) EXPECT_EQ(heard[i], HXSendAnswer::Kind::Progress);
}

TEST_F(Lifetime, AnAlertLeftUpByTheApplicationObjectDoesNotReachItOnceItHasGone) {
    // The first reachability report finds no network for a signed-in account: the application
    // object puts up "No Network Connection" a second later, and its last owner lets go while
    // the alert is still up. Dismissing it later still tells everyone the connection failed and
    // touches nothing of the object that has gone (the address sanitizer build sees any touch).
    // The device has no network before the object starts watching, so its monitor's own first
    // report is that one, and nothing goes out to the service whose replies could raise the same
    // alert of their own at any time.
    auto firstRoot = harness.window().rootViewController();
    Endings endings;
    reachability->setFlags(0);
    const size_t sentBefore = service->requestCount();
    auto other = launchWatched(endings);
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->account() && !other->account()->authV2().value_or("").empty()) << "signed in at launch";
    auto shownAlert = [&] {
        auto* alert = harness.visibleAlert();
        return alert && alert->alertTitle() == "No Network Connection";
    };
    EXPECT_FALSE(shownAlert()) << "the alert waits a second";
    ASSERT_TRUE(runUntil(shownAlert, 5));
    EXPECT_NE(harness.visibleAlert()->message().value_or("").find("read-only access"), std::string::npos)
        << "the report's alert, not a failed request's";
    EXPECT_EQ(service->requestCount(), sentBefore) << "nothing asked of the service without a network";

    ASSERT_TRUE(letGo(other));
    ASSERT_TRUE(shownAlert()) << "the alert stays up over the screens the object left";
    EXPECT_EQ(dismissCountingFailures(), 1);
    EXPECT_EQ(endings.onMain.load(), 1);
    EXPECT_EQ(endings.elsewhere.load(), 0);
    harness.window().setRootViewController(firstRoot);
    harness.clock().runUntilIdle();
}

// The no-connection and slow-connection alerts, left up by an application object that has gone:
// their "Dismiss" still tells everyone the connection failed and touches nothing of the object
// (the address sanitizer build sees any touch).
TEST_F(Lifetime, TheConnectionAlertsDismissWithoutTheApplicationObject) {
    auto firstRoot = harness.window().rootViewController();
    struct Case {
        const char* title;
        std::function<void(HX_ConnectAppDelegate&)> show;
    } cases[] = {
        {"No Network Connection", [](HX_ConnectAppDelegate& a) { a.alertNoConnection(); }},
        {"Slow Network Connection", [](HX_ConnectAppDelegate& a) { a.alertSlowConnection(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Endings endings;
        auto other = launchWatched(endings);
        ASSERT_TRUE(other);
        c.show(*other);
        auto shownAlert = [&] {
            auto* alert = harness.visibleAlert();
            return alert && alert->alertTitle() == c.title;
        };
        ASSERT_TRUE(runUntil(shownAlert, 5));
        ASSERT_TRUE(letGo(other));
        EXPECT_EQ(dismissCountingFailures(), 1);
        EXPECT_EQ(endings.onMain.load(), 1);
        harness.window().setRootViewController(firstRoot);
        harness.clock().runUntilIdle();
    }
}

// The media and a call or a message to a number are the web client's own objects, handed to the
// screens as they are: a screen's pointers to them keep nothing alive, find nothing once the
// application object has gone, and a medium's wait and a picture's request asked for before it
// went end without touching it (the address sanitizer build sees any touch).
TEST_F(Lifetime, TheMediaAndNumberActionsAScreenKeepsGoWithTheApplicationObject) {
    auto firstRoot = harness.window().rootViewController();
    Endings endings;
    auto other = launchWatched(endings);
    ASSERT_TRUE(other);
    const auto roles = other->screenRoles();
    EXPECT_EQ(roles.media.lock().get(), HXMediaOperations::of(other).get()) << "no role passes the media on";
    EXPECT_EQ(roles.conversations.lock().get(), static_cast<HXConversationActionsRole*>(other.get()))
        << "no role passes the calls and messages on";
    bool arrived = false;
    roles.media.lock()->whenMediaArrives("p1", [&arrived] { arrived = true; });
    EXPECT_TRUE(roles.media.lock()->requestThumbnail("p1"));

    ASSERT_TRUE(letGo(other));
    EXPECT_TRUE(roles.media.expired());
    EXPECT_TRUE(roles.conversations.expired());
    foundation::NotificationCenter::defaultCenter().post(std::string("p1"), nullptr);
    harness.clock().runUntilIdle();
    EXPECT_TRUE(arrived) << "the wait outlives the object it was asked of";
    EXPECT_EQ(endings.onMain.load(), 1);
    EXPECT_EQ(endings.elsewhere.load(), 0);
    harness.window().setRootViewController(firstRoot);
    harness.clock().runUntilIdle();
}
