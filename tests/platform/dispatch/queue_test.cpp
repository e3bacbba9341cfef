#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/internal.h"
#include "platform/dispatch/run_loop.h"

using namespace dispatch;

namespace {

// Busy work long enough for other workers to overlap with it if the queue allowed them to.
void spin(int n) {
    std::atomic<int> sink{0};
    for (int i = 0; i < n; ++i) sink.fetch_add(1, std::memory_order_relaxed);
}

class QueueTest : public ::testing::Test {
protected:
    QueueTest() { RunLoop::main(); }
    ScopedVirtualClock clock;
};

}  // namespace

TEST_F(QueueTest, SerialQueueRunsBlocksOneAtATimeInSubmissionOrder) {
    auto queue = Queue::serial("com.hxconnect.test.serial");
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 2000; ++i)
        queue->async([&, i] {
            if (inside.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            inside.fetch_sub(1);
        });
    clock->runUntilIdle();
    ASSERT_EQ(order.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(queue->label(), "com.hxconnect.test.serial");
}

TEST_F(QueueTest, SerialQueueKeepsEachProducersOrderWithManyProducersPausesAndSyncs) {
    // Four threads push at once, across many chunks of slots, with pauses that let the drain give
    // the queue up and syncs that take it over between blocks. The blocks touch plain memory: any
    // two that overlapped, or ran without the one before them being visible, would be a race.
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 20'000;
    auto queue = Queue::serial("com.hxconnect.test.producers");
    std::vector<std::pair<int, int>> ran;
    ran.reserve(kProducers * kPerProducer);
    int syncs = 0;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                queue->async([&ran, p, i] { ran.emplace_back(p, i); });
                if (i % 4096 == 4095) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (i % 5000 == 2500) queue->sync([&syncs] { ++syncs; });
            }
        });
    }
    for (auto& t : producers) t.join();
    size_t total = 0;
    queue->sync([&] { total = ran.size(); });
    ASSERT_EQ(total, static_cast<size_t>(kProducers * kPerProducer));
    EXPECT_EQ(syncs, kProducers * 4);
    std::vector<int> next(kProducers, 0);
    for (const auto& [p, i] : ran) {
        ASSERT_EQ(i, next[p]) << "producer " << p;
        ++next[p];
    }
}

TEST_F(QueueTest, QueueDroppedByItsOwnerStillRunsWhatWasQueued) {
    std::atomic<int> ran{0};
    std::weak_ptr<Queue> weak;
    {
        auto serial = Queue::serial("dropped.serial");
        auto concurrent = Queue::concurrent("dropped.concurrent");
        weak = serial;
        for (int i = 0; i < 100; ++i) {
            serial->async([&] { ran++; });
            concurrent->async([&] { ran++; });
        }
        concurrent->barrierAsync([&] { ran++; });
        serial->after(3, [&] { ran++; });
    }
    clock->advance(3);
    EXPECT_EQ(ran.load(), 202);
    EXPECT_TRUE(weak.expired());
}

namespace {

// A queue whose target never runs what it is given, then lets it go: the queues above it never
// run again.
class HeldTarget final : public detail::QueueBase {
public:
    HeldTarget() : QueueBase("held.target") {}
    void async(Block block) override { held.push_back(std::move(block)); }
    void sync(const Block&) override {}
    void after(Seconds, Block) override {}
    void barrierAsync(Block block) override { async(std::move(block)); }
    void barrierSync(const Block&) override {}
    std::vector<Block> held;
};

}  // namespace

// A serial queue that goes with blocks it never ran (over several chunks of them) lets go of what
// they captured.
TEST_F(QueueTest, AQueueGoneWithBlocksNotRunLetsGoOfTheirCaptures) {
    auto target = std::make_shared<HeldTarget>();
    std::weak_ptr<int> captured;
    int ran = 0;
    {
        auto serial = Queue::serial("never.run", target);
        auto token = std::make_shared<int>(1);
        captured = token;
        for (int i = 0; i < 300; ++i) serial->async([token, &ran] { ran += *token; });
    }
    ASSERT_EQ(target->held.size(), 1u) << "one drain of the queue waits on its target";
    EXPECT_FALSE(captured.expired()) << "the waiting drain keeps the queue";
    target->held.clear();
    EXPECT_TRUE(captured.expired());
    EXPECT_EQ(ran, 0);
}

TEST_F(QueueTest, BlockEnqueuingOntoItsOwnQueueRunsAfterTheCurrentOne) {
    auto queue = Queue::serial("reentrant");
    std::vector<std::string> order;
    // Both are queued before either runs: the sync holds the queue meanwhile.
    queue->sync([&] {
        queue->async([&] {
            queue->async([&] { order.push_back("inner"); });
            order.push_back("outer end");
        });
        queue->async([&] { order.push_back("second"); });
    });
    clock->runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"outer end", "second", "inner"}));
}

TEST_F(QueueTest, SyncRunsInOrderWithAsyncAndOnTheCallingThread) {
    auto queue = Queue::serial("sync");
    std::vector<int> order;
    for (int i = 0; i < 100; ++i) queue->async([&, i] { order.push_back(i); });
    std::thread::id ranOn;
    queue->sync([&] {
        order.push_back(100);
        ranOn = std::this_thread::get_id();
        EXPECT_TRUE(queue->isCurrent());
        EXPECT_EQ(Queue::current(), queue);
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_EQ(order.size(), 101u);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
    queue->async([&] { order.push_back(101); });
    clock->runUntilIdle();
    EXPECT_EQ(order.back(), 101);
}

TEST_F(QueueTest, ASyncAmongAnotherThreadsBlocksRunsAfterEveryEarlierOneAndBeforeEveryLater) {
    // The queue's drainer takes whatever is queued at once; a sync caller's turn may come in the
    // middle of such a take, and what follows it must wait for the caller and keep its order.
    auto queue = Queue::serial("sync.among.async");
    constexpr int kBlocks = 20000;
    std::vector<int> order;  // touched only on `queue`
    std::vector<std::pair<int, size_t>> seen;
    std::thread producer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            queue->async([&order, i] { order.push_back(i); });
            if (i % 997 == 0) queue->sync([&] { seen.emplace_back(i, order.size()); });
        }
    });
    producer.join();
    clock->runUntilIdle();
    queue->sync([] {});
    ASSERT_EQ(order.size(), static_cast<size_t>(kBlocks));
    for (int i = 0; i < kBlocks; ++i) ASSERT_EQ(order[i], i);
    ASSERT_EQ(seen.size(), static_cast<size_t>(kBlocks / 997 + 1));
    for (const auto& [i, ran] : seen) EXPECT_EQ(ran, static_cast<size_t>(i) + 1) << "the sync after block " << i;
}

TEST(SpinBudgetTest, AFruitlessLookHalvesTheNextAndAFruitfulOneDoublesItWithinBounds) {
    detail::SpinBudget budget;
    EXPECT_EQ(budget.limitNs(), detail::SpinBudget::kMaxNs);
    // Nothing comes: the looks shrink to the floor and stay there.
    std::vector<int64_t> limits;
    for (int i = 0; i < 6; ++i) {
        EXPECT_FALSE(budget.spin([] { return false; }));
        limits.push_back(budget.limitNs());
    }
    EXPECT_EQ(limits, (std::vector<int64_t>{25'000, 12'500, 6'250, 3'125, 2'000, 2'000}));
    // Work is there: the looks grow back to the ceiling and no further.
    limits.clear();
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(budget.spin([] { return true; }));
        limits.push_back(budget.limitNs());
    }
    EXPECT_EQ(limits, (std::vector<int64_t>{4'000, 8'000, 16'000, 32'000, 50'000, 50'000}));
    // A look ends when the condition comes to hold, and then counts as fruitful.
    budget.spin([] { return false; });
    int calls = 0;
    EXPECT_TRUE(budget.spin([&] { return ++calls == 3; }));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(budget.limitNs(), detail::SpinBudget::kMaxNs);
}

TEST_F(QueueTest, CurrentQueueAndTargetsAreVisibleInsideBlocks) {
    auto outer = Queue::serial("outer");
    auto inner = Queue::serial("inner", outer);
    std::atomic<bool> innerCurrent{false}, outerCurrent{false}, currentIsInner{false};
    inner->async([&] {
        innerCurrent = inner->isCurrent();
        outerCurrent = outer->isCurrent();  // a queue targeting another runs inside its blocks
        currentIsInner = Queue::current() == inner;
    });
    clock->runUntilIdle();
    EXPECT_TRUE(innerCurrent);
    EXPECT_TRUE(outerCurrent);
    EXPECT_TRUE(currentIsInner);
    EXPECT_EQ(Queue::current(), nullptr);
}

TEST_F(QueueTest, QueuesTargetingOneSerialQueueAreSerialisedWithIt) {
    auto trash = Queue::serial("trash", Queue::global(Priority::Background));
    auto a = Queue::serial("a", trash);
    auto b = Queue::serial("b", trash);
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> done{0};
    auto work = [&] {
        if (inside.fetch_add(1) != 0) overlapped = true;
        spin(1000);
        inside.fetch_sub(1);
        done.fetch_add(1);
    };
    for (int i = 0; i < 200; ++i) {
        a->async(work);
        b->async(work);
        trash->async(work);
    }
    int syncRan = 0;
    a->sync([&] { ++syncRan; });
    clock->runUntilIdle();
    EXPECT_EQ(done.load(), 600);
    EXPECT_EQ(syncRan, 1);
    EXPECT_FALSE(overlapped);
}

TEST_F(QueueTest, ConcurrentQueueBarrierExcludesReaders) {
    auto queue = Queue::concurrent("com.hxconnect.test.cache");
    std::atomic<int> readers{0}, maxReaders{0};
    std::atomic<bool> barrierSawReader{false}, readerSawBarrier{false};
    std::atomic<bool> inBarrier{false};
    std::vector<int> log;  // written only by barriers
    std::mutex logMutex;
    auto reader = [&] {
        int now = readers.fetch_add(1) + 1;
        int seen = maxReaders.load();
        while (now > seen && !maxReaders.compare_exchange_weak(seen, now)) {}
        if (inBarrier) readerSawBarrier = true;
        spin(2000);
        readers.fetch_sub(1);
    };
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 20; ++i) queue->async(reader);
        queue->barrierAsync([&, round] {
            inBarrier = true;
            if (readers.load() != 0) barrierSawReader = true;
            log.push_back(round);
            inBarrier = false;
        });
    }
    int value = -1;
    queue->barrierSync([&] { value = static_cast<int>(log.size()); });
    EXPECT_EQ(value, 20);
    clock->runUntilIdle();
    EXPECT_FALSE(barrierSawReader);
    EXPECT_FALSE(readerSawBarrier);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(log[i], i);
}

TEST_F(QueueTest, ConcurrentQueueRunsReadersInParallel) {
    auto queue = Queue::concurrent("parallel");
    // Two readers that each wait for the other can only finish when they run at once.
    Semaphore first, second;
    std::atomic<int> finished{0};
    queue->async([&] {
        first.signal();
        if (second.wait(10)) finished++;
    });
    queue->async([&] {
        second.signal();
        if (first.wait(10)) finished++;
    });
    clock->runUntilIdle();
    EXPECT_EQ(finished.load(), 2);
}

TEST_F(QueueTest, SyncOnConcurrentQueueFromItsOwnBlockRunsAtOnce) {
    auto queue = Queue::concurrent("nested");
    int value = 0;
    queue->sync([&] { queue->sync([&] { value = 1; }); });
    EXPECT_EQ(value, 1);
}

TEST_F(QueueTest, GlobalQueuesRunBlocksOffTheMainThread) {
    std::atomic<int> count{0};
    std::atomic<bool> onMain{false};
    for (auto p : {Priority::Background, Priority::Low, Priority::Utility, Priority::Default, Priority::High}) {
        auto q = Queue::global(p);
        EXPECT_EQ(q, Queue::global(p));
        for (int i = 0; i < 50; ++i)
            q->async([&, q] {
                if (isMainThread()) onMain = true;
                EXPECT_TRUE(q->isCurrent());
                count++;
            });
    }
    clock->runUntilIdle();
    EXPECT_EQ(count.load(), 250);
    EXPECT_FALSE(onMain);
    EXPECT_TRUE(isMainThread());
}

TEST_F(QueueTest, BackgroundHopToMainIsDrainedByRunUntilIdle) {
    std::vector<std::string> order;
    Queue::global(Priority::Background)->async([&] {
        Queue::main()->async([&] {
            order.push_back("main");
            Queue::global()->async([&] { Queue::main()->async([&] { order.push_back("main again"); }); });
        });
    });
    clock->runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"main", "main again"}));
}

TEST_F(QueueTest, SyncOntoMainFromAWorkerWhileTheTestDrains) {
    int value = 0;
    std::atomic<bool> done{false};
    Queue::global()->async([&] {
        Queue::main()->sync([&] { value = 42; });
        done = true;
    });
    clock->runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_EQ(value, 42);
}

TEST_F(QueueTest, DelayedBackgroundWorkFollowsTheVirtualClock) {
    auto queue = Queue::serial("retry");
    std::vector<std::pair<int, Seconds>> fired;
    std::mutex m;
    auto note = [&](int id) {
        std::lock_guard lock(m);
        fired.emplace_back(id, dispatch::clock().now());
    };
    // A retry with back-off: each attempt schedules the next one twice as far out.
    std::function<void(int, Seconds)> attempt = [&](int n, Seconds delay) {
        note(n);
        if (n < 4) queue->after(delay, [&, n, delay] { attempt(n + 1, delay * 2); });
    };
    queue->async([&] { attempt(1, 10); });
    Queue::global(Priority::Utility)->after(25, [&] { note(100); });
    clock->runUntilIdle();
    EXPECT_EQ(fired.size(), 1u);
    clock->advance(9.99);
    EXPECT_EQ(fired.size(), 1u);
    clock->advance(100);
    std::vector<std::pair<int, Seconds>> expected{{1, 0}, {2, 10}, {100, 25}, {3, 30}, {4, 70}};
    EXPECT_EQ(fired, expected);
}

TEST_F(QueueTest, GroupNotifiesAfterEveryLeave) {
    Group group;
    std::atomic<int> done{0};
    std::atomic<int> seenAtNotify{-1};
    for (int i = 0; i < 100; ++i) group.async(Queue::global(), [&] { done++; });
    group.enter();
    Queue::serial("late")->after(5, [&, group]() mutable {
        done++;
        group.leave();
    });
    group.notify(Queue::main(), [&] { seenAtNotify = done.load(); });
    clock->runUntilIdle();
    EXPECT_EQ(seenAtNotify.load(), -1);
    clock->advance(5);
    EXPECT_EQ(seenAtNotify.load(), 101);
    EXPECT_TRUE(group.wait(0));

    // With nothing outstanding, notify runs at once.
    bool immediate = false;
    group.notify(Queue::main(), [&] { immediate = true; });
    clock->runUntilIdle();
    EXPECT_TRUE(immediate);
}

TEST_F(QueueTest, GroupWaitTimesOutAndLaterSucceeds) {
    Group group;
    group.enter();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(group.wait(0.05));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    std::thread t([group]() mutable { group.leave(); });
    EXPECT_TRUE(group.wait(10));
    t.join();
}

TEST_F(QueueTest, SemaphoreCountsAndTimesOut) {
    Semaphore s(2);
    EXPECT_TRUE(s.wait(0));
    EXPECT_TRUE(s.wait(0));
    EXPECT_FALSE(s.wait(0));
    EXPECT_FALSE(s.wait(0.02));
    s.signal();
    EXPECT_TRUE(s.wait(0));

    // A block that outlives its waiter's time-out owns the semaphore it signals.
    std::atomic<bool> signalled{false};
    {
        Semaphore late;
        Semaphore gate;
        Queue::global()->async([late, gate, &signalled]() mutable {
            gate.wait();
            late.signal();
            signalled = true;
        });
        EXPECT_FALSE(late.wait(0.01));
        gate.signal();
    }
    clock->runUntilIdle();
    EXPECT_TRUE(signalled);
}

// A waiter that returns may destroy what woke it while the signalling call is still finishing:
// the sanitizer builds see a use after free here if the call touches the object afterwards.
TEST_F(QueueTest, AWokenWaiterMayDestroyTheSemaphoreOrGroupAtOnce) {
    for (int round = 0; round < 300; ++round) {
        auto semaphore = std::make_unique<Semaphore>(0);
        std::thread signaller([s = semaphore.get()] { s->signal(); });
        ASSERT_TRUE(semaphore->wait(10));
        semaphore.reset();
        signaller.join();

        auto group = std::make_unique<Group>();
        group->enter();
        std::thread leaver([g = group.get()] { g->leave(); });
        ASSERT_TRUE(group->wait(10));
        group.reset();
        leaver.join();
    }
}

TEST_F(QueueTest, ManyWaitersOnTheSamePoolDoNotStarveIt) {
    // More blocked workers than processors: spare threads must pick up the signalling block.
    Semaphore s;
    std::atomic<int> woke{0};
    const int n = static_cast<int>(std::thread::hardware_concurrency()) + 4;
    for (int i = 0; i < n; ++i)
        Queue::global()->async([s, &woke]() mutable {
            if (s.wait(30)) woke++;
        });
    Queue::global()->async([s, n]() mutable {
        for (int i = 0; i < n; ++i) s.signal();
    });
    clock->runUntilIdle();
    EXPECT_EQ(woke.load(), n);
}

TEST_F(QueueTest, OnceRunsOnceAcrossThreadsAndCanBeReArmed) {
    OnceFlag once;
    std::atomic<int> runs{0};
    Group group;
    for (int i = 0; i < 64; ++i) group.async(Queue::global(), [&] { once.call([&] { runs++; }); });
    group.wait();
    EXPECT_EQ(runs.load(), 1);
    once.reset();
    once.call([&] { runs++; });
    once.call([&] { runs++; });
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(QueueTest, TimerSourceFiresOnItsQueueAndStopsAfterCancelOnThatQueue) {
    auto queue = Queue::serial("com.hxconnect.test.channel");
    std::vector<Seconds> fires;
    std::atomic<bool> onQueue{true};
    std::unique_ptr<TimerSource> timer;
    timer = std::make_unique<TimerSource>(queue, [&] {
        if (!queue->isCurrent()) onQueue = false;
        fires.push_back(dispatch::clock().now());
        if (fires.size() == 3) timer->cancel();
    });
    bool cancelHandlerRan = false;
    timer->setCancelHandler([&] { cancelHandlerRan = true; });
    timer->setTimer(5, 1, 1);
    clock->advance(100);
    EXPECT_TRUE(fires.empty());  // not started
    timer->start();
    clock->advance(100);
    EXPECT_EQ(fires, (std::vector<Seconds>{105, 106, 107}));
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(timer->isCancelled());
    EXPECT_TRUE(cancelHandlerRan);
}

TEST_F(QueueTest, TimerSourceWallStartOneShotAndReArm) {
    int fired = 0;
    TimerSource timer(Queue::global(), [&] { fired++; });
    timer.setTimerAtWallTime(wallNow() + 10, 0, 1);
    timer.start();
    clock->advance(9);
    EXPECT_EQ(fired, 0);
    timer.setTimer(5, 0);  // re-arming pushes the fire back
    clock->advance(4);
    EXPECT_EQ(fired, 0);
    clock->advance(1);
    EXPECT_EQ(fired, 1);
    clock->advance(100);
    EXPECT_EQ(fired, 1);
}

TEST_F(QueueTest, CancelledTimerSourceQueuedFireDoesNotRun) {
    auto queue = Queue::serial("channel");
    int fired = 0;
    TimerSource timer(queue, [&] { fired++; });
    timer.setTimer(1, 0);
    timer.start();
    // The fire is posted while the queue is busy; the busy block cancels before it can run.
    Semaphore release;
    queue->async([release, &timer]() mutable {
        release.wait();
        timer.cancel();
    });
    clock->advance(1);  // the handler block now waits behind the busy block
    release.signal();
    clock->runUntilIdle();
    EXPECT_EQ(fired, 0);
}

TEST_F(QueueTest, MemoryPressureReachesLiveSourcesOnTheirQueues) {
    std::vector<MemoryPressure> seen;
    MemoryPressureSource source(Queue::main(), [&](MemoryPressure level) {
        EXPECT_TRUE(isMainThread());
        seen.push_back(level);
    });
    auto cancelled = std::make_unique<MemoryPressureSource>(
        Queue::main(), [&](MemoryPressure) { seen.push_back(MemoryPressure::Normal); });
    cancelled->cancel();
    MemoryPressureSource::fire(MemoryPressure::Warning);
    MemoryPressureSource::fire(MemoryPressure::Critical);
    clock->runUntilIdle();
    EXPECT_EQ(seen, (std::vector<MemoryPressure>{MemoryPressure::Warning, MemoryPressure::Critical}));
}

TEST_F(QueueTest, ScopedThreadValueIsSetInsideAndGoneAfterwards) {
    struct Context {
        int id;
    };
    auto queue = Queue::serial("com.hxconnect.test.private-context");
    std::vector<int> seenInside;
    std::vector<bool> staleSeen;
    for (int i = 0; i < 50; ++i) {
        auto context = std::make_shared<Context>(Context{i});
        queue->async([&, context] {
            staleSeen.push_back(threadValue("managedObjectContext").has_value());
            ScopedThreadValue scope("managedObjectContext", context);
            seenInside.push_back((*threadValueAs<std::shared_ptr<Context>>("managedObjectContext"))->id);
        });
    }
    clock->runUntilIdle();
    ASSERT_EQ(seenInside.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(seenInside[i], i);
        EXPECT_FALSE(staleSeen[i]);
    }
}

TEST_F(QueueTest, NestedScopedThreadValuesRestoreTheOuterOne) {
    ScopedThreadValue outer("managedObjectContext", std::string("outer"));
    {
        ScopedThreadValue inner("managedObjectContext", std::string("inner"));
        EXPECT_EQ(threadValueAs<std::string>("managedObjectContext"), "inner");
    }
    EXPECT_EQ(threadValueAs<std::string>("managedObjectContext"), "outer");
    EXPECT_FALSE(threadValueAs<int>("managedObjectContext"));  // wrong type: nothing
}

TEST_F(QueueTest, PoolClearsWhatABlockLeftInTheThreadDictionary) {
    auto queue = Queue::serial("leaky");
    bool stale = true;
    queue->async([] { setThreadValue("managedObjectContext", 1); });
    queue->async([&] { stale = threadValue("managedObjectContext").has_value(); });
    clock->runUntilIdle();
    EXPECT_FALSE(stale);
}

namespace {
std::atomic<uintptr_t> gHandlerStackAddress{0};
void recordStack(int) {
    int local;
    gHandlerStackAddress = reinterpret_cast<uintptr_t>(&local);
}
}  // namespace

TEST_F(QueueTest, WorkersRunSignalHandlersOnTheirAlternateStack) {
    struct sigaction action {
    }, old{};
    action.sa_handler = recordStack;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &action, &old), 0);
    setWorkerAltStackSize(128 * 1024);
    stack_t seen{};
    std::atomic<bool> done{false};
    Queue::global(Priority::High)->async([&] {
        sigaltstack(nullptr, &seen);
        raise(SIGUSR2);  // delivered to this thread
        done = true;
    });
    clock->runUntilIdle();
    ASSERT_TRUE(done);
    EXPECT_FALSE(seen.ss_flags & SS_DISABLE);
    EXPECT_GE(seen.ss_size, 128u * 1024u);
    auto base = reinterpret_cast<uintptr_t>(seen.ss_sp);
    EXPECT_GE(gHandlerStackAddress.load(), base);
    EXPECT_LT(gHandlerStackAddress.load(), base + seen.ss_size);
    setWorkerAltStackSize(0);
    sigaction(SIGUSR2, &old, nullptr);
}

TEST_F(QueueTest, ManyProducersOntoSharedQueuesLoseNothing) {
    auto serial = Queue::serial("stress.serial");
    auto concurrent = Queue::concurrent("stress.concurrent");
    constexpr int kProducers = 8;
    constexpr int kPerProducer = 2000;
    std::vector<std::vector<int>> perProducer(kProducers);  // touched only on `serial`
    std::atomic<int> concurrentRuns{0};
    int barrierCount = 0;  // touched only in barriers
    std::atomic<int> mainRuns{0};
    Group group;
    for (int p = 0; p < kProducers; ++p) {
        group.async(Queue::global(static_cast<Priority>(p % 5)), [&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                serial->async([&, p, i] { perProducer[p].push_back(i); });
                concurrent->async([&] { concurrentRuns++; });
                if (i % 100 == 0) concurrent->barrierAsync([&] { barrierCount++; });
                if (i % 500 == 0) Queue::main()->async([&] { mainRuns++; });
                if (i % 250 == 0) serial->sync([] {});
            }
        });
    }
    clock->runUntilIdle();
    EXPECT_TRUE(group.wait(0));
    for (int p = 0; p < kProducers; ++p) {
        ASSERT_EQ(perProducer[p].size(), static_cast<size_t>(kPerProducer));
        for (int i = 0; i < kPerProducer; ++i) ASSERT_EQ(perProducer[p][i], i);  // FIFO per producer
    }
    EXPECT_EQ(concurrentRuns.load(), kProducers * kPerProducer);
    EXPECT_EQ(barrierCount, kProducers * kPerProducer / 100);
    EXPECT_EQ(mainRuns.load(), kProducers * kPerProducer / 500);
}

// Workers and drainers look for more work only briefly before they sleep: once bursts of tiny
// blocks (which make them look longest) are over, the pool takes no processor time while idle.
TEST_F(QueueTest, AnIdlePoolTakesNoProcessorTime) {
    auto serial = Queue::serial("idle.serial");
    auto concurrent = Queue::concurrent("idle.concurrent");
    for (int round = 0; round < 3; ++round) {
        Group group;
        std::atomic<int> ran{0};
        for (int i = 0; i < 20000; ++i) {
            serial->async([&] { ran++; });
            group.async(concurrent, [&] { ran++; });
            group.async(Queue::global(Priority::Default), [&] { ran++; });
        }
        serial->sync([] {});
        ASSERT_TRUE(group.wait(30));
        ASSERT_EQ(ran.load(), 60000);
    }
    auto cpuSeconds = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    };
    // A moment for the last looks to end, then half a second of real time with nothing to do.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double before = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double used = cpuSeconds() - before;
    EXPECT_LT(used, 0.025) << "idle threads used " << used * 1000 << " ms of a processor in 500 ms";
}

using QueueDeathTest = QueueTest;

TEST_F(QueueDeathTest, SyncOntoTheSerialQueueYouAreOnAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto queue = Queue::serial("self");
            queue->sync([&] { queue->sync([] {}); });
        },
        "sync onto queue \"self\" from a block running on \"self\" would deadlock");
    EXPECT_DEATH(
        {
            auto outer = Queue::serial("outer");
            auto inner = Queue::serial("inner", outer);
            outer->sync([&] { inner->sync([] {}); });
        },
        "would deadlock");
    EXPECT_DEATH(Queue::main()->sync([] {}), "sync onto the main queue from the main thread");
    EXPECT_DEATH(
        {
            auto queue = Queue::concurrent("readers");
            queue->sync([&] { queue->barrierSync([] {}); });
        },
        "barrierSync onto queue \"readers\"");
    EXPECT_DEATH(Group().leave(), "Group::leave without a matching enter");
}

// Synchronous reads that find the queue free run without queueing; they must still come after
// every barrier submitted before them and hold back every barrier submitted while they run. Both
// forms of a synchronous read: sync() and syncRead().
enum class ReadForm { Sync, SyncRead };

void readOn(Queue& queue, ReadForm form, const std::function<void()>& read) {
    if (form == ReadForm::Sync)
        queue.sync(read);
    else
        queue.syncRead(read);
}

TEST_F(QueueTest, SyncReadsAfterABarrierSeeItsWrites) {
    for (ReadForm form : {ReadForm::Sync, ReadForm::SyncRead}) {
        SCOPED_TRACE(form == ReadForm::Sync ? "sync" : "syncRead");
        auto queue = Queue::concurrent("com.hxconnect.test.ordered");
        constexpr int kThreads = 8;
        constexpr int kRounds = 2000;
        int values[kThreads] = {};  // each written only by barriers
        int first = 0, second = 0;  // changed together, only by barriers
        std::atomic<int> stale{0}, torn{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 1; round <= kRounds; ++round) {
                    if (round % 4 == 0) {
                        queue->barrierAsync([&, t, round] {
                            values[t] = round;
                            ++first;
                            ++second;
                        });
                        int seen = 0;
                        readOn(*queue, form, [&] { seen = values[t]; });
                        if (seen != round) stale++;
                    } else if (round % 4 == 2) {
                        // A synchronous barrier between the reads.
                        queue->barrierSync([&] {
                            ++first;
                            ++second;
                        });
                    } else {
                        readOn(*queue, form, [&] {
                            if (first != second) torn++;
                        });
                    }
                }
            });
        }
        for (auto& thread : threads) thread.join();
        int total = 0;
        queue->barrierSync([&] { total = first; });
        EXPECT_EQ(stale.load(), 0);
        EXPECT_EQ(torn.load(), 0);
        EXPECT_EQ(total, kThreads * kRounds / 2);
        EXPECT_EQ(second, total);
    }
}

// Where no reader's place can be taken at once (serial queues, a concurrent queue below a serial
// one, a barrier running) syncRead waits as sync does and still runs the read before returning.
TEST_F(QueueTest, SyncReadOnEveryKindOfQueueRunsTheReadBeforeReturning) {
    auto serial = Queue::serial("com.hxconnect.test.serial-read");
    auto below = Queue::concurrent("com.hxconnect.test.below-serial", serial);
    auto concurrent = Queue::concurrent("com.hxconnect.test.concurrent-read");
    const std::vector<std::pair<const char*, QueuePtr>> queues = {
        {"serial", serial}, {"concurrent below serial", below}, {"concurrent", concurrent}};
    for (const auto& [name, queue] : queues) {
        SCOPED_TRACE(name);
        int value = 0;
        queue->async([&] { value = 1; });
        queue->barrierAsync([&] { value = 2; });
        int seen = 0;
        queue->syncRead([&] { seen = value; });
        EXPECT_EQ(seen, 2);
        queue->barrierSync([] {});
    }
    // From inside a barrier of the same concurrent queue the read runs at once.
    int inner = 0;
    concurrent->barrierSync([&] { concurrent->syncRead([&] { inner = 1; }); });
    EXPECT_EQ(inner, 1);
}

TEST_F(QueueTest, BarrierWaitsForARunningSyncReadAndLaterReadsWaitForTheBarrier) {
    for (ReadForm form : {ReadForm::Sync, ReadForm::SyncRead}) {
        SCOPED_TRACE(form == ReadForm::Sync ? "sync" : "syncRead");
        auto queue = Queue::concurrent("com.hxconnect.test.held");
        int value = 0;  // written by the barrier only
        Semaphore inside, barrierQueued, laterStarted;
        int seenInside = -1, seenAfter = -1;
        std::thread holder([&] {
            readOn(*queue, form, [&] {
                inside.signal();
                ASSERT_TRUE(barrierQueued.wait(10));
                ASSERT_TRUE(laterStarted.wait(10));
                // Time enough for a barrier that did not wait to have run, and for the later read
                // to have overtaken it.
                spin(400000);
                seenInside = value;
            });
        });
        ASSERT_TRUE(inside.wait(10));
        queue->barrierAsync([&] { value = 1; });
        barrierQueued.signal();
        // Submitted after the barrier: must wait for it although a reader is running.
        std::thread later([&] {
            laterStarted.signal();
            readOn(*queue, form, [&] { seenAfter = value; });
        });
        holder.join();
        later.join();
        EXPECT_EQ(seenInside, 0);
        EXPECT_EQ(seenAfter, 1);
    }
}
