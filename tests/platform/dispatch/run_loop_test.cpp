#include "platform/dispatch/run_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace dispatch;
using foundation::Value;

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    RunLoopTest() { RunLoop::main(); }
    ScopedVirtualClock clock;
};

struct Target {
    std::vector<std::string> calls;
};

}  // namespace

TEST_F(RunLoopTest, VirtualClockStartsAtZeroAndMovesWallTimeAlong) {
    EXPECT_TRUE(dispatch::clock().isVirtual());
    EXPECT_EQ(dispatch::clock().now(), 0.0);
    EXPECT_EQ(wallNow(), 1'700'000'000.0);
    clock->advance(12.5);
    EXPECT_EQ(dispatch::clock().now(), 12.5);
    EXPECT_EQ(wallNow(), 1'700'000'012.5);
    clock->advance(-3);  // time never goes back
    EXPECT_EQ(dispatch::clock().now(), 12.5);
}

TEST_F(RunLoopTest, ScopedClockUsesItsWallStart) {
    ScopedVirtualClock other(86400.0);
    EXPECT_EQ(wallNow(), 86400.0);
}

TEST_F(RunLoopTest, OneShotTimerFiresExactlyOnceAtItsTime) {
    int fired = 0;
    Seconds firedAt = -1;
    auto timer = Timer::scheduled(60, false, [&](Timer&) {
        ++fired;
        firedAt = dispatch::clock().now();
    });
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(timer->fireDate(), 60.0);
    clock->advance(59.999);
    EXPECT_EQ(fired, 0);
    clock->advance(0.001);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(firedAt, 60.0);
    EXPECT_FALSE(timer->isValid());
    clock->advance(600);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, RepeatingTimerFiresAtEachIntervalUntilInvalidated) {
    std::vector<Seconds> times;
    auto timer = Timer::scheduled(0.1, true, [&](Timer& t) {
        times.push_back(dispatch::clock().now());
        if (times.size() == 5) t.invalidate();
    });
    clock->advance(0.35);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[0], 0.1, 1e-9);
    EXPECT_NEAR(times[2], 0.3, 1e-9);
    EXPECT_TRUE(timer->isValid());
    clock->advance(10);
    EXPECT_EQ(times.size(), 5u);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(RunLoopTest, SixtySecondRepeatingTimerFiresOncePerMinute) {
    int fired = 0;
    auto timer = Timer::scheduled(60, true, [&](Timer&) { ++fired; });
    clock->advance(60);
    EXPECT_EQ(fired, 1);
    clock->advance(60);
    EXPECT_EQ(fired, 2);
    timer->invalidate();
    clock->advance(600);
    EXPECT_EQ(fired, 2);
}

TEST_F(RunLoopTest, TimerSetFireDateAndManualFire) {
    int fired = 0;
    auto timer = Timer::scheduled(30, false, [&](Timer&) { ++fired; });
    timer->setFireDate(5);
    clock->advance(5);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer->isValid());

    auto repeating = Timer::scheduled(10, true, [&](Timer&) { ++fired; });
    repeating->fire();  // fires now, keeps its schedule
    EXPECT_EQ(fired, 2);
    EXPECT_TRUE(repeating->isValid());
    clock->advance(10);
    EXPECT_EQ(fired, 3);
    repeating->invalidate();
    repeating->fire();  // an invalid timer does nothing
    EXPECT_EQ(fired, 3);
}

TEST_F(RunLoopTest, RunLoopKeepsTheTimerAndItsClosureAliveUntilInvalidated) {
    auto token = std::make_shared<int>(7);
    std::weak_ptr<int> weakToken = token;
    std::weak_ptr<Timer> weakTimer;
    {
        auto timer = Timer::scheduled(1, true, [token](Timer&) {});
        weakTimer = timer;
    }
    token.reset();
    EXPECT_FALSE(weakTimer.expired());
    EXPECT_FALSE(weakToken.expired());
    weakTimer.lock()->invalidate();
    EXPECT_TRUE(weakTimer.expired());
    EXPECT_TRUE(weakToken.expired());
}

TEST_F(RunLoopTest, DefaultModeTimersWaitWhileTheLoopTracks) {
    int defaultFired = 0, commonFired = 0;
    auto a = Timer::scheduled(
        0, false, [&](Timer&) { ++defaultFired; }, RunLoopMode::Default);
    auto b = Timer::scheduled(
        0, false, [&](Timer&) { ++commonFired; }, RunLoopMode::Common);
    RunLoop::main().runOnceInMode(RunLoopMode::Tracking, 0);
    EXPECT_EQ(defaultFired, 0);
    EXPECT_EQ(commonFired, 1);
    RunLoop::main().runOnce(0);
    EXPECT_EQ(defaultFired, 1);
}

TEST_F(RunLoopTest, DelayedPerformCancelledByTargetSelectorAndEqualArgument) {
    auto target = std::make_shared<Target>();
    auto& loop = RunLoop::main();
    auto record = [target](const Value& v) { target->calls.push_back(v.stringValue()); };
    loop.perform(target, "switchToLocation:", Value(std::string("home")), 60, record);
    loop.perform(target, "switchToLocation:", Value(std::string("work")), 60, record);
    loop.perform(target, "loadUnreadMessages", Value(), 60, record);

    // A freshly made equal string cancels; other arguments and selectors stay.
    std::string fresh = std::string("ho") + "me";
    loop.cancelPerform(target.get(), "switchToLocation:", Value(fresh));
    loop.cancelPerform(target.get(), "switchToLocation:", Value(std::string("elsewhere")));
    loop.cancelPerform(target.get(), "otherSelector", Value(std::string("work")));
    clock->advance(60);
    EXPECT_EQ(target->calls, (std::vector<std::string>{"work", ""}));
}

TEST_F(RunLoopTest, CancelPerformsOfATargetLeavesOtherTargets) {
    auto a = std::make_shared<Target>();
    auto b = std::make_shared<Target>();
    auto& loop = RunLoop::main();
    loop.perform(a, "x", Value(1), 1, [a](const Value&) { a->calls.push_back("x"); });
    loop.perform(a, "y", Value(2), 2, [a](const Value&) { a->calls.push_back("y"); });
    loop.perform(b, "x", Value(1), 1, [b](const Value&) { b->calls.push_back("x"); });
    loop.cancelPerforms(a.get());
    clock->advance(5);
    EXPECT_TRUE(a->calls.empty());
    EXPECT_EQ(b->calls.size(), 1u);
}

TEST_F(RunLoopTest, PerformKeepsTargetAndArgumentAliveUntilFiredOrCancelled) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> weak = target;
    Target* raw = target.get();
    int fired = 0;
    RunLoop::main().perform(target, "refresh", Value("arg"), 10, [&](const Value& v) {
        ++fired;
        EXPECT_EQ(v, Value("arg"));
    });
    target.reset();
    EXPECT_FALSE(weak.expired());  // the pending perform holds it
    clock->advance(10);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(weak.expired());  // released once performed

    auto second = std::make_shared<Target>();
    weak = second;
    raw = second.get();
    RunLoop::main().perform(second, "refresh", Value(), 10, [&](const Value&) { ++fired; });
    second.reset();
    RunLoop::main().cancelPerform(raw, "refresh", Value());
    EXPECT_TRUE(weak.expired());  // released once cancelled
    clock->advance(10);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, WeakTargetThatIsGoneIsNotPerformed) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> weak = target;
    int fired = 0;
    RunLoop::main().perform(
        target, "tick", Value(), 1, [&](const Value&) { ++fired; }, /*weakTarget=*/true);
    target.reset();
    EXPECT_TRUE(weak.expired());  // not kept alive
    clock->advance(1);
    EXPECT_EQ(fired, 0);

    auto alive = std::make_shared<Target>();
    RunLoop::main().perform(
        alive, "tick", Value(), 1, [&](const Value&) { ++fired; }, true);
    clock->advance(1);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, PerformAtNextTurnWaitsForTheNextTurn) {
    std::vector<int> order;
    auto& loop = RunLoop::main();
    Queue::main()->async([&] {
        order.push_back(1);
        loop.performAtNextTurn([&] { order.push_back(3); });
        Queue::main()->async([&] { order.push_back(4); });  // main queue: also the next turn
        order.push_back(2);
    });
    loop.runOnce(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop.runOnce(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(RunLoopTest, MainQueueBlocksRunInOrderOnTheMainThreadAndMayEnqueueMore) {
    std::vector<int> order;
    auto main = Queue::main();
    for (int i = 0; i < 5; ++i)
        main->async([&, i] {
            EXPECT_TRUE(isMainThread());
            EXPECT_TRUE(main->isCurrent());
            order.push_back(i);
            if (i == 4) main->async([&] { order.push_back(5); });
        });
    EXPECT_FALSE(main->isCurrent());
    clock->runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(RunLoopTest, MainQueueAfterIsOrderedByTheClockWithTimers) {
    std::vector<std::string> order;
    Queue::main()->after(0.5, [&] { order.push_back("after 0.5"); });
    auto t = Timer::scheduled(0.2, false, [&](Timer&) { order.push_back("timer 0.2"); });
    Queue::main()->after(1.0, [&] { order.push_back("after 1.0"); });
    RunLoop::main().perform(nullptr, "p", Value(), 0.7, [&](const Value&) { order.push_back("perform 0.7"); });
    clock->advance(0.6);
    EXPECT_EQ(order, (std::vector<std::string>{"timer 0.2", "after 0.5"}));
    clock->advance(0.4);
    EXPECT_EQ(order, (std::vector<std::string>{"timer 0.2", "after 0.5", "perform 0.7", "after 1.0"}));
}

TEST_F(RunLoopTest, RunUntilStepsTimeToThePredicate) {
    int ticks = 0;
    auto timer = Timer::scheduled(2, true, [&](Timer&) { ++ticks; });
    EXPECT_TRUE(clock->runUntil([&] { return ticks == 3; }, 100));
    EXPECT_EQ(dispatch::clock().now(), 6.0);
    EXPECT_FALSE(clock->runUntil([&] { return ticks == 100; }, 10));
    EXPECT_EQ(dispatch::clock().now(), 16.0);
    EXPECT_EQ(ticks, 8);
    timer->invalidate();
}

TEST_F(RunLoopTest, InstallingAClockDropsTimedWorkOfThePreviousOne) {
    int fired = 0;
    auto timer = Timer::scheduled(5, false, [&](Timer&) { ++fired; });
    RunLoop::main().perform(nullptr, "p", Value(), 5, [&](const Value&) { ++fired; });
    {
        ScopedVirtualClock next;
        EXPECT_FALSE(timer->isValid());
        next->advance(10);
    }
    EXPECT_EQ(fired, 0);
}

TEST_F(RunLoopTest, DisplayLinkDeliversFramesAtItsRateUntilPaused) {
    std::vector<Seconds> frames;
    DisplayLink link([&](Seconds t) { frames.push_back(t); }, 10);
    clock->advance(0.55);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_NEAR(frames[0], 0.1, 1e-9);
    EXPECT_NEAR(frames[4], 0.5, 1e-9);
    EXPECT_NEAR(link.timestamp(), 0.5, 1e-9);
    link.setPaused(true);
    EXPECT_TRUE(link.isPaused());
    clock->advance(1);
    EXPECT_EQ(frames.size(), 5u);
    link.setPaused(false);
    link.setPreferredFramesPerSecond(0);  // the display's own rate
    EXPECT_EQ(link.preferredFramesPerSecond(), 60);
    clock->advance(0.5);
    EXPECT_EQ(frames.size(), 5u + 30u);
    link.invalidate();
    clock->advance(1);
    EXPECT_EQ(frames.size(), 35u);
}

TEST_F(RunLoopTest, DisplayLinkInvalidatedFromItsCallbackStops) {
    int frames = 0;
    std::unique_ptr<DisplayLink> link;
    link = std::make_unique<DisplayLink>([&](Seconds) {
        if (++frames == 3) link->invalidate();
    });
    clock->advance(1);
    EXPECT_EQ(frames, 3);
}

TEST_F(RunLoopTest, FdSourceReportsReadableAndCanBeRemovedFromItsHandler) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto& loop = RunLoop::main();
    std::string received;
    uint64_t id = 0;
    id = loop.addFd(fds[0], RunLoop::Readable, [&](int fd, int events) {
        EXPECT_EQ(fd, fds[0]);
        EXPECT_TRUE(events & RunLoop::Readable);
        char buf[64];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) received.append(buf, static_cast<size_t>(n));
        if (received == "ping") loop.removeFd(id);
    });
    ASSERT_EQ(::write(fds[1], "ping", 4), 4);
    EXPECT_TRUE(clock->runUntil([&] { return received == "ping"; }, 5));
    ASSERT_EQ(::write(fds[1], "more", 4), 4);
    loop.runOnce(0);
    EXPECT_EQ(received, "ping");  // removed: not read again
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(RunLoopTest, FdSourceSeesHangUpAndWritability) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto& loop = RunLoop::main();
    int writable = 0, eofs = 0;
    uint64_t w = loop.addFd(fds[1], RunLoop::Writable, [&](int, int events) {
        if (events & RunLoop::Writable) ++writable;
    });
    loop.runOnce(0);
    EXPECT_EQ(writable, 1);
    loop.updateFd(w, 0);  // nothing requested: no more calls
    loop.runOnce(0);
    EXPECT_EQ(writable, 1);
    loop.removeFd(w);

    uint64_t r = loop.addFd(fds[0], RunLoop::Readable, [&](int fd, int events) {
        char c;
        if ((events & RunLoop::Readable) && ::read(fd, &c, 1) == 0) ++eofs;
    });
    ::close(fds[1]);
    loop.runOnce(0);
    EXPECT_EQ(eofs, 1);
    loop.removeFd(r);
    ::close(fds[0]);
}

TEST_F(RunLoopTest, ClosedDescriptorIsDroppedAfterItsHandlerIsTold) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto& loop = RunLoop::main();
    int calls = 0;
    loop.addFd(fds[0], RunLoop::Readable, [&](int, int) { ++calls; });
    ::close(fds[0]);
    loop.runOnce(0);
    loop.runOnce(0);
    EXPECT_EQ(calls, 1);
    ::close(fds[1]);
}

// A standing watch (the network-change listener is always registered) must not make every
// step of virtual time wait for real I/O: 300 one-second ticks take milliseconds, not 300 polls
// of real time. Its events are still served as the loop turns.
TEST_F(RunLoopTest, StandingWatchNeitherHoldsVirtualTimeBackNorMissesItsEvents) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto& loop = RunLoop::main();
    std::string received;
    int seenEvents = 0;
    uint64_t id = loop.addFd(fds[0], RunLoop::Readable | RunLoop::Watch, [&](int fd, int events) {
        seenEvents |= events;
        char buf[16];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) received.append(buf, static_cast<size_t>(n));
    });
    int ticks = 0;
    auto timer = Timer::scheduled(1.0, true, [&](Timer&) { ++ticks; });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(clock->runUntil([&] { return ticks >= 300; }, 400));
    double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(dispatch::clock().now(), 300.0);
    EXPECT_LT(real, 5.0) << "each virtual step waited for the watch";

    ASSERT_EQ(::write(fds[1], "link", 4), 4);
    EXPECT_TRUE(clock->runUntil([&] { return received == "link"; }, 1));
    EXPECT_EQ(seenEvents, RunLoop::Readable);  // the watch mark is not an event

    // Turned into a descriptor with work in flight, it holds time back again until real time runs
    // out: a reply that is on its way must not be overtaken by its own time-out.
    loop.updateFd(id, RunLoop::Readable);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(clock->runUntil([] { return false; }, 0.3));
    real = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(real, 0.25);
    timer->invalidate();
    loop.removeFd(id);
    ::close(fds[0]);
    ::close(fds[1]);
}

// While a reply is awaited on a descriptor, a block another thread posts to the main queue runs
// as it comes (a stop signal's hand-over is one), not only once the wait has timed out.
TEST_F(RunLoopTest, WorkPostedFromAnotherThreadRunsWhileADescriptorHasWorkInFlight) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto& loop = RunLoop::main();
    const uint64_t id = loop.addFd(fds[0], RunLoop::Readable, [](int, int) {});
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Queue::main()->async([&] { ran = true; });
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(clock->runUntil([&] { return ran.load(); }, 5));
    const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(real, 2.5) << "the posted block waited for the reply's time-out";
    poster.join();
    loop.removeFd(id);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(RealClock, RunLoopWakesForWorkPostedFromAnotherThread) {
    RunLoop::main();
    ASSERT_FALSE(dispatch::clock().isVirtual());
    std::atomic<bool> ran{false};
    std::thread poster([&] { Queue::main()->async([&] { ran = true; }); });
    auto start = std::chrono::steady_clock::now();
    // Bounded: each turn returns as soon as the posted block has run.
    for (int i = 0; i < 100 && !ran; ++i) RunLoop::main().runOnce(1.0);
    poster.join();
    EXPECT_TRUE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(RealClock, StopEndsRun) {
    auto& loop = RunLoop::main();
    int turns = 0;
    Queue::main()->async([&] {
        ++turns;
        Queue::global()->async([&loop] { loop.stop(); });
    });
    loop.run();
    EXPECT_EQ(turns, 1);
}
