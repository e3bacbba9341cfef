// Enqueue and run 1,000,000 small blocks on a serial queue and on the concurrent pool, against a
// plain mutex + condition-variable worker queue (one worker, and one per processor) in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/bench_ratio.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/internal.h"

namespace {

constexpr int kBlocks = 1'000'000;

// The peer: the textbook worker queue.
class PlainWorkerQueue {
public:
    explicit PlainWorkerQueue(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i)
            workers_.emplace_back([this] {
                for (;;) {
                    std::unique_lock lock(mutex_);
                    cv_.wait(lock, [&] { return stop_ || !items_.empty(); });
                    if (items_.empty()) return;
                    auto block = std::move(items_.front());
                    items_.pop_front();
                    lock.unlock();
                    block();
                }
            });
    }
    ~PlainWorkerQueue() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : workers_) t.join();
    }
    void async(std::function<void()> block) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(block));
        }
        cv_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> items_;
    std::vector<std::thread> workers_;
    bool stop_ = false;
};

// Counts blocks down and wakes the producer after the last one (std primitives, for both sides).
// It lies on a cache line of its own, away from the producer's stack, so that neither side pays
// for the bench's own writes.
struct alignas(64) Countdown {
    std::atomic<int> left{kBlocks};
    std::atomic<int> ran{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    void hit() {
        ran.fetch_add(1, std::memory_order_relaxed);
        if (left.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard lock(mutex);
            done = true;
            cv.notify_all();
        }
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return done; });
    }
};

// Each side's count of the blocks that ran (checked equal across a pair), and the pool's threads
// afterwards (it must not grow past its target for small blocks that never block).
template <typename Submit>
void runMillion(benchmark::State& state, Submit submit) {
    double ran = 0;
    for (auto _ : state) {
        auto countdown = std::make_unique<Countdown>();
        Countdown* c = countdown.get();
        for (int i = 0; i < kBlocks; ++i) submit([c] { c->hit(); });
        c->wait();
        ran += c->ran.load();
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
    state.counters["blocks_run"] = ran / static_cast<double>(state.iterations());
    auto pool = dispatch::detail::Pool::shared().counts();
    state.counters["pool_threads"] = static_cast<double>(pool.threads);
    state.counters["pool_target"] = static_cast<double>(pool.target);
}

void BM_SerialQueue(benchmark::State& state) {
    auto queue = dispatch::Queue::serial("bench.serial");
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_PlainSingleWorker(benchmark::State& state) {
    PlainWorkerQueue queue(1);
    runMillion(state, [&](std::function<void()> b) { queue.async(std::move(b)); });
}

void BM_GlobalConcurrentPool(benchmark::State& state) {
    auto queue = dispatch::Queue::global(dispatch::Priority::Default);
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_ConcurrentQueue(benchmark::State& state) {
    auto queue = dispatch::Queue::concurrent("bench.concurrent");
    runMillion(state, [&](std::function<void()> b) { queue->async(std::move(b)); });
}

void BM_PlainWorkerPool(benchmark::State& state) {
    unsigned n = std::thread::hardware_concurrency();
    PlainWorkerQueue queue(n < 2 ? 2 : n);
    runMillion(state, [&](std::function<void()> b) { queue.async(std::move(b)); });
}

}  // namespace

BENCHMARK(BM_SerialQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainSingleWorker)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_GlobalConcurrentPool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ConcurrentQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainWorkerPool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The serial queue's goal is to beat the single worker (wall time: the producer's CPU time alone
// says little of a queue whose cost is partly on the other thread).
HX_BENCH_MAIN_WITH_RATIOS({
    {"BM_SerialQueue", "BM_PlainSingleWorker", 0.999, false, {"blocks_run"}},
    {"BM_GlobalConcurrentPool", "BM_PlainWorkerPool", 0, false, {"blocks_run"}},
    {"BM_ConcurrentQueue", "BM_PlainWorkerPool", 0, false, {"blocks_run"}},
})
