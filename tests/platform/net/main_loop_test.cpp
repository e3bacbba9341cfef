// The connection on the process's main run loop, as the app runs it: default transport,
// callbacks on the main thread, and time-outs measured on the process clock.
#include <gtest/gtest.h>

#include "emulator/emulator.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/reachability.h"
#include "platform/net/url_error.h"
#include "tests/platform/net/recording_delegate.h"

namespace {

class ThreadCheckingDelegate : public hxtest::RecordingDelegate {
public:
    bool allOnMain = true;
    void didReceiveResponse(net::URLConnection& c, const net::HTTPURLResponse& r) override {
        allOnMain = allOnMain && dispatch::isMainThread();
        RecordingDelegate::didReceiveResponse(c, r);
    }
    void didReceiveData(net::URLConnection& c, const uint8_t* d, size_t n) override {
        allOnMain = allOnMain && dispatch::isMainThread();
        RecordingDelegate::didReceiveData(c, d, n);
    }
    void didFinishLoading(net::URLConnection& c) override {
        allOnMain = allOnMain && dispatch::isMainThread();
        RecordingDelegate::didFinishLoading(c);
    }
};

// Each test gets a fresh shared transport: its timers belong to the test's clock, and its kept-alive
// connections close before the emulator stops.
struct MainRunLoop : ::testing::Test {
    void SetUp() override { dispatch::RunLoop::main(); }
    void TearDown() override { net::Transport::setShared(nullptr); }
};

}  // namespace

TEST_F(MainRunLoop, DefaultTransportDeliversOnTheMainThread) {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    service.script("/voice/", {.body = std::string(100000, 'q'), .contentEncoding = "gzip"});
    auto delegate = std::make_shared<ThreadCheckingDelegate>();
    net::URLRequest request(service.origin() + "/voice/inbox/recent/all/");
    request.setValue("gzip, deflate", "Accept-Encoding");
    auto c = net::URLConnection::create(request, delegate);
    ASSERT_TRUE(clock->runUntil([&] { return delegate->done; }, 10));
    EXPECT_EQ(delegate->events.back(), "finish");
    EXPECT_EQ(delegate->body.size(), 100000u);
    EXPECT_TRUE(delegate->allOnMain);
    net::Transport::setShared(nullptr);
}

TEST_F(MainRunLoop, ForegroundAndBackgroundTimeOutsRunOnTheProcessClock) {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    service.script("/voice/", {.hold = true}, -1);
    auto foreground = std::make_shared<hxtest::RecordingDelegate>();
    auto background = std::make_shared<hxtest::RecordingDelegate>();
    auto a = net::URLConnection::create(net::URLRequest(service.origin() + "/voice/a", 90), foreground);
    auto b = net::URLConnection::create(net::URLRequest(service.origin() + "/voice/b", 300), background);
    ASSERT_TRUE(clock->runUntil([&] { return service.requestCount() == 2; }, 10));
    clock->advance(91);
    clock->runUntilIdle();
    ASSERT_TRUE(foreground->error);
    EXPECT_EQ(foreground->error->code, net::kURLErrorTimedOut);
    EXPECT_FALSE(background->done);
    clock->advance(210);
    clock->runUntilIdle();
    ASSERT_TRUE(background->error);
    EXPECT_EQ(background->error->code, net::kURLErrorTimedOut);
    service.releaseHeld();
    net::Transport::setShared(nullptr);
}

TEST_F(MainRunLoop, TheDefaultTransportFailsWith1009WhileTheHostIsUnreachable) {
    dispatch::ScopedVirtualClock clock;
    auto fake = std::make_shared<net::FakeReachabilityBackend>();
    net::ReachabilityBackend::setShared(fake);
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    fake->setFlags(0);
    auto offline = std::make_shared<hxtest::RecordingDelegate>();
    auto a = net::URLConnection::create(net::URLRequest(service.origin() + "/voice/"), offline);
    ASSERT_TRUE(clock->runUntil([&] { return offline->done; }, 5));
    ASSERT_TRUE(offline->error);
    EXPECT_EQ(offline->error->code, net::kURLErrorNotConnectedToInternet);
    EXPECT_EQ(service.requestCount(), 0u);
    fake->setFlags(net::kReachabilityReachable);
    auto online = std::make_shared<hxtest::RecordingDelegate>();
    auto b = net::URLConnection::create(net::URLRequest(service.origin() + "/accounts/AccountLogin"), online);
    ASSERT_TRUE(clock->runUntil([&] { return online->done; }, 5));
    EXPECT_EQ(online->events.back(), "finish");
    net::Transport::setShared(nullptr);
    net::ReachabilityBackend::setShared(nullptr);
}
