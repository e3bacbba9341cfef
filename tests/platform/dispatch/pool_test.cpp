// The worker pool in a process confined to one processor: a producer that keeps the processor
// does not make the pool start a thread per block, and workers started beyond the target (beside
// blocked ones) leave once idle for the pool's limit. On two processors, while a worker runs a
// long block, an idle one does not look for work: that would take turns with the producer for
// the other processor, and a serial queue's drain right behind a producer takes the blocks in
// batches. Each runs in a child process pinned to its cores (the pool learns its processors when
// it is first used).
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/internal.h"

using namespace dispatch;

namespace {

constexpr const char* kChildVariable = "HX_POOL_PINNED_CHILD";

// Counts finished blocks; the producer (not a pool worker) waits for the last with a time-out.
struct Finished {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    void hit() {
        std::lock_guard lock(mutex);
        ++count;
        cv.notify_all();
    }
    bool waitFor(int n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(60), [&] { return count >= n; });
    }
};

// A latch the test's start hook holds new workers at: as if the producer kept the processor.
struct Latch {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    void wait() {
        std::unique_lock lock(mutex);
        ++waiting;
        cv.wait(lock, [&] { return open; });
        --waiting;
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
};

// Whether holds() comes true within the time, asked every few milliseconds.
template <class Holds>
bool comesTrueWithin(std::chrono::seconds within, Holds holds) {
    auto until = std::chrono::steady_clock::now() + within;
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool poolBackAtTarget(detail::Pool& pool, std::chrono::seconds within) {
    return comesTrueWithin(within, [&] {
        auto c = pool.counts();
        return c.threads == c.target;
    });
}

}  // namespace

// The body, run only in the pinned child that the test below starts.
TEST(PoolOnOneProcessorChild, BurstsKeepThePoolAtItsTargetAndExtraWorkersLeaveWhenIdle) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs inside PoolOnOneProcessor's pinned child";
    ASSERT_TRUE(detail::oneProcessor());
    auto& pool = detail::Pool::shared();
    pool.setIdleLimit(std::chrono::milliseconds(50));
    const size_t target = pool.counts().target;
    ASSERT_EQ(target, 2u);
    auto global = Queue::global(Priority::Default);

    // 1. Workers started but not yet scheduled: every submit meanwhile finds none idle and none
    //    running. They count as ones that will take work, so no further thread starts.
    Latch latch;
    pool.setWorkerStartHookForTesting([&latch] { latch.wait(); });
    Finished first;
    for (int i = 0; i < 1000; ++i) global->async([&first] { first.hit(); });
    EXPECT_LE(pool.counts().threads, target) << "threads started while the first ones waited for the processor";
    latch.release();
    pool.setWorkerStartHookForTesting({});
    ASSERT_TRUE(first.waitFor(1000));

    // 2. 100,000 small blocks from one producer: the pool stays at its target (nothing blocks).
    Finished burst;
    size_t most = 0;
    for (int i = 0; i < 100000; ++i) {
        global->async([&burst] { burst.hit(); });
        if (i % 64 == 0) most = std::max(most, pool.counts().threads);
    }
    ASSERT_TRUE(burst.waitFor(100000));
    EXPECT_LE(most, target) << "the pool grew to " << most << " threads for 100,000 small blocks";

    // 3. Blocked workers: a thread starts beside each so that ready work runs; once they are
    //    released and the pool idles for its limit, it is back at its target.
    constexpr int kBlocked = 6;
    Semaphore gate(0);
    Finished blocked;
    for (int i = 0; i < kBlocked; ++i)
        global->async([&] {
            gate.wait(-1);
            blocked.hit();
        });
    Finished after;
    for (int i = 0; i < 100; ++i) global->async([&after] { after.hit(); });
    ASSERT_TRUE(after.waitFor(100)) << "ready work waited behind blocked workers";
    auto counts = pool.counts();
    EXPECT_LE(counts.threads, target + counts.blocked + 1);
    for (int i = 0; i < kBlocked; ++i) gate.signal();
    ASSERT_TRUE(blocked.waitFor(kBlocked));
    EXPECT_GT(pool.counts().threads, target) << "no worker started beside the blocked ones";
    EXPECT_TRUE(poolBackAtTarget(pool, std::chrono::seconds(10)))
        << "the pool kept " << pool.counts().threads << " threads after idling";
}

namespace {

// Runs the tests of filter in a child process confined to the first `processors` processors of
// this one's set (skipped where it has fewer).
void runPinnedChild(int processors, const std::string& childFilter) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    if (CPU_COUNT(&set) < processors) GTEST_SKIP() << "needs " << processors << " processors";
    cpu_set_t pinned;
    CPU_ZERO(&pinned);
    for (int core = 0, taken = 0; core < CPU_SETSIZE && taken < processors; ++core)
        if (CPU_ISSET(core, &set)) {
            CPU_SET(core, &pinned);
            ++taken;
        }
    // Everything the child needs is made before the fork: only async-signal-safe calls after it.
    std::string filter = "--gtest_filter=" + childFilter;
    std::string self = "/proc/self/exe";
    std::vector<char*> argv{self.data(), filter.data(), nullptr};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(std::string(kChildVariable) + "=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (sched_setaffinity(0, sizeof pinned, &pinned) != 0) _exit(90);
        execve(self.c_str(), argv.data(), envp.data());
        _exit(91);
    }
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the pinned child did not finish in 120 s";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the pinned child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the pinned child's checks failed (its output is above)";
}

}  // namespace

TEST(PoolOnOneProcessor, BurstsKeepThePoolAtItsTargetAndExtraWorkersLeaveWhenIdle) {
    runPinnedChild(1, "PoolOnOneProcessorChild.*");
}

// The body, run only in the child pinned to two processors that the test below starts.
TEST(PoolOnTwoProcessorsChild, NoWorkerLooksForWorkWhileOneRunsAndTheProducerHasTheOther) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs inside PoolOnTwoProcessors' pinned child";
    auto& pool = detail::Pool::shared();
    ASSERT_EQ(pool.counts().target, 2u);
    auto global = Queue::global(Priority::Default);
    // A long block keeps one processor; this thread, the producer, keeps the other.
    std::atomic<bool> started{false}, stop{false};
    Finished longBlock;
    global->async([&] {
        started = true;
        while (!stop.load()) {}
        longBlock.hit();
    });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!started.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    ASSERT_TRUE(started.load());
    // Small blocks now and then: the worker that runs each goes idle after it. Looking for more
    // work there would spin on a processor that the producer or the long block needs (and while
    // it spins, the producer waits for that processor: the look is seen only by its count).
    const uint64_t looksBefore = pool.counts().looks;
    for (int i = 0; i < 200; ++i) {
        std::atomic<bool> ran{false};
        global->async([&ran] { ran = true; });
        while (!ran.load()) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const uint64_t looks = pool.counts().looks - looksBefore;
    stop = true;
    ASSERT_TRUE(longBlock.waitFor(1));
    EXPECT_EQ(looks, 0u) << "workers looked for work " << looks << " times while the other processors were busy";
    // Once the long block is done, a worker that runs out of work looks again: bursts keep it.
    // The last block's hit comes before its worker counts itself idle and looks, so the look is
    // awaited (on a loaded machine that worker may be off its processor for a while).
    const uint64_t looksIdle = pool.counts().looks;
    Finished burst;
    for (int i = 0; i < 1000; ++i) global->async([&burst] { burst.hit(); });
    ASSERT_TRUE(burst.waitFor(1000));
    comesTrueWithin(std::chrono::seconds(10), [&] { return pool.counts().looks > looksIdle; });
    EXPECT_GT(pool.counts().looks, looksIdle) << "no worker looked for work with a processor to spare";
}

// The body, run only in the child pinned to two processors that the test below starts. A drain
// that runs each block as soon as it is published keeps its thread at the cache lines the producer
// is writing: both then wait for the other processor on every block, and a burst takes twice as
// long as on one processor. Right behind a producer, the drain lets it get a batch ahead.
TEST(PoolOnTwoProcessorsChild, ASerialQueueBehindAStreamingProducerTakesItsBlocksInBatches) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs inside PoolOnTwoProcessors' pinned child";
    auto queue = Queue::serial("test.batches");
    auto* base = dynamic_cast<detail::QueueBase*>(queue.get());
    ASSERT_NE(base, nullptr);
    // Several bursts: where the system puts both threads on one processor, the drain runs only
    // once the producer is off it and finds long batches whatever it does.
    constexpr int kBursts = 3, kBlocks = 100'000;
    for (int burst = 0; burst < kBursts; ++burst) {
        SCOPED_TRACE("burst " + std::to_string(burst));
        std::atomic<int> ran{0};
        Finished last;
        const uint64_t looksBefore = base->drainLooks();
        for (int i = 0; i < kBlocks; ++i)
            queue->async([&] {
                if (ran.fetch_add(1, std::memory_order_relaxed) + 1 == kBlocks) last.hit();
            });
        ASSERT_TRUE(last.waitFor(1));
        queue->sync([] {});  // the drain is over: its count no longer moves
        const uint64_t looks = base->drainLooks() - looksBefore;
        EXPECT_EQ(ran.load(), kBlocks);
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
        // A sanitizer's producer is too slow to get far ahead in the drain's pause.
        (void)looks;
#else
        EXPECT_LT(looks * 4, uint64_t{kBlocks})
            << "the drain looked for published blocks " << looks << " times for " << kBlocks << " blocks";
#endif
    }
}

TEST(PoolOnTwoProcessors, NoWorkerLooksForWorkWhileOneRunsAndTheProducerHasTheOther) {
    runPinnedChild(2, "PoolOnTwoProcessorsChild.*");
}
