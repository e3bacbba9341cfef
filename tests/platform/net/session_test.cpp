// Sessions: shared headers, completion on the session's queue with status and decoded body,
// redirects followed, failures and cancellation reported once.
#include <gtest/gtest.h>

#include <atomic>

#include "emulator/emulator.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/scripted_transport.h"
#include "platform/net/url_error.h"
#include "platform/net/url_session.h"

namespace {

struct Outcome {
    std::atomic<int> calls{0};
    std::atomic<bool> onQueue{false};
    foundation::Data data;
    std::optional<net::HTTPURLResponse> response;
    std::optional<foundation::Error> error;
};

net::DataTaskCompletion recordInto(Outcome& out, dispatch::QueuePtr queue) {
    return [&out, queue](const foundation::Data& d, const std::optional<net::HTTPURLResponse>& r,
                         const std::optional<foundation::Error>& e) {
        out.onQueue = queue->isCurrent();
        out.data = d;
        out.response = r;
        out.error = e;
        ++out.calls;
    };
}

struct Session : ::testing::Test {
    void SetUp() override { dispatch::RunLoop::main(); }
    void TearDown() override { net::Transport::setShared(nullptr); }
};

}  // namespace

TEST_F(Session, SharedHeadersRedirectsAndCompletionOnTheSessionQueue) {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    service.script("/voice/start", {.redirectTo = service.origin() + "/voice/next"});
    service.script("/voice/next", {.status = 201, .body = "done", .contentEncoding = "gzip"});
    net::URLSessionConfiguration config;
    config.httpAdditionalHeaders.set("Accept-Encoding", "gzip");
    config.httpAdditionalHeaders.set("Referer", "http://web.test/");
    auto queue = dispatch::Queue::serial("test.session");
    auto session = net::URLSession::sessionWithConfiguration(config, queue);
    net::URLRequest request(service.origin() + "/voice/start");
    request.setValue("http://mine.test/", "Referer");
    Outcome out;
    auto task = session->dataTaskWithRequest(request, recordInto(out, queue));
    EXPECT_EQ(task->state(), net::URLSessionDataTask::State::Suspended);
    task->resume();
    ASSERT_TRUE(clock->runUntil([&] { return out.calls == 1; }, 10));
    EXPECT_TRUE(out.onQueue);
    ASSERT_TRUE(out.response);
    EXPECT_EQ(out.response->statusCode, 201);
    EXPECT_EQ(std::string(out.data.begin(), out.data.end()), "done");
    EXPECT_FALSE(out.error);
    auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].header("Referer"), "http://mine.test/");  // the request's own value wins
    EXPECT_EQ(recorded[1].header("Accept-Encoding"), "gzip");
    EXPECT_FALSE(recorded[0].header("Cookie"));
    EXPECT_EQ(task->state(), net::URLSessionDataTask::State::Completed);
    net::Transport::setShared(nullptr);
}

TEST_F(Session, FailuresAndCancellationCompleteExactlyOnce) {
    dispatch::ScopedVirtualClock clock;
    auto transport = net::ScriptedTransport::create(net::EventLoop::main());
    net::URLSessionConfiguration config;
    config.transport = transport;
    auto queue = dispatch::Queue::serial("test.session.fail");
    auto session = net::URLSession::sessionWithConfiguration(config, queue);

    transport->enqueue(net::ScriptedTransport::Reply::fail(net::kURLErrorNotConnectedToInternet));
    Outcome offline;
    session->dataTaskWithURL("http://s.test/a", recordInto(offline, queue))->resume();
    ASSERT_TRUE(clock->runUntil([&] { return offline.calls == 1; }, 5))
        << transport->requestCount() << " " << offline.calls;
    ASSERT_TRUE(offline.error);
    EXPECT_EQ(offline.error->code, net::kURLErrorNotConnectedToInternet);
    EXPECT_FALSE(offline.response);

    transport->enqueue(net::ScriptedTransport::Reply::never());
    Outcome cancelled;
    auto task = session->dataTaskWithURL("http://s.test/b", recordInto(cancelled, queue));
    task->resume();
    ASSERT_TRUE(clock->runUntil([&] { return transport->requestCount() == 2; }, 5));
    task->cancel();
    task->cancel();
    clock->advance(120);  // past the idle time-out: a cancelled task must not report it too
    clock->runUntilIdle();
    EXPECT_EQ(cancelled.calls, 1);
    ASSERT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.error->code, net::kURLErrorCancelled);

    // A request that names no time-out (0) still gets the session's, so nothing hangs forever.
    transport->enqueue(net::ScriptedTransport::Reply::never());
    Outcome silent;
    net::URLRequest noTimeout("http://s.test/zero", 0);
    session->dataTaskWithRequest(noTimeout, recordInto(silent, queue))->resume();
    ASSERT_TRUE(clock->runUntil([&] { return transport->requestCount() == 3; }, 5));
    clock->advance(61);
    clock->runUntilIdle();
    ASSERT_EQ(silent.calls, 1);
    EXPECT_EQ(silent.error->code, net::kURLErrorTimedOut);

    // After invalidation nothing new goes out.
    session->finishTasksAndInvalidate();
    Outcome late;
    session->dataTaskWithURL("http://s.test/c", recordInto(late, queue))->resume();
    clock->runUntilIdle();
    EXPECT_EQ(late.calls, 1);
    EXPECT_EQ(transport->requestCount(), 3u);
}

TEST_F(Session, AReplyOverTheRequestsLimitCompletesAsAFailure) {
    dispatch::ScopedVirtualClock clock;
    auto transport = net::ScriptedTransport::create(net::EventLoop::main());
    net::URLSessionConfiguration config;
    config.transport = transport;
    auto queue = dispatch::Queue::serial("test.session.limit");
    auto session = net::URLSession::sessionWithConfiguration(config, queue);
    for (size_t size : {1000u, 1001u}) {
        transport->enqueue(net::ScriptedTransport::Reply::ok(std::string(size, 'j')));
        net::URLRequest request("http://s.test/list");
        request.setMaximumReplyBytes(1000);
        Outcome out;
        session->dataTaskWithRequest(request, recordInto(out, queue))->resume();
        ASSERT_TRUE(clock->runUntil([&] { return out.calls == 1; }, 5));
        if (size == 1000) {
            EXPECT_FALSE(out.error);
            EXPECT_EQ(out.data.size(), 1000u);
        } else {
            ASSERT_TRUE(out.error);
            EXPECT_EQ(out.error->code, net::kURLErrorDataLengthExceedsMaximum);
            EXPECT_TRUE(out.data.empty());
            EXPECT_FALSE(out.response);
        }
    }
}
